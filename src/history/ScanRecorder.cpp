#include "history/ScanRecorder.h"

#include "scan/components/DottedQuad.h"
#include "scan/components/ResultGrid.h"

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

// What the table shows while a name is being looked up.
const QString Resolving = u" resolving ..."_s;

// Rows listed meanwhile go to the history this often while a scan runs.
constexpr int BatchIntervalMs = 1000;

} // namespace

ScanRecorder::ScanRecorder(ResultGrid &table, QObject *parent)
    : QObject(parent)
    , m_table(table)
{
    m_lateTimer.setSingleShot(true);
    m_lateTimer.setInterval(15000);
    connect(&m_lateTimer, &QTimer::timeout, this, &ScanRecorder::flushLate);
    m_batchTimer.setInterval(BatchIntervalMs);
    connect(&m_batchTimer, &QTimer::timeout, this, &ScanRecorder::writeBatch);
    connect(&m_table, &ResultGrid::rowsRemovedFromTable, this, &ScanRecorder::rowsRemoved);
}

ScanRecorder::~ScanRecorder()
{
    if (!m_running)
        flushLate();
}

bool ScanRecorder::open(const QString &path, int keep)
{
    auto history = std::make_unique<ScanHistory>(keep);
    const ScanHistory::Opened opened = history->open(path);
    if (opened.ok)
        m_history = std::move(history);
    if (!opened.message.isEmpty())
        Q_EMIT problem(opened.message);
    return opened.ok;
}

void ScanRecorder::turnOff(const QString &reason)
{
    const QString path = m_history ? m_history->path() : QString();
    m_history.reset();
    m_lateTimer.stop();
    m_batchTimer.stop();
    m_recordedId = 0;
    m_pendingNames.clear();
    Q_EMIT problem(u"Could not write the scan history \"%1\".\n%2\nScans go on without it until "
                   "Vantrel is started again."_s.arg(path, reason));
}

void ScanRecorder::scanStarting(const QString &firstAddress, const QString &lastAddress,
                                const ScanSettings &settings)
{
    flushLate();
    m_recordedId = 0;
    m_recordedRows = 0;
    m_recordedCount = 0;
    m_endWritten = true;
    m_pendingNames.clear();
    m_current = ScanRecord();
    m_current.firstAddress = firstAddress;
    m_current.lastAddress = lastAddress;
    m_current.inverted = settings.Reverse_Scan;
    m_current.settings = settings;
    m_current.started = QDateTime::currentDateTime();
    m_running = true;

    m_previous.reset();
    m_previousRowsRead = false;
    m_previousAddresses.clear();
    if (!m_history)
        return;
    // Its rows are read when the marks or a comparison first ask for them: a sweep from a
    // script that asks for neither pays nothing for them.
    m_previous = m_history->previous(firstAddress, lastAddress, settings.Reverse_Scan, 0, false);
    if (!m_recording)
        return;

    m_recordedId = m_history->beginScan(m_current);
    if (m_recordedId == 0) {
        // Another program holding the file: this scan goes unrecorded, the next may not.
        if (!m_history->lastErrorWasBusy())
            turnOff(m_history->lastError());
        else
            Q_EMIT problem(u"The scan history is busy with another Vantrel; this scan is not "
                           "recorded.\n%1"_s.arg(m_history->lastError()));
        return;
    }
    m_endWritten = false;
    m_batchTimer.start();
}

void ScanRecorder::scanEnded(bool completed)
{
    if (!m_running)
        return;
    m_running = false;
    m_batchTimer.stop();
    m_current.ended = QDateTime::currentDateTime();
    m_current.completed = completed;
    if (!m_history || m_recordedId == 0)
        return;
    writeBatch();
    writeEnd();
    if (m_history)
        m_lateTimer.start();
}

bool ScanRecorder::writeEnd()
{
    if (!m_history || m_endWritten || m_recordedId == 0)
        return true;
    if (m_history->finishScan(m_recordedId, m_current.ended, m_current.completed)) {
        m_endWritten = true;
        return true;
    }
    if (!m_history->lastErrorWasBusy())
        turnOff(m_history->lastError());
    return false;
}

