#include "scan/ScanEngine.h"

#include "scan/ScanView.h"
#include "scan/components/DottedQuad.h"
#include "scan/components/EchoControl.h"
#include "scan/components/LookupControl.h"
#include "scan/components/NeighbourControl.h"
#include "scan/components/ResultGrid.h"
#include "scan/components/VendorRegistry.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

using namespace IP_Functions;

namespace {

const QString WaitingOnDns = QStringLiteral("Waiting on DNS ...");
const QString WaitingOnReplies = QStringLiteral("Waiting on replies ...");
const QString ScanCompleted = QStringLiteral("Scan Completed");
constexpr int LookupHeadroom = 10;
// After a stall the walk catches up at no more than twice its pace, never in one burst.
constexpr std::int64_t CatchUpFactor = 2;
constexpr std::int64_t NsPerSecond = 1'000'000'000;
// Columns of the hardware address and its maker, after address, time and name.
constexpr int HardwareColumn = 3;
constexpr int VendorColumn = 4;
// An entry the kernel found stale is confirmed by its own probe a few seconds after the
// request (delay_first_probe_time 5 s, then probes a second apart): asked again until then.
constexpr std::int64_t ArpVerifyNs = 9 * NsPerSecond;
constexpr int ArpRecheckMs = 500;

// A percentage bar holds a whole number 0..100; halves go to the even neighbour.
int wholePercent(double value)
{
    if (!std::isfinite(value))
        return -1;
    return static_cast<int>(std::clamp(roundHalfEven(value), 0.0, 100.0));
}

} // namespace

ScanEngine::ScanEngine(EchoControl &echo, LookupControl &lookup, ResultGrid &table, ScanView &view,
                       QObject *parent)
    : QObject(parent)
    , m_echo(echo)
    , m_lookup(lookup)
    , m_table(table)
    , m_view(view)
    , m_clock([] {
        return std::int64_t{std::chrono::duration_cast<std::chrono::nanoseconds>(
                                std::chrono::steady_clock::now().time_since_epoch())
                                .count()};
    })
{
    // Delays down to 1 ms must hold: a coarse timer would slip by up to 5 %.
    m_pingTimer.setTimerType(Qt::PreciseTimer);
    m_pingTimer.setInterval(250);
    connect(&m_pingTimer, &QTimer::timeout, this, &ScanEngine::PING_Timer_Timer);
    connect(&m_echo, &EchoControl::EchoReply, this, &ScanEngine::ICMP_EchoReply);
    connect(&m_lookup, &LookupControl::LookupAnswer, this, &ScanEngine::DNS_LookupAnswer);
    connect(&m_table, &ResultGrid::rowsRemovedFromTable, this, &ScanEngine::forgetRows);
    m_arpRecheckTimer.setSingleShot(true);
    m_arpRecheckTimer.setInterval(ArpRecheckMs);
    connect(&m_arpRecheckTimer, &QTimer::timeout, this, &ScanEngine::askAgain);
    // Held lookups start after the answer that made room has been delivered: the control
    // still counts that one while its handler runs.
    m_heldLookupTimer.setSingleShot(true);
    m_heldLookupTimer.setInterval(0);
    connect(&m_heldLookupTimer, &QTimer::timeout, this, &ScanEngine::startHeldLookups);
}

void ScanEngine::setNeighbours(NeighbourControl *neighbours, VendorOf vendorOf)
{
    if (m_neighbours)
        disconnect(m_neighbours, nullptr, this, nullptr);
    m_neighbours = neighbours;
    m_vendorOf = std::move(vendorOf);
    if (!m_vendorOf) {
        // The registries are read when the first maker is needed, not at start-up.
        m_vendorOf = [](const HardwareAddress &address) {
            return VendorRegistry::shared().vendorOf(address);
        };
    }
    if (m_neighbours)
        connect(m_neighbours, &NeighbourControl::answered, this, &ScanEngine::neighbourAnswered);
}

