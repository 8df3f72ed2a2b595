#include "IcmpEcho.h"

#include "IcmpPacket.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QRandomGenerator>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <linux/errqueue.h>
#include <linux/icmp.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype MaxPayload = 1024;
constexpr int ReceiveBufferBytes = 1 << 20;
constexpr int ResendDelayMs = 2;
constexpr std::int64_t NsPerMs = 1'000'000;

std::int64_t monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// The clock of the kernel's receive time stamps (SO_TIMESTAMPNS).
std::int64_t realTimeNs()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Error texts may end up in a CSV cell: they never hold commas.
QString withoutCommas(QString text)
{
    return text.replace(u',', u' ');
}

QString errnoText(int error)
{
    // The locale-independent description, as the rest of the program speaks English.
    const char *description = strerrordesc_np(error);
    return description ? withoutCommas(QString::fromLatin1(description))
                       : u"System error %1"_s.arg(error);
}

QString addressText(std::uint32_t address)
{
    return u"%1.%2.%3.%4"_s.arg(address >> 24)
        .arg(address >> 16 & 0xff)
        .arg(address >> 8 & 0xff)
        .arg(address & 0xff);
}

// A dotted quad and nothing else: no blanks, no leading zeros, no shorthand forms.
std::optional<std::uint32_t> parseDottedQuad(const QString &text)
{
    if (text.isEmpty() || text.size() > 15)
        return std::nullopt;
    for (QChar c : text) {
        if (c != u'.' && !(c >= u'0' && c <= u'9'))
            return std::nullopt;
    }
    in_addr address{};
    if (inet_pton(AF_INET, text.toLatin1().constData(), &address) != 1)
        return std::nullopt;
    return ntohl(address.s_addr);
}

QString unreachableCause(int code)
{
    switch (code) {
    case 0:
        return u"Destination net unreachable"_s;
    case 1:
        return u"Destination host unreachable"_s;
    case 2:
        return u"Destination protocol unreachable"_s;
    case 3:
        return u"Destination port unreachable"_s;
    case 4:
        return u"Fragmentation needed"_s;
    case 5:
        return u"Source route failed"_s;
    case 6:
        return u"Destination net unknown"_s;
    case 7:
        return u"Destination host unknown"_s;
    case 9:
    case 10:
    case 13:
        return u"Communication administratively prohibited"_s;
    default:
        return u"Destination unreachable (code %1)"_s.arg(code);
    }
}

QString errorCause(int type, int code)
{
    if (type == IcmpPacket::DestinationUnreachableType)
        return unreachableCause(code);
    return code == 0 ? u"TTL expired in transit"_s : u"Fragment reassembly time exceeded"_s;
}

// Identifiers, first sequence numbers and the value each request carries are random, so
// that someone who can forge a source address but cannot see our requests has to guess
// them all at once to make a silent address look alive.
std::uint16_t randomWord()
{
    return static_cast<std::uint16_t>(QRandomGenerator::system()->generate());
}

} // namespace

IcmpEcho::IcmpEcho(QObject *parent)
    : IcmpEcho(SocketChoice::Auto, parent)
{}

IcmpEcho::IcmpEcho(SocketChoice choice, QObject *parent)
    : EchoControl(parent)
    , m_receiveBuffer(MaxPayload + 2048, '\0')
    , m_table(randomWord())
{
    setEchoData(QString());
    m_timeoutTimer.setSingleShot(true);
    m_timeoutTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_timeoutTimer, &QTimer::timeout, this, &IcmpEcho::expireRequests);
    m_resendTimer.setSingleShot(true);
    m_resendTimer.setInterval(ResendDelayMs);
    connect(&m_resendTimer, &QTimer::timeout, this, &IcmpEcho::sendQueued);
    openSocket(choice);
}

IcmpEcho::~IcmpEcho()
{
    for (const auto &[waiter, loop] : m_waitLoops)
        loop->quit();
    delete m_notifier;
    if (m_fd >= 0)
        ::close(m_fd);
}

