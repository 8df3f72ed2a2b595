#pragma once

#include "history/ScanHistory.h"
#include "history/ScanRecord.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <memory>
#include <optional>

class ResultGrid;

// Keeps the history of the scans run in a result table: finds the earlier scan of the same
// range when a scan starts, records the table when it ends, and adds what was listed after a
// user's STOP once the stragglers have had time to come in. Nothing is written while a scan
// runs. The first failure turns the history off for the rest of the run and is reported
// once, through problem().
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

    // Before the table is cleared for a new scan: what the last scan listed late is written,
    // then the earlier scan of this range and mode becomes the one to compare with.
    void scanStarting(const QString &firstAddress, const QString &lastAddress,
                      const ScanSettings &settings);
    // The scan ended: completed, or stopped by the user.
    void scanEnded(bool completed);
    // Writes rows and names that came in since the scan was recorded.
    void flushLate();
    // True while a large scan is still being handed to the history piece by piece.
    bool isWriting() const { return m_recording; }
    // Writes what is left of it now.
    void finishWriting();

    // The earlier scan of the current range, if the history holds one.
    const std::optional<ScanRecord> &previousScan() const { return m_previous; }
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
    QList<HistoryRow> tableRows(qsizetype from) const;
    HistoryRow rowAt(qsizetype row) const;
    void turnOff(const QString &reason);
    void rowsRemoved(qsizetype firstRow, qsizetype count);
    bool writeSome();

    ResultGrid &m_table;
    std::unique_ptr<ScanHistory> m_history;
    std::optional<ScanRecord> m_previous;
    QSet<QString> m_previousAddresses;
    ScanRecord m_current;
    bool m_running = false;
    qint64 m_recordedId = 0;
    // Table rows 1..m_recordedRows are in the record; rows after them arrived late.
    qsizetype m_recordedRows = 0;
    qint64 m_recordedCount = 0;
    // Recorded rows still waiting for their name: address -> position in the record.
    QHash<QString, qint64> m_pendingNames;
    QTimer m_lateTimer;
    // The rows of the scan being recorded and how many of them are written: a large scan
    // goes in pieces between events so that the window never stalls.
    QList<HistoryRow> m_writing;
    qsizetype m_written = 0;
    bool m_recording = false;
    QTimer m_writeTimer;
};