bool ScanEngine::hardwarePending(const QString &address) const
{
    return !m_hardwarePending.isEmpty() && m_hardwarePending.contains(rowKey(address));
}

QString ScanEngine::NoEchoReply()
{
    return QStringLiteral("No echo reply");
}

void ScanEngine::setInter_Ping_Delay(int milliseconds)
{
    m_delayMs = std::max(1, milliseconds);
    if (m_addressRate == 0)
        m_pingTimer.setInterval(m_delayMs);
    restartPacing();
}

void ScanEngine::setAddressRate(int perSecond)
{
    m_addressRate = std::max(0, perSecond);
    // Two ticks per address keep each within half a period of its time; the timer ticks at
    // most once a millisecond, so faster rates hand out a batch per tick.
    m_pingTimer.setInterval(m_addressRate > 0 ? std::max(1, 500 / m_addressRate) : m_delayMs);
    restartPacing();
}

QString ScanEngine::requestTag(std::int64_t scanNumber, const QString &address,
                               std::int64_t attempt)
{
    return QString::number(scanNumber) + u':' + address + u';' + QString::number(attempt);
}

void ScanEngine::Scan_Button_Click()
{
    if (m_running)
        scanStop(false);
    else
        scanStart();
}

void ScanEngine::scanStart()
{
    const QString startText = m_view.startingText();
    const QString endText = m_view.endingText();
    if (!Is_Valid_Address(startText)) {
        m_view.refuseStart(QStringLiteral("The starting address is not a valid IP address !"),
                           ScanView::Box::Starting);
        return;
    }
    if (!Is_Valid_Address(endText)) {
        m_view.refuseStart(QStringLiteral("The ending address is not a valid IP address !"),
                           ScanView::Box::Ending);
        return;
    }
    const AddressNumber start = Address_To_Number(startText);
    const AddressNumber end = Address_To_Number(endText);
    const std::int64_t span = Address_Span_Of(start, end);
    if (span < 0) {
        m_view.refuseStart(
            QStringLiteral("You starting address is greater than your ending address !"),
            ScanView::Box::Starting);
        return;
    }
    // Without an ICMP socket a normal scan would list nothing and an inverted one every
    // address: say why and how to fix it instead.
    if (!m_echo.isAvailable()) {
        m_view.refuseStart(m_echo.unavailableReason(), ScanView::Box::Starting);
        return;
    }

    m_state.Start_Address = start;
    m_state.End_Address = end;
    m_state.Address_Span = span;
    m_piece = 0;
    if (!m_pieces.empty()) {
        m_state.Start_Address = m_pieces.front().first;
        m_state.End_Address = m_pieces.back().second;
        m_state.Address_Span = -1;
        for (const Piece &piece : m_pieces)
            m_state.Address_Span += Address_Span_Of(piece.first, piece.second) + 1;
    }
    Q_EMIT scanStarting();
    m_table.setRows(1); // the grid's removal signal empties the index of listed rows
    m_view.showScanLayout();
    m_view.setIcmpPercent(0);
    m_view.setDnsPercent(100);

    ++m_state.Scan_Number;
    m_state.Lookups_Started = 0;
    m_lookupsOutstanding = 0;
    m_echoesOutstanding = 0;
    m_allHandedOut = false;
    m_heldRequests.clear();
    m_heldLookups.clear();
    m_neighboursOutstanding = 0;
    m_firstSent.clear();
    m_arpChecks.clear();
    m_hardwarePending.clear();
    m_arpRechecks.clear();
    m_arpRecheckTimer.stop();
    m_recordFirstSent = m_neighbours && (Reverse_Scan || listArpOnly);
    m_requestsSent = 0;
    m_slotWaits = {};
    m_walkWaitingSince = -1;
    m_state.Sent_Count = 0;
    m_state.Current_Address = m_state.Start_Address;
    m_unsettled.assign(1, {std::uint32_t(m_state.Current_Address), false});
    m_settledCount = 0;
    sendRequest(Number_To_Address(m_state.Current_Address), 1);

    m_running = true;
    m_view.showRunning(true);
    m_pingTimer.start();
    restartPacing();
}

