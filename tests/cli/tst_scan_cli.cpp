// vantrel-scan as a program: its options, refusals and exit codes. Only 127.0.0.1 is pinged
// here; whole scans run in the private test network (tst_net_scan_cli).
#include "cli/ScanProgram.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTest>

#include <unistd.h>

using namespace Qt::StringLiterals;

// The window's saved settings, which only --saved-settings uses and no run may change.
const QByteArray Saved = "[ICMP]\nTimeout=300\nTTL=9\n[DNS]\nActive=False\n";

class TestScanCli : public QObject
{
    Q_OBJECT

    const QString m_store =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
        u"/Vantrel/Vantrel.conf"_s;

private Q_SLOTS:
    void initTestCase()
    {
        QFile store(m_store);
        QVERIFY(QDir().mkpath(QFileInfo(store).path()) && store.open(QIODevice::WriteOnly));
        QCOMPARE(store.write(Saved), Saved.size());
    }
    void cleanupTestCase()
    {
        QFile store(m_store);
        QVERIFY(store.open(QIODevice::ReadOnly));
        QCOMPARE(store.readAll(), Saved);
        store.remove();
    }

    void exitCodes_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");    // part of standard error
        QTest::addColumn<QString>("output");     // standard output goes to this file if given
        QTest::addColumn<QStringList>("runner"); // a command that runs the program
        // Runs that list 127.0.0.1 in jsonl: time-out, TTL, lookups and pings in its summary.
        QTest::addColumn<QString>("settings");
        const auto row = [](const char *name, const char *arguments, int exitCode,
                            const QString &message, const QString &output = {},
                            const QStringList &runner = {}, const QString &settings = {}) {
            QTest::newRow(name) << QString::fromLatin1(arguments) << exitCode << message << output
                                << runner << settings;
        };
        row("rate 100001", "--rate 100001 127.0.0.1", 2,
            u"--rate takes a whole number from 1 to 100000, not \"100001\"."_s);
        row("negative delay", "-i -5 127.0.0.1", 2, u"--delay takes a whole number from 1 to"_s);
        row("format", "--format xml 127.0.0.1", 2,
            u"--format takes csv, text or jsonl, not \"xml\"."_s);
        row("unknown option", "--fast 127.0.0.1", 2, u"Unknown option \"fast\"."_s);
        row("long argument quoted in part", qPrintable(u"--format "_s + QString(99, u'x')), 2,
            u"not \""_s + QString(60, u'x') + u"...\"."_s);
        row("no range", "-n", 2, u"No address range given."_s);
        row("reversed", "127.0.0.9 127.0.0.1", 2,
            u"The first address 127.0.0.9 is greater than the last address 127.0.0.1."_s);
        row("own defaults, whatever was saved", "--format jsonl -n 127.0.0.1", 0, {}, {}, {},
            u"1000 64 false 2"_s);
        row("saved settings asked for", "--saved-settings --format jsonl --ttl 64 127.0.0.1", 0, {},
            {}, {}, u"300 64 false 2"_s);
        row("both ways, the last counts",
            "--format jsonl --inverted --normal -n --dns -n 127.0.0.1", 0, {}, {}, {},
            u"1000 64 false 2"_s);
        row("inverted: none listed, one request", "--format jsonl --inverted -n -c 3 127.0.0.1", 1,
            {}, {}, {}, u"1000 64 false 1"_s);
        row("full output device", "-n -c 1 127.0.0.1", 4,
            u"vantrel-scan: Cannot write standard output: "_s, u"/dev/full"_s);
        // Ping sockets are off in a new network namespace, and nobody has no raw socket;
        // that is found before the output is opened.
        const QString asNobody = u"unshare -n setpriv --reuid=65534 --regid=65534 --clear-groups"_s;
        row("no ICMP socket", "-o /nonexistent-vantrel/x.csv 127.0.0.1", 3, u"ping_group_range"_s,
            {}, asNobody.split(u' '));
    }
    void exitCodes()
    {
        QFETCH(QString, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QFETCH(QString, output);
        QFETCH(QStringList, runner);
        QFETCH(QString, settings);
        if (!runner.isEmpty() && ::geteuid() != 0)
            QSKIP("only root can run it as nobody");
        const ScanProgram run = ScanProgram::run(arguments, output, runner);
        QVERIFY2(run.exitCode == exitCode, run.err.constData());
        QVERIFY2(QString::fromUtf8(run.err).contains(message), run.err.constData());
        QCOMPARE(run.err.endsWith("Try 'vantrel-scan --help'.\n"), exitCode == 2);
        if (settings.isEmpty())
            return;
        const QJsonValue summary =
            QJsonDocument::fromJson(run.out.trimmed().split('\n').last())[u"summary"_s];
        const QJsonValue used = summary[u"settings"_s];
        QCOMPARE(u"%1 %2 %3 %4"_s.arg(used[u"timeout_ms"_s].toInt())
                     .arg(used[u"ttl"_s].toInt())
                     .arg(used[u"dns"_s].toBool() ? u"true"_s : u"false"_s)
                     .arg(used[u"pings"_s].toInt()),
                 settings);
        QCOMPARE(summary[u"counts"_s][u"requests"_s].toInt(), 1);
        QCOMPARE(summary[u"counts"_s][u"answered"_s].toInt(), exitCode == 0 ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(TestScanCli)
#include "tst_scan_cli.moc"
