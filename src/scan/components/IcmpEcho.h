#pragma once

#include "scan/components/EchoControl.h"
#include "scan/components/EchoSequenceTable.h"
#include "scan/components/IcmpSocket.h"

#include <QByteArray>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <map>

class QEventLoop;

// The real echo control: the life of each request on top of one IcmpSocket. A request gets
// a sequence number and a deadline, is sent (again shortly while the send buffer is full),
// ends with its reply, an ICMP error, its time-out or a cancel, and is reported once from
// the event loop; a waiting send runs a local event loop until its own request has ended.
class IcmpEcho : public EchoControl
{
    Q_OBJECT
public:
    using SocketChoice = IcmpSocket::SocketChoice;

    explicit IcmpEcho(QObject *parent = nullptr);
    explicit IcmpEcho(SocketChoice choice, QObject *parent = nullptr);
    ~IcmpEcho() override;

    void setEchoData(const QString &banner) override;
    int EchoTimeout() const override { return m_timeout; }
    void setEchoTimeout(int milliseconds) override { m_timeout = milliseconds; }
    int EchoTTL() const override { return m_ttl; }
    void setEchoTTL(int ttl) override { m_ttl = ttl; }
    bool EchoAsync() const override { return m_async; }
    void setEchoAsync(bool async) override { m_async = async; }
    QString EchoTag() const override { return m_tag; }
    void setEchoTag(const QString &tag) override { m_tag = tag; }

    void SendEcho(const QString &address) override;

    int EchoErrorNumber() const override { return m_errorNumber; }
    int EchoRoundTrip() const override { return m_roundTrip; }
    QString EchoErrorText() const override { return m_errorText; }

    void CancelEchoes() override;
    int EchoesPending() const override { return m_pending; }

    bool isAvailable() const override { return m_socket.isOpen(); }
    QString unavailableReason() const override { return m_socket.unavailableReason(); }
    QString socketMode() const override { return m_socket.mode(); }

    // The identifier our requests carry (on datagram sockets the kernel's choice) and the
    // sequence number of the latest request: what an ICMP error must quote to reach us.
    std::uint16_t identifier() const { return m_socket.identifier(); }
    std::uint16_t lastSequence() const { return m_lastSequence; }

private:
    using Request = EchoSequenceTable::Request;

    struct Outcome
    {
        QString address;
        QString tag;
        QString text;
        int status = Answered;
        int roundTrip = 0;
    };

    void transmit(std::uint16_t sequence);
    void sendQueued();
    void handleReply(const IcmpSocket::Reply &reply);
    void handleError(const IcmpSocket::Error &error);
    void expireRequests();
    void armTimeout();
    void finish(std::uint16_t sequence, int status, int roundTrip, const QString &text);
    void conclude(Outcome outcome, std::uint64_t waiter);
    void waitFor(std::uint64_t waiter);
    void scheduleDelivery();
    void deliver();
    void setResult(const Outcome &outcome);

    IcmpSocket m_socket;

    QByteArray m_payload;
    int m_timeout = 2000;
    int m_ttl = 32;
    bool m_async = true;
    QString m_tag;

    EchoSequenceTable m_table;
    std::uint16_t m_lastSequence = 0;
    QTimer m_timeoutTimer;
    std::int64_t m_armedDeadline = 0;
    // Requests held back by a full send buffer, sent again shortly in their order.
    std::deque<std::uint16_t> m_unsent;
    QTimer m_resendTimer;

    int m_errorNumber = 0;
    int m_roundTrip = 0;
    QString m_errorText;
    int m_pending = 0;

    std::deque<Outcome> m_deliveries;
    bool m_deliveryScheduled = false;
    std::uint64_t m_nextWaiter = 0;
    int m_waitDepth = 0;
    std::map<std::uint64_t, QEventLoop *> m_waitLoops;
    std::map<std::uint64_t, Outcome> m_waitOutcomes;
};