void IcmpEcho::openSocket(SocketChoice choice)
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
            // Binding makes the kernel pick our identifier now: replies and quoted errors are
            // checked against it.
            sockaddr_in local{};
            local.sin_family = AF_INET;
            socklen_t length = sizeof local;
            if (::bind(m_fd, reinterpret_cast<sockaddr *>(&local), sizeof local) == 0 &&
                ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&local), &length) == 0)
                m_id = ntohs(local.sin_port);
        } else {
            datagramError = errnoText(errno);
        }
    }
    if (m_fd < 0 && (choice == SocketChoice::Auto || choice == SocketChoice::RawOnly)) {
        m_fd = ::socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (m_fd >= 0) {
            m_mode = Mode::Raw;
            m_id = randomWord();
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
    connect(m_notifier, &QSocketNotifier::activated, this, &IcmpEcho::readSocket);
}

QString IcmpEcho::socketMode() const
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

void IcmpEcho::setEchoData(const QString &banner)
{
    m_payload = banner.toUtf8().left(MaxPayload);
    if (m_payload.isEmpty())
        m_payload = QByteArrayLiteral("Vantrel echo request payload....");
}

void IcmpEcho::SendEcho(const QString &address)
{
    ++m_pending;
    const std::uint64_t waiter = m_async ? 0 : ++m_nextWaiter;
    Outcome failure{address, m_tag, {}, Answered, 0};
    const auto target = parseDottedQuad(address);
    if (!target) {
        failure.status = BadAddress;
        failure.text = u"Invalid IPv4 address"_s;
    } else if (m_fd < 0) {
        failure.status = NoIcmpSocket;
        failure.text = m_unavailableReason;
    } else {
        Request request;
        request.target = *target;
        request.address = address;
        request.tag = m_tag;
        // The banner, then a value of this request alone that the reply must echo.
        const quint64 nonce = QRandomGenerator::system()->generate64();
        request.payload =
            m_payload + QByteArray(reinterpret_cast<const char *>(&nonce), sizeof nonce);
        request.deadlineNs = monotonicNs() + std::max(m_timeout, 0) * NsPerMs;
        request.ttl = std::clamp(m_ttl, 1, 255);
        request.waiter = waiter;
        if (const auto sequence = m_table.add(std::move(request))) {
            m_lastSequence = *sequence;
            armTimeout();
            if (m_unsent.empty())
                transmit(*sequence);
            else
                m_unsent.push_back(*sequence);
        } else {
            failure.status = TooManyOutstanding;
            failure.text = u"Too many requests outstanding"_s;
        }
    }
    if (failure.status != Answered)
        conclude(std::move(failure), waiter);
    if (waiter)
        waitFor(waiter);
}

// 0 when sent, else the errno of the failed send.
int IcmpEcho::sendRequest(std::uint16_t sequence, Request &request)
{
    if (request.ttl != m_socketTtl &&
        ::setsockopt(m_fd, SOL_IP, IP_TTL, &request.ttl, sizeof request.ttl) == 0)
        m_socketTtl = request.ttl;
    const QByteArray packet = IcmpPacket::echoRequest(m_id, sequence, request.payload);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(request.target);
    bool drained = false;
    for (;;) {
        request.sentNs = realTimeNs();
        if (::sendto(m_fd, packet.constData(), size_t(packet.size()), 0,
                     reinterpret_cast<const sockaddr *>(&to), sizeof to) >= 0) {
            request.sent = true;
            return 0;
        }
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

void IcmpEcho::transmit(std::uint16_t sequence)
{
    Request *request = m_table.find(sequence);
    if (!request || request->sent)
        return;
    const int error = sendRequest(sequence, *request);
    if (error == 0)
        return;
    if (error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS) {
        // A full buffer says nothing about the host: try again shortly.
        m_unsent.push_back(sequence);
        if (!m_resendTimer.isActive())
            m_resendTimer.start();
        return;
    }
    finish(sequence, SendFailedBase + error, 0, errnoText(error));
}

void IcmpEcho::sendQueued()
{
    while (!m_unsent.empty()) {
        const std::uint16_t sequence = m_unsent.front();
        m_unsent.pop_front();
        const std::size_t before = m_unsent.size();
        transmit(sequence);
        if (m_unsent.size() > before) {
            // Still full: keep the order and wait again.
            m_unsent.pop_back();
            m_unsent.push_front(sequence);
            return;
        }
    }
}

void IcmpEcho::readSocket()
{
    if (m_mode == Mode::Datagram)
        drainErrorQueue();
    sockaddr_in from{};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec)) + CMSG_SPACE(sizeof(int))];
    iovec vector{m_receiveBuffer.data(), size_t(m_receiveBuffer.size())};
    msghdr message{};
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    // Reading until EAGAIN keeps the socket buffer free for bursts; the budget only keeps
    // a flood from starving the rest of the program (the notifier fires again).
    for (int budget = 16384; budget > 0; --budget) {
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        message.msg_flags = 0;
        const ssize_t length = ::recvmsg(m_fd, &message, MSG_DONTWAIT);
        if (length < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return;
            // A pending socket error is returned (and cleared) instead of data.
            if (m_mode == Mode::Datagram)
                drainErrorQueue();
            continue;
        }
        if (message.msg_flags & MSG_TRUNC)
            continue; // larger than anything we send
        const QByteArrayView bytes(m_receiveBuffer.constData(), length);
        const IcmpPacket::Parsed packet =
            m_mode == Mode::Raw ? IcmpPacket::parseDatagram(bytes)
                                : IcmpPacket::parseMessage(bytes, ntohl(from.sin_addr.s_addr));
        if (packet.id != m_id)
            continue;
        if (packet.kind == IcmpPacket::Kind::EchoReply)
            handleReply(packet.sequence, packet.source, packet.payload, receivedNs(message));
        else if (packet.kind == IcmpPacket::Kind::Error)
            handleError(packet.sequence, packet.quotedDestination, packet.type, packet.code,
                        packet.source);
    }
}

std::int64_t IcmpEcho::receivedNs(msghdr &message)
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

