#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QSocketNotifier;
struct msghdr;
struct sockaddr_in;

// One ICMP socket on the UI thread, watched by a QSocketNotifier: opens it (an unprivileged
// datagram ping socket first, a raw socket second), sends echo requests and reports every
// reply and ICMP error that carries one of our identifiers. A datagram socket has the one
// identifier it is bound to; a raw socket may carry several, so that more requests can be in
// flight than one identifier's 65,536 sequence numbers. Which request a packet belongs to
// is for the owner to decide.
class IcmpSocket : public QObject
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

    struct Reply
    {
        std::uint16_t id = 0;
        std::uint16_t sequence = 0;
        std::uint32_t source = 0; // host byte order
        QByteArrayView payload;
        std::int64_t receivedNs = 0; // real-time clock, the kernel's stamp where it gives one
    };
    struct Error
    {
        std::uint16_t id = 0;
        std::uint16_t sequence = 0;
        std::uint32_t destination = 0; // the target of the request it quotes
        int type = 0;
        int code = 0;
        std::uint32_t router = 0; // who sent the error
        QByteArrayView quoted;    // what it quotes of the request's payload, often cut short
    };

    explicit IcmpSocket(SocketChoice choice, QObject *parent = nullptr);
    ~IcmpSocket() override;

    bool isOpen() const { return m_fd >= 0; }
    QString unavailableReason() const { return m_unavailableReason; }
    // "datagram" or "raw"; empty when no socket is open.
    QString mode() const;
    // Our first identifier, random in either mode; 0 when no socket is open.
    std::uint16_t identifier() const { return m_ids.empty() ? 0 : m_ids.front(); }
    bool isRaw() const { return m_mode == Mode::Raw; }
    // Raw sockets only: one more random identifier of ours, none when the socket is not raw.
    std::optional<std::uint16_t> addIdentifier();

    // 0 when sent, else the errno of the failed send. `id` is one of ours (a datagram socket
    // always uses its own). `sentNs` is the real-time clock just before the send, the clock
    // the kernel stamps replies with.
    int send(std::uint16_t id, std::uint32_t target, std::uint16_t sequence, int ttl,
             const QByteArray &payload, std::int64_t &sentNs);

    // Called for each packet read; the payload view lives only during the call.
    std::function<void(const Reply &)> onReply;
    std::function<void(const Error &)> onError;

    static std::int64_t realTimeNs();
    static std::uint16_t randomWord();
    // Error texts may end up in a CSV cell: they never hold commas.
    static QString errnoText(int error);

private:
    enum class Mode
    {
        None,
        Datagram,
        Raw
    };

    void open(SocketChoice choice);
    void bindRandomIdentifier();
    bool isOurs(std::uint16_t id) const;
    void readSocket();
    void handlePacket(msghdr &message, qsizetype length, const sockaddr_in &from);
    void drainErrorQueue();
    static std::int64_t receivedNs(msghdr &message);

    int m_fd = -1;
    Mode m_mode = Mode::None;
    QString m_unavailableReason;
    std::vector<std::uint16_t> m_ids;
    int m_socketTtl = -1;
    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_receiveBuffer; // ReceiveBatch packets of at most MaxPacket bytes
    QByteArray m_packet;        // the request being sent
};
