// The history store on real SQLite files in a temporary folder.
#include "history/ScanHistory.h"
#include "history/ScanRecorder.h"
#include "scan/components/ResultGrid.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
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
    ScanRecord scan;
    scan.firstAddress = first;
    scan.lastAddress = last;
    scan.inverted = inverted;
    scan.settings = {3, 700, 9, 17, true, inverted};
    scan.started = QDateTime(QDate(2026, 5, 4), QTime(3, 2, 1, 250));
    scan.ended = scan.started.addSecs(42);
    scan.rows = std::move(rows);
    return scan;
}

// Runs one statement on a file outside the store, the way another program would.
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

// The child of killedWhileRecording: records large scans until it is killed, saying "begin"
// before each.
int recordUntilKilled(const QString &path)
{
    ScanHistory history;
    if (!history.open(path).ok)
        return 1;
    QList<HistoryRow> rows;
    for (int i = 0; i < 65536; ++i)
        rows.append({u"10.1.%1.%2"_s.arg(i >> 8).arg(i & 255), "1 ms", "x", true});
    for (;;) {
        std::fputs("begin\n", stdout);
        std::fflush(stdout);
        if (history.record(scanOf("10.1.0.0", "10.1.255.255", false, rows)) == 0)
            return 1;
    }
}

} // namespace

class TestScanHistory : public QObject
{
    Q_OBJECT

    QTemporaryDir *dir = nullptr;
    QString path;

private Q_SLOTS:
    void init()
    {
        dir = new QTemporaryDir;
        path = dir->filePath(u"data/history.sqlite"_s);
    }
    void cleanup() { delete dir; }