void ScanEngine::scanStop(bool completed)
{
    m_running = false;
    walkWaits(false);
    // A stop sends nothing more: requests still waiting for room are dropped.
    m_heldRequests.clear();
    m_view.showRunning(false);
    m_pingTimer.stop();
    m_view.beep();
    if (m_view.isMinimized())
        m_view.setWindowCaption(QStringLiteral("Vantrel : Scan Completed"));
    Q_EMIT scanEnded(completed);
}

void ScanEngine::sendRequest(const QString &address, std::int64_t attempt)
{
    // A waiting send elsewhere may have left the control synchronous; a scan request must
    // never block the window.
    m_echo.setEchoAsync(true);
    m_echo.setEchoTag(requestTag(m_state.Scan_Number, address, attempt));
    ++m_echoesOutstanding;
    if (m_recordFirstSent && attempt == 1)
        m_firstSent.emplace(rowKey(address), m_clock());
    ++m_requestsSent;
    m_echo.SendEcho(address);
}

bool ScanEngine::echoHasRoom() const
{
    return m_echo.EchoesPending() < m_echo.EchoCapacity();
}

bool ScanEngine::lookupHasRoom() const
{
    return m_heldLookups.empty() &&
           m_lookup.LookupCapacity() - m_lookup.LookupsPending() >= LookupHeadroom;
}

void ScanEngine::sendOrHold(const QString &address, std::int64_t attempt)
{
    if (m_heldRequests.empty() && echoHasRoom()) {
        sendRequest(address, attempt);
        return;
    }
    m_heldRequests.push_back({address, attempt});
    ++m_slotWaits.count;
}

void ScanEngine::sendHeld()
{
    while (!m_heldRequests.empty() && echoHasRoom()) {
        const HeldRequest held = std::move(m_heldRequests.front());
        m_heldRequests.pop_front();
        sendRequest(held.address, held.attempt);
    }
}

void ScanEngine::walkWaits(bool waiting)
{
    if (waiting && m_walkWaitingSince < 0) {
        m_walkWaitingSince = m_clock();
        ++m_slotWaits.count;
    } else if (!waiting && m_walkWaitingSince >= 0) {
        m_slotWaits.walkPausedNs += m_clock() - m_walkWaitingSince;
        m_walkWaitingSince = -1;
    }
}

void ScanEngine::completeIfDone()
{
    if (!m_allHandedOut)
        return;
    const bool echoesToCome = m_echoesOutstanding > 0 || !m_heldRequests.empty();
    if (echoesToCome || m_lookupsOutstanding > 0 || m_neighboursOutstanding > 0 ||
        !m_arpRechecks.empty()) {
        if (m_running)
            m_view.setIpStatus(echoesToCome ? WaitingOnReplies : WaitingOnDns);
        return;
    }
    m_view.setIpStatus(ScanCompleted);
    if (m_running)
        scanStop(true);
}

