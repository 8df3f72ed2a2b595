#include "app/SettingsStore.h"

#include "app/CommandLine.h"
#include "app/Version.h"

#include <QDir>
#include <QStandardPaths>
#include <QTest>

using CommandLine::Action;

// Indexes into the settings in store order.
constexpr int Pings = 0, Ttl = 2, Delay = 3, Dns = 4, Reverse = 5, ArpOnly = 6;

// What the window program reads before its first window: the settings store and the
// command line.
class TestSettingsStore : public QObject
{
    Q_OBJECT

    QString path;
    int m_edits = 0;

    static QList<int> values(const ScanSettings &s)
    {
        return {s.Pings_per_Node, s.Ping_Timeout, s.Ping_TTL,   s.Inter_Ping_Delay,
                s.Resolve_DNS,    s.Reverse_Scan, s.listArpOnly};
    }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QLocale::setDefault(QLocale(QLocale::German)); // "." stays the decimal point
        path = SettingsStore::fileName(Version::fileDescription());
        QVERIFY(path.endsWith("/Vantrel/Vantrel.conf"));
    }

    // Entries as a user would type them into the file, with literal blanks in the keys. A
    // value that does not fit leaves its setting at the default.
    void handEditedEntry_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<int>("setting");
        QTest::addColumn<int>("expected");
        const auto row = [](const char *name, const char *ini, int setting, int expected) {
            QTest::newRow(name) << QByteArray(ini) << setting << expected;
        };
        // The INI reader splits at an unquoted comma; the German comma is no decimal point.
        row("delay comma ends number", "[ICMP]\nInter PING Delay=1500,7", Delay, 1500);
        row("delay 2001 is the longest", "[ICMP]\nInter PING Delay=2001ms", Delay, 2001);
        row("delay 2002 falls back", "[ICMP]\nInter PING Delay=2002", Delay, 250);
        row("delay beyond 32 bits", "[ICMP]\nInter PING Delay=4294967297", Delay, 250);
        row("pings 2.5 to even", "[ICMP]\nPINGS Per Node=2.5", Pings, 2);
        row("pings 3.5 to even", "[ICMP]\nPINGS Per Node=3.5", Pings, 4);
        row("pings beyond 16 bits", "[ICMP]\nPINGS Per Node=65539", Pings, 2);
        row("ttl 0 falls back", "[ICMP]\nTTL=0", Ttl, 32);
        row("active false", "[DNS]\nActive=false", Dns, 0);
        row("reverse 1abc falls back", "[Scan]\nReverse=1abc", Reverse, 0);
        row("hosts answering only ARP", "[Scan]\nARP Only=true", ArpOnly, 1);
        row("ARP only yes falls back", "[Scan]\nARP Only=yes", ArpOnly, 0);
    }
    void handEditedEntry()
    {
        QFETCH(QByteArray, ini);
        QFETCH(int, setting);
        QFile file(path);
        QVERIFY(QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) &&
                file.write(ini + '\n') && file.flush());
        // QSettings keeps parsed files while their time stamp and size stay the same: each
        // edit is dated a second before the last.
        ++m_edits;
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-m_edits),
                                 QFileDevice::FileModificationTime));
        QTEST(values(SettingsStore::loadScanSettings())[setting], "expected");
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<Action>("action");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("text"); // how it starts
        QTest::newRow("nothing runs") << QStringList{} << Action::Run << 0 << QString();
        QTest::newRow("help despite a mistake")
            << QStringList{"--bogus", "-h"} << Action::Help << 0 << "Usage: vantrel [options]\n";
        QTest::newRow("unknown option") << QStringList{"--bogus"} << Action::Refuse << 2
                                        << "vantrel: Unknown option 'bogus'.\nTry 'vantrel --help'";
        QTest::newRow("a range belongs in the window")
            << QStringList{"10.0.0.1"} << Action::Refuse << 2
            << "vantrel: unexpected argument '10.0.0.1'; the range is typed in the window.\n";
    }
    void commandLine()
    {
        QFETCH(QStringList, arguments);
        const auto outcome = CommandLine::parse(QStringList{"vantrel"} + arguments);
        QTEST(outcome.action, "action");
        QTEST(outcome.exitCode, "exitCode");
        QFETCH(QString, text);
        QVERIFY2(outcome.text.startsWith(text), qPrintable(outcome.text));
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settings_store.moc"
