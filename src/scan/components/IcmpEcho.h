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
#include <memory>
#include <optional>
#include <vector>

class QEventLoop;

// The real echo control: the life of each request on top of ICMP sockets. A request gets an
// identifier and sequence number (a lane), a deadline, is sent (again shortly while the send
// buffer is full), ends with its reply, an ICMP error, its time-out or a cancel, and is
// reported once from the event loop; a waiting send runs a local event loop until its own
// request has ended. One identifier holds 65,536 requests in flight; when they are taken,
// another lane opens (a further ping socket, or a further identifier on the raw socket), up
// to MaxLanes.
class IcmpEcho : public EchoControl
{
    Q_OBJECT
public:
    using SocketChoice = IcmpSocket::SocketChoice;
    static constexpr int MaxLanes = 16;

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
    std::int64_t EchoRoundTripNs() const override { return m_roundTripNs; }
    QString EchoErrorText() const override { return m_errorText; }

    void CancelEchoes() override;
    int EchoesPending() const override { return m_pending; }
    int EchoCapacity() const override;

    bool isAvailable() const override { return m_lanes.front().socket->isOpen(); }
    QString unavailableReason() const override
    {
        return m_lanes.front().socket->unavailableReason();
    }
    QString socketMode() const override { return m_lanes.front().socket->mode(); }

    // The identifier and sequence number of the latest request: what an ICMP error must
    // quote to reach it.
    std::uint16_t identifier() const { return m_lanes[m_lastLane].id; }
    std::uint16_t lastSequence() const { return m_lastSequence; }
    int laneCount() const { return int(m_lanes.size()); }
    // Holds fewer requests in flight than the lanes could; lets a test fill the table fast.
    void setRequestLimit(int limit) { m_requestLimit = limit; }

private:
    using Request = EchoSequenceTable::Request;

    struct Lane
    {
        IcmpSocket *socket = nullptr; // datagram: its own; raw: the first lane's
        std::uint16_t id = 0;
        std::unique_ptr<EchoSequenceTable> table;
    };
    // A request in flight: its lane and sequence number.
    struct Key
    {
        std::size_t lane = 0;
        std::uint16_t sequence = 0;
    };

    struct Outcome
    {
        QString address;
        QString tag;
        QString text;
        int status = Answered;
        int roundTrip = 0;
        std::int64_t roundTripNs = 0;
    };

    void addLane(std::unique_ptr<IcmpSocket> socket, std::uint16_t id);
    IcmpSocket *watch(std::unique_ptr<IcmpSocket> socket);
    std::optional<Key> addRequest(Request request);
    std::optional<Key> addToLane(Request request);
    std::optional<std::size_t> laneOf(const IcmpSocket *socket, std::uint16_t id) const;
    void transmit(Key key);
    void sendQueued();
    void handleReply(const IcmpSocket *socket, const IcmpSocket::Reply &reply);
    void handleError(const IcmpSocket *socket, const IcmpSocket::Error &error);
    std::optional<std::int64_t> nextDeadline() const;
    void expireRequests();
    void armTimeout();
    void finish(Key key, int status, int roundTrip, const QString &text,
                std::int64_t roundTripNs = 0);
    void conclude(Outcome outcome, std::uint64_t waiter);
    void waitFor(std::uint64_t waiter);
    void scheduleDelivery();
    void deliver();
    void setResult(const Outcome &outcome);

    SocketChoice m_choice;
    std::vector<std::unique_ptr<IcmpSocket>> m_sockets;
    std::vector<Lane> m_lanes;
    // Lanes that could be opened; fewer than MaxLanes once the system refused one.
    std::size_t m_laneLimit = MaxLanes;
    std::size_t m_lastLane = 0;
    std::uint64_t m_issued = 0;
    int m_inFlight = 0;
    int m_requestLimit = MaxLanes * EchoSequenceTable::Capacity;

    QByteArray m_payload;     // the banner
    QByteArray m_sendPayload; // the banner and room for a request's cookie
    int m_timeout = 2000;
    int m_ttl = 32;
    bool m_async = true;
    QString m_tag;

    std::uint16_t m_lastSequence = 0;
    QTimer m_timeoutTimer;
    std::int64_t m_armedDeadline = 0;
    // Requests held back by a full send buffer, sent again shortly in their order.
    std::deque<Key> m_unsent;
    QTimer m_resendTimer;

    int m_errorNumber = 0;
    int m_roundTrip = 0;
    std::int64_t m_roundTripNs = 0;
    QString m_errorText;
    int m_pending = 0;

    std::deque<Outcome> m_deliveries;
    bool m_deliveryScheduled = false;
    std::uint64_t m_nextWaiter = 0;
    int m_waitDepth = 0;
    std::map<std::uint64_t, QEventLoop *> m_waitLoops;
    std::map<std::uint64_t, Outcome> m_waitOutcomes;
};
