// Whole runs of vantrel-scan inside the private test network (127.0.0.0/24 and 127.1.0.0/16
// answer, 127.0.1.0/24 is silent, 127.0.2.0/24 unreachable, dnsmasq names 127.0.0.1-200),
// against the window's scan of the same range where they must agree: rows, export and the
// comparison with the scan before.
#include "app/ScanSettings.h"
#include "cli/ScanProgram.h"
#include "history/ScanComparison.h"
#include "scan/ScanEngine.h"
#include "scan/components/AresLookup.h"
#include "scan/components/EchoControl.h"
#include "scan/components/IcmpEcho.h"
#include "scan/components/ResultGrid.h"
#include "ui/CompareForm.h"
#include "ui/Controls.h"
#include "ui/MainForm.h"
#include "widgets/MessageBox.h"
#include "widgets/SaveFileDialog.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace Qt::StringLiterals;

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

// A command line of words (no quoting) that must succeed.
bool run(const QString &command)
{
    QStringList words = command.split(u' ');
    return QProcess::execute(words.takeFirst(), words) == 0;
}

// The window scans `range` (typed as a dash range in the starting box alone) to the end.
bool windowScan(MainForm &form, const QString &range)
{
    ScanSettings settings; // two pings each
    settings.Ping_Timeout = 400;
    settings.Inter_Ping_Delay = 5;
    form.applySettings(settings);
    form.show();
    control<QLineEdit>(&form, "Starting_IP")->setText(range);
    form.Scan_Button_Click();
    if (!form.engine().isRunning())
        return false;
    return QTest::qWaitFor(
        [&] {
            return !form.engine().isRunning() && form.ICMP().EchoesPending() == 0 &&
                   form.DNS().LookupsPending() == 0;
        },
        20000);
}

} // namespace

