// vantrel-scan as a program: its options, refusals and exit codes. Only 127.0.0.1 is pinged
// here; whole scans run in the private test network (tst_net_scan_cli).
#include "cli/ScanProgram.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace Qt::StringLiterals;

class TestScanCli : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void exitCodes_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QString>("output"); // standard output goes to this file if given
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message"); // part of standard error
        const auto row = [](const char *name, const char *arguments, int exitCode,
                            const QString &message, const QString &output = {}) {
            QTest::newRow(name) << QString::fromLatin1(arguments) << output << exitCode << message;
        };
        row("pings 0", "-c 0 127.0.0.1", 2,
            u"--pings takes a whole number from 1 to 5, not \"0\"."_s);
        row("timeout 99", "--timeout=99 127.0.0.1", 2,
            u"--timeout takes a whole number from 100 to 5000"_s);
        row("rate 10001", "--rate 10001 127.0.0.1", 2,
            u"--rate takes a whole number from 1 to 10000"_s);
        row("negative delay", "-i -5 127.0.0.1", 2,
            u"--delay takes a whole number from 1 to 2001, not \"-5\"."_s);
        row("fraction", "-t 250.5 127.0.0.1", 2, u"--timeout takes a whole number"_s);
        row("format", "--format xml 127.0.0.1", 2,
            u"--format takes csv, text or jsonl, not \"xml\"."_s);
        row("unknown option", "--fast 127.0.0.1", 2, u"Unknown option 'fast'."_s);
        row("missing value", "127.0.0.1 -c", 2, u"Missing value after '-c'."_s);
        row("no range", "-n", 2, u"No address range given."_s);
        row("three addresses", "127.0.0.1 127.0.0.2 127.0.0.3", 2, u"Too many arguments"_s);
        row("reversed", "127.0.0.9 127.0.0.1", 2,
            u"The first address 127.0.0.9 is greater than the last address 127.0.0.1."_s);
        row("answered", "--format text -c 1 127.0.0.1/32", 0, {});
        row("output in a missing folder", "-n -o /nonexistent-vantrel/x.csv 127.0.0.1", 4,
            u"Cannot write /nonexistent-vantrel/x.csv: "_s);
        row("full output device", "-n -c 1 127.0.0.1", 4,
            u"vantrel-scan: Cannot write standard output: "_s, u"/dev/full"_s);
    }
    void exitCodes()
    {
        QFETCH(QString, arguments);
        QFETCH(QString, output);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const ScanProgram run = ScanProgram::run(arguments, {}, output);
        QVERIFY2(run.exitCode == exitCode, run.err.constData());
        QVERIFY2(QString::fromUtf8(run.err).contains(message), run.err.constData());
        if (exitCode == 2)
            QVERIFY(run.err.endsWith("Try 'vantrel-scan --help'.\n"));
        if (exitCode != 0)
            return;
        // Aligned columns, with no display and a platform plugin that cannot load.
        const QList<QByteArray> lines = run.out.split('\n');
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], "IP Address  Response Time  DNS Lookup");
        QCOMPARE(lines[1].indexOf(" ms"), lines[0].indexOf("Response") + 1);
    }

    // The window's saved settings apply unless an option overrides them; none is written.
    void savedSettingsApply()
    {
        const QString folder =
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + u"/Vantrel"_s;
        QFile store(folder + u"/Vantrel.conf"_s);
        const QByteArray saved = "[ICMP]\nPINGS%20Per%20Node=3\nTimeout=300\nTTL=9\n"
                                 "[DNS]\nActive=False\n[Scan]\nReverse=True\n";
        QVERIFY(QDir().mkpath(folder) && store.open(QIODevice::WriteOnly));
        store.write(saved);
        store.close();
        const ScanProgram run = ScanProgram::run(u"--format jsonl --ttl 64 127.0.0.1"_s);
        QVERIFY(store.open(QIODevice::ReadOnly));
        QCOMPARE(store.readAll(), saved);
        store.remove();
        QCOMPARE(run.exitCode, 1); // inverted: 127.0.0.1 answers, so nothing is listed
        const QJsonObject summary = QJsonDocument::fromJson(run.out)[u"summary"_s].toObject();
        QCOMPARE(summary[u"settings"_s].toObject(), QJsonObject({{u"pings"_s, 3},
                                                                 {u"timeout_ms"_s, 300},
                                                                 {u"ttl"_s, 64},
                                                                 {u"delay_ms"_s, 250},
                                                                 {u"rate"_s, QJsonValue()},
                                                                 {u"dns"_s, false},
                                                                 {u"inverted"_s, true}}));
    }

    void helpDocumentsEverything()
    {
        const ScanProgram run = ScanProgram::run(u"--help"_s);
        QCOMPARE(run.exitCode, 0);
        for (const QString &word :
             u"--pings|--timeout|--ttl|--delay|--rate|--no-dns|--inverted|--output|--format|"
             "--quiet|--compare|--fail-on-change|--no-history|FIRST-LAST|ADDRESS/PREFIX|jsonl|"
             "SIGINT|SIGTERM|/dev/stdout|  0 |  1 |  2 |  3 |  4 |  5 |130|143"_s.split(u'|'))
            QVERIFY2(QString::fromUtf8(run.out).contains(word), qPrintable(word));
    }

    // A pipe named as the output is written to, not replaced by a file.
    void outputToNamedPipe()
    {
        QTemporaryDir dir;
        const QString fifo = dir.filePath(u"rows"_s);
        QCOMPARE(QProcess::execute(u"mkfifo"_s, {fifo}), 0);
        QProcess reader;
        reader.start(u"cat"_s, {fifo});
        const ScanProgram run = ScanProgram::run(u"-n -c 1 127.0.0.1 -o "_s + fifo);
        QVERIFY(reader.waitForFinished(10000));
        QVERIFY2(run.exitCode == 0, run.err.constData());
        QVERIFY(
            reader.readAllStandardOutput().startsWith("# Scan from 127.0.0.1 to 127.0.0.1\r\n"));
        QVERIFY(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());
    }

    // Ping sockets are off in this namespace; without root there is no raw socket either.
    void noIcmpSocket()
    {
        const bool root = ::geteuid() == 0;
        QFile range(u"/proc/sys/net/ipv4/ping_group_range"_s);
        QVERIFY(range.open(QIODevice::ReadOnly));
        const QList<QByteArray> groups = range.readAll().simplified().split(' ');
        const qlonglong gid = root ? 65534 : ::getegid();
        if (groups.size() == 2 && groups[0].toLongLong() <= gid && gid <= groups[1].toLongLong())
            QSKIP("ping sockets are allowed for this group here");
        QTemporaryDir out;
        const QString file = out.filePath(u"rows.csv"_s);
        const ScanProgram run = ScanProgram::run(
            u"127.0.0.1 -o "_s + file,
            root ? u"setpriv --reuid=65534 --regid=65534 --clear-groups"_s : QString());
        QVERIFY2(run.exitCode == 3, run.err.constData());
        QVERIFY2(run.err.contains("ping_group_range") && run.err.contains("cap_net_raw"),
                 run.err.constData());
        QVERIFY(!QFile::exists(file));
    }
};

QTEST_GUILESS_MAIN(TestScanCli)
#include "tst_scan_cli.moc"
