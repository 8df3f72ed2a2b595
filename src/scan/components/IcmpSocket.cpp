#include "scan/components/IcmpSocket.h"

#include "scan/components/IcmpPacket.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <linux/errqueue.h>
#include <linux/icmp.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype MaxPacket = 1024 + 2048; // our largest payload and every header
constexpr int ReceiveBufferBytes = 1 << 20;
// Packets read with one call: at high rates the calls, not the packets, cost the most.
constexpr int ReceiveBatch = 64;
constexpr std::size_t ControlBytes = CMSG_SPACE(sizeof(timespec)) + CMSG_SPACE(sizeof(int));

QString withoutCommas(QString text)
{
    return text.replace(u',', u' ');
}

} // namespace

IcmpSocket::IcmpSocket(SocketChoice choice, QObject *parent)
    : QObject(parent)
    , m_receiveBuffer(MaxPacket * ReceiveBatch, '\0')
{
    open(choice);
}

IcmpSocket::~IcmpSocket()
{
    delete m_notifier;
    if (m_fd >= 0)
        ::close(m_fd);
}

std::int64_t IcmpSocket::realTimeNs()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Identifiers, first sequence numbers and the value each request carries are random, so
// that someone who can forge a source address but cannot see our requests has to guess
// them all at once to make a silent address look alive.
std::uint16_t IcmpSocket::randomWord()
{
    return static_cast<std::uint16_t>(QRandomGenerator::system()->generate());
}

QString IcmpSocket::errnoText(int error)
{
    // The locale-independent description, as the rest of the program speaks English.
    const char *description = strerrordesc_np(error);
    return description ? withoutCommas(QString::fromLatin1(description))
                       : u"System error %1"_s.arg(error);
}

void IcmpSocket::open(SocketChoice choice)
{
    QString datagramError = u"not tried"_s;
    QString rawError = u"not tried"_s;
    if (choice == SocketChoice::Auto || choice == SocketChoice::DatagramOnly) {
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (m_fd >= 0) {
            m_mode = Mode::Datagram;
            // ICMP errors only reach a ping socket through its error queue.
            const int on = 1;
            ::setsockopt(m_fd, SOL_IP, IP_RECVERR, &on, sizeof on);
            bindRandomIdentifier();
        } else {
            datagramError = errnoText(errno);
        }
    }
    if (m_fd < 0 && (choice == SocketChoice::Auto || choice == SocketChoice::RawOnly)) {
        m_fd = ::socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (m_fd >= 0) {
            m_mode = Mode::Raw;
            m_ids.push_back(randomWord());
            // A raw socket sees every ICMP message of the host; keep only what can be ours.
            icmp_filter filter{};
            filter.data = ~((1U << IcmpPacket::EchoReplyType) |
                            (1U << IcmpPacket::DestinationUnreachableType) |
                            (1U << IcmpPacket::TimeExceededType));
            ::setsockopt(m_fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
        } else {
            rawError = errnoText(errno);
        }
    }
    if (m_fd < 0) {
        const QString program = QCoreApplication::instance()
                                    ? withoutCommas(QCoreApplication::applicationFilePath())
                                    : u"PROGRAM"_s;
        m_unavailableReason =
            u"No ICMP socket (ping socket: %1; raw socket: %2). To allow ping sockets run as "
            "root: sysctl -w net.ipv4.ping_group_range='0 2147483647' or let this program open "
            "raw sockets: setcap cap_net_raw+ep %3"_s.arg(datagramError, rawError, program);
        return;
    }
    // Replies carry the time the kernel received them, so a busy event loop adds nothing to
    // a round-trip time.
    const int on = 1;
    ::setsockopt(m_fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    // Room for a burst of replies that arrive before the event loop reads them.
    if (::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUFFORCE, &ReceiveBufferBytes,
                     sizeof ReceiveBufferBytes) != 0)
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &ReceiveBufferBytes, sizeof ReceiveBufferBytes);
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &IcmpSocket::readSocket);
}

