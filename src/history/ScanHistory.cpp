#include "history/ScanHistory.h"

#include "history/RowChunk.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>

#include <atomic>

using namespace Qt::Literals::StringLiterals;

namespace {

// SQLite's own result codes for a file that is damaged or not a database at all.
bool isDamaged(const QSqlError &error)
{
    const QString code = error.nativeErrorCode();
    return code == u"11"_s || code == u"26"_s;
}

QString reasonOf(const QSqlError &error)
{
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    return text.isEmpty() ? u"Unknown database error."_s : text;
}

// The driver stores a null text as NULL; a cell never written is an empty text.
QString text(const QString &value)
{
    return value.isNull() ? QStringLiteral("") : value;
}

// A scan without a time (a caller that set none) is stamped now rather than refused.
QString timeText(const QDateTime &when)
{
    return (when.isValid() ? when : QDateTime::currentDateTime())
        .toUTC()
        .toString(Qt::ISODateWithMs);
}

QDateTime timeFrom(const QVariant &value)
{
    // Stored with its "Z", so it reads back as UTC.
    return QDateTime::fromString(value.toString(), Qt::ISODateWithMs).toLocalTime();
}

// The completed flag of a scan that has not ended yet.
constexpr int Running = -1;

const QString ScanColumns = u"id, first_address, last_address, inverted, pings_per_node, "
                            "ping_timeout, ping_ttl, inter_ping_delay, resolve_dns, started, "
                            "ended, completed"_s;

} // namespace

QString ScanHistory::defaultPath()
{
    // The folder is named after the product, not the executable, so the window and the
    // command-line scanner share one history.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           u"/Vantrel/history.sqlite"_s;
}

ScanHistory::ScanHistory(int keep)
    : m_keep(std::max(1, keep))
{
    static std::atomic<int> next{0};
    m_connection = u"vantrel-history-"_s + QString::number(++next);
}

ScanHistory::~ScanHistory()
{
    closeConnection();
}

void ScanHistory::closeConnection()
{
    if (QSqlDatabase::contains(m_connection)) {
        QSqlDatabase::database(m_connection, false).close();
        QSqlDatabase::removeDatabase(m_connection);
    }
    m_open = false;
}

ScanHistory::Opened ScanHistory::fail(const QString &reason)
{
    closeConnection();
    m_lastError = reason;
    return {false,
            u"Could not keep the scan history in \"%1\".\n%2\nScans go on without it "
            "until Vantrel is started again."_s.arg(QDir::toNativeSeparators(m_path), reason)};
}

ScanHistory::Opened ScanHistory::open(const QString &path)
{
    closeConnection();
    m_path = path;
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath()))
        return fail(u"The folder \"%1\" could not be created."_s.arg(
            QDir::toNativeSeparators(info.absolutePath())));
    if (info.exists() && !info.isFile())
        return fail(u"It is not a file."_s);

    QString reason;
    bool damaged = false;
    if (prepareFile(reason, damaged))
        return {true, {}};
    if (!damaged)
        return fail(reason);

    QString movedTo;
    if (!moveAside(movedTo, reason))
        return fail(reason);
    if (!prepareFile(reason, damaged))
        return fail(reason);
    return {true,
            u"The scan history \"%1\" was damaged or not a Vantrel history (%2).\nIt was "
            "moved to \"%3\" and a new history started."_s.arg(
                QDir::toNativeSeparators(path), m_lastError, QDir::toNativeSeparators(movedTo))};
}

bool ScanHistory::prepareFile(QString &reason, bool &damaged)
{
    damaged = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, m_connection);
        if (!db.isValid()) {
            reason = u"The SQLite driver of Qt SQL is not installed."_s;
            closeConnection();
            return false;
        }
        db.setDatabaseName(m_path);
        // Another Vantrel writing at the same moment is waited for briefly, never for long.
        db.setConnectOptions(u"QSQLITE_BUSY_TIMEOUT=1000"_s);
        if (!db.open()) {
            reason = reasonOf(db.lastError());
            closeConnection();
            return false;
        }
    }
    m_open = true;
    const bool ready = checkFile(reason, damaged);
    if (!ready)
        closeConnection();
    return ready;
}

