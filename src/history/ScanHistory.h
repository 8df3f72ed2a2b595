#pragma once

#include "history/ScanRecord.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>

#include <optional>
#include <span>

class QSqlError;

// Every scan that ended, kept in an SQLite file through Qt SQL so that a later scan of the
// same range can be compared with it. Each scan is written in one transaction in WAL mode,
// so a crash never leaves half a scan or a damaged file; only the most recent scans are
// kept. All calls run on the caller's thread and return when done.
class ScanHistory
{
public:
    static constexpr int SchemaVersion = 2;
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

    // Writes a finished scan with its rows and prunes the oldest beyond the kept number.
    // The scan's id, or 0 on failure (lastError() says why).
    qint64 record(const ScanRecord &scan);
    // The same in steps, so that a caller can hand a large scan over in pieces between
    // other work: the transaction stays open from beginRecord (which ignores scan.rows) to
    // finishRecord or abandonRecord.
    qint64 beginRecord(const ScanRecord &scan);
    bool addRows(qint64 id, qint64 firstSeq, std::span<const HistoryRow> rows);
    bool finishRecord();
    void abandonRecord();
    // Rows listed after a scan was recorded (appended after its last row), and names that
    // arrived for its rows since: (row position in the record, from 0; name).
    bool addLate(qint64 id, const QList<QPair<qint64, QString>> &names,
                 const QList<HistoryRow> &rows);

    // The most recent scan of the same range and mode recorded before `before` (0: of all),
    // with its rows.
    std::optional<ScanRecord> previous(const QString &firstAddress, const QString &lastAddress,
                                       bool inverted, qint64 before = 0) const;
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
    bool prune();
    std::optional<ScanRecord> readScan(const QString &where, const QList<QVariant> &values) const;

    int m_keep;
    QString m_connection;
    QString m_path;
    bool m_open = false;
    mutable QString m_lastError;
};
