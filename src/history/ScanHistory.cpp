#include "history/ScanHistory.h"

#include "history/RowChunk.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <deque>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

// SQLite's own result codes for a file that is damaged or not a database at all.
bool isDamagedCode(const QString &code)
{
    return code == u"11"_s || code == u"26"_s;
}

// Every program that starts with a new or older file queues to set it up, once.
constexpr int OpenWaitMs = 10000;

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

// A scan of several ranges has no last address; the column is never NULL, and NULL would
// match no earlier scan either.
QVariant addressField(const QString &address)
{
    return address.isNull() ? QVariant(u""_s) : QVariant(address);
}

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
    if (m_readOnly)
        return {false, u"The scan history \"%1\" could not be read: %2"_s.arg(
                           QDir::toNativeSeparators(m_path), reason)};
    return {false,
            u"Could not keep the scan history in \"%1\".\n%2\nScans go on without it "
            "until Vantrel is started again."_s.arg(QDir::toNativeSeparators(m_path), reason),
            m_busy};
}

ScanHistory::Opened ScanHistory::open(const QString &path, Access access)
{
    closeConnection();
    m_path = path;
    m_readOnly = access == Access::ReadOnly;
    m_busy = false;
    const QFileInfo info(path);
    QString reason;
    if (m_readOnly) {
        if (!info.exists()) {
            m_lastError = u"There is no scan history yet."_s;
            return {false,
                    u"There is no scan history \"%1\" yet."_s.arg(QDir::toNativeSeparators(path))};
        }
        if (!info.isFile())
            return fail(u"It is not a file."_s);
        return checkReadable(reason) ? Opened{true, {}} : fail(reason);
    }
    if (!QDir().mkpath(info.absolutePath()))
        return fail(u"The folder \"%1\" could not be created."_s.arg(
            QDir::toNativeSeparators(info.absolutePath())));
    if (info.exists() && !info.isFile())
        return fail(u"It is not a file."_s);

    bool damaged = false;
    if (prepareFile(reason, damaged))
        return {true, {}};
    // The log beside the file needs the folder: SQLite's own words do not say so.
    if (!damaged && !QFileInfo(info.absolutePath()).isWritable())
        reason = u"The folder \"%1\" cannot be written (%2)."_s.arg(
            QDir::toNativeSeparators(info.absolutePath()), reason);
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

void ScanHistory::setBusyWait(int milliseconds)
{
    m_busyWait = std::max(0, milliseconds);
    if (m_open)
        exec(u"PRAGMA busy_timeout=%1"_s.arg(m_busyWait));
}

bool ScanHistory::connect(const QString &name, const QString &options, QString &reason)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, m_connection);
        if (!db.isValid()) {
            reason = u"The SQLite driver of Qt SQL is not installed."_s;
            closeConnection();
            return false;
        }
        db.setDatabaseName(name);
        db.setConnectOptions(options);
        if (!db.open()) {
            reason = reasonOf(db.lastError());
            closeConnection();
            return false;
        }
    }
    m_open = true;
    return true;
}

