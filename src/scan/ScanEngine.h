#pragma once

#include "scan/IP_Functions.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <functional>
#include <utility>
#include <vector>

class EchoControl;
class LookupControl;
class NeighbourControl;
struct HardwareAddress;
struct NeighbourAnswer;
class ResultGrid;
class ScanView;

// The scan: a timer-paced walk over an address range, one echo request per tick, replies
// turned into result rows and reverse lookups written into them. Its four procedures
// (Scan_Button_Click, PING_Timer_Timer, ICMP_EchoReply, DNS_LookupAnswer) talk only
// through the scan state below.
class ScanEngine : public QObject
{
    Q_OBJECT
public:
    ScanEngine(EchoControl &echo, LookupControl &lookup, ResultGrid &table, ScanView &view,
               QObject *parent = nullptr);

    // Scan settings that live here; the time-out and TTL live in the echo control and the
    // delay is the interval of PING_Timer.
    std::int16_t Pings_per_Node = 2;
    bool Resolve_DNS = true;
    bool Reverse_Scan = false;
    // A normal scan also lists hosts on a directly connected network that answered ARP for
    // this scan's request but not the echo ("No echo reply"). Needs the neighbour table.
    bool listArpOnly = false;

    // Hardware addresses and their makers for listed hosts, written into columns 3 and 4
    // of tables that have them. `vendorOf` names the maker (by default the IEEE
    // registries). Without a neighbour control (the default) those columns stay empty.
    using VendorOf = std::function<QString(const HardwareAddress &)>;
    void setNeighbours(NeighbourControl *neighbours, VendorOf vendorOf = {});
    static QString NoEchoReply();
    // The neighbour table has yet to answer for this listed address: its hardware cells may
    // still change.
    bool hardwarePending(const QString &address) const;

    QTimer &PING_Timer() { return m_pingTimer; }
    int Inter_Ping_Delay() const { return m_delayMs; }
    // Never lets an interval of 0 reach the timer: that would spin the event loop.
    void setInter_Ping_Delay(int milliseconds);

    // Addresses per second, handed out evenly and several per tick where the timer cannot
    // tick that fast; overrides the delay while above 0. For sweeps run without a window,
    // which has no such setting.
    void setAddressRate(int perSecond);
    int addressRate() const { return m_addressRate; }

    // Several ranges swept as one scan, in this order (ascending, apart); empty: the range
    // of the two boxes, which then hold the first and the last address of them all. For
    // the scanner without a window; the window has one range.
    using Piece = std::pair<IP_Functions::AddressNumber, IP_Functions::AddressNumber>;
    void setPieces(std::vector<Piece> pieces) { m_pieces = std::move(pieces); }

    // The monotonic clock the pacing reads, in nanoseconds; tests hand in their own.
    using Clock = std::function<std::int64_t()>;
    void setPacingClock(Clock clock) { m_clock = std::move(clock); }

    // The fields through which the four procedures talk. The counters and the span are
    // whole numbers: they stay exact for any range of the address space.
    struct ScanState
    {
        IP_Functions::AddressNumber Start_Address = 0;
        IP_Functions::AddressNumber End_Address = 0;
        IP_Functions::AddressNumber Current_Address = 0; // the last one handed to the echo
        std::int64_t Address_Span = 0;                   // addresses in the range minus one
        std::int64_t Sent_Count = 0;      // handed out by the timer; the first is not counted
        std::int64_t Lookups_Started = 0; // this scan's lookups
        std::int64_t Scan_Number = 0;     // leads every request and lookup tag
    };
    const ScanState &state() const { return m_state; }

    bool isRunning() const { return m_running; }

    // How many addresses from the start of the scan have their outcome, listed or not: each
    // answered, failed its last attempt or was listed as failing; and the last of them (when
    // there is one). The rest are in flight or not sent yet; after a stop some never will
    // be. A completed scan has them all.
    std::int64_t settledCount() const { return m_settledCount; }
    std::uint32_t lastSettled() const { return m_lastSettled; }

    // How often this scan found the echo control's request table full and waited for a
    // free place (the walk paused, or a retry was held back), and how long the walk stood.
    // A request that waits is not an attempt: it is sent, as it was, once there is room.
    struct SlotWaits
    {
        std::int64_t count = 0;
        std::int64_t walkPausedNs = 0;
    };
    SlotWaits slotWaits() const { return m_slotWaits; }
    // Echo requests this scan has sent, retries included.
    std::int64_t requestsSent() const { return m_requestsSent; }

    // Start when idle, stop when running.
    void Scan_Button_Click();
    void PING_Timer_Timer();
    void ICMP_EchoReply(const QString &HostAddress, std::int16_t RoundTripMs,
                        std::int16_t ReplyStatus, const QString &Tag);
    void DNS_LookupAnswer(const QString &LookupResult, const QString &HostAddress, int Status,
                          const QString &Tag, int ElapsedMs);
    void neighbourAnswered(const NeighbourAnswer &answer, std::int64_t tag);

    static QString requestTag(std::int64_t scanNumber, const QString &address,
                              std::int64_t attempt);