void ScanEngine::PING_Timer_Timer()
{
    sendHeld();
    if (!lookupHasRoom()) {
        m_view.setIpStatus(WaitingOnDns);
        restartPacing();
        return;
    }
    // The timer drops intervals it could not keep; a late tick hands out what fell due
    // meanwhile, at most twice the tick's share, so the pace holds on a busy machine.
    const std::int64_t interval = std::int64_t{m_pingTimer.interval()} * 1'000'000;
    const std::int64_t elapsed = m_clock() - m_pacingStart;
    const std::int64_t handedOut = m_state.Sent_Count - m_pacingBase;
    std::int64_t due = 0;
    std::int64_t perSecond = 0;
    std::int64_t mostPerTick = CatchUpFactor;
    if (m_addressRate > 0) {
        // Ticks and the rate do not divide evenly: a tick may owe nothing yet.
        perSecond = m_addressRate;
        due = elapsed * m_addressRate / NsPerSecond - handedOut;
        mostPerTick =
            std::max<std::int64_t>(1, CatchUpFactor * m_addressRate * interval / NsPerSecond);
    } else {
        perSecond = std::max<std::int64_t>(1, NsPerSecond / interval);
        due = std::max<std::int64_t>(1, elapsed / interval - handedOut);
    }
    // More than a second behind (a stopped process, a suspended laptop): the rest is let go.
    if (due > perSecond) {
        m_pacingBase -= due - perSecond;
        due = perSecond;
    }
    const std::int64_t batch = std::clamp<std::int64_t>(due, 0, mostPerTick);
    for (std::int64_t i = 0; i < batch && m_pingTimer.isActive(); ++i) {
        // A full request table holds the walk, never turns an address into a miss.
        if (!m_heldRequests.empty() || !echoHasRoom()) {
            walkWaits(true);
            m_view.setIpStatus(WaitingOnReplies);
            restartPacing();
            return;
        }
        if (!lookupHasRoom()) {
            m_view.setIpStatus(WaitingOnDns);
            restartPacing();
            return;
        }
        walkWaits(false);
        handOutNextAddress();
    }
}

void ScanEngine::restartPacing()
{
    m_pacingStart = m_clock();
    m_pacingBase = m_state.Sent_Count;
}

void ScanEngine::handOutNextAddress()
{
    if (m_piece + 1 < m_pieces.size() && m_state.Current_Address == m_pieces[m_piece].second)
        m_state.Current_Address = m_pieces[++m_piece].first;
    else
        m_state.Current_Address = Next_Address(m_state.Current_Address);
    ++m_state.Sent_Count;
    if (m_state.Sent_Count <= m_state.Address_Span) {
        const QString address = Number_To_Address(m_state.Current_Address);
        m_unsettled.push_back({std::uint32_t(m_state.Current_Address), false});
        sendRequest(address, 1);
        m_view.setIpStatus(address);
        const float percent = static_cast<float>(m_state.Sent_Count) /
                              static_cast<float>(m_state.Address_Span) * 100.0f;
        m_view.setIcmpPercent(wholePercent(percent));
        return;
    }
    m_allHandedOut = true;
    walkWaits(false);
    m_pingTimer.stop();
    completeIfDone();
}

