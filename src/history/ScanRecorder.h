#pragma once

#include "history/ScanHistory.h"
#include "history/ScanRecord.h"

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class ResultGrid;

// Keeps the history of the scans run in a result table: finds the earlier scan of the same
// range when a scan starts, and records the scan while it runs: its start at once, the rows
// listed so far every second, the names that came in for them, its end when it ends, and
// what was listed after a user's STOP once the stragglers have had time to come in. The end
// of a scan adds no more than its last second of rows. The first failure turns the history
// off for the rest of the run and is reported once, through problem(); a file another
// program holds a moment too long is tried again with the next write instead.
class ScanRecorder : public QObject
{
    Q_OBJECT
public:
    explicit ScanRecorder(ResultGrid &table, QObject *parent = nullptr);
    ~ScanRecorder() override;

    // Opens the history file; false when the history is off for this run. A message for
    // the user, if any, goes out through problem().
    bool open(const QString &path = ScanHistory::defaultPath(),
              int keep = ScanHistory::DefaultKeep);
    bool isOn() const { return m_history != nullptr; }
    // Off: the history is only read (the earlier scan, for a comparison); nothing is written.
    void setRecording(bool on) { m_recording = on; }

    // Before the table is cleared for a new scan: what the last scan listed late is written,
    // the earlier scan of this range and mode becomes the one to compare with, and the new
    // scan's record begins.
    void scanStarting(const QString &firstAddress, const QString &lastAddress,
                      const ScanSettings &settings);
    // The scan ended: completed, or stopped by the user.
    void scanEnded(bool completed);
    // Writes rows and names that came in since the last write.
    void flushLate();

    // The earlier scan of the current range, if the history holds one; its rows are read
    // when first asked for.
    const std::optional<ScanRecord> &previousScan() const;
    // True for an address the earlier scan did not list; false when there is no earlier scan.
    bool isNew(const QString &address) const;
    // The current (running or last) scan with the table's rows as they are now.
    ScanRecord currentScan() const;
    qint64 recordedId() const { return m_recordedId; }

    // How long after a scan ends its late replies and names are awaited before they are
    // written; the next scan start or closing writes them sooner.
    void setLateInterval(int milliseconds) { m_lateTimer.setInterval(milliseconds); }

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

    QList<HistoryRow> tableRows(qsizetype from) const;
    HistoryRow rowAt(qsizetype row) const;
    void turnOff(const QString &reason);
    void rowsRemoved(qsizetype firstRow, qsizetype count);
    // Writes the rows listed since the last write and the names that came in; false when
    // nothing could be written (the history may be off since).
    bool writeBatch();
    bool writeEnd();

    ResultGrid &m_table;
    std::unique_ptr<ScanHistory> m_history;
    mutable std::optional<ScanRecord> m_previous;
    mutable bool m_previousRowsRead = false;
    mutable std::vector<std::uint32_t> m_previousAddresses; // sorted
    ScanRecord m_current;
    bool m_running = false;
    bool m_recording = true;
    bool m_endWritten = true;
    qint64 m_recordedId = 0;
    // Table rows 1..m_recordedRows are in the record; rows after them are not yet.
    qsizetype m_recordedRows = 0;
    qint64 m_recordedCount = 0;
    std::vector<PendingName> m_pendingNames; // by row
    QTimer m_batchTimer;
    QTimer m_lateTimer;
};
