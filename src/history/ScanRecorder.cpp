#include "history/ScanRecorder.h"

#include "app/GeneralDate.h"
#include "scan/components/DottedQuad.h"
#include "scan/components/ResultGrid.h"

#include <QDir>
#include <QEventLoop>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

// What the table shows while a name is being looked up.
const QString Resolving = u" resolving ..."_s;

// Rows listed meanwhile go to the history this often while a scan runs.
constexpr int BatchIntervalMs = 1000;
// A held file is tried again after a second, then less and less often.
constexpr int FirstRetryMs = 1000;
constexpr int LongestRetryMs = 16000;

// A scan of several ranges is known by them all, in the first field.
QString rangeName(const ScanRecord &scan)
{
    return scan.lastAddress.isEmpty() ? scan.firstAddress
                                      : scan.firstAddress + u" to "_s + scan.lastAddress;
}

QString scanName(const ScanRecord &scan)
{
    return u"the scan of %1 started %2"_s.arg(rangeName(scan), generalDate(scan.started));
}

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
    m_retryTimer.setSingleShot(true);
    // The timer may fire a little before the time it was set for.
    connect(&m_retryTimer, &QTimer::timeout, this, [this] {
        m_nextTry = QDeadlineTimer();
        writeAll();
    });
    connect(&m_table, &ResultGrid::rowsRemovedFromTable, this, &ScanRecorder::rowsRemoved);
}

ScanRecorder::~ScanRecorder()
{
    if (!m_running)
        flushLate();
}

void ScanRecorder::setPatience(int busyWaitMs, int giveUpMs)
{
    m_busyWaitMs = busyWaitMs;
    m_giveUpMs = giveUpMs;
    if (m_history)
        m_history->setBusyWait(busyWaitMs);
}

bool ScanRecorder::open(const QString &path, int keep, Mode mode)
{
    m_history.reset();
    m_writing = false;
    m_unavailable.clear();
    auto history = std::make_unique<ScanHistory>(keep);
    history->setBusyWait(m_busyWaitMs);
    if (mode == Mode::Record) {
        const ScanHistory::Opened opened = history->open(path);
        if (opened.ok) {
            m_history = std::move(history);
            m_writing = true;
            if (!opened.message.isEmpty())
                Q_EMIT problem(opened.message);
            return true;
        }
        const QString reason = history->lastError();
        // A comparison needs no more than reading.
        if (history->open(path, ScanHistory::Access::ReadOnly).ok) {
            m_history = std::move(history);
            Q_EMIT problem(
                u"Could not write the scan history \"%1\".\n%2\nScans are not "
                "recorded in it until Vantrel is started again; the earlier ones "
                "are still compared with."_s.arg(QDir::toNativeSeparators(path), reason));
            return true;
        }
        // Said once, here; a comparison only adds that it had nothing to go by.
        m_unavailable = u"The scan history could not be opened, so nothing was compared."_s;
        Q_EMIT problem(opened.message);
        return false;
    }
    const ScanHistory::Opened opened = history->open(path, ScanHistory::Access::ReadOnly);
    if (!opened.ok) {
        m_unavailable = opened.message;
        return false;
    }
    m_history = std::move(history);
    return true;
}

bool ScanRecorder::isRecording() const
{
    return m_history && m_writing;
}

void ScanRecorder::stopWriting(const QString &reason)
{
    if (!m_writing)
        return;
    m_writing = false;
    m_lost = m_lost || !m_setAside.isEmpty() || (m_recordCurrent && !currentWritten());
    m_setAside.clear();
    // A scan whose record is whole stays recorded; names that come later are not written.
    m_recordCurrent = m_recordCurrent && currentWritten();
    m_lateTimer.stop();
    m_batchTimer.stop();
    m_retryTimer.stop();
    m_pendingNames.clear();
    Q_EMIT problem(u"Could not write the scan history \"%1\".\n%2\nScans are not recorded in it "
                   "until Vantrel is started again; the earlier ones are still compared "
                   "with."_s.arg(QDir::toNativeSeparators(m_history->path()), reason));
}

void ScanRecorder::giveUp(const QString &reason)
{
    QStringList scans;
    for (const SetAside &aside : std::as_const(m_setAside))
        scans << scanName(aside.scan);
    if (m_recordCurrent && !currentWritten())
        scans << scanName(m_current);
    m_setAside.clear();
    m_recordCurrent = false;
    m_batchTimer.stop();
    m_pendingNames.clear();
    m_busySince.invalidate();
    m_busyFailures = 0;
    m_nextTry = QDeadlineTimer();
    m_retryTimer.stop();
    m_lost = true;
    Q_EMIT problem(u"The scan history \"%1\" was held by another program for %2 seconds (%3); "
                   "not recorded: %4."_s.arg(QDir::toNativeSeparators(m_history->path()),
                                             QString::number((m_giveUpMs + 999) / 1000), reason,
                                             scans.join(u"; "_s)));
}