std::optional<QVariant> ScanHistory::queryValue(const QString &sql, QSqlError &error)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!q.exec(sql) || !q.next()) {
        error = q.lastError();
        return std::nullopt;
    }
    return q.value(0);
}

bool ScanHistory::checkFile(QString &reason, bool &damaged)
{
    QSqlError error;
    const auto failed = [&] {
        damaged = isDamaged(error);
        reason = m_lastError = reasonOf(error);
        return false;
    };
    const std::optional<QVariant> applicationId = queryValue(u"PRAGMA application_id"_s, error);
    if (!applicationId)
        return failed();
    const std::optional<QVariant> version = queryValue(u"PRAGMA user_version"_s, error);
    if (!version)
        return failed();
    const std::optional<QVariant> objects =
        queryValue(u"SELECT count(*) FROM sqlite_master"_s, error);
    if (!objects)
        return failed();
    const bool empty = objects->toInt() == 0;

    if (!empty && applicationId->toInt() != ApplicationId) {
        damaged = true;
        reason = m_lastError = u"another program's database"_s;
        return false;
    }
    if (version->toInt() > SchemaVersion) {
        reason = u"It was written by a newer release of Vantrel (layout %1); it is left as it "
                 "is."_s.arg(version->toInt());
        return false;
    }
    // With WAL a commit survives a crash of the program; NORMAL may lose the last one to a
    // power cut but never leaves the file damaged.
    if (!queryValue(u"PRAGMA journal_mode=WAL"_s, error))
        return failed();
    // The log is cut back after each checkpoint, so a large scan leaves no large file behind.
    if (!exec(u"PRAGMA synchronous=NORMAL"_s) || !exec(u"PRAGMA journal_size_limit=4194304"_s)) {
        reason = m_lastError;
        return false;
    }
    const bool ready = empty                              ? createSchema()
                       : version->toInt() < SchemaVersion ? migrateFrom(version->toInt())
                                                          : true;
    // A file the user cannot write would only fail at the end of the first scan: find out
    // now, while saying so costs nothing.
    if (!ready || !exec(u"BEGIN IMMEDIATE"_s) || !exec(u"COMMIT"_s)) {
        reason = m_lastError;
        return false;
    }
    return true;
}

bool ScanHistory::exec(const QString &sql)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    return q.exec(sql) || failed(q.lastError());
}

// Rows of layout 3 on: chunks of rows in the compact form, and names that came after their
// row was written. Layout 2 kept a row per table row, as text; its scans are still read.
const QString ChunkTables =
    u"CREATE TABLE scan_chunks(scan_id INTEGER NOT NULL, first_seq INTEGER NOT NULL, "
    "row_count INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(scan_id, first_seq));"
    "CREATE TABLE scan_names(scan_id INTEGER NOT NULL, seq INTEGER NOT NULL, name TEXT NOT NULL, "
    "PRIMARY KEY(scan_id, seq)) WITHOUT ROWID"_s;

bool ScanHistory::createSchema()
{
    // Pages freed by pruning go back to the file system a few at a time; set before the
    // first table exists, as SQLite requires.
    if (!exec(u"PRAGMA auto_vacuum=INCREMENTAL"_s))
        return false;
    return inTransaction([&] {
        bool ok = exec(u"PRAGMA application_id=%1"_s.arg(ApplicationId)) &&
                  exec(u"CREATE TABLE scans(id INTEGER PRIMARY KEY AUTOINCREMENT, first_address "
                       "TEXT NOT NULL, last_address TEXT NOT NULL, inverted INTEGER NOT NULL, "
                       "pings_per_node INTEGER NOT NULL, ping_timeout INTEGER NOT NULL, "
                       "ping_ttl INTEGER NOT NULL, inter_ping_delay INTEGER NOT NULL, "
                       "resolve_dns INTEGER NOT NULL, started TEXT NOT NULL, ended TEXT NOT "
                       "NULL, completed INTEGER NOT NULL DEFAULT 1)"_s) &&
                  exec(u"CREATE INDEX scans_by_range ON scans(first_address, last_address, "
                       "inverted, id)"_s) &&
                  exec(u"CREATE TABLE scan_rows(scan_id INTEGER NOT NULL, seq INTEGER NOT NULL, "
                       "address TEXT NOT NULL, response TEXT NOT NULL, name TEXT, PRIMARY "
                       "KEY(scan_id, seq)) WITHOUT ROWID"_s);
        for (const QString &table : ChunkTables.split(u';'))
            ok = ok && exec(table);
        return ok && exec(u"PRAGMA user_version=%1"_s.arg(SchemaVersion));
    });
}

