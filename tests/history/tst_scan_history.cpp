// The history store on real SQLite files in a temporary folder.
#include "history/RowChunk.h"
#include "history/ScanComparison.h"
#include "history/ScanHistory.h"
#include "history/ScanRecorder.h"
#include "scan/components/ResultGrid.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

ScanRecord scanOf(const QString &first, const QString &last, bool inverted,
                  QList<HistoryRow> rows = {})
{
    const QDateTime at(QDate(2026, 5, 4), QTime(3, 2, 1, 250));
    const ScanSettings settings{3, 700, 9, 17, true, inverted};
    return {0, first, last, inverted, settings, at, at.addSecs(42), false, std::move(rows)};
}

// Runs statements on a file outside the store, the way another program would.
QVariant rawQuery(const QString &path, const QString &sql)
{
    QVariant value;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"raw"_s);
        db.setDatabaseName(path);
        db.open();
        QSqlQuery q(db);
        for (const QString &statement : sql.split(u';', Qt::SkipEmptyParts))
            q.exec(statement); // a setup that went wrong shows in what the test reads back
        if (q.isSelect() && q.next())
            value = q.value(0);
    }
    QSqlDatabase::removeDatabase(u"raw"_s);
    return value;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Lists 10.1.0.0 onwards in the first column, one address a row.
void fillTable(ResultGrid &table, int rows)
{
    table.setRows(rows + 1);
    for (int i = 0; i < rows; ++i) {
        table.setRow(i + 1);
        table.setCol(0);
        table.setText(u"10.1.%1.%2"_s.arg(i >> 8).arg(i & 255));
    }
}

// The child of killedWhileRecording: records scans of 65536 rows as the window does until
// it is killed, saying "begin" before each. Each scan's start writes what the recorder still
// holds of the one before.
int recordUntilKilled(const QString &path)
{
    ResultGrid table;
    fillTable(table, 65536);
    ScanRecorder recorder(table);
    if (!recorder.open(path))
        return 1;
    for (;;) {
        std::fputs("begin\n", stdout);
        std::fflush(stdout);
        recorder.scanStarting("10.1.0.0", "10.1.255.255", {.Resolve_DNS = false});
        recorder.scanEnded(true);
    }
}

// The child of concurrentRecorders: once told to go, records one scan of 20,000 rows as the
// window does, a batch while it runs and the end, and says whether it is in the file whole.
int recordOnce(const QString &path)
{
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly) || input.readLine() != "go\n")
        return 3;
    ResultGrid table;
    ScanRecorder recorder(table);
    if (!recorder.open(path))
        return 1;
    recorder.scanStarting("10.1.0.0", "10.1.255.255", {.Resolve_DNS = false});
    fillTable(table, 20000);
    QEventLoop running;
    QTimer::singleShot(1100, &running, &QEventLoop::quit);
    running.exec();
    recorder.scanEnded(true);
    return recorder.finishRecording() ? 0 : 2;
}

} // namespace

class TestScanHistory : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path;