bool ScanHistory::prepareFile(QString &reason, bool &damaged)
{
    damaged = false;
    // Setting up waits longer than a write: every program that starts with a new file
    // queues for it, and it happens once.
    if (!connect(m_path, u"QSQLITE_BUSY_TIMEOUT=%1"_s.arg(OpenWaitMs), reason))
        return false;
    const bool ready = checkFile(reason, damaged);
    if (!ready)
        closeConnection();
    else
        exec(u"PRAGMA busy_timeout=%1"_s.arg(m_busyWait));
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
    const auto stop = [&] {
        damaged = isDamagedCode(m_lastCode);
        reason = m_lastError;
        rollback();
        return false;
    };
    QSqlError error;
    // What the file holds: a foreign or newer file is left exactly as it is.
    const auto look = [&](int &applicationId, int &version, int &objects) {
        const std::optional<QVariant> id = queryValue(u"PRAGMA application_id"_s, error);
        const std::optional<QVariant> layout =
            id ? queryValue(u"PRAGMA user_version"_s, error) : std::nullopt;
        const std::optional<QVariant> count =
            layout ? queryValue(u"SELECT count(*) FROM sqlite_master"_s, error) : std::nullopt;
        if (!count)
            return failed(error);
        applicationId = id->toInt();
        version = layout->toInt();
        objects = count->toInt();
        if (objects > 0 && applicationId != ApplicationId) {
            damaged = true;
            reason = m_lastError = u"another program's database"_s;
            return false;
        }
        if (version > SchemaVersion) {
            reason = m_lastError = u"It was written by a newer release of Vantrel (layout %1); "
                                   "it is left as it is."_s.arg(version);
            return false;
        }
        return true;
    };
    // A file that could not be read may be damaged; one that is not ours or newer is not.
    const auto refused = [&] {
        if (reason.isEmpty())
            return stop();
        rollback();
        return false;
    };
    int applicationId = 0, version = 0, objects = 0;
    if (!look(applicationId, version, objects))
        return refused();
    // Pages freed by pruning go back to the file system with the commit that freed them, so
    // the file never outgrows its kept scans. A new file takes this before the switch to
    // WAL writes its header; see below for the others.
    if (objects == 0 && !exec(u"PRAGMA auto_vacuum=FULL"_s))
        return stop();
    // With WAL a commit survives a crash of the program; NORMAL may lose the last one to a
    // power cut but never leaves the file damaged. The log is cut back after each
    // checkpoint, so a large scan leaves no large file behind.
    if (!queryValue(u"PRAGMA journal_mode=WAL"_s, error)) {
        failed(error);
        return stop();
    }
    if (!exec(u"PRAGMA synchronous=NORMAL"_s) || !exec(u"PRAGMA journal_size_limit=4194304"_s))
        return stop();
    // Looked at again and set up under the write lock: programs that open a new file at
    // once make one history between them, and a file the user cannot write shows now rather
    // than at the end of the first scan.
    if (!exec(u"BEGIN IMMEDIATE"_s))
        return stop();
    if (!look(applicationId, version, objects))
        return refused();
    // A file made with pages handed back on request only (one per request through Qt SQL)
    // hands them back at once from now on; one made before any of it is rebuilt once most of
    // it is free (reclaimSpace), as SQLite allows no other way.
    const bool ready = objects == 0              ? createSchema()
                       : version < SchemaVersion ? migrateFrom(version)
                                                 : exec(u"PRAGMA auto_vacuum=FULL"_s);
    if (!ready || !exec(u"COMMIT"_s))
        return stop();
    return true;
}

bool ScanHistory::checkReadable(QString &reason)
{
    // Read-only, a file in WAL mode needs its shared-memory file, which a folder the user
    // may not write cannot get: then the file is read as it lies, as no program can be
    // writing it there anyway.
    const QString immutable =
        QUrl::fromLocalFile(QFileInfo(m_path).absoluteFilePath()).toString(QUrl::FullyEncoded) +
        u"?immutable=1"_s;
    const std::pair<QString, QString> ways[] = {
        {m_path, u"QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=%1"_s.arg(m_busyWait)},
        {immutable, u"QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI"_s},
    };
    for (const auto &[name, options] : ways) {
        closeConnection();
        if (!connect(name, options, reason))
            continue;
        QSqlError error;
        const std::optional<QVariant> applicationId = queryValue(u"PRAGMA application_id"_s, error);
        const std::optional<QVariant> version =
            applicationId ? queryValue(u"PRAGMA user_version"_s, error) : std::nullopt;
        if (!version) {
            reason = reasonOf(error);
            continue;
        }
        if (applicationId->toInt() != ApplicationId)
            reason = u"It is not a Vantrel history, or holds no scan yet."_s;
        else if (version->toInt() != SchemaVersion)
            reason = u"It has the layout of another release of Vantrel (%1); a scan that is "
                     "recorded brings an older one up to date."_s.arg(version->toInt());
        else
            return true;
        break;
    }
    closeConnection();
    return false;
}

// Leaves the reason of the failure that led here as it is.
void ScanHistory::rollback()
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.exec(u"ROLLBACK"_s);
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

// Both run inside the transaction that checked the file.
bool ScanHistory::createSchema()
{
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
}

bool ScanHistory::migrateFrom(int version)
{
    bool ok = true;
    // Layout 1 knew neither stopped scans nor the look-up of a range's latest scan: every
    // scan it kept had completed.
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
}