void ScanEngine::ICMP_EchoReply(const QString &HostAddress, std::int16_t RoundTripMs,
                                std::int16_t ReplyStatus, const QString &Tag)
{
    // Every report frees a place in the echo control's table.
    if (m_running)
        sendHeld();
    if (Tag == u"Interactive")
        return;
    if (Leading_Number(Tag) != m_state.Scan_Number)
        return;
    // "scan:address;attempt", read in place: this runs for every reply of a sweep.
    const QStringView tag(Tag);
    const qsizetype colon = tag.indexOf(u':');
    QStringView addressInTag = colon < 0 ? QStringView() : tag.sliced(colon + 1);
    const qsizetype attemptAt = addressInTag.indexOf(u';');
    const std::int64_t attempt =
        attemptAt < 0 ? 0 : Leading_Number(addressInTag.sliced(attemptAt + 1));
    if (attemptAt >= 0)
        addressInTag.truncate(attemptAt);
    // The reply's own text where it is the same, so the row shares it.
    const QString address = HostAddress == addressInTag ? HostAddress : addressInTag.toString();

    if (m_echoesOutstanding > 0)
        --m_echoesOutstanding;
    // Requests abandoned at close say nothing about the host: neither retry nor list them,
    // and a scan cut short this way has not completed.
    if (ReplyStatus == EchoControl::Cancelled)
        return;
    // Refused for want of room, the request was never sent: it waits and goes out as it was.
    if (ReplyStatus == EchoControl::TooManyOutstanding) {
        if (m_running && attemptAt >= 0)
            sendOrHold(address, attempt);
        completeIfDone();
        return;
    }

    const bool answered = ReplyStatus == 0;
    if (!answered && !Reverse_Scan) {
        const bool retry = attempt < Pings_per_Node && attemptAt >= 0;
        if (retry)
            sendOrHold(address, attempt + 1);
        else
            settle(address);
        if (!retry && m_recordFirstSent) {
            // Every request failed: the neighbour table tells whether the host answered ARP.
            const std::int64_t key = rowKey(address);
            const std::int64_t since = takeFirstSent(key);
            if (listArpOnly && since >= 0 && !m_listedRows.contains(key) &&
                !m_arpChecks.contains(key)) {
                m_arpChecks.insert(key, {HostAddress, since});
                askNeighbour(key, since);
            }
        }
        completeIfDone();
        return;
    }
    settle(address);

    const bool wanted = answered != Reverse_Scan;
    if (wanted) {
        m_table.setRedraw(false);
        // A second qualifying reply for a listed address adds nothing; its first time stays.
        const std::int64_t key = rowKey(address);
        const bool duplicate = Pings_per_Node > 1 && m_listedRows.contains(key);
        if (!duplicate) {
            appendRow(address, HostAddress, RoundTripMs, answered);
            // A failed request proves nothing by itself: only an entry the host confirmed
            // after this scan's request shows its hardware address.
            const std::int64_t sent = m_recordFirstSent ? takeFirstSent(key) : -1;
            const std::int64_t since = answered ? -1 : sent;
            if ((answered || since >= 0) && askNeighbour(key, since)) {
                m_hardwarePending.insert(key);
                if (!answered)
                    m_arpChecks.insert(key, {HostAddress, since, false});
            } else
                Q_EMIT hardwareAnswered(m_table.Rows() - 1);
        }
    } else if (m_recordFirstSent) {
        takeFirstSent(rowKey(address));
    }
    m_view.setNodeCount(m_table.Rows() - 1);
    if (!m_table.Redraw())
        m_table.setRedraw(true);
    completeIfDone();
}

void ScanEngine::appendRow(const QString &address, const QString &hostAddress,
                           std::int16_t roundTripMs, bool answered, const QString *failure)
{
    m_table.setRows(m_table.Rows() + 1);
    const qsizetype row = m_table.Rows() - 1;
    m_table.setRow(row);
    m_table.setCol(0);
    m_table.setText(address);
    m_listedRows.insert(rowKey(address), row);
    m_table.setCol(1);
    if (answered) {
        m_table.setCellKind(ResultGrid::Kind::Time);
        m_table.setText(roundTripText(roundTripMs));
    } else {
        m_table.setCellKind(ResultGrid::Kind::Failure);
        m_table.setText(failure ? *failure : m_echo.EchoErrorText());
    }
    if (Resolve_DNS) {
        m_table.setCol(2);
        m_table.setCellKind(ResultGrid::Kind::Resolving);
        m_table.setText(QStringLiteral(" resolving ..."));
        ++m_state.Lookups_Started;
        ++m_lookupsOutstanding;
        // A full lookup control would refuse the lookup: it waits for room instead.
        if (m_heldLookups.empty() && m_lookup.LookupsPending() < m_lookup.LookupCapacity()) {
            m_lookup.setLookupTag(QString::number(m_state.Scan_Number) + u':' +
                                  QString::number(row));
            m_lookup.StartLookup(hostAddress);
        } else {
            m_heldLookups.push_back({address, hostAddress});
        }
        updateDnsPercent();
    }
    if (m_view.isMinimized())
        m_view.setWindowCaption(QStringLiteral("Vantrel : ") + QString::number(row));
    Q_EMIT rowListed(row, answered ? m_echo.EchoRoundTripNs() : -1);
}