bool ScanHistory::migrateFrom(int version)
{
    return inTransaction([&] {
        bool ok = true;
        // Layout 1 knew neither stopped scans nor the look-up of a range's latest scan:
        // every scan it kept had completed.
        if (version <= 1) {
            ok = exec(u"ALTER TABLE scans ADD COLUMN completed INTEGER NOT NULL DEFAULT 1"_s) &&
                 exec(u"CREATE INDEX scans_by_range ON scans(first_address, last_address, "
                      "inverted, id)"_s);
        }
        if (version <= 2) {
            for (const QString &table : ChunkTables.split(u';'))
                ok = ok && exec(table);
        }
        return ok && exec(u"PRAGMA user_version=%1"_s.arg(SchemaVersion));
    });
}

bool ScanHistory::inTransaction(const std::function<bool()> &work)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    m_busy = false;
    if (!db.transaction())
        return failed(db.lastError());
    if (!work()) {
        db.rollback();
        return false;
    }
    if (!db.commit()) {
        failed(db.lastError());
        db.rollback();
        return false;
    }
    return true;
}

// SQLITE_BUSY and SQLITE_LOCKED: another connection holds the file.
bool ScanHistory::failed(const QSqlError &error)
{
    m_lastError = reasonOf(error);
    const QString code = error.nativeErrorCode();
    m_busy = m_busy || code == u"5"_s || code == u"6"_s;
    return false;
}

bool ScanHistory::moveAside(QString &movedTo, QString &reason)
{
    closeConnection();
    const QString stamp = QDateTime::currentDateTime().toString(u"yyyyMMdd-HHmmss"_s);
    movedTo = m_path + u'.' + stamp + u".damaged"_s;
    for (int n = 2; QFileInfo::exists(movedTo); ++n)
        movedTo = m_path + u'.' + stamp + u'-' + QString::number(n) + u".damaged"_s;
    QFile file(m_path);
    if (!file.rename(movedTo)) {
        reason = u"It is damaged or not a Vantrel history, and could not be moved aside: %1"_s.arg(
            file.errorString());
        return false;
    }
    // The log of changes belongs to the old file; a new history must not replay it.
    QFile::rename(m_path + u"-wal"_s, movedTo + u"-wal"_s);
    QFile::remove(m_path + u"-shm"_s);
    return true;
}

qint64 ScanHistory::record(const ScanRecord &scan)
{
    const qint64 id = beginScan(scan);
    if (id == 0)
        return 0;
    if (!appendRows(id, 0, std::span(scan.rows.constData(), std::size_t(scan.rows.size()))) ||
        !finishScan(id, scan.ended, scan.completed))
        return 0;
    return id;
}

qint64 ScanHistory::beginScan(const ScanRecord &scan)
{
    if (!m_open) {
        m_lastError = u"The history is not open."_s;
        return 0;
    }
    qint64 id = 0;
    inTransaction([&] {
        QSqlQuery q(QSqlDatabase::database(m_connection, false));
        q.prepare(u"INSERT INTO scans(first_address, last_address, inverted, pings_per_node, "
                  "ping_timeout, ping_ttl, inter_ping_delay, resolve_dns, started, ended, "
                  "completed) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"_s);
        const ScanSettings &s = scan.settings;
        // Running until finishScan says otherwise: no one takes it for an earlier scan.
        const QVariant values[] = {scan.firstAddress,      scan.lastAddress, scan.inverted,
                                   s.Pings_per_Node,       s.Ping_Timeout,   s.Ping_TTL,
                                   s.Inter_Ping_Delay,     s.Resolve_DNS,    timeText(scan.started),
                                   timeText(scan.started), Running};
        for (int i = 0; i < int(std::size(values)); ++i)
            q.bindValue(i, values[i]);
        if (!q.exec())
            return failed(q.lastError());
        id = q.lastInsertId().toLongLong();
        return true;
    });
    return id;
}