bool ScanRecorder::failedWrite()
{
    if (!m_history->lastErrorWasBusy()) {
        stopWriting(m_history->lastError());
        return false;
    }
    if (!m_busySince.isValid())
        m_busySince.start();
    if (m_busySince.elapsed() >= m_giveUpMs) {
        giveUp(m_history->lastError());
        return false;
    }
    const int delay = std::min(FirstRetryMs << std::min(m_busyFailures, 4), LongestRetryMs);
    ++m_busyFailures;
    m_nextTry.setRemainingTime(delay);
    m_retryTimer.start(delay);
    return false;
}

bool ScanRecorder::backingOff() const
{
    return !m_nextTry.hasExpired();
}

void ScanRecorder::scanStarting(const QString &firstAddress, const QString &lastAddress,
                                const ScanSettings &settings)
{
    flushLate();
    if (m_recordCurrent && !currentWritten())
        setAsideCurrent();
    m_recordCurrent = false;
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
    m_previousError.clear();
    m_stoppedSkipped = 0;
    if (!m_history)
        return;
    // Its rows are read when the marks or a comparison first ask for them: a sweep from a
    // script that asks for neither pays nothing for them.
    m_previous = m_history->previous(firstAddress, lastAddress, settings.Reverse_Scan, 0, false);
    ScanRecord range = m_previous.value_or(m_current);
    m_stoppedSkipped = m_history->stoppedSince(range);
    if (!m_writing)
        return;
    m_recordCurrent = true;
    m_endWritten = false;
    m_batchTimer.start();
    writeBatch(); // the record begins now, or once the file is free
}

void ScanRecorder::scanEnded(bool completed)
{
    if (!m_running)
        return;
    m_running = false;
    m_batchTimer.stop();
    m_current.ended = QDateTime::currentDateTime();
    m_current.completed = completed;
    if (!m_recordCurrent)
        return;
    writeAll();
    m_lateTimer.start();
}

bool ScanRecorder::writeAll()
{
    return writeSetAside() && writeBatch() && writeEnd();
}

bool ScanRecorder::currentWritten() const
{
    return m_recordedId != 0 && m_endWritten && m_recordedRows >= m_table.Rows() - 1;
}

void ScanRecorder::setAsideCurrent()
{
    SetAside aside;
    aside.scan = m_current;
    aside.scan.id = m_recordedId;
    if (m_running || !aside.scan.ended.isValid()) {
        aside.scan.ended = QDateTime::currentDateTime();
        aside.scan.completed = false;
    }
    aside.scan.rows = tableRows(m_recordedRows + 1);
    aside.firstSeq = m_recordedCount;
    for (const PendingName &pending : m_pendingNames) {
        const HistoryRow now = rowAt(pending.row);
        if (now.address == pending.address && now.nameKnown)
            aside.names.append({pending.seq, now.name});
    }
    aside.endWritten = m_endWritten;
    m_setAside.append(std::move(aside));
}

bool ScanRecorder::writeSetAside()
{
    while (!m_setAside.isEmpty()) {
        if (!m_writing || backingOff())
            return false;
        SetAside &aside = m_setAside.first();
        if (aside.scan.id == 0 && (aside.scan.id = m_history->beginScan(aside.scan)) == 0)
            return failedWrite();
        if (!aside.scan.rows.isEmpty() || !aside.names.isEmpty()) {
            const QList<HistoryRow> &rows = aside.scan.rows;
            if (!m_history->appendRows(aside.scan.id, aside.firstSeq,
                                       std::span(rows.constData(), std::size_t(rows.size())),
                                       aside.names))
                return failedWrite();
            aside.firstSeq += rows.size();
            aside.scan.rows.clear();
            aside.names.clear();
        }
        if (!aside.endWritten &&
            !m_history->finishScan(aside.scan.id, aside.scan.ended, aside.scan.completed))
            return failedWrite();
        m_setAside.removeFirst();
        m_busySince.invalidate();
        m_busyFailures = 0;
    }
    return true;
}

bool ScanRecorder::writeEnd()
{
    if (!m_recordCurrent || m_endWritten || m_running)
        return true;
    // The end goes only after every row listed before it: a completed scan in the file has
    // its rows.
    if (!m_writing || m_recordedId == 0 || backingOff())
        return false;
    if (!m_history->finishScan(m_recordedId, m_current.ended, m_current.completed))
        return failedWrite();
    m_endWritten = true;
    return true;
}