void ScanEngine::settle(QStringView address)
{
    const auto number = parseDottedQuad(address);
    if (!number)
        return;
    // Addresses go out in ascending order, so those settled from the start on are a count;
    // the ones after the first still open wait in a window as long as the replies in flight.
    const auto at =
        std::lower_bound(m_unsettled.begin(), m_unsettled.end(), *number,
                         [](const Unsettled &u, std::uint32_t n) { return u.address < n; });
    if (at == m_unsettled.end() || at->address != *number)
        return;
    at->settled = true;
    while (!m_unsettled.empty() && m_unsettled.front().settled) {
        m_lastSettled = m_unsettled.front().address;
        m_unsettled.pop_front();
        ++m_settledCount;
    }
}

std::int64_t ScanEngine::takeFirstSent(std::int64_t key)
{
    const auto found = m_firstSent.constFind(key);
    if (found == m_firstSent.cend())
        return -1;
    const std::int64_t sent = *found;
    m_firstSent.erase(found);
    return sent;
}

bool ScanEngine::askNeighbour(std::int64_t key, std::int64_t sinceNs)
{
    if (key < 0 || !m_neighbours)
        return false;
    ++m_neighboursOutstanding;
    m_neighbours->lookup(std::uint32_t(key),
                         sinceNs < 0 ? std::numeric_limits<std::int64_t>::min() : sinceNs,
                         m_state.Scan_Number);
    return true;
}

void ScanEngine::neighbourAnswered(const NeighbourAnswer &answer, std::int64_t tag)
{
    if (tag != m_state.Scan_Number)
        return;
    if (m_neighboursOutstanding > 0)
        --m_neighboursOutstanding;
    const std::int64_t key = answer.address;
    qsizetype row = m_listedRows.value(key, -1);
    if (const auto check = m_arpChecks.constFind(key); check != m_arpChecks.cend()) {
        const ArpCheck asked = *check;
        const bool confirmed = answer.hardware && answer.confirmedSince;
        const bool undecided = !asked.listIfConfirmed || row < 0;
        if (undecided && !confirmed && answer.verifying &&
            m_clock() - asked.sinceNs < ArpVerifyNs) {
            m_arpRechecks.push_back(key);
            if (!m_arpRecheckTimer.isActive())
                m_arpRecheckTimer.start();
            return;
        }
        m_arpChecks.erase(check);
        // Listed meanwhile (a late reply) or not confirmed since the request: nothing to add.
        if (asked.listIfConfirmed && row < 0 && confirmed) {
            const QString address = Number_To_Address(AddressNumber(answer.address));
            const QString noEcho = NoEchoReply();
            appendRow(address, asked.hostAddress, 0, false, &noEcho);
            m_view.setNodeCount(m_table.Rows() - 1);
            row = m_table.Rows() - 1;
        } else if (asked.listIfConfirmed) {
            row = -1;
        }
    }
    m_hardwarePending.remove(key);
    if (row > 0 && answer.hardware) {
        const bool failed = m_table.cellKind(row, 1) == ResultGrid::Kind::Failure;
        if (!failed || answer.confirmedSince) {
            m_table.setRow(row);
            m_table.setCol(HardwareColumn);
            m_table.setText(answer.hardware->text());
            m_table.setCol(VendorColumn);
            m_table.setText(m_vendorOf(*answer.hardware));
        }
    }
    if (row > 0)
        Q_EMIT hardwareAnswered(row);
    completeIfDone();
}

void ScanEngine::askAgain()
{
    for (const std::int64_t key : std::exchange(m_arpRechecks, {})) {
        if (const auto check = m_arpChecks.constFind(key); check != m_arpChecks.cend())
            askNeighbour(key, check->sinceNs);
    }
    completeIfDone();
}

// Listed rows are indexed by address number, which costs a fraction of the text; a text
// that is no address (never from the echo control) keeps a key no address has.
std::int64_t ScanEngine::rowKey(QStringView address)
{
    const auto number = parseDottedQuad(address);
    return number ? std::int64_t(*number) : -1;
}

