#pragma once

#include <QObject>
#include <QString>

#include <cstdint>

// The echo control `ICMP`: sends ICMP echo requests and reports each outcome exactly once.
// The product uses IcmpEcho; engine tests use a scripted fake of this interface.
class EchoControl : public QObject
{
    Q_OBJECT
public:
    // Outcome numbers carried in ReplyStatus and EchoErrorNumber. Send errors are
    // SendFailedBase + errno.
    enum Status : std::int16_t
    {
        Answered = 0,
        TimedOut = 1,
        NoIcmpSocket = 2,
        DestinationUnreachable = 3,
        Cancelled = 4,
        BadAddress = 5,
        TooManyOutstanding = 6,
        TimeExceeded = 11,
        SendFailedBase = 1000,
    };

    using QObject::QObject;

    // The banner carried as the payload of every request.
    virtual void setEchoData(const QString &banner) = 0;

    virtual int EchoTimeout() const = 0; // milliseconds
    virtual void setEchoTimeout(int milliseconds) = 0;
    virtual int EchoTTL() const = 0;
    virtual void setEchoTTL(int ttl) = 0;
    virtual bool EchoAsync() const = 0;
    virtual void setEchoAsync(bool async) = 0;
    virtual QString EchoTag() const = 0;
    virtual void setEchoTag(const QString &tag) = 0;

    // Asynchronous: returns at once; the outcome comes later through EchoReply, always from
    // the event loop. Waiting: returns with the outcome in the three result properties (and
    // raises EchoReply too). Callable from inside an EchoReply handler.
    virtual void SendEcho(const QString &address) = 0;

    virtual int EchoErrorNumber() const = 0;
    virtual int EchoRoundTrip() const = 0;
    // The same in nanoseconds, where the control measures that finely.
    virtual std::int64_t EchoRoundTripNs() const
    {
        return std::int64_t(EchoRoundTrip()) * 1'000'000;
    }
    virtual QString EchoErrorText() const = 0;

    // Ends every outstanding request; each still reports once, as Cancelled.
    virtual void CancelEchoes() = 0;
    // Sent and not yet reported. A request sent while EchoCapacity are pending may fail at
    // once with TooManyOutstanding: a caller that must not lose it waits for room.
    virtual int EchoesPending() const = 0;
    virtual int EchoCapacity() const = 0;

    // False when no ICMP socket could be opened; unavailableReason() then tells the user
    // how to enable ICMP for the program.
    virtual bool isAvailable() const = 0;
    virtual QString unavailableReason() const = 0;
    // "datagram" or "raw" socket, for the status line; empty when unavailable.
    virtual QString socketMode() const = 0;

Q_SIGNALS:
    void EchoReply(const QString &HostAddress, std::int16_t RoundTripMs, std::int16_t ReplyStatus,
                   const QString &Tag);
};
