// Whole runs of vantrel-scan inside the private test network (127.0.0.0/24 and 127.1.0.0/16
// answer, 127.0.1.0/24 is silent, 127.0.2.0/24 unreachable, dnsmasq names 127.0.0.1-200),
// against the window's scan of the same range where they must agree: rows, export and the
// comparison with the scan before, which --fail-on-change must be able to trust.
#include "app/ScanSettings.h"
#include "cli/ScanProgram.h"
#include "scan/ScanEngine.h"
#include "scan/components/AresLookup.h"
#include "scan/components/HostsIndex.h"
#include "scan/components/IcmpEcho.h"
#include "scan/components/NeighbourTable.h"
#include "scan/components/ResultGrid.h"
#include "ui/CompareForm.h"
#include "ui/Controls.h"
#include "ui/MainForm.h"
#include "widgets/MessageBox.h"
#include "widgets/SaveFileDialog.h"

#include <QAction>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <sys/stat.h>

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
bool windowScan(MainForm &form, const QString &range,
                const ScanSettings &settings = {.Ping_Timeout = 400, .Inter_Ping_Delay = 5})
{
    form.applySettings(settings);
    form.show();
    control<QLineEdit>(&form, "Ending_IP")->clear();
    control<QLineEdit>(&form, "Starting_IP")->setText(range);
    form.Scan_Button_Click();
    const auto finished = [&] {
        return !form.engine().isRunning() && form.ICMP().EchoesPending() == 0 &&
               form.DNS().LookupsPending() == 0;
    };
    return form.engine().isRunning() && QTest::qWaitFor(finished, 20000);
}