// The identifier is the ping socket's port. Left to the kernel it is the next free one, which
// an attacker can learn from a probe of their own and then forge errors for; a random one
// must be guessed as well.
void IcmpSocket::bindRandomIdentifier()
{
    sockaddr_in local{};
    local.sin_family = AF_INET;
    for (int attempt = 0; attempt < 16; ++attempt) {
        // Port 0 would ask the kernel to choose after all.
        local.sin_port = htons(std::uint16_t(randomWord() | 1));
        if (::bind(m_fd, reinterpret_cast<sockaddr *>(&local), sizeof local) == 0)
            break;
        if (errno != EADDRINUSE)
            break;
    }
    socklen_t length = sizeof local;
    if (::getsockname(m_fd, reinterpret_cast<sockaddr *>(&local), &length) == 0 &&
        local.sin_port != 0) {
        m_ids.push_back(ntohs(local.sin_port));
        return;
    }
    // Every random try taken: let the kernel pick, so that we know what replies carry.
    local.sin_port = 0;
    length = sizeof local;
    if (::bind(m_fd, reinterpret_cast<sockaddr *>(&local), sizeof local) == 0 &&
        ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&local), &length) == 0)
        m_ids.push_back(ntohs(local.sin_port));
    else
        m_ids.push_back(0);
}

std::optional<std::uint16_t> IcmpSocket::addIdentifier()
{
    if (m_mode != Mode::Raw)
        return std::nullopt;
    std::uint16_t id = randomWord();
    while (isOurs(id))
        ++id;
    m_ids.push_back(id);
    return id;
}

bool IcmpSocket::isOurs(std::uint16_t id) const
{
    for (const std::uint16_t ours : m_ids) {
        if (ours == id)
            return true;
    }
    return false;
}

QString IcmpSocket::mode() const
{
    switch (m_mode) {
    case Mode::Datagram:
        return u"datagram"_s;
    case Mode::Raw:
        return u"raw"_s;
    case Mode::None:
        break;
    }
    return {};
}

int IcmpSocket::send(std::uint16_t id, std::uint32_t target, std::uint16_t sequence, int ttl,
                     const QByteArray &payload, std::int64_t &sentNs)
{
    if (m_fd < 0)
        return EBADF;
    if (ttl != m_socketTtl && ::setsockopt(m_fd, SOL_IP, IP_TTL, &ttl, sizeof ttl) == 0)
        m_socketTtl = ttl;
    IcmpPacket::writeEchoRequest(m_packet, m_mode == Mode::Raw ? id : identifier(), sequence,
                                 payload);
    const QByteArray &packet = m_packet;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(target);
    bool drained = false;
    for (;;) {
        sentNs = realTimeNs();
        if (::sendto(m_fd, packet.constData(), size_t(packet.size()), 0,
                     reinterpret_cast<const sockaddr *>(&to), sizeof to) >= 0)
            return 0;
        const int error = errno;
        if (error == EINTR)
            continue;
        // A ping socket reports a pending ICMP error on the next send, which then sends
        // nothing: take the error where it belongs and try once more.
        if (m_mode == Mode::Datagram && !drained && error != EAGAIN && error != EWOULDBLOCK &&
            error != ENOBUFS) {
            drainErrorQueue();
            drained = true;
            continue;
        }
        return error;
    }
}