bool ScanHistory::appendRows(qint64 id, qint64 firstSeq, std::span<const HistoryRow> rows,
                             const QList<QPair<qint64, QString>> &names)
{
    if (!m_open) {
        m_lastError = u"The history is not open."_s;
        return false;
    }
    if (rows.empty() && names.isEmpty())
        return true;
    return inTransaction([&] {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        if (!rows.empty()) {
            QSqlQuery q(db);
            q.prepare(u"INSERT OR REPLACE INTO scan_chunks(scan_id, first_seq, row_count, data) "
                      "VALUES (?, ?, ?, ?)"_s);
            q.bindValue(0, id);
            q.bindValue(1, firstSeq);
            q.bindValue(2, qint64(rows.size()));
            q.bindValue(3, RowChunk::encode(rows));
            if (!q.exec())
                return failed(q.lastError());
        }
        QSqlQuery q(db);
        q.prepare(u"INSERT OR REPLACE INTO scan_names(scan_id, seq, name) VALUES (?, ?, ?)"_s);
        for (const auto &[seq, name] : names) {
            q.bindValue(0, id);
            q.bindValue(1, seq);
            q.bindValue(2, text(name));
            if (!q.exec())
                return failed(q.lastError());
        }
        return true;
    });
}

bool ScanHistory::finishScan(qint64 id, const QDateTime &ended, bool completed)
{
    if (!m_open) {
        m_lastError = u"The history is not open."_s;
        return false;
    }
    const bool ok = inTransaction([&] {
        QSqlQuery q(QSqlDatabase::database(m_connection, false));
        q.prepare(u"UPDATE scans SET ended = ?, completed = ? WHERE id = ?"_s);
        q.bindValue(0, timeText(ended));
        q.bindValue(1, completed ? 1 : 0);
        q.bindValue(2, id);
        return (q.exec() || failed(q.lastError())) && prune();
    });
    // Hands pages freed by pruning back, a few at a time (a no-op for files made before).
    if (ok)
        exec(u"PRAGMA incremental_vacuum(256)"_s);
    return ok;
}

bool ScanHistory::prune()
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(u"SELECT id FROM scans ORDER BY id DESC LIMIT 1 OFFSET ?"_s);
    q.bindValue(0, m_keep - 1);
    if (!q.exec())
        return failed(q.lastError());
    if (!q.next())
        return true;
    const QString oldest = q.value(0).toString();
    q.finish(); // a reading statement left open would keep the commit from going through
    return exec(u"DELETE FROM scan_rows WHERE scan_id < "_s + oldest) &&
           exec(u"DELETE FROM scan_chunks WHERE scan_id < "_s + oldest) &&
           exec(u"DELETE FROM scan_names WHERE scan_id < "_s + oldest) &&
           exec(u"DELETE FROM scans WHERE id < "_s + oldest);
}

bool ScanHistory::addLate(qint64 id, const QList<QPair<qint64, QString>> &names,
                          const QList<HistoryRow> &rows)
{
    if (!m_open) {
        m_lastError = u"The history is not open."_s;
        return false;
    }
    qint64 next = 0;
    if (!rows.isEmpty()) {
        QSqlQuery last(QSqlDatabase::database(m_connection, false));
        last.prepare(u"SELECT coalesce(max(first_seq + row_count), 0) FROM scan_chunks WHERE "
                     "scan_id = ?"_s);
        last.bindValue(0, id);
        if (!last.exec() || !last.next())
            return failed(last.lastError());
        next = last.value(0).toLongLong();
    }
    return appendRows(id, next, std::span(rows.constData(), std::size_t(rows.size())), names);
}