private Q_SLOTS:
    void init()
    {
        path = m_dir.filePath(
            u"%1-%2/history.sqlite"_s.arg(QTest::currentTestFunction(), QTest::currentDataTag()));
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    }

    // A history of the first layout is brought up to date; scans read back as written, with
    // rows and names that came after they were recorded; the earlier scan is the latest of
    // the same range and mode. (Which scans are kept is keptPerRange's; that pruned rows go
    // with their scans, sizeBoundedByTheKeptScans'.)
    void migratesRecordsAndReadsBack()
    {
        // Layout 1 as it was shipped, less its NOT NULL constraints.
        rawQuery(path,
                 u"PRAGMA application_id=%1;"
                 "CREATE TABLE scans(id INTEGER PRIMARY KEY AUTOINCREMENT, first_address TEXT, "
                 "last_address TEXT, inverted INTEGER, pings_per_node INTEGER, ping_timeout "
                 "INTEGER, ping_ttl INTEGER, inter_ping_delay INTEGER, resolve_dns INTEGER, "
                 "started TEXT, ended TEXT);"
                 "CREATE TABLE scan_rows(scan_id INTEGER, seq INTEGER, address TEXT, "
                 "response TEXT, name TEXT, PRIMARY KEY(scan_id, seq)) WITHOUT ROWID;"
                 "INSERT INTO scans VALUES(1, '10.0.0.1', '10.0.0.9', 0, 2, 2000, 32, 250, "
                 "1, '2026-01-02T03:04:05.000Z', '2026-01-02T03:05:05.000Z');"
                 "INSERT INTO scan_rows VALUES(1, 0, '10.0.0.4', '5 ms', 'four');"
                 "PRAGMA user_version=1"_s.arg(ScanHistory::ApplicationId));
        const QList<HistoryRow> rows = {{"10.0.0.1", "3 ms", "", false},
                                        {"10.0.0.7", "1 ms", "", true}};
        ScanRecord scan = scanOf("10.0.0.1", "10.0.0.9", false, rows);
        scan.completed = true;
        qint64 normal = 0, inverted = 0;
        {
            ScanHistory history;
            QCOMPARE(history.open(path).message, QString()); // ok, nothing to report
            normal = history.record(scan);
            QVERIFY2(normal > 1, qPrintable(history.lastError()));
            inverted = history.record(scanOf("10.0.0.1", "10.0.0.9", true));
            history.record(scanOf("10.0.0.1", "10.0.0.8", false));
            QVERIFY(history.addLate(normal, {{0, u"one"_s}}, {{"10.0.0.5", "9 ms", "", false}}));
            QVERIFY(history.addLate(normal, {{2, u"five"_s}}, {}));
        }
        QCOMPARE(rawQuery(path, u"PRAGMA user_version"_s).toInt(), ScanHistory::SchemaVersion);
        ScanHistory again;
        QVERIFY(again.open(path).ok);
        const std::optional<ScanRecord> back = again.previous("10.0.0.1", "10.0.0.9", false);
        QCOMPARE(back.value_or(ScanRecord()).id, normal);
        QCOMPARE(back->rows, QList<HistoryRow>({{"10.0.0.1", "3 ms", "one", true},
                                                {"10.0.0.7", "1 ms", "", true},
                                                {"10.0.0.5", "9 ms", "five", true}}));
        QCOMPARE(std::pair(back->started, back->ended), std::pair(scan.started, scan.ended));
        const ScanSettings &kept = back->settings;
        QCOMPARE(QList<int>({kept.Pings_per_Node, kept.Ping_Timeout, kept.Ping_TTL,
                             kept.Inter_Ping_Delay, kept.Resolve_DNS, back->completed}),
                 QList<int>({3, 700, 9, 17, 1, 1}));
        const std::optional<ScanRecord> migrated =
            again.previous("10.0.0.1", "10.0.0.9", false, normal);
        QVERIFY(migrated && migrated->completed);
        QCOMPARE(migrated->rows, QList<HistoryRow>({{"10.0.0.4", "5 ms", "four", true}}));
        QCOMPARE(again.load(inverted)->inverted, true);
        QVERIFY(!again.previous("10.0.0.2", "10.0.0.9", false));
    }

    // A file that is not a history is moved aside and a new one started; one of a newer
    // layout, or no folder for it, turns the history off and leaves all as it was.
    void unusableFile_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char *kind : {"not a database", "damaged history", "another program's",
                                 "newer layout", "no folder"})
            QTest::newRow(kind) << QString::fromLatin1(kind);
    }
    void unusableFile()
    {
        QFETCH(QString, kind);
        const QString folder = QFileInfo(path).path();
        QFile file(path);
        if (kind == u"no folder") {
            // A file where the folder should be: what no permission setting gets round.
            QVERIFY(QDir(folder).removeRecursively() && QFile(folder).open(QIODevice::WriteOnly));
        } else if (kind == u"not a database") {
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(5000, 'x')));
        } else if (kind == u"another program's") {
            rawQuery(path, u"CREATE TABLE songs(title TEXT)"_s);
        } else if (kind == u"newer layout") {
            rawQuery(path, u"PRAGMA application_id=%1; CREATE TABLE later(x); "
                           "PRAGMA user_version=9"_s.arg(ScanHistory::ApplicationId));
        } else if (kind == u"damaged history") {
            QVERIFY(ScanHistory().open(path).ok);
            // The schema page, after the file header, is overwritten with rubbish.
            QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(100) &&
                    file.write(QByteArray(400, '\xA5')));
        }
        file.close();
        const QByteArray bytes = fileBytes(path);

        ScanHistory history;
        const ScanHistory::Opened opened = history.open(path);
        const QStringList moved =
            QDir(folder).entryList({u"history.sqlite.*.damaged"_s}, QDir::Files);
        if (kind == u"newer layout" || kind == u"no folder") {
            QVERIFY2(!opened.ok && opened.message.startsWith(u"Could not keep the scan history"_s),
                     qPrintable(opened.message));
            QCOMPARE(fileBytes(path), bytes);
            QVERIFY(moved.isEmpty());
            return;
        }
        QCOMPARE(moved.size(), 1);
        QVERIFY2(opened.ok && opened.message.contains(moved[0]), qPrintable(opened.message));
        QCOMPARE(fileBytes(folder + u'/' + moved[0]), bytes);
        QVERIFY(history.record(scanOf("10.0.0.1", "10.0.0.9", false)) > 0);
        QCOMPARE(history.scanCount(), 1);
    }

    // The comparison's own rules, which the end-to-end runs do not reach. Rows are written
    // "address=name", "?" for a name not known; changes "kind address then>now".
    void compare_data()
    {
        QTest::addColumn<QString>("then");
        QTest::addColumn<QString>("now");
        QTest::addColumn<QString>("expected");
        QTest::newRow("name lost is a rename")
            << u"10.0.0.1=a"_s << u"10.0.0.1="_s << u"renamed 10.0.0.1 a>"_s;
        QTest::newRow("unknown name is no rename")
            << u"10.0.0.1=a 10.0.0.2=?"_s << u"10.0.0.1=? 10.0.0.2=b"_s << QString();
        QTest::newRow("duplicates count once, first row wins")
            << u"10.0.0.1=a 10.0.0.1=z"_s << u"10.0.0.1=a 10.0.0.1=y 10.0.0.2=b 10.0.0.2=b"_s
            << u"new 10.0.0.2 >b"_s;
        QTest::newRow("kinds grouped, by address value")
            << u"10.0.0.9=g"_s << u"200.0.0.1= 10.0.0.10= 9.255.255.255="_s
            << u"new 9.255.255.255 >|new 10.0.0.10 >|new 200.0.0.1 >|gone 10.0.0.9 g>"_s;
        // Hardware addresses after "@".
        QTest::newRow("device moved, once")
            << u"10.0.0.1=a@00:11:32:00:00:01 10.0.0.2=b@00:11:32:00:00:02"_s
            << u"10.0.0.7=a@00:11:32:00:00:01 10.0.0.8=a@00:11:32:00:00:01 10.0.0.2=b"_s
            << u"new 10.0.0.8 >a|moved 10.0.0.7 10.0.0.1>10.0.0.7"_s;
        QTest::newRow("device changed, and renamed")
            << u"10.0.0.1=a@00:11:32:00:00:01"_s << u"10.0.0.1=b@02:00:00:00:00:09"_s
            << u"renamed 10.0.0.1 a>b|changed 10.0.0.1 00:11:32:00:00:01>02:00:00:00:00:09"_s;
        QTest::newRow("hardware unknown then: new and gone")
            << u"10.0.0.1=a"_s << u"10.0.0.5=a@00:11:32:00:00:01"_s
            << u"new 10.0.0.5 >a|gone 10.0.0.1 a>"_s;
    }
    void compare()
    {
        const auto rowsOf = [](const QString &text) {
            QList<HistoryRow> rows;
            for (const QString &item : text.split(u' ', Qt::SkipEmptyParts)) {
                const QString name = item.section(u'=', 1).section(u'@', 0, 0);
                rows.append({item.section(u'=', 0, 0),
                             u"1 ms"_s,
                             name == u"?" ? QString() : name,
                             name != u"?",
                             item.section(u'@', 1),
                             {}});
            }
            return rows;
        };
        QFETCH(QString, then);
        QFETCH(QString, now);
        QStringList changes;
        for (const auto &c : ScanComparison::compare(rowsOf(then), rowsOf(now)))
            changes << ScanComparison::kindName(c.kind) + u' ' + c.address + u' ' + c.then + u'>' +
                           c.now;
        QTEST(changes.join(u'|'), "expected");
    }

    // Rows in the compact form read back as they were, texts and all; a cut, a wrong count
    // or stray bytes are refused, and no damage makes the reader go astray. Chunks written
    // before hardware addresses were kept still read.
    void rowChunks()
    {
        const QList<HistoryRow> rows = {
            {"10.0.0.9", "3 ms", "a.example", true, "00:11:32:aa:bb:01", "Synology Incorporated"},
            {"10.0.0.1", "0 ms", "", true, "ff:ff:ff:ff:ff:ff", "Private address"},
            {"255.255.255.255", "32767 ms", "", false, "00:00:00:00:00:00", ""},
            {"not an address", "Request timed out", "", false, "00:11:32:AA:BB:01", ""},
            {"0.0.0.0", "Request timed out", "a.example", true, "not hardware", "x"},
            {"10.0.0.2", "032 ms", u"\u00fc.example"_s, true, "", ""},
            {"10.0.0.010", "32768 ms", "No answer from DNS server", true, "", ""},
        };
        // One row of the first format: the same bytes without its two trailing numbers.
        const QList<HistoryRow> older = {{"10.0.0.1", "5 ms", "", false, "", ""}};
        const QByteArray newer = RowChunk::encode(older);
        QCOMPARE(newer.right(2), QByteArray(2, '\0'));
        QCOMPARE(RowChunk::decode('\x01' + newer.mid(1, newer.size() - 3), 1), older);
        const QByteArray bytes = RowChunk::encode(rows);
        QCOMPARE(RowChunk::decode(bytes, rows.size()).value_or(QList<HistoryRow>()), rows);
        QVERIFY(!RowChunk::decode(bytes, rows.size() - 1));
        QVERIFY(!RowChunk::decode(bytes + '\0', rows.size()));
        for (qsizetype cut = 0; cut < bytes.size(); ++cut)
            QVERIFY(!RowChunk::decode(bytes.first(cut), rows.size()));
        for (qsizetype at = 0; at < bytes.size(); ++at) {
            for (const char flip : {'\x01', '\x80', '\xff'}) {
                QByteArray damaged = bytes;
                damaged[at] = char(damaged[at] ^ flip);
                RowChunk::decode(damaged, rows.size()); // anything but a crash
            }
        }
    }

    // A scan is recorded while it runs, a second's rows at a time, and is nobody's earlier
    // scan until it ends; a row waits for its hardware address, names that come after their
    // row was written follow it, rows the user deletes stay, and the end writes only what
    // came since the last write.
    void recordedWhileRunning()
    {
        ResultGrid table;
        table.setCols(5);
        ScanRecorder recorder(table);
        // A row still waiting for its hardware address waits, with the rows after it.
        bool hardwareIn = false;
        recorder.setRowReady([&](qsizetype row) { return row != 39990 || hardwareIn; });
        QVERIFY(recorder.open(path));
        recorder.scanStarting("10.1.0.0", "10.1.255.255", ScanSettings{});
        fillTable(table, 40000);
        table.setRow(2);
        table.setCol(2);
        table.setText(u" resolving ..."_s);
        ScanHistory reader;
        QVERIFY(reader.open(path).ok);
        QTRY_COMPARE(reader.load(recorder.recordedId()).value_or(ScanRecord()).rows.size(), 39989);
        table.setRow(39990);
        table.setCol(3);
        table.setText(u"00:11:32:aa:bb:01"_s);
        hardwareIn = true;
        QTRY_COMPARE(reader.load(recorder.recordedId()).value_or(ScanRecord()).rows.size(), 40000);
        QCOMPARE(reader.load(recorder.recordedId())->rows[39989].hardware, u"00:11:32:aa:bb:01"_s);
        table.setRow(2);
        table.setCol(2);
        QVERIFY(!reader.previous("10.1.0.0", "10.1.255.255", false));
        table.setText(u"late.example"_s); // row 2's name comes in
        table.RemoveItem(1);
        table.setRows(table.Rows() + 1); // one more row
        table.setRow(table.Rows() - 1);
        table.setCol(0);
        table.setText(u"10.1.156.64"_s);
        recorder.scanEnded(true);
        const std::optional<ScanRecord> back = reader.previous("10.1.0.0", "10.1.255.255", false);
        QVERIFY(back && back->completed);
        QCOMPARE(back->rows.size(), 40001);
        QCOMPARE(back->rows[0].address, u"10.1.0.0"_s);
        QCOMPARE(back->rows[1].name, u"late.example"_s);
        QCOMPARE(back->rows.last().address, u"10.1.156.64"_s);
    }

    // Pruned scans make room for new ones: past the kept number the file stops growing, and a
    // sweep's rows take a few bytes each. Once small scans have pushed the large ones out, the
    // file shrinks, also one made before pages were handed back.
    void sizeBoundedByTheKeptScans_data()
    {
        QTest::addColumn<bool>("older");
        QTest::newRow("new file") << false;
        QTest::newRow("file that kept its free pages") << true;
    }
    void sizeBoundedByTheKeptScans()
    {
        QFETCH(bool, older);
        if (older) // a table made and dropped fixes the file's way of keeping free pages
            rawQuery(path, u"PRAGMA auto_vacuum=NONE; CREATE TABLE t(x); DROP TABLE t"_s);
        ScanRecord scan = scanOf("10.1.0.0", "10.1.255.255", false);
        for (int i = 0; i < 20000; ++i)
            scan.rows.append({u"10.1.%1.%2"_s.arg(i >> 8).arg(i & 255), u"1 ms"_s, {}, false});
        ScanHistory history(3);
        QVERIFY(history.open(path).ok);
        QCOMPARE(rawQuery(path, u"PRAGMA auto_vacuum"_s).toInt(), older ? 0 : 1);
        const auto pages = [&] {
            return rawQuery(path, u"PRAGMA page_count"_s).toLongLong() *
                   rawQuery(path, u"PRAGMA page_size"_s).toLongLong();
        };
        qint64 atCap = 0;
        for (int i = 1; i <= 12; ++i) {
            QVERIFY(history.record(scan) > 0);
            if (i == 5) // once the first pruning has freed pages to reuse
                atCap = pages();
        }
        QCOMPARE(history.scanCount(), 3);
        QVERIFY2(pages() <= atCap, qPrintable(u"%1 > %2"_s.arg(pages()).arg(atCap)));
        QVERIFY2(atCap < 4 * 20000 * 8, qPrintable(QString::number(atCap)));
        scan.rows.resize(10);
        for (int i = 0; i < 3; ++i)
            history.record(scan);
        QVERIFY2(pages() < atCap / 2, qPrintable(u"%1 of %2"_s.arg(pages()).arg(atCap)));
    }

    // A stopped scan is nobody's earlier scan: the completed one before it is, and the
    // comparison says one was passed over. The stopped scan itself compares only the part it
    // looked at.
    void stoppedScanPassedOver()
    {
        ResultGrid table;
        ScanRecorder recorder(table);
        QVERIFY(recorder.open(path));
        QList<ScanRecord> scans;
        for (const int listed : {256, 100, 256}) { // completed, stopped, completed
            recorder.scanStarting("10.1.0.0", "10.1.255.255", {.Resolve_DNS = false});
            table.setRows(1);
            fillTable(table, listed);
            recorder.scanEnded(listed == 256);
            scans << recorder.currentScan();
        }
        const std::optional<ScanComparison::Report> report = recorder.compare();
        QVERIFY(report && report->then.id == scans[0].id);
        QCOMPARE(report->changes.size(), 0);
        QCOMPARE(ScanComparison::notes(*report),
                 QStringList{u"1 stopped scan after the previous one was not compared with."_s});
        const ScanComparison::Report stopped =
            ScanComparison::report(scans[0], scans[1], 0, {100, 65536, 0x0A010063});
        QCOMPARE(stopped.changes.size(), 0);
        QCOMPARE(
            ScanComparison::notes(stopped),
            QStringList{
                u"This scan was stopped: 100 of 65536 addresses compared, up to 10.1.0.99."_s});
    }

    // Beyond the kept number, scans go from the range and mode with the most scans, oldest
    // first: a frequent job leaves every other range its earlier scan.
    void keptPerRange()
    {
        ScanHistory history(5);
        QVERIFY(history.open(path).ok);
        ScanRecord scan = scanOf("10.0.0.1", "10.0.0.9", false);
        scan.completed = true;
        const qint64 normal = history.record(scan);
        scan.completed = false;
        history.record(scan); // a stopped scan after it
        scan.inverted = scan.settings.Reverse_Scan = true;
        scan.completed = true;
        const qint64 inverted = history.record(scan);
        scan = scanOf("10.0.1.0", "10.0.1.255", false);
        scan.completed = true;
        QList<qint64> frequent;
        for (int i = 0; i < 10; ++i)
            frequent << history.record(scan);
        QCOMPARE(history.scanCount(), 5);
        QCOMPARE(history.previous("10.0.0.1", "10.0.0.9", false, 0, false)->id, normal);
        QCOMPARE(history.previous("10.0.0.1", "10.0.0.9", true, 0, false)->id, inverted);
        QVERIFY(history.load(frequent[8]) && !history.load(frequent[7]));
    }

    // Several programs recording at once on a new file each get their scan in whole.
    void concurrentRecorders()
    {
        std::vector<std::unique_ptr<QProcess>> children;
        for (int i = 0; i < 6; ++i) {
            children.push_back(std::make_unique<QProcess>());
            children.back()->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            children.back()->start(QCoreApplication::applicationFilePath(),
                                   {u"--record-once"_s, path});
        }
        for (const auto &child : children)
            QVERIFY(child->waitForStarted());
        for (const auto &child : children)
            child->write("go\n");
        for (const auto &child : children) {
            QVERIFY(child->waitForFinished(60000));
            QCOMPARE(child->exitCode(), 0);
        }
        ScanHistory history;
        QVERIFY(history.open(path).ok);
        QCOMPARE(history.scanCount(), 6);
        for (qint64 id = 1; id <= 6; ++id)
            QCOMPARE(history.load(id).value_or(ScanRecord()).rows.size(), 20000);
    }

    // Another program holds the file: the writes wait and are tried again, a scan that starts
    // meanwhile keeps the last one's rest aside, and the history stays on. Held past the
    // patience, the scans are given up and that is said.
    void heldFile_data()
    {
        QTest::addColumn<int>("heldMs");
        QTest::addColumn<bool>("recorded");
        QTest::newRow("let go in time") << 1500 << true;
        QTest::newRow("held past the patience") << 4000 << false;
    }
    void heldFile()
    {
        QFETCH(int, heldMs);
        QFETCH(bool, recorded);
        ResultGrid table;
        ScanRecorder recorder(table);
        QSignalSpy problems(&recorder, &ScanRecorder::problem);
        QVERIFY(recorder.open(path));
        recorder.setPatience(50, 2000);
        {
            QSqlDatabase holder = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"holder"_s);
            holder.setDatabaseName(path);
            QVERIFY(holder.open() && QSqlQuery(holder).exec(u"BEGIN IMMEDIATE"_s));
            QTimer letGo;
            letGo.setSingleShot(true);
            connect(&letGo, &QTimer::timeout, [&] { QSqlQuery(holder).exec(u"COMMIT"_s); });
            letGo.start(heldMs);
            for (const int rows : {300, 200}) {
                recorder.scanStarting("10.1.0.0", "10.1.255.255", {.Resolve_DNS = false});
                table.setRows(1);
                fillTable(table, rows);
                recorder.scanEnded(true);
            }
            QCOMPARE(recorder.finishRecording(), recorded);
            QVERIFY(recorder.isRecording());
            holder.close();
        }
        QSqlDatabase::removeDatabase(u"holder"_s);
        QCOMPARE(problems.size(), recorded ? 0 : 1);
        if (!recorded) {
            QVERIFY2(problems[0][0].toString().contains(u"not recorded: the scan of 10.1.0.0"_s),
                     qPrintable(problems[0][0].toString()));
            return;
        }
        ScanHistory reader;
        QVERIFY(reader.open(path).ok);
        QCOMPARE(reader.scanCount(), 2);
        QCOMPARE(reader.previous("10.1.0.0", "10.1.255.255", false)->rows.size(), 200);
    }

    // Killed while recording, the history keeps every scan that ended whole.
    void killedWhileRecording()
    {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {u"--record-until-killed"_s, path});
        // Two scans are whole by the fourth start; killed while writing a later one.
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += child.readAllStandardOutput()).count("begin") >= 4,
                                 30000);
        QTest::qWait(60);
        child.kill();
        QVERIFY(child.waitForFinished());

        ScanHistory history;
        QCOMPARE(history.open(path).message, QString()); // ok, nothing moved aside
        const qint64 ended =
            rawQuery(path, u"SELECT count(*) FROM scans WHERE completed >= 0"_s).toLongLong();
        QVERIFY(ended >= 2);
        for (qint64 id = 1; id <= ended; ++id) {
            QCOMPARE(history.load(id)->rows.size(), 65536);
            QCOMPARE(history.load(id)->rows.last().address, u"10.1.255.255"_s);
        }
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (app.arguments().value(1) == u"--record-until-killed")
        return recordUntilKilled(app.arguments().value(2));
    if (app.arguments().value(1) == u"--record-once")
        return recordOnce(app.arguments().value(2));
    TestScanHistory test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_scan_history.moc"