class TestNetScanCli : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    void initTestCase()
    {
        if (qgetenv("VANTREL_TESTNET") != "1")
            QSKIP("needs the private test network (tests/net/testnet.sh)");
        QVERIFY(m_dir.isValid());
        // Every run records its scan: into a history of this run only.
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.path()));
        MessageBox::setTestMode(true);
        SaveFileDialog::setTestMode(true);
    }

    // The same range and settings in both programs: the files differ in the date line only.
    void csvEqualsWindowExport()
    {
        const ScanProgram cli = ScanProgram::run(u"-c 2 -t 400 -i 5 127.0.0.15-127.0.0.25"_s);
        QVERIFY2(cli.exitCode == 0, cli.err.constData());
        QVERIFY(cli.out.contains("hostsfile-twenty.vantrel.test"));
        MainForm form(std::make_unique<IcmpEcho>(), std::make_unique<AresLookup>());
        QVERIFY(windowScan(form, u"127.0.0.15-127.0.0.25"_s));
        const QString exported = m_dir.filePath(u"window.csv"_s);
        SaveFileDialog::setNextFileName(exported);
        form.ExportSelection_Click();
        QCOMPARE(MessageBox::takeShown().value(0).text, u"Exported 11 records to window.csv"_s);

        // Round-trip times are measured anew in each run and the date line differs; everything
        // else must agree.
        const auto comparable = [](const QByteArray &csv) {
            QStringList lines = QString::fromUtf8(csv).split(u'\n');
            lines[2] = lines[2].startsWith(u"# ") ? u"# date"_s : lines[2];
            return lines.replaceInStrings(QRegularExpression(u",\\d+ ms,"_s), u",N ms,"_s);
        };
        QCOMPARE(comparable(cli.out).size(), 4 + 11 + 1);
        QCOMPARE(comparable(cli.out), comparable(fileBytes(exported)));
    }

    // One object per row with its time or error, then the summary with the counts.
    void jsonlRowsAndSummary_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QStringList>("addresses");
        QTest::newRow("answered") << u"127.0.0.250-127.0.1.5"_s
                                  << QStringList{"127.0.0.250", "127.0.0.251", "127.0.0.252",
                                                 "127.0.0.253", "127.0.0.254", "127.0.0.255"};
        QTest::newRow("inverted: silent and unreachable")
            << u"--inverted 127.0.1.254 127.0.2.1"_s
            << QStringList{"127.0.1.254", "127.0.1.255", "127.0.2.0", "127.0.2.1"};
    }
    void jsonlRowsAndSummary()
    {
        QFETCH(QString, arguments);
        QFETCH(QStringList, addresses);
        const bool inverted = arguments.contains(u"--inverted"_s);
        const ScanProgram cli =
            ScanProgram::run(u"--format jsonl -n -c 1 -t 300 -i 2 "_s + arguments);
        QVERIFY2(cli.exitCode == 0, cli.err.constData());
        QList<QJsonObject> lines;
        for (const QByteArray &line : cli.out.trimmed().split('\n'))
            lines << QJsonDocument::fromJson(line).object(); // a bad line reads as {}
        QCOMPARE(lines.size(), addresses.size() + 1);
        QMap<QString, QJsonValue> outcome;
        for (qsizetype i = 0; i < addresses.size(); ++i) {
            QVERIFY(lines[i].value(u"name"_s).isNull());
            const QJsonValue value = lines[i].value(inverted ? u"error"_s : u"time_ms"_s);
            QVERIFY(inverted ? value.isString() : value.isDouble());
            outcome.insert(lines[i].value(u"address"_s).toString(), value);
        }
        QCOMPARE(outcome.keys(), addresses);
        // A time-out and an unreachable network say different things.
        if (inverted)
            QVERIFY(outcome.first() != outcome.last());
        const QJsonObject summary = lines.last().value(u"summary"_s).toObject();
        const qsizetype answered = inverted ? 0 : addresses.size();
        QCOMPARE(summary.value(u"counts"_s).toObject(),
                 QJsonObject({{u"listed"_s, addresses.size()},
                              {u"answered"_s, answered},
                              {u"failed"_s, addresses.size() - answered}}));
        QVERIFY(summary.value(u"start"_s).toString() <= summary.value(u"end"_s).toString());
    }

    // Every address handed out before the signal answers, so the rows written are exactly
    // the first addresses of the range, none lost.
    void signalWritesRowsSoFar_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("SIGINT") << SIGINT << 130;
        QTest::newRow("SIGTERM") << SIGTERM << 143;
    }
    void signalWritesRowsSoFar()
    {
        QFETCH(int, signalNumber);
        QFETCH(int, exitCode);
        const QString file = m_dir.filePath(u"interrupted.csv"_s);
        QProcess process;
        ScanProgram::start(process,
                           u"-n -c 1 -i 1 -t 500 127.1.0.0/16 -o %1"_s.arg(file).split(u' '));
        QVERIFY(process.waitForStarted());
        QTest::qWait(700); // well inside a walk of 65 s
        QCOMPARE(process.state(), QProcess::Running);
        ::kill(pid_t(process.processId()), signalNumber);
        QVERIFY(process.waitForFinished(5000));
        QCOMPARE(std::pair(process.exitStatus(), process.exitCode()),
                 std::pair(QProcess::NormalExit, exitCode));
        QList<QByteArray> lines = fileBytes(file).split('\n');
        QVERIFY(lines.size() > 4 + 10 && lines.size() < 4 + 65536);
        lines = lines.mid(4, lines.size() - 5);
        QStringList addresses, expected;
        for (const QByteArray &line : lines) {
            addresses << QString::fromLatin1(line.split(',').value(0));
            expected << IP_Functions::Number_To_Address(0x7F010000 + int(expected.size()));
        }
        addresses.sort();
        expected.sort();
        QCOMPARE(addresses, expected);
    }

    // A file system that fills up part-way: exit 4 and the old file as it was.
    void fullDiskKeepsTheOldFile()
    {
        const QString small = m_dir.filePath(u"small"_s);
        QVERIFY(QDir().mkpath(small));
        if (!run(u"mount -t tmpfs -o size=32k tmpfs "_s + small))
            QSKIP("cannot mount a small file system here");
        const QString file = small + u"/rows.csv"_s;
        QVERIFY(writeFile(file, "old rows\n"));
        const ScanProgram cli = ScanProgram::run(u"-n -c 1 --rate 10000 127.1.0.0/20 -o "_s + file);
        const QStringList left = QDir(small).entryList(QDir::Files);
        const QByteArray kept = fileBytes(file);
        run(u"umount "_s + small);
        QCOMPARE(cli.exitCode, 4);
        QVERIFY2(cli.err.startsWith("vantrel-scan: Cannot write " + file.toUtf8() + ": "),
                 cli.err.constData());
        QCOMPARE(left, QStringList{u"rows.csv"_s});
        QCOMPARE(kept, "old rows\n");
    }

    // Two scans with the lab changed in between: 127.0.0.18 gets its route back, 127.0.0.16
    // loses it and 127.0.0.20 is renamed in the hosts file. Every format lists exactly those
    // changes; runs with --no-history leave the first scan the one compared with, and so
    // does the window, which shares the history.
    void compareListsWhatChanged()
    {
        const QByteArray hosts = fileBytes(u"/etc/hosts"_s);
        const auto restore = qScopeGuard([&] {
            run(u"ip route del unreachable 127.0.0.16/32 table local"_s);
            run(u"ip route del unreachable 127.0.0.18/32 table local"_s);
            writeFile(u"/etc/hosts"_s, hosts);
        });
        const QString scan = u" -t 400 -i 5 127.0.0.16-127.0.0.20"_s;
        QVERIFY(run(u"ip route add unreachable 127.0.0.18/32 table local"_s));
        const ScanProgram first = ScanProgram::run(u"--fail-on-change"_s + scan);
        QVERIFY2(first.exitCode == 0, first.err.constData());
        QVERIFY(first.err.contains("No earlier scan of 127.0.0.16 to 127.0.0.20 (normal)"));

        QVERIFY(run(u"ip route del unreachable 127.0.0.18/32 table local"_s));
        QVERIFY(run(u"ip route add unreachable 127.0.0.16/32 table local"_s));
        QVERIFY(writeFile(u"/etc/hosts"_s,
                          QByteArray(hosts).replace("hostsfile-twenty", "renamed-twenty")));
        const QStringList asCsv{
            u"new,127.0.0.18,,host-18.vantrel.test"_s, u"gone,127.0.0.16,host-16.vantrel.test,"_s,
            u"renamed,127.0.0.20,hostsfile-twenty.vantrel.test,renamed-twenty.vantrel.test"_s};
        const QStringList asText{
            u"new 127.0.0.18 host-18.vantrel.test"_s, u"gone 127.0.0.16 host-16.vantrel.test"_s,
            u"renamed 127.0.0.20 hostsfile-twenty.vantrel.test -> renamed-twenty.vantrel.test"_s};
        const QRegularExpression changeLine(u"^(new|gone|renamed)[ ,]"_s);
        for (const QString &format : {u"csv"_s, u"jsonl"_s, u"text"_s}) {
            const ScanProgram again = ScanProgram::run(
                u"--compare --fail-on-change --no-history --format "_s + format + scan);
            QVERIFY2(again.exitCode == 5, again.err.constData());
            QStringList changes;
            for (const QString &line : QString::fromUtf8(again.out).split(u'\n')) {
                const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
                if (o.contains(u"change"_s))
                    changes << QStringList{o[u"change"_s].toString(), o[u"address"_s].toString(),
                                           o[u"then"_s].toString(), o[u"now"_s].toString()}
                                   .join(u',');
                else if (changeLine.match(line).hasMatch())
                    changes << line.simplified();
            }
            QCOMPARE(changes, format == u"text" ? asText : asCsv);
        }

        MainForm form(std::make_unique<IcmpEcho>(), std::make_unique<AresLookup>());
        QVERIFY(form.openHistory({}));
        QVERIFY(windowScan(form, u"127.0.0.16-127.0.0.20"_s));
        QVERIFY(control<QAction>(&form, "CompareSelection")->isEnabled());
        control<QAction>(&form, "CompareSelection")->trigger();
        QVERIFY(form.compareForm());
        QStringList listed;
        for (const ScanComparison::Change &c : form.compareForm()->changes())
            listed << QStringList{ScanComparison::kindName(c.kind), c.address, c.then, c.now}.join(
                u',');
        QCOMPARE(listed, asCsv);
        QVERIFY(MessageBox::takeShown().isEmpty());
    }
};

QTEST_MAIN(TestNetScanCli)
#include "tst_net_scan_cli.moc"