    // The range of the current or last scan.
    IP_Functions::AddressNumber startAddress() const { return m_state.Start_Address; }
    IP_Functions::AddressNumber endAddress() const { return m_state.End_Address; }

Q_SIGNALS:
    // A scan passed its checks and is about to clear the table for its rows.
    void scanStarting();
    // The scan has ended: completed (every address sent, every request of the scan answered
    // or failed, every lookup answered) or stopped by the user. Late replies of a stopped
    // scan may still add rows afterwards.
    void scanEnded(bool completed);
    // A row was listed: its table row and, for an answer, the round trip in nanoseconds as
    // the echo control measured it (-1 for a failure of an inverted scan).
    void rowListed(qsizetype row, std::int64_t roundTripNs);
    // The name lookup of a listed row answered, with the lookup control's status.
    void nameAnswered(qsizetype row, int status);
    // A listed row's hardware address and maker are final: the neighbour table answered, or
    // there was nothing to ask (no neighbour table, or a failure this scan cannot vouch for).
    void hardwareAnswered(qsizetype row);

private:
    void scanStart();
    void scanStop(bool completed);
    void sendRequest(const QString &address, std::int64_t attempt);
    // Sends now when the echo control has room, else holds the request back in order.
    void sendOrHold(const QString &address, std::int64_t attempt);
    void sendHeld();
    bool echoHasRoom() const;
    bool lookupHasRoom() const;
    // Starts the lookups held back while the lookup control was full.
    void startHeldLookups();
    void walkWaits(bool waiting);
    // Completes the scan once nothing of it is outstanding; else says what it waits on.
    void completeIfDone();
    void handOutNextAddress();
    void restartPacing();
    void appendRow(const QString &address, const QString &hostAddress, std::int16_t roundTripMs,
                   bool answered, const QString *failure = nullptr);
    // Asks for the hardware address of a listed or ARP-checked host; `sinceNs` below 0: any
    // entry will do (the host answered echo).
    bool askNeighbour(std::int64_t key, std::int64_t sinceNs);
    // When this scan first sent to the address, for the neighbour table's confirmation
    // time; none when not recorded.
    std::int64_t takeFirstSent(std::int64_t key);
    // Asks the neighbour table again about the ARP checks it was still verifying.
    void askAgain();
    void updateDnsPercent();
    const QString &roundTripText(std::int16_t milliseconds);
    static std::int64_t rowKey(QStringView address);
    void forgetRows(qsizetype firstRow, qsizetype count);
    void settle(QStringView address);
    qsizetype rowOfLookup(const QString &tag, const QString &hostAddress) const;

    EchoControl &m_echo;
    LookupControl &m_lookup;
    ResultGrid &m_table;
    ScanView &m_view;
    QTimer m_pingTimer;
    // Time since the walk last ran at the set delay, and the count sent by then.
    Clock m_clock;
    std::int64_t m_pacingStart = 0;
    std::int64_t m_pacingBase = 0;
    int m_addressRate = 0;
    int m_delayMs = 250; // the set delay, kept while a rate drives the timer

    bool m_running = false;
    ScanState m_state;
    // Lookups of the running scan not yet answered: the completion test asks this, not the
    // rounded percentage, so a straggler keeps the scan open.
    std::int64_t m_lookupsOutstanding = 0;
    // Echo requests of the running scan (first attempts and retries) not yet reported, and
    // whether the walk has handed out its last address: the scan completes only when both
    // say nothing is left to come.
    std::int64_t m_echoesOutstanding = 0;
    bool m_allHandedOut = false;
    // Listed address -> its row, kept in step with appends, deletes and clears: the duplicate
    // check and the placement of lookup answers cost constant time.
    QHash<std::int64_t, qsizetype> m_listedRows;

    // Requests of this scan that found the echo control full, oldest first.
    struct HeldRequest
    {
        QString address;
        std::int64_t attempt = 0;
    };
    std::deque<HeldRequest> m_heldRequests;
    SlotWaits m_slotWaits;
    std::int64_t m_walkWaitingSince = -1; // clock value; -1 while the walk is not held
    // Lookups started while the lookup control was full: address and row, started in order
    // as answers make room. They count as outstanding from the moment the row is listed.
    struct HeldLookup
    {
        QString address; // as listed
        QString hostAddress;
    };
    std::deque<HeldLookup> m_heldLookups;
    QTimer m_heldLookupTimer;
    std::vector<QString> m_roundTripTexts; // by milliseconds
    std::vector<Piece> m_pieces;
    std::size_t m_piece = 0;
    std::int64_t m_requestsSent = 0;
    // Addresses handed out after the first m_settledCount, in order (so ascending), and
    // whether each has its outcome; the last of those counted.
    struct Unsettled
    {
        std::uint32_t address = 0; // the address's value
        bool settled = false;
    };
    std::deque<Unsettled> m_unsettled;
    std::int64_t m_settledCount = 0;
    std::uint32_t m_lastSettled = 0;

    NeighbourControl *m_neighbours = nullptr;
    VendorOf m_vendorOf;
    // Neighbour answers of this scan still to come; the scan completes after them.
    std::int64_t m_neighboursOutstanding = 0;
    QSet<std::int64_t> m_hardwarePending; // listed addresses asked about, not yet answered
    // Kept only where a failed request may list a host (inverted scans, ARP-only hosts):
    // address -> steady-clock time of its first request. Erased at its last outcome.
    bool m_recordFirstSent = false;
    QHash<std::int64_t, std::int64_t> m_firstSent;
    // Addresses whose every request failed, waiting for the neighbour table's word: to be
    // listed as answering only ARP, or (inverted) to show the hardware address of their row.
    struct ArpCheck
    {
        QString hostAddress; // as replied
        std::int64_t sinceNs = 0;
        bool listIfConfirmed = true;
    };
    QHash<std::int64_t, ArpCheck> m_arpChecks;
    // Checks asked again shortly, while the kernel is still asking the host itself.
    std::vector<std::int64_t> m_arpRechecks;
    QTimer m_arpRecheckTimer;
};
