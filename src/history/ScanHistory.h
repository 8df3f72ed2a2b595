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
// compact form, and its end is one more small write. A scan that has not ended is nobody's
// earlier scan. Only the most recent scans are kept. All calls run on the caller's thread
// and return when done.
class ScanHistory
{
public:
    static constexpr int SchemaVersion = 3;
    static constexpr int DefaultKeep = 200;
    // Marks the file as ours, so a foreign database is never taken for a history.
    static constexpr int ApplicationId = 0x564E5452;

    // history.sqlite in the per-user data folder, e.g. ~/.local/share/Vantrel/.
    static QString defaultPath();

    explicit ScanHistory(int keep = DefaultKeep);
    ~ScanHistory();
    ScanHistory(const ScanHistory &) = delete;
    ScanHistory &operator=(const ScanHistory &) = delete;

    struct Opened
    {
        bool ok = false;
        // One text for the user, or empty: why the history is off, or where a damaged or
        // foreign file was moved before a new history was started.
        QString message;
    };
    // Creates the folder and the file when missing, brings an older layout up to date, and
    // moves a damaged or foreign file aside under a dated name.
    Opened open(const QString &path);
    bool isOpen() const { return m_open; }
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
    // How the scan ended; the oldest scans beyond the kept number go.
    bool finishScan(qint64 id, const QDateTime &ended, bool completed);
    // Rows listed after a scan ended (after its last row) and names that arrived since.
    bool addLate(qint64 id, const QList<QPair<qint64, QString>> &names,
                 const QList<HistoryRow> &rows);
    // The last failure was another program holding the file for longer than the wait: the
    // same write may well go through later.
    bool lastErrorWasBusy() const { return m_busy; }

    // The most recent ended scan of the same range and mode recorded before `before` (0: of
    // all), with its rows unless they are not wanted.
    std::optional<ScanRecord> previous(const QString &firstAddress, const QString &lastAddress,
                                       bool inverted, qint64 before = 0,
                                       bool withRows = true) const;
    std::optional<ScanRecord> load(qint64 id) const;
    qint64 scanCount() const;

private:
    Opened fail(const QString &reason);
    bool prepareFile(QString &reason, bool &damaged);
    bool checkFile(QString &reason, bool &damaged);
    std::optional<QVariant> queryValue(const QString &sql, QSqlError &error);
    bool createSchema();
    bool migrateFrom(int version);
    bool moveAside(QString &movedTo, QString &reason);
    void closeConnection();
    bool exec(const QString &sql);
    bool failed(const QSqlError &error);
    bool inTransaction(const std::function<bool()> &work);
    bool prune();
    std::optional<QList<HistoryRow>> readRows(qint64 id) const;
    std::optional<ScanRecord> readScan(const QString &where, const QList<QVariant> &values,
                                       bool withRows) const;

    int m_keep;
    QString m_connection;
    QString m_path;
    bool m_open = false;
    mutable QString m_lastError;
    mutable bool m_busy = false;
};
