#include "app/SettingsStore.h"
#include "app/Version.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

class TestSettingsStore : public QObject
{
    Q_OBJECT

    QString path;

    static int field(const ScanSettings &s, const QString &name)
    {
        if (name == "pings")
            return s.Pings_per_Node;
        if (name == "timeout")
            return s.Ping_Timeout;
        if (name == "ttl")
            return s.Ping_TTL;
        if (name == "delay")
            return s.Inter_Ping_Delay;
        return name == "dns" ? s.Resolve_DNS : s.Reverse_Scan;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        // The decimal point stays "." whatever the user's locale.
        QLocale::setDefault(QLocale(QLocale::German));
        path = SettingsStore::fileName(Version::fileDescription());
        QVERIFY(path.endsWith("/Vantrel/Vantrel.conf"));
    }
    void init() { QFile::remove(path); }
    void cleanupTestCase() { QFile::remove(path); }

    void emptyStoreGivesDefaultsAndWritesNothing()
    {
        const ScanSettings s = SettingsStore::loadScanSettings();
        QCOMPARE(s.Pings_per_Node, 2);
        QCOMPARE(s.Ping_Timeout, 2000);
        QCOMPARE(s.Ping_TTL, 32);
        QCOMPARE(s.Inter_Ping_Delay, 250);
        QCOMPARE(s.Resolve_DNS, true);
        QCOMPARE(s.Reverse_Scan, false);
        QVERIFY(!QFile::exists(path));
    }

    // Entries as a user would type them into the file, with literal blanks in the keys.
    void handEditedEntry_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("expected");
        auto row = [](const char *name, const char *ini, const char *field, int expected) {
            QTest::newRow(name) << QByteArray(ini) << QString::fromLatin1(field) << expected;
        };
        row("delay 1500ms", "[ICMP]\nInter PING Delay=1500ms", "delay", 1500);
        row("delay abc reads 0, falls back", "[ICMP]\nInter PING Delay=abc", "delay", 250);
        row("delay blanks, tabs skipped", "[ICMP]\nInter PING Delay=1 5\t00", "delay", 1500);
        row("delay comma ends number", "[ICMP]\nInter PING Delay=1500,7", "delay", 1500);
        row("delay 0.5 to even is 0", "[ICMP]\nInter PING Delay=0.5", "delay", 250);
        row("delay 2001", "[ICMP]\nInter PING Delay=2001", "delay", 2001);
        row("delay 2002", "[ICMP]\nInter PING Delay=2002", "delay", 250);
        row("delay beyond 32 bits", "[ICMP]\nInter PING Delay=4294967297", "delay", 250);
        row("delay in wrong section", "[Scan]\nInter PING Delay=1500", "delay", 250);
        row("pings 2.5", "[ICMP]\nPINGS Per Node=2.5", "pings", 2);
        row("pings 3.5", "[ICMP]\nPINGS Per Node=3.5", "pings", 4);
        row("pings 9", "[ICMP]\nPINGS Per Node=9", "pings", 2);
        row("pings beyond 16 bits", "[ICMP]\nPINGS Per Node=65539", "pings", 2);
        row("timeout 2500.5", "[ICMP]\nTimeout=2500.5", "timeout", 2500);
        row("timeout 2501.5", "[ICMP]\nTimeout=2501.5", "timeout", 2502);
        row("timeout quoted", "[ICMP]\nTimeout=\"4000\"", "timeout", 4000);
        row("timeout 50", "[ICMP]\nTimeout=50", "timeout", 2000);
        row("ttl 0", "[ICMP]\nTTL=0", "ttl", 32);
        row("ttl 300", "[ICMP]\nTTL=300", "ttl", 32);
        row("ttl 255", "[ICMP]\nTTL=255", "ttl", 255);
        row("active false", "[DNS]\nActive=false", "dns", 0);
        row("active 1", "[DNS]\nActive=1", "dns", 1);
        row("active 0", "[DNS]\nActive=0", "dns", 0);
        row("active yes falls back", "[DNS]\nActive=yes", "dns", 1);
        row("reverse tRUE", "[Scan]\nReverse=tRUE", "reverse", 1);
        row("reverse -2.5", "[Scan]\nReverse=-2.5", "reverse", 1);
        row("reverse 1abc falls back", "[Scan]\nReverse=1abc", "reverse", 0);
    }
    void handEditedEntry()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, field);
        QFETCH(int, expected);
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(ini + '\n');
        QVERIFY(file.flush());
        // QSettings keeps parsed files while their time stamp and size stay the same.
        static int edits = 0;
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-++edits),
                                 QFileDevice::FileModificationTime));
        file.close();
        QCOMPARE(this->field(SettingsStore::loadScanSettings(), field), expected);
    }

    void saveWritesAllSix()
    {
        ScanSettings s;
        s.Pings_per_Node = 5;
        s.Ping_Timeout = 100;
        s.Ping_TTL = 255;
        s.Inter_Ping_Delay = 1;
        s.Resolve_DNS = false;
        s.Reverse_Scan = true;
        QVERIFY(SettingsStore::saveScanSettings(s));
        QSettings ini(path, QSettings::IniFormat);
        QCOMPARE(ini.allKeys().size(), 6);
        QCOMPARE(ini.value("ICMP/PINGS Per Node").toString(), "5");
        QCOMPARE(ini.value("ICMP/Timeout").toString(), "100");
        QCOMPARE(ini.value("ICMP/TTL").toString(), "255");
        QCOMPARE(ini.value("ICMP/Inter PING Delay").toString(), "1");
        QCOMPARE(ini.value("DNS/Active").toString(), "False");
        QCOMPARE(ini.value("Scan/Reverse").toString(), "True");
    }

    void unwritableStoreReportsFailure()
    {
        // A plain file where the folder should be.
        const QString folder = QFileInfo(path).path();
        QVERIFY(QDir(folder).removeRecursively());
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QVERIFY(!SettingsStore::saveScanSettings(ScanSettings{}));
        QVERIFY(blocker.remove());
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settings_store.moc"