std::optional<QList<HistoryRow>> ScanHistory::readRows(qint64 id) const
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QList<HistoryRow> rows;
    // Scans of layout 2 and before: a table row per listed row.
    QSqlQuery legacy(db);
    legacy.setForwardOnly(true);
    legacy.prepare(
        u"SELECT address, response, name FROM scan_rows WHERE scan_id = ? ORDER BY seq"_s);
    legacy.bindValue(0, id);
    if (!legacy.exec()) {
        m_lastError = reasonOf(legacy.lastError());
        return std::nullopt;
    }
    while (legacy.next()) {
        const QVariant name = legacy.value(2);
        rows.append({legacy.value(0).toString(),
                     legacy.value(1).toString(),
                     name.toString(),
                     !name.isNull(),
                     {},
                     {}});
    }
    QSqlQuery chunks(db);
    chunks.setForwardOnly(true);
    chunks.prepare(u"SELECT first_seq, row_count, data FROM scan_chunks WHERE scan_id = ? ORDER "
                   "BY first_seq"_s);
    chunks.bindValue(0, id);
    if (!chunks.exec()) {
        m_lastError = reasonOf(chunks.lastError());
        return std::nullopt;
    }
    while (chunks.next()) {
        const auto decoded =
            RowChunk::decode(chunks.value(2).toByteArray(), chunks.value(1).toLongLong());
        if (!decoded || chunks.value(0).toLongLong() != rows.size()) {
            m_lastError = u"The rows of scan %1 are damaged."_s.arg(id);
            return std::nullopt;
        }
        rows.append(*decoded);
    }
    QSqlQuery names(db);
    names.setForwardOnly(true);
    names.prepare(u"SELECT seq, name FROM scan_names WHERE scan_id = ?"_s);
    names.bindValue(0, id);
    if (!names.exec()) {
        m_lastError = reasonOf(names.lastError());
        return std::nullopt;
    }
    while (names.next()) {
        const qint64 seq = names.value(0).toLongLong();
        if (seq >= 0 && seq < rows.size()) {
            rows[seq].name = names.value(1).toString();
            rows[seq].nameKnown = true;
        }
    }
    return rows;
}

std::optional<ScanRecord> ScanHistory::readScan(const QString &where, const QList<QVariant> &values,
                                                bool withRows) const
{
    if (!m_open)
        return std::nullopt;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(u"SELECT "_s + ScanColumns + u" FROM scans WHERE "_s + where +
              u" ORDER BY id DESC LIMIT 1"_s);
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values[i]);
    if (!q.exec()) {
        m_lastError = reasonOf(q.lastError());
        return std::nullopt;
    }
    if (!q.next())
        return std::nullopt;
    ScanRecord scan;
    scan.id = q.value(0).toLongLong();
    scan.firstAddress = q.value(1).toString();
    scan.lastAddress = q.value(2).toString();
    scan.inverted = q.value(3).toBool();
    scan.settings.Pings_per_Node = std::int16_t(q.value(4).toInt());
    scan.settings.Ping_Timeout = q.value(5).toInt();
    scan.settings.Ping_TTL = q.value(6).toInt();
    scan.settings.Inter_Ping_Delay = q.value(7).toInt();
    scan.settings.Resolve_DNS = q.value(8).toBool();
    scan.settings.Reverse_Scan = scan.inverted;
    scan.started = timeFrom(q.value(9));
    scan.ended = timeFrom(q.value(10));
    scan.completed = q.value(11).toInt() > 0;

    q.finish();
    if (!withRows)
        return scan;
    std::optional<QList<HistoryRow>> rows = readRows(scan.id);
    if (!rows)
        return std::nullopt;
    scan.rows = std::move(*rows);
    return scan;
}

std::optional<ScanRecord> ScanHistory::previous(const QString &firstAddress,
                                                const QString &lastAddress, bool inverted,
                                                qint64 before, bool withRows) const
{
    return readScan(u"first_address = ? AND last_address = ? AND inverted = ? AND id < ? AND "
                    "completed >= 0"_s,
                    {firstAddress, lastAddress, inverted,
                     before > 0 ? before : std::numeric_limits<qint64>::max()},
                    withRows);
}

std::optional<ScanRecord> ScanHistory::load(qint64 id) const
{
    return readScan(u"id = ?"_s, {id}, true);
}

qint64 ScanHistory::scanCount() const
{
    if (!m_open)
        return 0;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    return q.exec(u"SELECT count(*) FROM scans"_s) && q.next() ? q.value(0).toLongLong() : 0;
}
