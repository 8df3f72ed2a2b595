// The history store on real SQLite files in a temporary folder.
#include "history/ScanHistory.h"
#include "history/ScanRecorder.h"
#include "scan/components/ResultGrid.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {

ScanRecord scanOf(const QString &first, const QString &last, bool inverted,
                  QList<HistoryRow> rows = {})
{
    ScanRecord scan;
    scan.firstAddress = first;
    scan.lastAddress = last;
    scan.inverted = inverted;
    scan.settings.Reverse_Scan = inverted;
    scan.settings.Pings_per_Node = 3;
    scan.settings.Ping_Timeout = 700;
    scan.settings.Ping_TTL = 9;
    scan.settings.Inter_Ping_Delay = 17;
    scan.settings.Resolve_DNS = true;
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
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("raw"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery q(db);
        for (const QString &statement : sql.split(u';', Qt::SkipEmptyParts)) {
            if (!q.exec(statement))
                qWarning() << "raw:" << statement << q.lastError().text();
        }
        if (q.isSelect() && q.next())
            value = q.value(0);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("raw"));
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
        rows.append({QStringLiteral("10.1.%1.%2").arg(i >> 8).arg(i & 255), "1 ms", "x", true});
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
        path = dir->filePath(QStringLiteral("data/history.sqlite"));
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
            const ScanHistory::Opened opened = history.open(path);
            QVERIFY(opened.ok && opened.message.isEmpty());
            normal = history.record(scan);
            QVERIFY2(normal > 0, qPrintable(history.lastError()));
            inverted = history.record(scanOf("10.0.0.1", "10.0.0.9", true));
            history.record(scanOf("10.0.0.1", "10.0.0.8", false));
            QVERIFY(history.addLate(normal, {{0, QStringLiteral("one")}},
                                    {{"10.0.0.5", "9 ms", "", false}}));
            QVERIFY(history.addLate(normal, {{2, QStringLiteral("five")}}, {}));
        }
        ScanHistory again;
        QVERIFY(again.open(path).ok);
        const std::optional<ScanRecord> back = again.previous("10.0.0.1", "10.0.0.9", false);
        QVERIFY(back);
        QCOMPARE(back->id, normal);
        QCOMPARE(back->rows, QList<HistoryRow>({{"10.0.0.1", "3 ms", "one", true},
                                                {"10.0.0.7", "1 ms", "", true},
                                                {"10.0.0.5", "9 ms", "five", true}}));
        QCOMPARE(back->started, scan.started);
        QCOMPARE(back->ended, scan.ended);
        const ScanSettings &kept = back->settings;
        QCOMPARE(QList<int>({kept.Pings_per_Node, kept.Ping_Timeout, kept.Ping_TTL,
                             kept.Inter_Ping_Delay, kept.Resolve_DNS, back->completed}),
                 QList<int>({3, 700, 9, 17, 1, 0}));
        QCOMPARE(again.previous("10.0.0.1", "10.0.0.9", true)->id, inverted);
        QVERIFY(!again.previous("10.0.0.1", "10.0.0.9", false, normal));
        QVERIFY(!again.previous("10.0.0.2", "10.0.0.9", false));
        QCOMPARE(rawQuery(path, QStringLiteral("PRAGMA journal_mode")).toString(),
                 QStringLiteral("wal"));
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
        QCOMPARE(rawQuery(path, QStringLiteral("SELECT count(*) FROM scan_rows")).toInt(), 3);
    }

    void migratesTheFirstLayout()
    {
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        rawQuery(path, QStringLiteral(
                           "PRAGMA application_id=%1;"
                           "CREATE TABLE scans(id INTEGER PRIMARY KEY AUTOINCREMENT, first_address "
                           "TEXT NOT NULL, last_address TEXT NOT NULL, inverted INTEGER NOT NULL, "
                           "pings_per_node INTEGER NOT NULL, ping_timeout INTEGER NOT NULL, "
                           "ping_ttl INTEGER NOT NULL, inter_ping_delay INTEGER NOT NULL, "
                           "resolve_dns INTEGER NOT NULL, started TEXT NOT NULL, ended TEXT NOT "
                           "NULL);"
                           "CREATE TABLE scan_rows(scan_id INTEGER NOT NULL, seq INTEGER NOT NULL, "
                           "address TEXT NOT NULL, response TEXT NOT NULL, name TEXT, PRIMARY "
                           "KEY(scan_id, seq)) WITHOUT ROWID;"
                           "INSERT INTO scans VALUES(1, '10.0.0.1', '10.0.0.9', 0, 2, 2000, 32, "
                           "250, 1, '2026-01-02T03:04:05.000Z', '2026-01-02T03:05:05.000Z');"
                           "INSERT INTO scan_rows VALUES(1, 0, '10.0.0.4', '5 ms', 'four');"
                           "PRAGMA user_version=1")
                           .arg(ScanHistory::ApplicationId));
        {
            ScanHistory history;
            const ScanHistory::Opened opened = history.open(path);
            QVERIFY2(opened.ok, qPrintable(opened.message));
            QVERIFY(opened.message.isEmpty());
            const std::optional<ScanRecord> kept = history.previous("10.0.0.1", "10.0.0.9", false);
            QVERIFY(kept);
            QVERIFY(kept->completed);
            QCOMPARE(kept->rows, QList<HistoryRow>({{"10.0.0.4", "5 ms", "four", true}}));
            QVERIFY(history.record(scanOf("10.0.0.1", "10.0.0.9", false)) > 1);
        }
        QCOMPARE(rawQuery(path, QStringLiteral("PRAGMA user_version")).toInt(),
                 ScanHistory::SchemaVersion);
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
        if (kind == u"blocked folder") {
            // A file where the folder should be: what no permission setting can get round.
            QFile blocker(folder);
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        } else {
            QVERIFY(QDir().mkpath(folder));
        }
        if (kind == u"text") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(5000, 'x'));
        } else if (kind == u"foreign") {
            rawQuery(path, QStringLiteral("CREATE TABLE songs(title TEXT)"));
        } else if (kind == u"newer") {
            rawQuery(path, QStringLiteral("PRAGMA application_id=%1; CREATE TABLE later(x); "
                                          "PRAGMA user_version=9")
                               .arg(ScanHistory::ApplicationId));
        } else if (kind == u"damaged") {
            {
                ScanHistory history;
                QVERIFY(history.open(path).ok);
                QVERIFY(history.record(scanOf("10.0.0.1", "10.0.0.9", false)) > 0);
            }
            // The schema page, after the file header, is overwritten with rubbish.
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            file.seek(100);
            file.write(QByteArray(400, '\xA5'));
        }
        QFile original(path);
        const QByteArray bytes = original.open(QIODevice::ReadOnly) ? original.readAll() : "";
        original.close();

        ScanHistory history;
        const ScanHistory::Opened opened = history.open(path);
        QCOMPARE(opened.ok, movedAside);
        if (!movedAside) {
            QVERIFY2(opened.message.startsWith(QStringLiteral("Could not keep the scan history")),
                     qPrintable(opened.message));
            QCOMPARE(history.record(scanOf("10.0.0.1", "10.0.0.9", false)), 0);
            if (kind == u"newer")
                QCOMPARE(rawQuery(path, QStringLiteral("PRAGMA user_version")).toInt(), 9);
            return;
        }
        const QStringList moved =
            QDir(folder).entryList({QStringLiteral("history.sqlite.*.damaged")}, QDir::Files);
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
            table.setText(QStringLiteral("10.1.%1.%2").arg(i >> 8).arg(i & 255));
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
        QVERIFY(kept);
        QCOMPARE(kept->rows.size(), Rows);
        QCOMPARE(kept->rows.last().address, QStringLiteral("10.1.156.63"));
        if (nextScanStartsAtOnce)
            QCOMPARE(recorder.previousScan()->rows.size(), Rows);
    }

    void killedWhileRecording()
    {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("VANTREL_RECORD_UNTIL_KILLED"), path);
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
        QVERIFY(opened.ok);
        QVERIFY(opened.message.isEmpty());
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