bool ScanHistory::inTransaction(const std::function<bool()> &work)
{
    m_busy = false;
    if (m_readOnly) {
        m_lastError = u"The history is open for reading only."_s;
        return false;
    }
    // Takes the write lock at once, waiting for another program's write if need be: a
    // transaction that only asked for it when it first wrote could find the file changed
    // under it and fail without waiting.
    if (!exec(u"BEGIN IMMEDIATE"_s))
        return false;
    if (!work() || !exec(u"COMMIT"_s)) {
        rollback();
        return false;
    }
    return true;
}

// SQLITE_BUSY and SQLITE_LOCKED: another connection holds the file.
bool ScanHistory::failed(const QSqlError &error)
{
    m_lastError = reasonOf(error);
    const QString code = error.nativeErrorCode();
    m_lastCode = code;
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
        const QVariant values[] = {scan.firstAddress,
                                   addressField(scan.lastAddress),
                                   scan.inverted,
                                   s.Pings_per_Node,
                                   s.Ping_Timeout,
                                   s.Ping_TTL,
                                   s.Inter_Ping_Delay,
                                   s.Resolve_DNS,
                                   timeText(scan.started),
                                   timeText(scan.started),
                                   Running};
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
    // Encoded before the write lock is taken: another program waits only for the write.
    const QByteArray chunk = rows.empty() ? QByteArray() : RowChunk::encode(rows);
    return inTransaction([&] {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        if (!rows.empty()) {
            QSqlQuery q(db);
            q.prepare(u"INSERT OR REPLACE INTO scan_chunks(scan_id, first_seq, row_count, data) "
                      "VALUES (?, ?, ?, ?)"_s);
            q.bindValue(0, id);
            q.bindValue(1, firstSeq);
            q.bindValue(2, qint64(rows.size()));
            q.bindValue(3, chunk);
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
    if (ok)
        reclaimSpace();
    return ok;
}

bool ScanHistory::prune()
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    if (!q.exec(u"SELECT id, first_address || '-' || last_address || '-' || inverted, "
                "completed FROM scans ORDER BY id"_s))
        return failed(q.lastError());
    struct Group
    {
        std::deque<qint64> stopped; // ended or still running, oldest first
        qint64 latestCompleted = 0;
        std::deque<qint64> completed; // all but the latest
    };
    QHash<QString, Group> groups;
    qint64 total = 0;
    while (q.next()) {
        Group &group = groups[q.value(1).toString()];
        const qint64 id = q.value(0).toLongLong();
        if (q.value(2).toInt() <= 0) {
            group.stopped.push_back(id);
        } else {
            if (group.latestCompleted > 0)
                group.completed.push_back(group.latestCompleted);
            group.latestCompleted = id;
        }
        ++total;
    }
    q.finish(); // a reading statement left open would keep the commit from going through
    qint64 excess = total - m_keep;
    if (excess <= 0)
        return true;

    // Scans go from the range and mode with the most scans, oldest first, so that one
    // frequent job cannot push every other range out. The latest completed scan of a range
    // and mode, its next scan's baseline, goes only when the number allows no other choice.
    QList<qint64> victims;
    const auto countOf = [](const Group &g) {
        return qsizetype(g.stopped.size() + g.completed.size()) + (g.latestCompleted > 0);
    };
    // The queue holding a group's oldest scan that may go; null when none may.
    const auto oldest = [](Group &g) -> std::deque<qint64> * {
        if (g.completed.empty())
            return g.stopped.empty() ? nullptr : &g.stopped;
        return !g.stopped.empty() && g.stopped.front() < g.completed.front() ? &g.stopped
                                                                             : &g.completed;
    };
    while (excess > 0) {
        Group *largest = nullptr;
        for (Group &group : groups) {
            if (!oldest(group))
                continue;
            if (!largest || countOf(group) > countOf(*largest) ||
                (countOf(group) == countOf(*largest) &&
                 oldest(group)->front() < oldest(*largest)->front()))
                largest = &group;
        }
        if (!largest)
            break;
        std::deque<qint64> *from = oldest(*largest);
        victims.append(from->front());
        from->pop_front();
        --excess;
    }
    std::vector<qint64> baselines;
    for (const Group &group : std::as_const(groups)) {
        if (group.latestCompleted > 0)
            baselines.push_back(group.latestCompleted);
    }
    std::sort(baselines.begin(), baselines.end());
    for (auto id = baselines.begin(); excess > 0 && id != baselines.end(); ++id, --excess)
        victims.append(*id);

    QStringList ids;
    for (const qint64 id : std::as_const(victims))
        ids.append(QString::number(id));
    const QString list = u" IN ("_s + ids.join(u',') + u')';
    // Rows of a scan whose record went while it was still being written go too.
    return exec(u"DELETE FROM scan_rows WHERE scan_id"_s + list) &&
           exec(u"DELETE FROM scan_chunks WHERE scan_id"_s + list +
                u" OR scan_id NOT IN (SELECT id FROM scans)"_s) &&
           exec(u"DELETE FROM scan_names WHERE scan_id"_s + list +
                u" OR scan_id NOT IN (SELECT id FROM scans)"_s) &&
           exec(u"DELETE FROM scans WHERE id"_s + list);
}

void ScanHistory::reclaimSpace()
{
    // A file made before pages were handed back reuses its free pages but never shrinks:
    // once most of it is free, it is rebuilt once, handing pages back from then on. Errors
    // here change nothing: the space is taken back at a later end.
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    const auto value = [&](const QString &sql) {
        return q.exec(sql) && q.next() ? q.value(0).toLongLong() : -1;
    };
    if (value(u"PRAGMA auto_vacuum"_s) != 0)
        return;
    const qint64 free = value(u"PRAGMA freelist_count"_s);
    const qint64 pages = value(u"PRAGMA page_count"_s);
    q.finish();
    if (pages > 64 && free * 2 > pages) {
        q.exec(u"PRAGMA auto_vacuum=FULL"_s);
        q.exec(u"VACUUM"_s);
    }
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
                    "completed > 0"_s,
                    {firstAddress, addressField(lastAddress), inverted,
                     before > 0 ? before : std::numeric_limits<qint64>::max()},
                    withRows);
}

qint64 ScanHistory::stoppedSince(const ScanRecord &scan, qint64 before) const
{
    if (!m_open)
        return 0;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(u"SELECT count(*) FROM scans WHERE first_address = ? AND last_address = ? AND "
              "inverted = ? AND id > ? AND id < ? AND completed <= 0"_s);
    const QVariant values[] = {scan.firstAddress, addressField(scan.lastAddress), scan.inverted,
                               scan.id, before > 0 ? before : std::numeric_limits<qint64>::max()};
    for (int i = 0; i < int(std::size(values)); ++i)
        q.bindValue(i, values[i]);
    return q.exec() && q.next() ? q.value(0).toLongLong() : 0;
}

void ScanHistory::fillUnknownNames(ScanRecord &scan, int scans) const
{
    QHash<QString, QList<qsizetype>> unknown;
    for (qsizetype i = 0; i < scan.rows.size(); ++i) {
        if (!scan.rows[i].nameKnown)
            unknown[scan.rows[i].address].append(i);
    }
    if (unknown.isEmpty() || !m_open)
        return;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    q.prepare(u"SELECT id FROM scans WHERE first_address = ? AND last_address = ? AND "
              "inverted = ? AND id < ? AND completed >= 0 AND resolve_dns = 1 ORDER BY id DESC "
              "LIMIT ?"_s);
    const QVariant values[] = {scan.firstAddress, addressField(scan.lastAddress), scan.inverted,
                               scan.id, scans};
    for (int i = 0; i < int(std::size(values)); ++i)
        q.bindValue(i, values[i]);
    if (!q.exec())
        return;
    QList<qint64> ids;
    while (q.next())
        ids.append(q.value(0).toLongLong());
    q.finish();
    for (const qint64 id : std::as_const(ids)) {
        const std::optional<QList<HistoryRow>> rows = readRows(id);
        for (const HistoryRow &row : rows.value_or(QList<HistoryRow>())) {
            const auto found = unknown.constFind(row.address);
            if (!row.nameKnown || found == unknown.cend())
                continue;
            for (const qsizetype i : *found) {
                scan.rows[i].name = row.name;
                scan.rows[i].nameKnown = true;
            }
            unknown.erase(found);
        }
        if (unknown.isEmpty())
            break;
    }
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