bool ScanRecorder::writeBatch()
{
    if (!m_history || m_recordedId == 0)
        return false;
    QList<QPair<qint64, QString>> names;
    std::vector<std::size_t> named;
    for (std::size_t i = 0; i < m_pendingNames.size(); ++i) {
        const PendingName &pending = m_pendingNames[i];
        const HistoryRow now = rowAt(pending.row);
        if (now.address == pending.address && now.nameKnown) {
            names.append({pending.seq, now.name});
            named.push_back(i);
        }
    }
    const QList<HistoryRow> rows = tableRows(m_recordedRows + 1);
    if (rows.isEmpty() && names.isEmpty())
        return true;
    if (!m_history->appendRows(m_recordedId, m_recordedCount,
                               std::span(rows.constData(), std::size_t(rows.size())), names)) {
        // Held by another program: the same rows and names go with the next write.
        if (!m_history->lastErrorWasBusy())
            turnOff(m_history->lastError());
        return false;
    }
    for (auto i = named.rbegin(); i != named.rend(); ++i)
        m_pendingNames.erase(m_pendingNames.begin() + std::ptrdiff_t(*i));
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (!rows[i].nameKnown && m_current.settings.Resolve_DNS)
            m_pendingNames.push_back(
                {m_recordedRows + 1 + i, m_recordedCount + i, rows[i].address});
    }
    m_recordedCount += rows.size();
    m_recordedRows = m_table.Rows() - 1;
    return true;
}

void ScanRecorder::flushLate()
{
    m_lateTimer.stop();
    if (!m_history || m_recordedId == 0)
        return;
    writeBatch();
    writeEnd();
}

const std::optional<ScanRecord> &ScanRecorder::previousScan() const
{
    if (m_previous && !m_previousRowsRead && m_history) {
        m_previousRowsRead = true;
        if (std::optional<ScanRecord> whole = m_history->load(m_previous->id))
            m_previous = std::move(whole);
        m_previousAddresses.reserve(std::size_t(m_previous->rows.size()));
        for (const HistoryRow &row : m_previous->rows) {
            if (const auto number = parseDottedQuad(row.address))
                m_previousAddresses.push_back(*number);
        }
        std::sort(m_previousAddresses.begin(), m_previousAddresses.end());
    }
    return m_previous;
}

bool ScanRecorder::isNew(const QString &address) const
{
    if (!previousScan())
        return false;
    const auto number = parseDottedQuad(address);
    return !number ||
           !std::binary_search(m_previousAddresses.begin(), m_previousAddresses.end(), *number);
}

ScanRecord ScanRecorder::currentScan() const
{
    ScanRecord scan = m_current;
    scan.id = m_recordedId;
    scan.rows = tableRows(1);
    return scan;
}

HistoryRow ScanRecorder::rowAt(qsizetype row) const
{
    HistoryRow out{m_table.cellText(row, 0), m_table.cellText(row, 1),
                   m_table.cellText(row, 2), true,
                   m_table.cellText(row, 3), m_table.cellText(row, 4)};
    out.nameKnown = m_current.settings.Resolve_DNS && out.name != Resolving;
    if (!out.nameKnown)
        out.name.clear();
    return out;
}

QList<HistoryRow> ScanRecorder::tableRows(qsizetype from) const
{
    QList<HistoryRow> rows;
    const qsizetype count = m_table.Rows();
    rows.reserve(std::max<qsizetype>(0, count - from));
    for (qsizetype row = std::max<qsizetype>(from, 1); row < count; ++row)
        rows.append(rowAt(row));
    return rows;
}

void ScanRecorder::rowsRemoved(qsizetype firstRow, qsizetype count)
{
    // Rows the user deletes stay in the record; the rows after them move up.
    const qsizetype recordedAmong =
        std::max<qsizetype>(0, std::min(firstRow + count, m_recordedRows + 1) - firstRow);
    m_recordedRows -= recordedAmong;
    std::erase_if(m_pendingNames, [&](const PendingName &pending) {
        return pending.row >= firstRow && pending.row < firstRow + count;
    });
    for (PendingName &pending : m_pendingNames) {
        if (pending.row >= firstRow + count)
            pending.row -= count;
    }
}
