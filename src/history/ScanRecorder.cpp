#include "history/ScanRecorder.h"

#include "scan/components/ResultGrid.h"

using namespace Qt::Literals::StringLiterals;

namespace {

// What the table shows while a name is being looked up.
const QString Resolving = u" resolving ..."_s;

// Rows written in one turn of the event loop: some 50 ms of work on a desktop.
constexpr qsizetype RowsPerTurn = 16384;

} // namespace

ScanRecorder::ScanRecorder(ResultGrid &table, QObject *parent)
    : QObject(parent)
    , m_table(table)
{
    m_lateTimer.setSingleShot(true);
    m_lateTimer.setInterval(15000);
    connect(&m_lateTimer, &QTimer::timeout, this, &ScanRecorder::flushLate);
    m_writeTimer.setInterval(0);
    connect(&m_writeTimer, &QTimer::timeout, this, &ScanRecorder::writeSome);
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
    if (m_history)
        m_history->abandonRecord();
    m_history.reset();
    m_lateTimer.stop();
    m_writeTimer.stop();
    m_writing.clear();
    m_recording = false;
    m_recordedId = 0;
    Q_EMIT problem(u"Could not write the scan history \"%1\".\n%2\nScans go on without it until "
                   "Vantrel is started again."_s.arg(path, reason));
}

void ScanRecorder::scanStarting(const QString &firstAddress, const QString &lastAddress,
                                const ScanSettings &settings)
{
    flushLate();
    m_recordedId = 0;
    m_recordedRows = 0;
    m_pendingNames.clear();
    m_current = ScanRecord();
    m_current.firstAddress = firstAddress;
    m_current.lastAddress = lastAddress;
    m_current.inverted = settings.Reverse_Scan;
    m_current.settings = settings;
    m_current.started = QDateTime::currentDateTime();
    m_running = true;

    m_previous.reset();
    m_previousAddresses.clear();
    if (!m_history)
        return;
    m_previous = m_history->previous(firstAddress, lastAddress, settings.Reverse_Scan);
    if (m_previous) {
        m_previousAddresses.reserve(m_previous->rows.size());
        for (const HistoryRow &row : m_previous->rows)
            m_previousAddresses.insert(row.address);
    }
}

void ScanRecorder::scanEnded(bool completed)
{
    if (!m_running)
        return;
    m_running = false;
    m_current.ended = QDateTime::currentDateTime();
    m_current.completed = completed;
    if (!m_history)
        return;
    // The rows are copied at once (their texts are shared with the table, so this is
    // cheap), then written piece by piece.
    m_writing = tableRows(1);
    m_written = 0;
    m_recording = true;
    m_recordedId = m_history->beginRecord(m_current);
    if (m_recordedId == 0) {
        m_recording = false;
        turnOff(m_history->lastError());
        return;
    }
    m_recordedRows = m_table.Rows() - 1;
    m_recordedCount = m_writing.size();
    for (qint64 i = 0; i < m_writing.size(); ++i) {
        if (!m_writing[i].nameKnown && m_current.settings.Resolve_DNS)
            m_pendingNames.insert(m_writing[i].address, i);
    }
    if (writeSome())
        m_writeTimer.start();
}

bool ScanRecorder::writeSome()
{
    if (!m_history || !m_recording) {
        m_writeTimer.stop();
        return false;
    }
    const qsizetype count = std::min(RowsPerTurn, m_writing.size() - m_written);
    if (!m_history->addRows(m_recordedId, m_written,
                            std::span(m_writing.constData() + m_written, std::size_t(count)))) {
        turnOff(m_history->lastError());
        return false;
    }
    m_written += count;
    if (m_written < m_writing.size())
        return true;
    m_writeTimer.stop();
    m_writing.clear();
    m_recording = false;
    if (!m_history->finishRecord()) {
        turnOff(m_history->lastError());
        return false;
    }
    m_lateTimer.start();
    return false;
}

void ScanRecorder::finishWriting()
{
    while (writeSome()) {
    }
}

void ScanRecorder::flushLate()
{
    finishWriting();
    m_lateTimer.stop();
    if (!m_history || m_recordedId == 0)
        return;
    QList<QPair<qint64, QString>> names;
    if (!m_pendingNames.isEmpty()) {
        for (qsizetype row = 1; row <= m_recordedRows && row < m_table.Rows(); ++row) {
            const auto pending = m_pendingNames.constFind(m_table.cellText(row, 0));
            if (pending == m_pendingNames.cend())
                continue;
            const HistoryRow now = rowAt(row);
            if (now.nameKnown) {
                names.append({*pending, now.name});
                m_pendingNames.erase(pending);
            }
        }
    }
    const QList<HistoryRow> late = tableRows(m_recordedRows + 1);
    if (names.isEmpty() && late.isEmpty())
        return;
    if (!m_history->addLate(m_recordedId, names, late)) {
        turnOff(m_history->lastError());
        return;
    }
    for (qsizetype i = 0; i < late.size(); ++i) {
        if (!late[i].nameKnown && m_current.settings.Resolve_DNS)
            m_pendingNames.insert(late[i].address, m_recordedCount + i);
    }
    m_recordedCount += late.size();
    m_recordedRows = m_table.Rows() - 1;
}

bool ScanRecorder::isNew(const QString &address) const
{
    return m_previous && !m_previousAddresses.contains(address);
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
    HistoryRow out{m_table.cellText(row, 0), m_table.cellText(row, 1), m_table.cellText(row, 2)};
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
    // Rows the user deletes stay in the record; the late ones are found after the rest.
    const qsizetype recordedAmong =
        std::max<qsizetype>(0, std::min(firstRow + count, m_recordedRows + 1) - firstRow);
    m_recordedRows -= recordedAmong;
}