void IcmpEcho::drainErrorQueue()
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
        if (!echo || echo->id != m_id)
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
                 error.ee_type == IcmpPacket::TimeExceededType))
                handleError(echo->sequence, ntohl(destination.sin_addr.s_addr), error.ee_type,
                            error.ee_code, ntohl(router.sin_addr.s_addr));
        }
    }
}

void IcmpEcho::handleReply(std::uint16_t sequence, std::uint32_t source, QByteArrayView payload,
                           std::int64_t receivedNs)
{
    const Request *request = m_table.find(sequence);
    // Late replies, duplicates and replies from elsewhere find nothing that fits.
    if (!request || !request->sent || request->target != source || payload != request->payload)
        return;
    // A real-time clock set back meanwhile must not give a negative time.
    const std::int64_t milliseconds = (receivedNs - request->sentNs) / NsPerMs;
    finish(sequence, Answered, int(std::clamp<std::int64_t>(milliseconds, 0, 32767)), {});
}

void IcmpEcho::handleError(std::uint16_t sequence, std::uint32_t destination, int type, int code,
                           std::uint32_t router)
{
    const Request *request = m_table.find(sequence);
    if (!request || !request->sent || request->target != destination)
        return;
    const int status =
        type == IcmpPacket::DestinationUnreachableType ? DestinationUnreachable : TimeExceeded;
    finish(sequence, status, 0, errorCause(type, code) + u" from "_s + addressText(router));
}

void IcmpEcho::expireRequests()
{
    const std::int64_t now = monotonicNs();
    while (const auto sequence = m_table.firstExpired(now))
        finish(*sequence, TimedOut, 0, u"Request timed out"_s);
    armTimeout();
}

void IcmpEcho::armTimeout()
{
    const auto next = m_table.nextDeadline();
    if (!next) {
        m_timeoutTimer.stop();
        return;
    }
    // Restarting the timer on every send would cost more than the send itself.
    if (m_timeoutTimer.isActive() && *next >= m_armedDeadline)
        return;
    m_armedDeadline = *next;
    const std::int64_t wait = (*next - monotonicNs() + NsPerMs - 1) / NsPerMs;
    m_timeoutTimer.start(int(std::clamp<std::int64_t>(wait, 0, 1 << 30)));
}

void IcmpEcho::CancelEchoes()
{
    m_unsent.clear();
    for (const std::uint16_t sequence : m_table.inOrderAdded())
        finish(sequence, Cancelled, 0, u"Request cancelled"_s);
    m_timeoutTimer.stop();
}

void IcmpEcho::finish(std::uint16_t sequence, int status, int roundTrip, const QString &text)
{
    std::optional<Request> request = m_table.take(sequence);
    if (!request)
        return;
    conclude(Outcome{std::move(request->address), std::move(request->tag), text, status, roundTrip},
             request->waiter);
}

void IcmpEcho::conclude(Outcome outcome, std::uint64_t waiter)
{
    if (waiter) {
        m_waitOutcomes[waiter] = outcome;
        if (const auto loop = m_waitLoops.find(waiter); loop != m_waitLoops.end())
            loop->second->quit();
    }
    m_deliveries.push_back(std::move(outcome));
    scheduleDelivery();
}

void IcmpEcho::waitFor(std::uint64_t waiter)
{
    if (!m_waitOutcomes.contains(waiter)) {
        // The window keeps painting and timers keep running; clicks wait until we return.
        QPointer<IcmpEcho> self(this);
        QEventLoop loop;
        m_waitLoops[waiter] = &loop;
        ++m_waitDepth;
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        if (!self)
            return;
        --m_waitDepth;
        m_waitLoops.erase(waiter);
    }
    auto outcome = m_waitOutcomes.extract(waiter);
    if (!outcome.empty())
        setResult(outcome.mapped());
    scheduleDelivery();
}

void IcmpEcho::scheduleDelivery()
{
    if (m_deliveryScheduled || m_waitDepth > 0 || m_deliveries.empty())
        return;
    m_deliveryScheduled = true;
    QMetaObject::invokeMethod(this, &IcmpEcho::deliver, Qt::QueuedConnection);
}

void IcmpEcho::deliver()
{
    m_deliveryScheduled = false;
    QPointer<IcmpEcho> self(this);
    // Outcomes that end meanwhile wait for the next round, so other events get their turn.
    for (std::size_t budget = m_deliveries.size(); budget > 0 && !m_deliveries.empty(); --budget) {
        // A waiting send holds every report back until it has returned.
        if (m_waitDepth > 0)
            return;
        const Outcome outcome = std::move(m_deliveries.front());
        m_deliveries.pop_front();
        setResult(outcome);
        --m_pending;
        Q_EMIT EchoReply(outcome.address, std::int16_t(outcome.roundTrip),
                         std::int16_t(outcome.status), outcome.tag);
        if (!self)
            return;
    }
    scheduleDelivery();
}

void IcmpEcho::setResult(const Outcome &outcome)
{
    m_errorNumber = outcome.status;
    m_roundTrip = outcome.roundTrip;
    m_errorText = outcome.text;
}