// The changes a comparison lists, in any of its forms; jsonl objects as csv lines.
QStringList changeLines(const QByteArray &output)
{
    static const QRegularExpression changeLine(u"^(new|gone|renamed|moved|changed)[ ,]"_s);
    QStringList changes;
    for (const QByteArray &line : output.split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (o.contains(u"change"_s))
            changes << QStringList{o[u"change"_s].toString(), o[u"address"_s].toString(),
                                   o[u"then"_s].toString(), o[u"now"_s].toString()}
                           .join(u',');
        else if (changeLine.match(QString::fromUtf8(line)).hasMatch())
            changes << QString::fromUtf8(line).simplified();
    }
    return changes;
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

    // Inverted, a time-out and an unreachable network are listed with different errors and
    // counted as failed.
    void jsonlInvertedListsFailures()
    {
        const ScanProgram cli =
            ScanProgram::run(u"--format jsonl --inverted -n -c 1 -t 300 127.0.1.255 127.0.2.0"_s);
        QVERIFY2(cli.exitCode == 0, cli.err.constData());
        QMap<QString, QJsonValue> errors;
        QJsonObject summary;
        for (const QByteArray &line : cli.out.trimmed().split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (o.contains(u"summary"_s))
                summary = o[u"summary"_s].toObject();
            else
                errors.insert(o[u"address"_s].toString(), o[u"error"_s]);
        }
        QCOMPARE(errors.keys(), QStringList({u"127.0.1.255"_s, u"127.0.2.0"_s}));
        QVERIFY(errors.first().isString() && errors.first() != errors.last());
        QCOMPARE(summary[u"counts"_s].toObject(),
                 QJsonObject(
                     {{u"listed"_s, 2}, {u"answered"_s, 0}, {u"failed"_s, 2}, {u"requests"_s, 2}}));
    }

    // A row's fields are data: the name is a name or null, what became of the lookup is said
    // apart, and the round trip has the kernel's precision (never 0 on loopback).
    void jsonlRowsAreData()
    {
        const ScanProgram cli =
            ScanProgram::run(u"--format jsonl --no-history -c 1 -t 400 127.0.0.19 127.0.0.201"_s);
        QVERIFY2(cli.exitCode == 0, cli.err.constData());
        QMap<QString, QString> rows;
        for (const QByteArray &line : cli.out.trimmed().split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (o.contains(u"summary"_s))
                continue;
            QVERIFY(o[u"rtt_ms"_s].toDouble() > 0 && o[u"rtt_ms"_s].toDouble() < 50);
            rows.insert(o[u"address"_s].toString(),
                        o[u"name"_s].toString(u"null"_s) + u' ' + o[u"lookup"_s].toString());
        }
        QCOMPARE(rows.size(), 183);
        QCOMPARE(rows[u"127.0.0.19"_s], u"host-19.vantrel.test found"_s);
        QCOMPARE(rows[u"127.0.0.201"_s], u"null none"_s);
    }

    // Targets from standard input in mixed forms, comments and blank lines, as one scan; its
    // rows reach a pipe as they come, and a reader that goes away ends the run quietly, as
    // SIGPIPE would.
    void rowsAsTheyComeFromTargetsOnInput()
    {
        // As `vantrel-scan ... | head -1` in a shell, which reports the scanner's status.
        QProcess process;
        ScanProgram::start(process,
                           {u"-f"_s, u"-"_s, u"-n"_s, u"-c"_s, u"1"_s, u"--rate"_s, u"2"_s,
                            u"--format"_s, u"jsonl"_s, u"--no-history"_s},
                           {u"bash"_s, u"-c"_s,
                            u"\"$@\" | head -1; echo status ${PIPESTATUS[0]} >&2"_s, u"bash"_s});
        QVERIFY(process.waitForStarted());
        process.write("# the lab\n127.0.1.4\n\n127.0.0.1-3   # short form\n"
                      "127.0.0.0/30\n127.0.0.9 127.0.0.12\n");
        process.closeWriteChannel();
        QTRY_VERIFY_WITH_TIMEOUT(process.canReadLine(), 10000);
        // At two addresses a second the run takes over four seconds; its first row is
        // there while it still runs.
        QCOMPARE(process.state(), QProcess::Running);
        QCOMPARE(QJsonDocument::fromJson(process.readLine())[u"address"_s].toString(),
                 u"127.0.0.0"_s);
        QVERIFY(process.waitForFinished(5000));
        QCOMPARE(process.readAllStandardError(), QByteArray("status 141\n")); // SIGPIPE's

        const ScanProgram whole = ScanProgram::run(
            u"--format jsonl -n -c 1 --rate 1000 --no-history 127.0.0.1-3 127.0.0.0/30 "
            "127.0.0.9-12 127.0.1.4"_s);
        const QJsonObject range =
            QJsonDocument::fromJson(
                whole.out.trimmed().split('\n').last())[u"summary"_s][u"range"_s]
                .toObject();
        QCOMPARE(range, QJsonObject({{u"first"_s, u"127.0.0.0"_s},
                                     {u"last"_s, u"127.0.1.4"_s},
                                     {u"ranges"_s, 3},
                                     {u"addresses"_s, 9}}));
        QCOMPARE(whole.out.count("\"address\""), 8); // 127.0.1.4 stays silent
    }

    // On the on-link segment every listed host shows its hardware address and maker, in the
    // scanner and the window alike, from the first scan (the neighbour table starts empty);
    // the host behind the router shows none. The peer that drops echo but answers ARP is
    // listed only when asked for.
    void onLinkHosts_data()
    {
        QTest::addColumn<bool>("window");
        QTest::addColumn<bool>("arpOnly");
        QTest::addColumn<bool>("emptyTable");
        QTest::newRow("scanner") << false << false << true;
        QTest::newRow("scanner, --arp") << false << true << true;
        // Every entry still reachable, confirmed before this scan: the kernel asks again.
        QTest::newRow("scanner, --arp, again at once") << false << true << false;
        QTest::newRow("window") << true << false << true;
        QTest::newRow("window, hosts answering only ARP") << true << true << true;
    }
    void onLinkHosts()
    {
        QFETCH(bool, window);
        QFETCH(bool, arpOnly);
        QFETCH(bool, emptyTable);
        if (qgetenv("VANTREL_TESTNET_ONLINK") != "1")
            QSKIP("needs the on-link segment of the private test network");
        if (emptyTable)
            QVERIFY(run(u"ip neigh flush all"_s));
        QStringList rows; // address|response|hardware|maker, in address order
        const QString range = u"127.3.0.2-127.3.0.6"_s;
        if (window) {
            MainForm form(std::make_unique<IcmpEcho>(), std::make_unique<AresLookup>());
            form.setNeighbours(std::make_unique<NeighbourTable>());
            QVERIFY(windowScan(form, range,
                               {.Ping_Timeout = 400,
                                .Inter_Ping_Delay = 5,
                                .Resolve_DNS = false,
                                .listArpOnly = arpOnly}));
            for (qsizetype row = 1; row < form.Table().Rows(); ++row) {
                QStringList cells;
                for (int col : {0, 1, 3, 4})
                    cells << form.Table().cellText(row, col);
                rows << cells.join(u'|');
            }
            QCOMPARE(form.Table().Cols(), 5);
            QCOMPARE(form.Table().cellText(0, 3) + u'|' + form.Table().cellText(0, 4),
                     u"MAC Address|Vendor"_s);
        } else {
            const ScanProgram cli =
                ScanProgram::run(u"--format jsonl -n -t 400 -i 5 --no-history %1 %2"_s.arg(
                    arpOnly ? u"--arp"_s : u"--ttl 32"_s, range));
            QVERIFY2(cli.exitCode == 0, cli.err.constData());
            for (const QByteArray &line : cli.out.trimmed().split('\n')) {
                const QJsonObject o = QJsonDocument::fromJson(line).object();
                if (o.contains(u"summary"_s))
                    continue;
                rows << QStringList{o[u"address"_s].toString(),
                                    o.contains(u"error"_s)
                                        ? o[u"error"_s].toString()
                                        : QString::number(o[u"time_ms"_s].toInt()) + u" ms"_s,
                                    o[u"mac"_s].toString(), o[u"vendor"_s].toString()}
                            .join(u'|');
            }
        }
        rows.sort();
        rows.replaceInStrings(QRegularExpression(u"\\|\\d+ ms\\|"_s), u"|N ms|"_s);
        QStringList expected{u"127.3.0.2|N ms|00:11:32:00:00:01|Synology Incorporated"_s,
                             u"127.3.0.3|N ms|02:00:00:00:00:02|Private address"_s,
                             u"127.3.0.5|N ms|08:00:27:00:00:05|PCS Systemtechnik GmbH"_s};
        if (arpOnly)
            expected.insert(2, u"127.3.0.4|No echo reply|70:b3:d5:f2:f0:04|TELEPLATFORMS"_s);
        if (QFile::exists(u"/usr/share/ieee-data/oui.csv"_s))
            QCOMPARE(rows, expected);
        else
            QCOMPARE(rows, expected.replaceInStrings(QRegularExpression(u"\\|[^|]*$"_s), u"|"_s));

        // Behind the router: an answer, and no hardware address (not the router's).
        const ScanProgram routed =
            ScanProgram::run(u"-n -t 400 --no-history --format csv 127.6.0.1"_s);
        QVERIFY2(routed.exitCode == 0, routed.err.constData());
        QCOMPARE(routed.out.split('\n').value(4).replace('\r', "").split(',').mid(2),
                 QList<QByteArray>({"", "", ""}));
    }

    // A host without a DNS name gives its own: the peer running a real mDNS responder
    // answers the reverse query sent to it; the others keep DNS's word.
    void deviceOwnName()
    {
        if (qgetenv("VANTREL_TESTNET_ONLINK") != "1")
            QSKIP("needs the on-link segment of the private test network");
        if (QStandardPaths::findExecutable(u"avahi-daemon"_s, {u"/usr/sbin"_s}).isEmpty())
            QSKIP("avahi-daemon is not installed");
        const ScanProgram cli =
            ScanProgram::run(u"--format text -c 1 -t 400 -i 5 --no-history 127.3.0.2-127.3.0.3"_s);
        QVERIFY2(cli.exitCode == 0, cli.err.constData());
        // Rows come as their names are in, in either order.
        QList<QByteArray> lines = cli.out.trimmed().split('\n');
        std::sort(lines.begin() + 1, lines.end());
        QVERIFY2(lines.value(1).startsWith("127.3.0.2 ") &&
                     lines.value(1).contains(" vantrel-peer.local ") &&
                     lines.value(2).contains(" No name found "),
                 cli.out.constData());
    }

    // With hardware addresses recorded, a peer that took another address is a device that
    // moved, and an address now answered by another device is one whose device changed;
    // the window's comparison counts them too.
    void devicesInTheComparison()
    {
        if (qgetenv("VANTREL_TESTNET_ONLINK") != "1")
            QSKIP("needs the on-link segment of the private test network");
        const QString range = u"127.3.0.2-127.3.0.8"_s;
        const auto restore = qScopeGuard([] {
            run(u"ip netns exec p2 ip addr del 127.3.0.7/24 dev v2p"_s);
            run(u"ip netns exec p2 ip addr add 127.3.0.3/24 dev v2p"_s);
            run(u"ip netns exec p1 ip link set v1p address 00:11:32:00:00:01"_s);
            run(u"ip neigh flush all"_s);
        });
        QVERIFY(run(u"ip neigh flush all"_s));
        const ScanProgram first = ScanProgram::run(u"-n -c 1 -t 400 -i 5 "_s + range);
        QVERIFY2(first.exitCode == 0, first.err.constData());
        QVERIFY(run(u"ip netns exec p2 ip addr del 127.3.0.3/24 dev v2p"_s));
        QVERIFY(run(u"ip netns exec p2 ip addr add 127.3.0.7/24 dev v2p"_s));
        QVERIFY(run(u"ip netns exec p1 ip link set v1p address 00:11:32:00:00:09"_s));
        QVERIFY(run(u"ip neigh flush all"_s));
        const ScanProgram again =
            ScanProgram::run(u"--compare --format csv -n -c 1 -t 400 -i 5 "_s + range);
        QVERIFY2(again.exitCode == 0, again.err.constData());
        QCOMPARE(changeLines(again.out),
                 QStringList({u"moved,127.3.0.7,127.3.0.3,127.3.0.7"_s,
                              u"changed,127.3.0.2,00:11:32:00:00:01,00:11:32:00:00:09"_s}));

        MainForm form(std::make_unique<IcmpEcho>(), std::make_unique<AresLookup>());
        form.setNeighbours(std::make_unique<NeighbourTable>());
        const bool opened = form.openHistory({});
        QVERIFY2(opened, qPrintable(MessageBox::takeShown().value(0).text));
        QVERIFY(run(u"ip netns exec p2 ip addr del 127.3.0.7/24 dev v2p"_s));
        QVERIFY(run(u"ip netns exec p2 ip addr add 127.3.0.3/24 dev v2p"_s));
        QVERIFY(run(u"ip neigh flush all"_s));
        QVERIFY(windowScan(form, range,
                           {.Pings_per_Node = 1, .Ping_Timeout = 400, .Resolve_DNS = false}));
        control<QAction>(&form, "CompareSelection")->trigger();
        QVERIFY(form.compareForm());
        QCOMPARE(form.compareForm()->Counts->text(),
                 u"New: 0    Gone: 0    Renamed: 0    Moved: 1    Changed: 0"_s);
    }

    // Every address handed out before the signal answers, so the rows written are exactly
    // the first addresses of the range, none lost.
    void signalWritesRowsSoFar_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("SIGINT") << SIGINT << 130;
        QTest::newRow("SIGTERM") << SIGTERM << 143;
        QTest::newRow("SIGHUP, a closed session") << SIGHUP << 129;
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
        ::kill(pid_t(process.processId()), signalNumber);
        QVERIFY(process.waitForFinished(5000));
        QCOMPARE(std::pair(process.exitStatus(), process.exitCode()),
                 std::pair(QProcess::NormalExit, exitCode));
        const QList<QByteArray> lines = fileBytes(file).split('\n');
        const qsizetype rows = lines.size() - 4 - 1; // after four comment lines, before the end
        QVERIFY(rows > 10 && rows < 65536);
        QSet<QString> addresses;
        for (const QByteArray &line : lines.mid(4, rows))
            addresses << QString::fromLatin1(line.split(',').value(0));
        for (int i = 0; i < rows; ++i)
            QVERIFY(addresses.contains(IP_Functions::Number_To_Address(0x7F010000 + i)));
    }

    // A FIFO without a writer as the hosts file holds neither the scanner nor the window:
    // DNS alone names the hosts (127.0.0.20 only the test hosts file names), and each says so
    // once.
    void hostsFileNotRegular()
    {
        const QString source = m_dir.filePath(u"hosts-fifo"_s);
        QCOMPARE(::mkfifo(qPrintable(source), 0644), 0);
        QVERIFY(run(u"mount --bind "_s + source + u" /etc/hosts"_s));
        const auto unmount = qScopeGuard([] { run(u"umount /etc/hosts"_s); });
        const QString problem =
            u"The hosts file /etc/hosts is not a regular file; names come from DNS alone."_s;
        const QString range = u"127.0.0.19-127.0.0.20"_s;
        const ScanProgram cli =
            ScanProgram::run(u"-c 1 -t 400 --no-history --format text "_s + range);
        QVERIFY2(cli.exitCode == 0, cli.err.constData());
        QCOMPARE(QString::fromUtf8(cli.err), u"vantrel-scan: "_s + problem + u'\n');
        QVERIFY2(cli.out.contains("host-19.vantrel.test") && cli.out.contains("No name found"),
                 cli.out.constData());

        MainForm form(std::make_unique<IcmpEcho>(), std::make_unique<AresLookup>());
        QVERIFY(windowScan(form, range));
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, problem);
    }

    // Two scans with the lab changed in between: 127.0.0.18 gets its route back, 127.0.0.16
    // loses it and 127.0.0.20 is renamed in the hosts file. The window's first scan exports
    // the file the program wrote, bar times and date. Every format lists exactly those
    // changes; runs with --no-history leave the window's first scan the one compared with,
    // and the window's comparison window lists and exports the same.
    void historyChangesAndWindowExport()
    {
        const QByteArray hosts = fileBytes(u"/etc/hosts"_s);
        const auto restore = qScopeGuard([&] {
            run(u"ip route del unreachable 127.0.0.16/32 table local"_s);
            run(u"ip route del unreachable 127.0.0.18/32 table local"_s);
            writeFile(u"/etc/hosts"_s, hosts);
        });
        const QString range = u"127.0.0.16-127.0.0.20"_s;
        QVERIFY(run(u"ip route add unreachable 127.0.0.18/32 table local"_s));
        // Nothing to compare with is no "no change".
        const ScanProgram first = ScanProgram::run(u"--fail-on-change -t 400 -i 5 "_s + range);
        QVERIFY2(first.exitCode == 6, first.err.constData());
        QVERIFY(first.err.contains("No earlier completed scan of 127.0.0.16 to 127.0.0.20 "
                                   "(normal) to compare with."));
        QVERIFY(first.out.contains("hostsfile-twenty.vantrel.test"));

        MainForm form(std::make_unique<IcmpEcho>(), std::make_unique<AresLookup>());
        QVERIFY(form.openHistory({}));
        QVERIFY(windowScan(form, range));
        const QString exported = m_dir.filePath(u"window.csv"_s);
        SaveFileDialog::setNextFileName(exported);
        form.ExportSelection_Click();
        QCOMPARE(MessageBox::takeShown().value(0).text, u"Exported 4 records to window.csv"_s);
        const auto comparable = [](const QByteArray &csv) {
            QStringList lines = QString::fromUtf8(csv).split(u'\n');
            lines[2] = lines[2].startsWith(u"# ") ? u"# date"_s : lines[2];
            return lines.replaceInStrings(QRegularExpression(u",\\d+ ms,"_s), u",N ms,"_s);
        };
        QCOMPARE(comparable(first.out).size(), 4 + 4 + 1);
        QCOMPARE(comparable(first.out), comparable(fileBytes(exported)));

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
        for (const QString &format : {u"csv"_s, u"jsonl"_s, u"text"_s}) {
            const ScanProgram again = ScanProgram::run(
                u"--compare --fail-on-change --no-history -t 400 -i 5 --format %1 %2"_s.arg(format,
                                                                                            range));
            QVERIFY2(again.exitCode == 5, again.err.constData());
            QCOMPARE(changeLines(again.out), format == u"text" ? asText : asCsv);
        }

        QTest::qWait(HostsIndex::RereadMs); // the window reads a changed hosts file that late
        QVERIFY(windowScan(form, range));
        control<QAction>(&form, "CompareSelection")->trigger();
        QVERIFY(form.compareForm() && form.compareForm()->isVisible());
        QCOMPARE(form.compareForm()->Counts->text(), u"New: 1    Gone: 1    Renamed: 1"_s);
        SaveFileDialog::setNextFileName(m_dir.filePath(u"changes.csv"_s));
        form.compareForm()->Export_Button_Click();
        QCOMPARE(MessageBox::takeShown().value(0).text, u"Exported 3 changes to changes.csv"_s);
        QCOMPARE(changeLines(fileBytes(m_dir.filePath(u"changes.csv"_s))), asCsv);

        // A scan of several ranges is recorded and compared like one of a single range.
        const QString pieces = u"--fail-on-change -n -c 1 --rate 1000 127.0.0.1-2 127.1.0.5"_s;
        const ScanProgram firstOfPieces = ScanProgram::run(pieces);
        QVERIFY2(firstOfPieces.exitCode == 6, firstOfPieces.err.constData());
        const ScanProgram secondOfPieces = ScanProgram::run(pieces);
        QVERIFY2(secondOfPieces.exitCode == 0, secondOfPieces.err.constData());
        QVERIFY(secondOfPieces.err.isEmpty());
    }

    // A comparison needs only to read the history: from a read-only folder, or as a user who
    // may only read the file, it is made; a scan that cannot be recorded says so with its own
    // status, and no history at all is no "no change" either.
    void withoutWriteAccess_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("options");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("read-only folder")
            << u"read-only"_s << u""_s << 7 << u"Could not write the scan history"_s;
        QTest::newRow("read-only folder, not recording")
            << u"read-only"_s << u"--no-history"_s << 0 << QString();
        QTest::newRow("another user's file") << u"nobody"_s << u"--no-history"_s << 0 << QString();
        QTest::newRow("no history")
            << u"none"_s << u"--no-history"_s << 6 << u"There is no scan history"_s;
    }
    void withoutWriteAccess()
    {
        QFETCH(QString, setup);
        QFETCH(QString, options);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QTemporaryDir data; // readable by all, as a user's data folder is
        QVERIFY(QFile::setPermissions(data.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                       QFile::ExeOwner | QFile::ReadOther |
                                                       QFile::ExeOther));
        const QByteArray saved = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
        const auto restore = qScopeGuard([&] { qputenv("XDG_DATA_HOME", saved); });
        const QString scan = u"--fail-on-change -n -c 1 -t 300 127.0.0.30-127.0.0.33 "_s;
        if (setup != u"none")
            QCOMPARE(ScanProgram::run(u"-n -c 1 -t 300 127.0.0.30-127.0.0.33"_s).exitCode, 0);
        const QString folder = data.filePath(u"Vantrel"_s);
        QStringList runner;
        if (setup == u"read-only")
            QVERIFY(run(u"mount --bind %1 %1"_s.arg(folder)) &&
                    run(u"mount -o remount,ro,bind %1 %1"_s.arg(folder)));
        else if (setup == u"nobody")
            runner = u"setpriv --reuid=65534 --regid=65534 --clear-groups"_s.split(u' ');
        const auto unmount = qScopeGuard([&] {
            if (setup == u"read-only")
                run(u"umount "_s + folder);
        });
        const ScanProgram again = ScanProgram::run(scan + options, {}, runner);
        QVERIFY2(again.exitCode == exitCode, again.err.constData());
        // Quiet where the comparison went as it should.
        QVERIFY2(message.isEmpty() ? again.err.isEmpty()
                                   : QString::fromUtf8(again.err).contains(message),
                 again.err.constData());
    }

    // A lookup that fails is no rename, in either direction: with the DNS server stopped
    // the hosts keep the names they had, and so they have them when it is back. A scan
    // without lookups between two renames leaves the rename to be found.
    void namesThroughLookupFailures()
    {
        const QByteArray hosts = fileBytes(u"/etc/hosts"_s);
        const pid_t dnsmasq = qEnvironmentVariableIntValue("VANTREL_TESTNET_DNSMASQ_PID");
        QVERIFY(dnsmasq > 0);
        const auto restore = qScopeGuard([&] {
            ::kill(dnsmasq, SIGCONT);
            writeFile(u"/etc/hosts"_s, hosts);
        });
        const QString scan = u"--compare --fail-on-change --format text -c 1 -t 400 "_s;
        const QString range = u"127.0.0.19-127.0.0.20"_s;
        QCOMPARE(ScanProgram::run(u"-c 1 -t 400 "_s + range).exitCode, 0);
        QCOMPARE(::kill(dnsmasq, SIGSTOP), 0);
        ScanProgram run = ScanProgram::run(scan + range);
        // The hosts file still names its host.
        QVERIFY2(run.exitCode == 0 && run.out.contains("No answer from DNS server") &&
                     run.out.contains("hostsfile-twenty.vantrel.test"),
                 run.out.constData());
        QCOMPARE(::kill(dnsmasq, SIGCONT), 0);
        run = ScanProgram::run(scan + range);
        QVERIFY2(run.exitCode == 0 && run.out.contains("host-19.vantrel.test"),
                 run.out.constData());

        QCOMPARE(ScanProgram::run(u"-n -c 1 -t 400 "_s + range).exitCode, 0);
        QVERIFY(writeFile(u"/etc/hosts"_s,
                          QByteArray(hosts).replace("hostsfile-twenty", "renamed-twenty")));
        run = ScanProgram::run(scan + range);
        QVERIFY2(run.exitCode == 5, run.out.constData());
        QCOMPARE(changeLines(run.out),
                 QStringList{u"renamed 127.0.0.20 hostsfile-twenty.vantrel.test -> "
                             "renamed-twenty.vantrel.test"_s});
    }
};

QTEST_MAIN(TestNetScanCli)
#include "tst_net_scan_cli.moc"
