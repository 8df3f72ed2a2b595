#pragma once

#include "EchoControl.h"
#include "EchoSequenceTable.h"

#include <QByteArray>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <map>

class QEventLoop;
class QSocketNotifier;

// The real echo control: one ICMP socket on the UI thread, watched by a QSocketNotifier.
// Prefers an unprivileged datagram ping socket and falls back to a raw socket.
class IcmpEcho : public EchoControl
{
    Q_OBJECT
public:
    // Which sockets may be tried; tests force each path, the product uses Auto.
    enum class SocketChoice
    {
        Auto,
        DatagramOnly,
        RawOnly,
        None
    };

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

    bool isAvailable() const override { return m_fd >= 0; }
    QString unavailableReason() const override { return m_unavailableReason; }
    QString socketMode() const override;

    // The identifier our requests carry (on datagram sockets the kernel's choice) and the
    // sequence number of the latest request: what an ICMP error must quote to reach us.
    std::uint16_t identifier() const { return m_id; }
    std::uint16_t lastSequence() const { return m_lastSequence; }

private:
    enum class Mode
    {
        None,
        Datagram,
        Raw
    };
    using Request = EchoSequenceTable::Request;

    struct Outcome
    {
        QString address;
        QString tag;
        QString text;
        int status = Answered;
        int roundTrip = 0;
    };

    void openSocket(SocketChoice choice);
    int sendRequest(std::uint16_t sequence, Request &request);
    void transmit(std::uint16_t sequence);
    void sendQueued();
    void readSocket();
    void drainErrorQueue();
    void handleReply(std::uint16_t sequence, std::uint32_t source, QByteArrayView payload,
                     std::int64_t receivedNs);
    static std::int64_t receivedNs(struct msghdr &message);
    void handleError(std::uint16_t sequence, std::uint32_t destination, int type, int code,
                     std::uint32_t router);
    void expireRequests();
    void armTimeout();
    void finish(std::uint16_t sequence, int status, int roundTrip, const QString &text);
    void conclude(Outcome outcome, std::uint64_t waiter);
    void waitFor(std::uint64_t waiter);
    void scheduleDelivery();
    void deliver();
    void setResult(const Outcome &outcome);

    int m_fd = -1;
    Mode m_mode = Mode::None;
    QString m_unavailableReason;
    std::uint16_t m_id = 0;
    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_receiveBuffer;

    QByteArray m_payload;
    int m_timeout = 2000;
    int m_ttl = 32;
    int m_socketTtl = -1;
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
