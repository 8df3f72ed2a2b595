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
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message"); // part of standard error
        const auto usage = [](const char *name, const QStringList &arguments,
                              const QString &message) {
            QTest::newRow(name) << arguments << 2 << message;
        };
        usage("pings 0", {u"-c"_s, u"0"_s, u"127.0.0.1"_s},
              u"--pings takes a whole number from 1 to 5, not \"0\"."_s);
        usage("timeout 99", {u"--timeout=99"_s, u"127.0.0.1"_s},
              u"--timeout takes a whole number from 100 to 5000"_s);
        usage("rate 10001", {u"--rate"_s, u"10001"_s, u"127.0.0.1"_s},
              u"--rate takes a whole number from 1 to 10000"_s);
        usage("negative delay", {u"-i"_s, u"-5"_s, u"127.0.0.1"_s},
              u"--delay takes a whole number from 1 to 2001, not \"-5\"."_s);
        usage("fraction", {u"-t"_s, u"250.5"_s, u"127.0.0.1"_s},
              u"--timeout takes a whole number"_s);
        usage("format", {u"--format"_s, u"xml"_s, u"127.0.0.1"_s},
              u"--format takes csv, text or jsonl, not \"xml\"."_s);
        usage("unknown option", {u"--fast"_s, u"127.0.0.1"_s}, u"Unknown option 'fast'."_s);
        usage("missing value", {u"127.0.0.1"_s, u"-c"_s}, u"Missing value after '-c'."_s);
        usage("no range", {u"-n"_s}, u"No address range given."_s);
        usage("three addresses", {u"127.0.0.1"_s, u"127.0.0.2"_s, u"127.0.0.3"_s},
              u"Too many arguments"_s);
        usage("reversed", {u"127.0.0.9"_s, u"127.0.0.1"_s},
              u"The first address 127.0.0.9 is greater than the last address 127.0.0.1."_s);
        QTest::newRow("answered") << QStringList{u"--format"_s, u"text"_s, u"-c"_s, u"1"_s,
                                                 u"127.0.0.1/32"_s}
                                  << 0 << QString();
        QTest::newRow("inverted, nothing silent")
            << QStringList{u"--inverted"_s, u"-n"_s, u"-t"_s, u"300"_s, u"127.0.0.1"_s} << 1
            << QString();
        QTest::newRow("output in a missing folder")
            << QStringList{u"-n"_s, u"-o"_s, u"/nonexistent-vantrel/x.csv"_s, u"127.0.0.1"_s} << 4
            << u"Cannot write /nonexistent-vantrel/x.csv: "_s;
    }
    void exitCodes()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const ScanProgram run = ScanProgram::run(arguments);
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
        QVERIFY(QDir().mkpath(folder));
        QFile store(folder + u"/Vantrel.conf"_s);
        const QByteArray saved = "[ICMP]\nPINGS%20Per%20Node=3\nTimeout=300\nTTL=9\n"
                                 "[DNS]\nActive=False\n[Scan]\nReverse=True\n";
        QVERIFY(store.open(QIODevice::WriteOnly));
        store.write(saved);
        store.close();
        const ScanProgram run =
            ScanProgram::run({u"--format"_s, u"jsonl"_s, u"--ttl"_s, u"64"_s, u"127.0.0.1"_s});
        QVERIFY(store.open(QIODevice::ReadOnly));
        QCOMPARE(store.readAll(), saved);
        store.remove();
        QCOMPARE(run.exitCode, 1); // inverted: 127.0.0.1 answers, so nothing is listed
        const QJsonObject settings = QJsonDocument::fromJson(run.out)
                                         .object()
                                         .value(u"summary"_s)
                                         .toObject()
                                         .value(u"settings"_s)
                                         .toObject();
        QCOMPARE(settings.value(u"pings"_s).toInt(), 3);
        QCOMPARE(settings.value(u"timeout_ms"_s).toInt(), 300);
        QCOMPARE(settings.value(u"ttl"_s).toInt(), 64);
        QCOMPARE(settings.value(u"dns"_s).toBool(), false);
        QCOMPARE(settings.value(u"inverted"_s).toBool(), true);
    }

    void helpDocumentsEverything()
    {
        const ScanProgram run = ScanProgram::run({u"--help"_s});
        QCOMPARE(run.exitCode, 0);
        const QString help = QString::fromUtf8(run.out);
        for (const char *word : {"--pings",      "--timeout",  "--ttl",
                                 "--delay",      "--rate",     "--no-dns",
                                 "--inverted",   "--output",   "--format",
                                 "--quiet",      "--compare",  "--fail-on-change",
                                 "--no-history", "FIRST-LAST", "ADDRESS/PREFIX",
                                 "jsonl",        "SIGINT",     "SIGTERM",
                                 "/dev/stdout",  "  0 ",       "  1 ",
                                 "  2 ",         "  3 ",       "  4 ",
                                 "  5 ",         "130",        "143"})
            QVERIFY2(help.contains(QLatin1StringView(word)), word);
    }

    // A pipe named as the output is written to, not replaced by a file.
    void outputToNamedPipe()
    {
        QTemporaryDir dir;
        const QString fifo = dir.filePath(u"rows"_s);
        QCOMPARE(QProcess::execute(u"mkfifo"_s, {fifo}), 0);
        QProcess reader;
        reader.start(u"cat"_s, {fifo});
        const ScanProgram run =
            ScanProgram::run({u"-n"_s, u"-c"_s, u"1"_s, u"-o"_s, fifo, u"127.0.0.1"_s});
        QVERIFY(reader.waitForFinished(10000));
        QVERIFY2(run.exitCode == 0, run.err.constData());
        QVERIFY(
            reader.readAllStandardOutput().startsWith("# Scan from 127.0.0.1 to 127.0.0.1\r\n"));
        QVERIFY(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());
    }

    void fullOutputDevice()
    {
        const ScanProgram run =
            ScanProgram::run({u"-n"_s, u"-c"_s, u"1"_s, u"127.0.0.1"_s}, {}, u"/dev/full"_s);
        QCOMPARE(run.exitCode, 4);
        QVERIFY2(run.err.startsWith("vantrel-scan: Cannot write standard output: "),
                 run.err.constData());
    }

    // Ping sockets are off in this namespace; without root there is no raw socket either.
    void noIcmpSocket()
    {
        QString wrapper;
        if (::geteuid() == 0)
            wrapper = u"setpriv --reuid=65534 --regid=65534 --clear-groups"_s;
        QFile range(u"/proc/sys/net/ipv4/ping_group_range"_s);
        QVERIFY(range.open(QIODevice::ReadOnly));
        const QList<QByteArray> groups = range.readAll().simplified().split(' ');
        const qlonglong gid = wrapper.isEmpty() ? ::getegid() : 65534;
        if (groups.size() == 2 && groups[0].toLongLong() <= gid && gid <= groups[1].toLongLong())
            QSKIP("ping sockets are allowed for this group here");
        QTemporaryDir out;
        const QString file = out.filePath(u"rows.csv"_s);
        const ScanProgram run = ScanProgram::run({u"-o"_s, file, u"127.0.0.1"_s}, wrapper);
        QVERIFY2(run.exitCode == 3, run.err.constData());
        QVERIFY2(run.err.contains("ping_group_range") && run.err.contains("cap_net_raw"),
                 run.err.constData());
        QVERIFY(!QFile::exists(file));
    }
};

QTEST_GUILESS_MAIN(TestScanCli)
#include "tst_scan_cli.moc"
