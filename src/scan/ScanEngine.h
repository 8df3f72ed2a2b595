#pragma once

#include "scan/IP_Functions.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QTimer>

#include <cstdint>

class EchoControl;
class LookupControl;
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

    QTimer &PING_Timer() { return m_pingTimer; }
    int Inter_Ping_Delay() const { return m_pingTimer.interval(); }
    // Never lets an interval of 0 reach the timer: that would spin the event loop.
    void setInter_Ping_Delay(int milliseconds);

    bool isRunning() const { return m_running; }
    std::int64_t Scan_Number() const { return m_scanNumber; }
    int dnsPercent() const { return m_dnsPercent; }
    std::int64_t lookupsOutstanding() const { return m_lookupsOutstanding; }

    // Start when idle, stop when running.
    void Scan_Button_Click();
    void PING_Timer_Timer();
    void ICMP_EchoReply(const QString &HostAddress, std::int16_t RoundTripMs,
                        std::int16_t ReplyStatus, const QString &Tag);
    void DNS_LookupAnswer(const QString &LookupResult, const QString &HostAddress, int Status,
                          const QString &Tag, int ElapsedMs);

    static QString requestTag(std::int64_t scanNumber, const QString &address,
                              std::int64_t attempt);

    // The range of the current or last scan.
    IP_Functions::AddressNumber startAddress() const { return m_startAddress; }
    IP_Functions::AddressNumber endAddress() const { return m_endAddress; }

Q_SIGNALS:
    // A scan passed its checks and is about to clear the table for its rows.
    void scanStarting();
    // The scan stopped: completed (every address sent, every lookup answered) or ended
    // early by the user. Replies still in flight may list rows after this.
    void scanEnded(bool completed);

private:
    void scanStart();
    void scanStop();
    void sendFirstAttempt(const QString &address);
    void handOutNextAddress();
    void restartPacing();
    void appendRow(const QString &address, const QString &hostAddress, std::int16_t roundTripMs,
                   bool answered);
    void updateDnsPercent(std::int64_t pendingInControl);
    void forgetRows(qsizetype firstRow, qsizetype count);
    qsizetype rowOfLookup(const QString &tag, const QString &hostAddress) const;

    EchoControl &m_echo;
    LookupControl &m_lookup;
    ResultGrid &m_table;
    ScanView &m_view;
    QTimer m_pingTimer;
    // Time since the walk last ran at the set delay, and the count sent by then.
    QElapsedTimer m_pacingClock;
    std::int64_t m_pacingBase = 0;

    bool m_running = false;
    IP_Functions::AddressNumber m_startAddress = 0;
    IP_Functions::AddressNumber m_endAddress = 0;
    IP_Functions::AddressNumber m_currentAddress = 0;
    std::int64_t m_addressSpan = 0;
    std::int64_t m_sentCount = 0;
    std::int64_t m_lookupsStarted = 0;
    // Lookups of the running scan not yet answered: the completion test asks this, not the
    // rounded percentage, so a straggler keeps the scan open.
    std::int64_t m_lookupsOutstanding = 0;
    std::int64_t m_scanNumber = 0;
    int m_dnsPercent = 0;
    // Listed address -> its row, kept in step with appends, deletes and clears: the duplicate
    // check and the placement of lookup answers cost constant time.
    QHash<QString, qsizetype> m_listedRows;
};
