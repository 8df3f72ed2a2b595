#pragma once

#include "history/ScanComparison.h"
#include "history/ScanHistory.h"
#include "history/ScanRecord.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

class ResultGrid;

// Keeps the history of the scans run in a result table: finds the earlier scan of the same
// range when a scan starts, and records the scan while it runs: its start at once, the rows
// listed so far every second, the names that came in for them, its end when it ends, and
// what was listed after a user's STOP once the stragglers have had time to come in. The end
// of a scan adds no more than its last second of rows.
//
// A write that finds the file held by another program is tried again later, less often the
// longer it lasts, and nothing is lost meanwhile: a scan that starts before the last one is
// written keeps what is left of it aside. Only a file held for longer than the patience
// gives a scan up, and that is said through problem(). Any other failure stops the
// recording for the rest of the run, also said once; the history is still read for the
// comparisons, as it is when the file may only be read.
class ScanRecorder : public QObject
{
    Q_OBJECT
public:
    explicit ScanRecorder(ResultGrid &table, QObject *parent = nullptr);
    ~ScanRecorder() override;

    enum class Mode
    {
        Record,
        CompareOnly, // reads the history and never writes it
    };
    // Opens the history file; false when it cannot even be read (unavailableReason() says
    // why; recording, problem() has said so too). Recording, a file that can only be read is
    // still read, and problem() says the scans are not recorded.
    bool open(const QString &path = ScanHistory::defaultPath(), int keep = ScanHistory::DefaultKeep,
              Mode mode = Mode::Record);
    bool isOn() const { return m_history != nullptr; }
    bool isRecording() const;
    QString unavailableReason() const { return m_unavailable; }

    // Before the table is cleared for a new scan: what the last scan listed late is written,
    // the earlier scan of this range and mode becomes the one to compare with, and the new
    // scan's record begins.
    void scanStarting(const QString &firstAddress, const QString &lastAddress,
                      const ScanSettings &settings);
    // The scan ended: completed, or stopped by the user.
    void scanEnded(bool completed);
    // Writes rows and names that came in since the last write.
    void flushLate();
    // Writes everything left, waiting on the event loop while another program holds the file,
    // up to the patience. True when the last scan (and every one before it) is recorded
    // whole.
    bool finishRecording();

    // The earlier (completed) scan of the current range and mode, if the history holds one;
    // its rows are read when first asked for, and rows without a name take the last one
    // known.
    const std::optional<ScanRecord> &previousScan() const;
    // Stopped scans of the range and mode after the earlier scan: not compared with.
    qint64 stoppedSkipped() const { return m_stoppedSkipped; }
    // True for an address the earlier scan did not list; false when there is no earlier scan.
    bool isNew(const QString &address) const;
    // The current (running or last) scan with the table's rows as they are now.
    ScanRecord currentScan() const;
    qint64 recordedId() const { return m_recordedId; }

    // The current scan against the earlier one, over the part of it that has its outcome;
    // none without an earlier scan, and then noComparison() says why.
    std::optional<ScanComparison::Report> compare(const ScanComparison::Part &part = {},
                                                  bool running = false) const;
    QString noComparison() const;

    // How long after a scan ends its late replies and names are awaited before they are
    // written; the next scan start or closing writes them sooner.
    void setLateInterval(int milliseconds) { m_lateTimer.setInterval(milliseconds); }
    // Whether a listed row is final enough to be written (its hardware address has come in);
    // while the scan runs, a row that is not waits, with the rows after it, for a later
    // write. By default every row is.
    void setRowReady(std::function<bool(qsizetype row)> ready) { m_rowReady = std::move(ready); }
    // How long one write waits for another program, and how long the writes of a scan keep
    // being tried before it is given up.
    void setPatience(int busyWaitMs, int giveUpMs);

Q_SIGNALS:
    void problem(const QString &message);

private:
    // A written row whose name was still being looked up.
    struct PendingName
    {
        qsizetype row = 0; // in the table, kept in step with deletions
        qint64 seq = 0;    // in the record
        QString address;
    };
    // What is left to write of a scan that is no longer in the table.
    struct SetAside
    {
        ScanRecord scan; // its rows are those from firstSeq on
        qint64 firstSeq = 0;
        QList<QPair<qint64, QString>> names;
        bool endWritten = false;
    };

    // Table rows from `from` to before `upTo`.
    QList<HistoryRow> tableRows(qsizetype from,
                                qsizetype upTo = std::numeric_limits<qsizetype>::max()) const;
    HistoryRow rowAt(qsizetype row) const;
    void stopWriting(const QString &reason);
    void rowsRemoved(qsizetype firstRow, qsizetype count);
    // Each writes what it has; false when something is left (a retry may be due).
    bool writeBatch();
    bool writeEnd();
    bool writeSetAside();
    bool writeAll();
    // After a failed write: a held file is tried again later, anything else stops writing.
    bool failedWrite();
    void giveUp(const QString &reason);
    bool backingOff() const;
    bool currentWritten() const;
    void setAsideCurrent();

    ResultGrid &m_table;
    std::unique_ptr<ScanHistory> m_history;
    QString m_unavailable;
    bool m_writing = false; // the history takes our writes
    mutable std::optional<ScanRecord> m_previous;
    mutable bool m_previousRowsRead = false;
    mutable std::vector<std::uint32_t> m_previousAddresses; // sorted
    mutable QString m_previousError;
    qint64 m_stoppedSkipped = 0;
    ScanRecord m_current;
    bool m_running = false;
    std::function<bool(qsizetype)> m_rowReady;
    bool m_recordCurrent = false; // the current scan is to be recorded
    bool m_endWritten = true;
    qint64 m_recordedId = 0;
    // Table rows 1..m_recordedRows are in the record; rows after them are not yet.
    qsizetype m_recordedRows = 0;
    qint64 m_recordedCount = 0;
    std::vector<PendingName> m_pendingNames; // by row
    QList<SetAside> m_setAside;
    bool m_lost = false; // a scan was given up or could not be recorded
    // Writes that find the file held: since when, how often, and when to try again.
    QElapsedTimer m_busySince;
    int m_busyFailures = 0;
    QDeadlineTimer m_nextTry;
    int m_busyWaitMs = ScanHistory::DefaultBusyWaitMs;
    int m_giveUpMs = 30000;
    QTimer m_batchTimer;
    QTimer m_lateTimer;
    QTimer m_retryTimer;
};
