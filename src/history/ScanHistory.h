#pragma once

#include "history/ScanRecord.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>

#include <functional>
#include <optional>
#include <span>

class QSqlError;

// Every scan, kept in an SQLite file through Qt SQL so that a later scan of the same range can
// be compared with it. A scan is recorded while it runs: its record begins at the start,
// its rows follow in short transactions (WAL mode, so a crash never damages the file) in a
// compact form, and its end is one more small write. Only a completed scan is a later scan's
// earlier one. Several programs may write the file at once: each write waits a moment for
// another's, and one that found the file held says so (lastErrorWasBusy) so that it can be
// tried again. The most recent scans of every range are kept, within an overall number.
// All calls run on the caller's thread and return when done.
class ScanHistory
{
public:
    static constexpr int SchemaVersion = 3;
    static constexpr int DefaultKeep = 200;
    // How long a write waits for another program's write. Ours hold the file for a few
    // milliseconds; a caller tries again later rather than wait long on its thread.
    static constexpr int DefaultBusyWaitMs = 2000;
    // Marks the file as ours, so a foreign database is never taken for a history.
    static constexpr int ApplicationId = 0x564E5452;

    // history.sqlite in the per-user data folder, e.g. ~/.local/share/Vantrel/.
    static QString defaultPath();

    explicit ScanHistory(int keep = DefaultKeep);
    ~ScanHistory();
    ScanHistory(const ScanHistory &) = delete;
    ScanHistory &operator=(const ScanHistory &) = delete;

    enum class Access
    {
        Writable,
        // For a comparison alone: nothing is created, changed or moved, and a file the user
        // may only read will do.
        ReadOnly,
    };

    struct Opened
    {
        bool ok = false;
        // One text for the user, or empty: why the history is off, or where a damaged or
        // foreign file was moved before a new history was started.
        QString message;
        // Another program held the file all the while: trying again later may work.
        bool busy = false;
    };
    // Writable: creates the folder and the file when missing, brings an older layout up to
    // date, and moves a damaged or foreign file aside under a dated name. Several programs
    // opening a new file at once make one history.
    Opened open(const QString &path, Access access = Access::Writable);
    bool isOpen() const { return m_open; }
    bool isReadOnly() const { return m_readOnly; }
    void setBusyWait(int milliseconds);
    QString path() const { return m_path; }
    QString lastError() const { return m_lastError; }

    // Writes a whole scan at once: its start, rows and end. The scan's id, or 0 on failure
    // (lastError() says why).
    qint64 record(const ScanRecord &scan);
    // The record of a scan that has started (its rows are ignored); 0 on failure.
    qint64 beginScan(const ScanRecord &scan);
    // Rows in the order listed, from position `firstSeq` (from 0) on, and names that arrived
    // for rows written before: (position, name).
    bool appendRows(qint64 id, qint64 firstSeq, std::span<const HistoryRow> rows,
                    const QList<QPair<qint64, QString>> &names = {});
    // How the scan ended. Beyond the kept number, scans go from the range with the most
    // scans, oldest first; the latest completed scan of each range and mode stays as long
    // as the number allows.
    bool finishScan(qint64 id, const QDateTime &ended, bool completed);
    // Rows listed after a scan ended (after its last row) and names that arrived since.
    bool addLate(qint64 id, const QList<QPair<qint64, QString>> &names,
                 const QList<HistoryRow> &rows);
    // The last failure was another program holding the file for longer than the wait: the
    // same write may well go through later.
    bool lastErrorWasBusy() const { return m_busy; }

    // The most recent completed scan of the same range and mode recorded before `before` (0:
    // of all), with its rows unless they are not wanted. A stopped scan never is: it did not
    // look at the whole range.
    std::optional<ScanRecord> previous(const QString &firstAddress, const QString &lastAddress,
                                       bool inverted, qint64 before = 0,
                                       bool withRows = true) const;
    // Scans of the scan's range and mode recorded after it (and before `before`) that did
    // not complete: stopped, or cut short by the end of their program.
    qint64 stoppedSince(const ScanRecord &scan, qint64 before = 0) const;
    // Rows of `scan` without a known name (lookups off, or a lookup that failed) take the
    // name the latest earlier scan of its range and mode with lookups knew, looking back
    // `scans` such scans at most.
    void fillUnknownNames(ScanRecord &scan, int scans = 10) const;
    std::optional<ScanRecord> load(qint64 id) const;
    qint64 scanCount() const;

private:
    Opened fail(const QString &reason);
    bool prepareFile(QString &reason, bool &damaged);
    bool checkFile(QString &reason, bool &damaged);
    bool checkReadable(QString &reason);
    bool connect(const QString &name, const QString &options, QString &reason);
    std::optional<QVariant> queryValue(const QString &sql, QSqlError &error);
    bool createSchema();
    bool migrateFrom(int version);
    bool moveAside(QString &movedTo, QString &reason);
    void closeConnection();
    bool exec(const QString &sql);
    void rollback();
    bool failed(const QSqlError &error);
    bool inTransaction(const std::function<bool()> &work);
    bool prune();
    void reclaimSpace();
    std::optional<QList<HistoryRow>> readRows(qint64 id) const;
    std::optional<ScanRecord> readScan(const QString &where, const QList<QVariant> &values,
                                       bool withRows) const;

    int m_keep;
    QString m_connection;
    QString m_path;
    bool m_open = false;
    bool m_readOnly = false;
    int m_busyWait = DefaultBusyWaitMs;
    mutable QString m_lastError;
    QString m_lastCode; // SQLite's result code of the last failure
    mutable bool m_busy = false;
};