const QString &ScanEngine::roundTripText(std::int16_t milliseconds)
{
    // Rows share the few texts a sweep's times take, instead of a string each.
    const std::size_t at = std::size_t(std::uint16_t(milliseconds));
    if (at >= m_roundTripTexts.size())
        m_roundTripTexts.resize(at + 1);
    QString &text = m_roundTripTexts[at];
    if (text.isNull())
        text = QString::number(milliseconds) + QStringLiteral(" ms");
    return text;
}

void ScanEngine::updateDnsPercent()
{
    // This scan's own count: lookups of an earlier scan still pending in the control say
    // nothing about this one.
    if (m_state.Lookups_Started == 0)
        return;
    const int percent =
        wholePercent(static_cast<double>(m_state.Lookups_Started - m_lookupsOutstanding) /
                     static_cast<double>(m_state.Lookups_Started) * 100.0);
    if (percent < 0)
        return;
    m_view.setDnsPercent(percent);
}

void ScanEngine::DNS_LookupAnswer(const QString &LookupResult, const QString &HostAddress,
                                  int Status, const QString &Tag, int /*ElapsedMs*/)
{
    if (Leading_Number(Tag) != m_state.Scan_Number)
        return;
    if (m_lookupsOutstanding > 0)
        --m_lookupsOutstanding;
    updateDnsPercent();

    const qsizetype row = rowOfLookup(Tag, HostAddress);
    if (row > 0) {
        m_table.setRow(row);
        m_table.setCol(2);
        m_table.setCellKind(ResultGrid::Kind::Name);
        m_table.setText(LookupResult);
        // Shown alike, but a reader of the table must not take the text for a name: the
        // host may well still have the one it had.
        if (Status != LookupControl::Found && Status != LookupControl::NoName)
            m_table.setCellKind(ResultGrid::Kind::LookupFailure);
        Q_EMIT nameAnswered(row, Status);
    }
    if (!m_heldLookups.empty())
        m_heldLookupTimer.start();
    completeIfDone();
}

void ScanEngine::startHeldLookups()
{
    while (!m_heldLookups.empty() && m_lookup.LookupsPending() < m_lookup.LookupCapacity()) {
        const HeldLookup held = std::move(m_heldLookups.front());
        m_heldLookups.pop_front();
        // The row may have moved up, or been deleted, since it was listed.
        const qsizetype row = m_listedRows.value(rowKey(held.address), -1);
        if (row < 1) {
            if (m_lookupsOutstanding > 0)
                --m_lookupsOutstanding;
            updateDnsPercent();
            continue;
        }
        m_lookup.setLookupTag(QString::number(m_state.Scan_Number) + u':' + QString::number(row));
        m_lookup.StartLookup(held.hostAddress);
    }
    completeIfDone();
}

qsizetype ScanEngine::rowOfLookup(const QString &tag, const QString &hostAddress) const
{
    // The tag names the row the lookup was started for; rows deleted since then move the
    // address up, so the row is checked against the address and found again if it moved.
    const qsizetype colon = tag.indexOf(u':');
    const std::int64_t tagged = colon < 0 ? 0 : Leading_Number(tag.mid(colon + 1));
    if (tagged >= 1 && tagged < m_table.Rows() &&
        m_table.cellText(static_cast<qsizetype>(tagged), 0) == hostAddress)
        return static_cast<qsizetype>(tagged);
    return m_listedRows.value(rowKey(hostAddress), -1);
}

void ScanEngine::forgetRows(qsizetype firstRow, qsizetype count)
{
    if (m_table.Rows() <= 1) {
        m_listedRows.clear();
        return;
    }
    for (auto it = m_listedRows.begin(); it != m_listedRows.end();) {
        if (it.value() >= firstRow + count) {
            it.value() -= count;
            ++it;
        } else if (it.value() >= firstRow) {
            it = m_listedRows.erase(it);
        } else {
            ++it;
        }
    }
}
