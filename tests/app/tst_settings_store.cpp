#include "app/SettingsStore.h"
#include "app/Version.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

// Indexes into the six settings in store order.
constexpr int Pings = 0, Timeout = 1, Ttl = 2, Delay = 3, Dns = 4, Reverse = 5;

class TestSettingsStore : public QObject
{
    Q_OBJECT

    QString path;

    static QList<int> values(const ScanSettings &s)
    {
        return {s.Pings_per_Node,   s.Ping_Timeout, s.Ping_TTL,
                s.Inter_Ping_Delay, s.Resolve_DNS,  s.Reverse_Scan};
    }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QLocale::setDefault(QLocale(QLocale::German)); // "." stays the decimal point
        path = SettingsStore::fileName(Version::fileDescription());
        QVERIFY(path.endsWith("/Vantrel/Vantrel.conf"));
    }
    void init() { QFile::remove(path); }
    void cleanupTestCase() { QFile::remove(path); }

    // Entries as a user would type them into the file, with literal blanks in the keys.
    void handEditedEntry_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<int>("setting");
        QTest::addColumn<int>("expected");
        const auto row = [](const char *name, const char *ini, int setting, int expected) {
            QTest::newRow(name) << QByteArray(ini) << setting << expected;
        };
        row("delay 1500ms", "[ICMP]\nInter PING Delay=1500ms", Delay, 1500);
        row("delay abc reads 0, falls back", "[ICMP]\nInter PING Delay=abc", Delay, 250);
        row("delay comma ends number", "[ICMP]\nInter PING Delay=1500,7", Delay, 1500);
        row("delay 2001 is the longest", "[ICMP]\nInter PING Delay=2001", Delay, 2001);
        row("delay 2002 falls back", "[ICMP]\nInter PING Delay=2002", Delay, 250);
        row("delay beyond 32 bits", "[ICMP]\nInter PING Delay=4294967297", Delay, 250);
        row("pings 2.5 to even", "[ICMP]\nPINGS Per Node=2.5", Pings, 2);
        row("pings 3.5 to even", "[ICMP]\nPINGS Per Node=3.5", Pings, 4);
        row("pings 9 falls back", "[ICMP]\nPINGS Per Node=9", Pings, 2);
        row("pings beyond 16 bits", "[ICMP]\nPINGS Per Node=65539", Pings, 2);
        row("timeout 50 falls back", "[ICMP]\nTimeout=50", Timeout, 2000);
        row("ttl 0 falls back", "[ICMP]\nTTL=0", Ttl, 32);
        row("active false", "[DNS]\nActive=false", Dns, 0);
        row("reverse 1", "[Scan]\nReverse=1", Reverse, 1);
        row("reverse 1abc falls back", "[Scan]\nReverse=1abc", Reverse, 0);
    }
    void handEditedEntry()
    {
        QFETCH(QByteArray, ini);
        QFETCH(int, setting);
        QFile file(path);
        QVERIFY(QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) &&
                file.write(ini + '\n') && file.flush());
        // QSettings keeps parsed files while their time stamp and size stay the same.
        static int edits = 0;
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-++edits),
                                 QFileDevice::FileModificationTime));
        QTEST(values(SettingsStore::loadScanSettings())[setting], "expected");
    }

    // An empty store gives the defaults and writes nothing; a save writes all six.
    void defaultsThenSave()
    {
        QCOMPARE(values(SettingsStore::loadScanSettings()), (QList<int>{2, 2000, 32, 250, 1, 0}));
        QVERIFY(!QFile::exists(path));
        QVERIFY(SettingsStore::saveScanSettings({5, 100, 255, 1, false, true}));
        QSettings ini(path, QSettings::IniFormat);
        QStringList stored;
        for (const QString &key : ini.allKeys())
            stored << key + '=' + ini.value(key).toString();
        QCOMPARE(stored, (QStringList{"DNS/Active=False", "ICMP/Inter PING Delay=1",
                                      "ICMP/PINGS Per Node=5", "ICMP/TTL=255", "ICMP/Timeout=100",
                                      "Scan/Reverse=True"}));
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settings_store.moc"
