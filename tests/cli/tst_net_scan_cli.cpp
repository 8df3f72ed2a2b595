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

QList<QJsonObject> jsonLines(const QByteArray &out)
{
    QList<QJsonObject> objects;
    for (const QByteArray &line : out.split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject())
            return {};
        objects << document.object();
    }
    return objects;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool run(const QString &program, const QStringList &arguments)
{
    return QProcess::execute(program, arguments) == 0;
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
    // The window gets the range as a dash range in the starting box alone.
    void csvEqualsWindowExport()
    {
        const ScanProgram cli = ScanProgram::run(
            {u"-c"_s, u"2"_s, u"-t"_s, u"400"_s, u"-i"_s, u"5"_s, u"127.0.0.15-127.0.0.25"_s});
        QVERIFY2(cli.exitCode == 0, cli.err.constData());
        QVERIFY(cli.out.contains("hostsfile-twenty.vantrel.test"));

        MainForm form(std::make_unique<IcmpEcho>(), std::make_unique<AresLookup>());
        ScanSettings settings;
        settings.Pings_per_Node = 2;
        settings.Ping_Timeout = 400;
        settings.Inter_Ping_Delay = 5;
        form.applySettings(settings);
        form.show();
        control<QLineEdit>(&form, "Starting_IP")->setText(u"127.0.0.15-127.0.0.25"_s);
        form.Scan_Button_Click();
        QVERIFY(form.engine().isRunning());
        QTRY_VERIFY_WITH_TIMEOUT(!form.engine().isRunning() && form.ICMP().EchoesPending() == 0 &&
                                     form.DNS().LookupsPending() == 0,
                                 20000);
        const QString exported = m_dir.filePath(u"window.csv"_s);
        SaveFileDialog::setNextFileName(exported);
        form.ExportSelection_Click();
        QCOMPARE(MessageBox::takeShown().value(0).text, u"Exported 11 records to window.csv"_s);

        QList<QByteArray> mine = cli.out.split('\n');
        QList<QByteArray> window = fileBytes(exported).split('\n');
        QCOMPARE(mine.size(), 4 + 11 + 1);
        QVERIFY(mine[2].startsWith("# ") && window[2].startsWith("# "));
        mine.removeAt(2);
        window.removeAt(2);
        // Round-trip times are measured anew in each run; everything else must agree.
        const QRegularExpression time(u",\\d+ ms,"_s);
        for (QByteArray &line : mine)
            line = QString::fromUtf8(line).replace(time, u",N ms,"_s).toUtf8();
        for (QByteArray &line : window)
            line = QString::fromUtf8(line).replace(time, u",N ms,"_s).toUtf8();
        QCOMPARE(mine, window);
    }

    // One object per row with its time or error, then the summary with the counts.
    void jsonlRowsAndSummary_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("addresses");
        QTest::newRow("answered") << QStringList{u"127.0.0.250-127.0.1.5"_s}
                                  << QStringList{"127.0.0.250", "127.0.0.251", "127.0.0.252",
                                                 "127.0.0.253", "127.0.0.254", "127.0.0.255"};
        QTest::newRow("inverted: silent and unreachable")
            << QStringList{u"--inverted"_s, u"127.0.1.254"_s, u"127.0.2.1"_s}
            << QStringList{"127.0.1.254", "127.0.1.255", "127.0.2.0", "127.0.2.1"};
    }
    void jsonlRowsAndSummary()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, addresses);
        const bool inverted = arguments.contains(u"--inverted"_s);
        const ScanProgram cli =
            ScanProgram::run(QStringList{u"--format"_s, u"jsonl"_s, u"-n"_s, u"-c"_s, u"1"_s,
                                         u"-t"_s, u"300"_s, u"-i"_s, u"2"_s} +
                             arguments);
        QVERIFY2(cli.exitCode == 0, cli.err.constData());
        const QList<QJsonObject> lines = jsonLines(cli.out);
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
        QCOMPARE(summary.value(u"settings"_s).toObject().value(u"timeout_ms"_s).toInt(), 300);
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
        ScanProgram::start(process, {u"-n"_s, u"-c"_s, u"1"_s, u"-i"_s, u"1"_s, u"-t"_s, u"500"_s,
                                     u"-o"_s, file, u"127.1.0.0/16"_s});
        QVERIFY(process.waitForStarted());
        QTest::qWait(700); // well inside a walk of 65 s
        QCOMPARE(process.state(), QProcess::Running);
        ::kill(pid_t(process.processId()), signalNumber);
        QVERIFY(process.waitForFinished(5000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), exitCode);
        QList<QByteArray> lines = fileBytes(file).split('\n');
        QVERIFY(lines.size() > 4 + 10);
        QVERIFY(lines.size() < 4 + 65536);
        lines = lines.mid(4, lines.size() - 5);
        QStringList addresses;
        for (const QByteArray &line : lines)
            addresses << QString::fromLatin1(line.split(',').value(0));
        addresses.sort();
        QStringList expected;
        for (qsizetype i = 0; i < lines.size(); ++i)
            expected << IP_Functions::Number_To_Address(0x7F010000 + int(i));
        expected.sort();
        QCOMPARE(addresses, expected);
    }

    // A file system that fills up part-way: exit 4 and the old file as it was.
    void fullDiskKeepsTheOldFile()
    {
        const QString small = m_dir.filePath(u"small"_s);
        QVERIFY(QDir().mkpath(small));
        if (!run(u"mount"_s, {u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size=32k"_s, u"tmpfs"_s, small}))
            QSKIP("cannot mount a small file system here");
        const QString file = small + u"/rows.csv"_s;
        {
            QFile old(file);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("old rows\n");
        }
        const ScanProgram cli = ScanProgram::run(
            {u"-n"_s, u"-c"_s, u"1"_s, u"--rate"_s, u"10000"_s, u"-o"_s, file, u"127.1.0.0/20"_s});
        const QStringList left = QDir(small).entryList(QDir::Files);
        const QByteArray kept = fileBytes(file);
        run(u"umount"_s, {small});
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
        const auto ip = [](const QString &arguments) {
            return run(u"ip"_s, arguments.split(u' '));
        };
        const QByteArray hosts = fileBytes(u"/etc/hosts"_s);
        const auto writeHosts = [](const QByteArray &text) {
            QFile file(u"/etc/hosts"_s);
            return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                   file.write(text) == text.size();
        };
        const auto restore = qScopeGuard([&] {
            ip(u"route del unreachable 127.0.0.16/32 table local"_s);
            ip(u"route del unreachable 127.0.0.18/32 table local"_s);
            writeHosts(hosts);
        });
        const QStringList scan{u"-t"_s, u"400"_s, u"-i"_s, u"5"_s, u"127.0.0.16-127.0.0.20"_s};
        QVERIFY(ip(u"route add unreachable 127.0.0.18/32 table local"_s));
        const ScanProgram first = ScanProgram::run(QStringList{u"--fail-on-change"_s} + scan);
        QVERIFY2(first.exitCode == 0, first.err.constData());
        QVERIFY(first.err.contains("No earlier scan of 127.0.0.16 to 127.0.0.20 (normal)"));

        QVERIFY(ip(u"route del unreachable 127.0.0.18/32 table local"_s));
        QVERIFY(ip(u"route add unreachable 127.0.0.16/32 table local"_s));
        QVERIFY(writeHosts(QByteArray(hosts).replace("hostsfile-twenty", "renamed-twenty")));
        const QStringList asCsv{
            u"new,127.0.0.18,,host-18.vantrel.test"_s, u"gone,127.0.0.16,host-16.vantrel.test,"_s,
            u"renamed,127.0.0.20,hostsfile-twenty.vantrel.test,renamed-twenty.vantrel.test"_s};
        const QMap<QString, QStringList> expected{
            {u"csv"_s, asCsv},
            {u"jsonl"_s, asCsv},
            {u"text"_s,
             {u"new 127.0.0.18 host-18.vantrel.test"_s, u"gone 127.0.0.16 host-16.vantrel.test"_s,
              u"renamed 127.0.0.20 hostsfile-twenty.vantrel.test -> renamed-twenty.vantrel.test"_s}}};
        const QRegularExpression changeLine(u"^(new|gone|renamed)[ ,]"_s);
        for (auto format = expected.cbegin(); format != expected.cend(); ++format) {
            const ScanProgram again =
                ScanProgram::run(QStringList{u"--compare"_s, u"--fail-on-change"_s,
                                             u"--no-history"_s, u"--format"_s, format.key()} +
                                 scan);
            QVERIFY2(again.exitCode == 5, again.err.constData());
            QStringList changes;
            for (const QByteArray &line : again.out.split('\n')) {
                const QJsonObject object = QJsonDocument::fromJson(line).object();
                if (object.contains(u"change"_s)) {
                    QStringList fields;
                    for (const char *key : {"change", "address", "then", "now"})
                        fields << object.value(QLatin1StringView(key)).toString();
                    changes << fields.join(u',');
                } else if (changeLine.match(QString::fromUtf8(line)).hasMatch()) {
                    changes << QString::fromUtf8(line).simplified();
                }
            }
            QCOMPARE(changes, format.value());
        }

        MainForm form(std::make_unique<IcmpEcho>(), std::make_unique<AresLookup>());
        ScanSettings settings;
        settings.Ping_Timeout = 400;
        settings.Inter_Ping_Delay = 5;
        form.applySettings(settings);
        QVERIFY(form.openHistory({}));
        form.show();
        control<QLineEdit>(&form, "Starting_IP")->setText(u"127.0.0.16-127.0.0.20"_s);
        form.Scan_Button_Click();
        QVERIFY(form.engine().isRunning());
        QTRY_VERIFY_WITH_TIMEOUT(!form.engine().isRunning(), 20000);
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