void IcmpSocket::readSocket()
{
    if (m_mode == Mode::Datagram)
        drainErrorQueue();
    std::array<mmsghdr, ReceiveBatch> messages{};
    std::array<iovec, ReceiveBatch> vectors{};
    std::array<sockaddr_in, ReceiveBatch> from{};
    alignas(cmsghdr) char control[ReceiveBatch][ControlBytes];
    // A short batch means the queue was empty (the notifier fires again for anything that
    // came meanwhile); the budget only keeps a flood from starving the rest of the program.
    for (int budget = 16384; budget > 0; budget -= ReceiveBatch) {
        for (int i = 0; i < ReceiveBatch; ++i) {
            vectors[i] = {m_receiveBuffer.data() + i * MaxPacket, size_t(MaxPacket)};
            msghdr &header = messages[i].msg_hdr;
            header = {};
            header.msg_name = &from[i];
            header.msg_namelen = sizeof from[i];
            header.msg_iov = &vectors[i];
            header.msg_iovlen = 1;
            header.msg_control = control[i];
            header.msg_controllen = ControlBytes;
        }
        const int count = ::recvmmsg(m_fd, messages.data(), ReceiveBatch, MSG_DONTWAIT, nullptr);
        if (count < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return;
            // A pending socket error is returned (and cleared) instead of data.
            if (m_mode == Mode::Datagram)
                drainErrorQueue();
            continue;
        }
        for (int i = 0; i < count; ++i)
            handlePacket(messages[i].msg_hdr, qsizetype(messages[i].msg_len), from[i]);
        if (count < ReceiveBatch)
            return;
    }
}

void IcmpSocket::handlePacket(msghdr &message, qsizetype length, const sockaddr_in &from)
{
    if (message.msg_flags & MSG_TRUNC)
        return; // larger than anything we send
    const QByteArrayView bytes(static_cast<const char *>(message.msg_iov->iov_base), length);
    const IcmpPacket::Parsed packet =
        m_mode == Mode::Raw ? IcmpPacket::parseDatagram(bytes)
                            : IcmpPacket::parseMessage(bytes, ntohl(from.sin_addr.s_addr));
    if (!isOurs(packet.id))
        return;
    if (packet.kind == IcmpPacket::Kind::EchoReply && onReply)
        onReply(
            Reply{packet.id, packet.sequence, packet.source, packet.payload, receivedNs(message)});
    else if (packet.kind == IcmpPacket::Kind::Error && onError)
        onError(Error{packet.id, packet.sequence, packet.quotedDestination, packet.type,
                      packet.code, packet.source, packet.payload});
}

std::int64_t IcmpSocket::receivedNs(msghdr &message)
{
    for (cmsghdr *header = CMSG_FIRSTHDR(&message); header;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_TIMESTAMPNS &&
            header->cmsg_len >= CMSG_LEN(sizeof(timespec))) {
            timespec stamp{};
            std::memcpy(&stamp, CMSG_DATA(header), sizeof stamp);
            return std::int64_t(stamp.tv_sec) * 1'000'000'000 + stamp.tv_nsec;
        }
    }
    return realTimeNs(); // a kernel without stamps: the next best time
}

void IcmpSocket::drainErrorQueue()
{
    alignas(cmsghdr) char control[512];
    sockaddr_in destination{};
    iovec vector{m_receiveBuffer.data(), size_t(m_receiveBuffer.size())};
    msghdr message{};
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    for (;;) {
        message.msg_name = &destination;
        message.msg_namelen = sizeof destination;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t length = ::recvmsg(m_fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
        if (length < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        // The data is our request as sent; the destination is its target.
        const auto echo =
            IcmpPacket::quotedEcho(QByteArrayView(m_receiveBuffer.constData(), length));
        if (!echo || !isOurs(echo->id))
            continue;
        for (cmsghdr *header = CMSG_FIRSTHDR(&message); header;
             header = CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level != SOL_IP || header->cmsg_type != IP_RECVERR ||
                header->cmsg_len < CMSG_LEN(sizeof(sock_extended_err) + sizeof(sockaddr_in)))
                continue;
            sock_extended_err error{};
            sockaddr_in router{};
            std::memcpy(&error, CMSG_DATA(header), sizeof error);
            std::memcpy(&router, CMSG_DATA(header) + sizeof error, sizeof router);
            if (error.ee_origin == SO_EE_ORIGIN_ICMP &&
                (error.ee_type == IcmpPacket::DestinationUnreachableType ||
                 error.ee_type == IcmpPacket::TimeExceededType) &&
                onError)
                onError(Error{echo->id, echo->sequence, ntohl(destination.sin_addr.s_addr),
                              error.ee_type, error.ee_code, ntohl(router.sin_addr.s_addr),
                              echo->payload});
        }
    }
}