    // A scan reads back as written, with rows and names that came after it was recorded;
    // the earlier scan is the latest of the same range and mode.
    void recordsAndReadsBack()
    {
        const QList<HistoryRow> rows = {{"10.0.0.1", "3 ms", "", false},
                                        {"10.0.0.7", "1 ms", "", true}};
        ScanRecord scan = scanOf("10.0.0.1", "10.0.0.9", false, rows);
        qint64 normal = 0;
        qint64 inverted = 0;
        {
            ScanHistory history;
            QCOMPARE(history.open(path).message, QString()); // ok, nothing to report
            normal = history.record(scan);
            QVERIFY2(normal > 0, qPrintable(history.lastError()));
            inverted = history.record(scanOf("10.0.0.1", "10.0.0.9", true));
            history.record(scanOf("10.0.0.1", "10.0.0.8", false));
            QVERIFY(history.addLate(normal, {{0, u"one"_s}}, {{"10.0.0.5", "9 ms", "", false}}));
            QVERIFY(history.addLate(normal, {{2, u"five"_s}}, {}));
        }
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
                 QList<int>({3, 700, 9, 17, 1, 0}));
        QCOMPARE(again.previous("10.0.0.1", "10.0.0.9", true)->id, inverted);
        QVERIFY(!again.previous("10.0.0.1", "10.0.0.9", false, normal));
        QVERIFY(!again.previous("10.0.0.2", "10.0.0.9", false));
        QCOMPARE(rawQuery(path, u"PRAGMA journal_mode"_s).toString(), u"wal"_s);
    }

    void keepsOnlyTheMostRecent()
    {
        ScanHistory history(3);
        QVERIFY(history.open(path).ok);
        QList<qint64> ids;
        for (int i = 0; i < 5; ++i)
            ids << history.record(scanOf("10.0.0.1", "10.0.0.9", false,
                                         {{"10.0.0." + QString::number(i), "1 ms", "", true}}));
        QCOMPARE(history.scanCount(), 3);
        QVERIFY(!history.load(ids[1]));
        QVERIFY(history.load(ids[2]));
        QCOMPARE(rawQuery(path, u"SELECT count(*) FROM scan_rows"_s).toInt(), 3);
    }

    void migratesTheFirstLayout()
    {
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
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
        {
            ScanHistory history;
            const ScanHistory::Opened opened = history.open(path);
            QVERIFY2(opened.ok && opened.message.isEmpty(), qPrintable(opened.message));
            const std::optional<ScanRecord> kept = history.previous("10.0.0.1", "10.0.0.9", false);
            QVERIFY(kept && kept->completed);
            QCOMPARE(kept->rows, QList<HistoryRow>({{"10.0.0.4", "5 ms", "four", true}}));
            QVERIFY(history.record(scanOf("10.0.0.1", "10.0.0.9", false)) > 1);
        }
        QCOMPARE(rawQuery(path, u"PRAGMA user_version"_s).toInt(), ScanHistory::SchemaVersion);
    }

    // A file that is not a history is moved aside and a new one started; one that cannot be
    // used (no folder, a newer layout) turns the history off and stays as it was.
    void unusableFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("movedAside");
        QTest::newRow("not a database") << "text" << true;
        QTest::newRow("damaged history") << "damaged" << true;
        QTest::newRow("another program's database") << "foreign" << true;
        QTest::newRow("folder cannot be made") << "blocked folder" << false;
        QTest::newRow("newer layout") << "newer" << false;
    }
    void unusableFile()
    {
        QFETCH(QString, kind);
        QFETCH(bool, movedAside);
        const QString folder = QFileInfo(path).absolutePath();
        // A file where the folder should be: what no permission setting can get round.
        QVERIFY(kind == u"blocked folder" ? QFile(folder).open(QIODevice::WriteOnly)
                                          : QDir().mkpath(folder));
        QFile file(path);
        if (kind == u"text") {
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(5000, 'x')));
        } else if (kind == u"foreign") {
            rawQuery(path, u"CREATE TABLE songs(title TEXT)"_s);
        } else if (kind == u"newer") {
            rawQuery(path, QStringLiteral("PRAGMA application_id=%1; CREATE TABLE later(x); "
                                          "PRAGMA user_version=9")
                               .arg(ScanHistory::ApplicationId));
        } else if (kind == u"damaged") {
            {
                ScanHistory history;
                QVERIFY(history.open(path).ok &&
                        history.record(scanOf("10.0.0.1", "10.0.0.9", false)) > 0);
            }
            // The schema page, after the file header, is overwritten with rubbish.
            QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(100) &&
                    file.write(QByteArray(400, '\xA5')));
        }
        file.close();
        const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : "";
        file.close();

        ScanHistory history;
        const ScanHistory::Opened opened = history.open(path);
        QCOMPARE(opened.ok, movedAside);
        if (!movedAside) {
            QVERIFY2(opened.message.startsWith(u"Could not keep the scan history"_s),
                     qPrintable(opened.message));
            QCOMPARE(history.record(scanOf("10.0.0.1", "10.0.0.9", false)), 0);
            if (kind == u"newer")
                QCOMPARE(rawQuery(path, u"PRAGMA user_version"_s).toInt(), 9);
            return;
        }
        const QStringList moved =
            QDir(folder).entryList({u"history.sqlite.*.damaged"_s}, QDir::Files);
        QCOMPARE(moved.size(), 1);
        QVERIFY2(opened.message.contains(moved[0]), qPrintable(opened.message));
        QFile aside(folder + u'/' + moved[0]);
        QVERIFY(aside.open(QIODevice::ReadOnly));
        QCOMPARE(aside.readAll(), bytes);
        QVERIFY(history.record(scanOf("10.0.0.1", "10.0.0.9", false)) > 0);
        QCOMPARE(history.scanCount(), 1);
    }

    void largeScanIsWrittenInPieces_data()
    {
        QTest::addColumn<bool>("nextScanStartsAtOnce");
        QTest::newRow("pieces between events") << false;
        QTest::newRow("next scan start writes the rest") << true;
    }
    void largeScanIsWrittenInPieces()
    {
        QFETCH(bool, nextScanStartsAtOnce);
        ResultGrid table;
        constexpr int Rows = 40000;
        table.setRows(Rows + 1);
        for (int i = 0; i < Rows; ++i) {
            table.setRow(i + 1);
            table.setCol(0);
            table.setText(u"10.1.%1.%2"_s.arg(i >> 8).arg(i & 255));
        }
        ScanRecorder recorder(table);
        connect(&recorder, &ScanRecorder::problem, this,
                [](const QString &message) { QFAIL(qPrintable(message)); });
        QVERIFY(recorder.open(path));
        ScanSettings settings;
        settings.Resolve_DNS = false;
        recorder.scanStarting("10.1.0.0", "10.1.255.255", settings);
        recorder.scanEnded(true);
        QVERIFY(recorder.isWriting());
        if (nextScanStartsAtOnce)
            recorder.scanStarting("10.1.0.0", "10.1.255.255", settings);
        else
            QTRY_VERIFY(!recorder.isWriting());
        ScanHistory reader;
        QVERIFY(reader.open(path).ok);
        const std::optional<ScanRecord> kept = reader.previous("10.1.0.0", "10.1.255.255", false);
        QCOMPARE(kept.value_or(ScanRecord()).rows.size(), Rows);
        QCOMPARE(kept->rows.last().address, u"10.1.156.63"_s);
        if (nextScanStartsAtOnce)
            QCOMPARE(recorder.previousScan()->rows.size(), Rows);
    }

    void killedWhileRecording()
    {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"VANTREL_RECORD_UNTIL_KILLED"_s, path);
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), {});
        // Killed in the middle of its third scan's transaction.
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += child.readAllStandardOutput()).count("begin") >= 3,
                                 30000);
        QTest::qWait(60);
        child.kill();
        QVERIFY(child.waitForFinished());

        ScanHistory history;
        const ScanHistory::Opened opened = history.open(path);
        QVERIFY(opened.ok && opened.message.isEmpty());
        QVERIFY(history.scanCount() >= 2);
        for (qint64 id = 1; id <= history.scanCount(); ++id)
            QCOMPARE(history.load(id)->rows.size(), 65536);
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("VANTREL_RECORD_UNTIL_KILLED"))
        return recordUntilKilled(qEnvironmentVariable("VANTREL_RECORD_UNTIL_KILLED"));
    TestScanHistory test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_scan_history.moc"