bool ScanRecorder::writeBatch()
{
    if (!m_recordCurrent)
        return true;
    if (!m_writing || backingOff())
        return false;
    if (m_recordedId == 0 && (m_recordedId = m_history->beginScan(m_current)) == 0)
        return failedWrite();
    QList<QPair<qint64, QString>> names;
    std::vector<std::size_t> answered;
    for (std::size_t i = 0; i < m_pendingNames.size(); ++i) {
        const PendingName &pending = m_pendingNames[i];
        if (m_table.cellText(pending.row, 0) != pending.address ||
            m_table.cellText(pending.row, 2) == Resolving)
            continue;
        // A failed lookup leaves the name unknown: the host may still have the one it had.
        const HistoryRow now = rowAt(pending.row);
        if (now.nameKnown)
            names.append({pending.seq, now.name});
        answered.push_back(i);
    }
    // Rows still waiting for their hardware address are written with a later batch.
    qsizetype upTo = m_table.Rows();
    if (m_running && m_rowReady) {
        for (qsizetype row = m_recordedRows + 1; row < upTo; ++row) {
            if (!m_rowReady(row)) {
                upTo = row;
                break;
            }
        }
    }
    const QList<HistoryRow> rows = tableRows(m_recordedRows + 1, upTo);
    if (rows.isEmpty() && names.isEmpty()) {
        for (auto i = answered.rbegin(); i != answered.rend(); ++i)
            m_pendingNames.erase(m_pendingNames.begin() + std::ptrdiff_t(*i));
        return true;
    }
    // Held by another program: the same rows and names go with the next write.
    if (!m_history->appendRows(m_recordedId, m_recordedCount,
                               std::span(rows.constData(), std::size_t(rows.size())), names))
        return failedWrite();
    m_busySince.invalidate();
    m_busyFailures = 0;
    for (auto i = answered.rbegin(); i != answered.rend(); ++i)
        m_pendingNames.erase(m_pendingNames.begin() + std::ptrdiff_t(*i));
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (m_current.settings.Resolve_DNS &&
            m_table.cellText(m_recordedRows + 1 + i, 2) == Resolving)
            m_pendingNames.push_back(
                {m_recordedRows + 1 + i, m_recordedCount + i, rows[i].address});
    }
    m_recordedCount += rows.size();
    m_recordedRows = upTo - 1;
    return true;
}

void ScanRecorder::flushLate()
{
    m_lateTimer.stop();
    writeAll();
}

bool ScanRecorder::finishRecording()
{
    flushLate();
    // A write that found the file held is tried again by the retry timer: wait for it.
    QEventLoop loop;
    connect(&m_retryTimer, &QTimer::timeout, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    while (m_retryTimer.isActive())
        loop.exec();

    return m_recordCurrent && currentWritten() && m_setAside.isEmpty() && !m_lost;
}

const std::optional<ScanRecord> &ScanRecorder::previousScan() const
{
    if (m_previous && !m_previousRowsRead && m_history) {
        m_previousRowsRead = true;
        std::optional<ScanRecord> whole = m_history->load(m_previous->id);
        if (!whole) {
            // Without its rows it would make every address new.
            m_previousError = m_history->lastError();
            m_previous.reset();
            return m_previous;
        }
        // Names matter only to a scan that looks them up.
        if (m_current.settings.Resolve_DNS)
            m_history->fillUnknownNames(*whole);
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

std::optional<ScanComparison::Report> ScanRecorder::compare(const ScanComparison::Part &part,
                                                            bool running) const
{
    const std::optional<ScanRecord> &then = previousScan();
    if (!then)
        return std::nullopt;
    return ScanComparison::report(*then, currentScan(), m_stoppedSkipped, part, running);
}

QString ScanRecorder::noComparison() const
{
    if (!m_history)
        return m_unavailable;
    if (!m_previousError.isEmpty())
        return u"The earlier scan could not be read: %1"_s.arg(m_previousError);
    QString text = u"No earlier completed scan of %1 (%2) to compare with."_s.arg(
        rangeName(m_current), m_current.inverted ? u"inverted"_s : u"normal"_s);
    if (m_stoppedSkipped == 1)
        text += u" A stopped scan of it is not compared with."_s;
    else if (m_stoppedSkipped > 1)
        text += u" %1 stopped scans of it are not compared with."_s.arg(m_stoppedSkipped);
    return text;
}

HistoryRow ScanRecorder::rowAt(qsizetype row) const
{
    HistoryRow out{m_table.cellText(row, 0), m_table.cellText(row, 1),
                   m_table.cellText(row, 2), true,
                   m_table.cellText(row, 3), m_table.cellText(row, 4)};
    // Neither a lookup under way nor one that failed gives a name.
    const ResultGrid::Kind kind = m_table.cellKind(row, 2);
    out.nameKnown = m_current.settings.Resolve_DNS && out.name != Resolving &&
                    kind != ResultGrid::Kind::Resolving && kind != ResultGrid::Kind::LookupFailure;
    if (!out.nameKnown)
        out.name.clear();
    return out;
}

QList<HistoryRow> ScanRecorder::tableRows(qsizetype from, qsizetype upTo) const
{
    QList<HistoryRow> rows;
    const qsizetype count = std::min(upTo, m_table.Rows());
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
