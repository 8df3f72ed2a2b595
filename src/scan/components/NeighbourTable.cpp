#include "scan/components/NeighbourTable.h"

#include <QPointer>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>

#include <arpa/inet.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::int64_t steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Appends one request: header, fixed part, and an IPv4 address attribute.
template <typename Fixed>
void appendRequest(QByteArray &out, std::uint16_t type, std::uint32_t sequence, const Fixed &fixed,
                   std::uint16_t addressAttribute, std::uint32_t address,
                   std::uint16_t flags = NLM_F_REQUEST)
{
    const std::uint32_t inNetworkOrder = htonl(address);
    const std::size_t attributeLength = RTA_LENGTH(sizeof inNetworkOrder);
    const std::size_t length = NLMSG_LENGTH(sizeof(Fixed)) + RTA_ALIGN(attributeLength);
    const qsizetype at = out.size();
    out.resize(at + qsizetype(NLMSG_ALIGN(length)), '\0');
    char *base = out.data() + at;
    nlmsghdr header{};
    header.nlmsg_len = std::uint32_t(length);
    header.nlmsg_type = type;
    header.nlmsg_flags = flags;
    header.nlmsg_seq = sequence;
    std::memcpy(base, &header, sizeof header);
    std::memcpy(base + NLMSG_HDRLEN, &fixed, sizeof fixed);
    rtattr attribute{};
    attribute.rta_len = std::uint16_t(attributeLength);
    attribute.rta_type = addressAttribute;
    char *attributeAt = base + NLMSG_LENGTH(sizeof(Fixed));
    std::memcpy(attributeAt, &attribute, sizeof attribute);
    std::memcpy(attributeAt + RTA_LENGTH(0), &inNetworkOrder, sizeof inNetworkOrder);
}

// Walks the attributes after a message's fixed part; each is checked against the bytes the
// kernel actually sent.
template <typename Visit> void forEachAttribute(const char *data, std::size_t length, Visit visit)
{
    while (length >= sizeof(rtattr)) {
        rtattr attribute;
        std::memcpy(&attribute, data, sizeof attribute);
        if (attribute.rta_len < sizeof(rtattr) || attribute.rta_len > length)
            return;
        visit(attribute.rta_type, data + RTA_LENGTH(0), attribute.rta_len - RTA_LENGTH(0));
        const std::size_t step = RTA_ALIGN(attribute.rta_len);
        if (step >= length)
            return;
        data += step;
        length -= step;
    }
}

} // namespace

NeighbourTable::NeighbourTable(QObject *parent)
    : NeighbourControl(parent)
{
    m_fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (m_fd >= 0) {
        sockaddr_nl local{};
        local.nl_family = AF_NETLINK;
        if (::bind(m_fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    if (m_fd >= 0) {
        m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, &NeighbourTable::readReplies);
    }
    // The kernel gives an entry's age in clock ticks of the user interface.
    if (const long ticks = ::sysconf(_SC_CLK_TCK); ticks > 0)
        m_nsPerTick = 1'000'000'000 / ticks;
    m_startTimer.setSingleShot(true);
    m_startTimer.setInterval(0);
    connect(&m_startTimer, &QTimer::timeout, this, &NeighbourTable::startBatch);
    m_batchTimer.setSingleShot(true);
    m_batchTimer.setInterval(BatchTimeoutMs);
    connect(&m_batchTimer, &QTimer::timeout, this, &NeighbourTable::giveUp);
}

NeighbourTable::~NeighbourTable()
{
    m_notifier.reset();
    if (m_fd >= 0)
        ::close(m_fd);
}

void NeighbourTable::lookup(std::uint32_t address, std::int64_t sinceNs, std::int64_t tag)
{
    m_queue.push_back({address, sinceNs, tag, false, {}});
    scheduleBatch();
}

void NeighbourTable::scheduleBatch()
{
    if (m_batch.empty() && !m_queue.empty() && !m_startTimer.isActive())
        m_startTimer.start();
}

void NeighbourTable::cancelAll()
{
    ++m_cancels;
    m_queue.clear();
    m_batch.clear();
    m_inFlight.clear();
    m_unanswered = 0;
    m_batchTimer.stop();
    m_startTimer.stop();
}

bool NeighbourTable::send(const QByteArray &messages)
{
    if (messages.isEmpty())
        return true;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    for (;;) {
        const ssize_t sent = ::sendto(m_fd, messages.constData(), std::size_t(messages.size()), 0,
                                      reinterpret_cast<sockaddr *>(&kernel), sizeof kernel);
        if (sent >= 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

bool NeighbourTable::requestRoutes()
{
    QByteArray request(qsizetype(NLMSG_LENGTH(sizeof(rtmsg))), '\0');
    nlmsghdr header{};
    header.nlmsg_len = std::uint32_t(request.size());
    header.nlmsg_type = RTM_GETROUTE;
    header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    header.nlmsg_seq = m_nextSequence++;
    rtmsg route{};
    route.rtm_family = AF_INET;
    std::memcpy(request.data(), &header, sizeof header);
    std::memcpy(request.data() + NLMSG_HDRLEN, &route, sizeof route);
    if (!send(request))
        return false;
    m_routesSequence = header.nlmsg_seq;
    m_reading.clear();
    m_routesRead = 0;
    m_readingInterrupted = false;
    m_batchTimer.start();
    return true;
}

// One route of the dump: kept when it may reach a host without a gateway. Several next
// hops, or a next-hop object, may hold one without: kept too, and the route step decides.
void NeighbourTable::readRoute(const nlmsghdr &header, const char *message)
{
    if (header.nlmsg_flags & NLM_F_DUMP_INTR)
        m_readingInterrupted = true;
    ++m_routesRead;
    const std::size_t payloadLength = header.nlmsg_len - NLMSG_HDRLEN;
    if (header.nlmsg_type != RTM_NEWROUTE || payloadLength < sizeof(rtmsg))
        return;
    rtmsg route;
    std::memcpy(&route, message + NLMSG_HDRLEN, sizeof route);
    if (route.rtm_family != AF_INET || route.rtm_type != RTN_UNICAST || route.rtm_dst_len > 32)
        return;
    bool viaRouter = false;
    std::uint32_t network = 0;
    forEachAttribute(message + NLMSG_HDRLEN + NLMSG_ALIGN(sizeof(rtmsg)),
                     payloadLength - std::min(payloadLength, NLMSG_ALIGN(sizeof(rtmsg))),
                     [&](unsigned type, const char *value, std::size_t length) {
                         if (type == RTA_GATEWAY || type == RTA_VIA)
                             viaRouter = true;
                         else if (type == RTA_DST && length >= sizeof network)
                             std::memcpy(&network, value, sizeof network);
                     });
    if (viaRouter)
        return;
    const std::uint32_t mask =
        route.rtm_dst_len == 0 ? 0 : ~std::uint32_t(0) << (32 - route.rtm_dst_len);
    m_reading.push_back({ntohl(network) & mask, mask});
}

bool NeighbourTable::mayBeDirect(std::uint32_t address) const
{
    return std::any_of(m_direct.cbegin(), m_direct.cend(), [address](const Prefix &prefix) {
        return (address & prefix.mask) == prefix.network;
    });
}

void NeighbourTable::startBatch()
{
    if (!m_batch.empty() || m_queue.empty() || m_routesSequence != 0)
        return;
    const bool routesDue = m_routes == Routes::Unknown ||
                           (m_routes == Routes::Known && m_routesAge.hasExpired(RoutesRefreshMs));
    if (m_fd >= 0 && routesDue) {
        if (requestRoutes())
            return; // the batch starts when the routes are in
        m_routes = Routes::Unusable;
    }
    // Addresses no direct route covers are answered after the batch has gone out.
    std::vector<Question> behindRouters;
    while (!m_queue.empty() && m_batch.size() < std::size_t(BatchSize)) {
        if (m_routes == Routes::Known && !mayBeDirect(m_queue.front().address))
            behindRouters.push_back(m_queue.front());
        else
            m_batch.push_back(m_queue.front());
        m_queue.pop_front();
    }
    QPointer<NeighbourTable> self(this);
    const std::uint64_t cancels = m_cancels;
    if (!m_batch.empty())
        sendBatch();
    for (const Question &question : behindRouters) {
        if (!self || m_cancels != cancels)
            return;
        NeighbourAnswer none;
        none.address = question.address;
        Q_EMIT answered(none, question.tag);
    }
    if (self)
        scheduleBatch();
}

void NeighbourTable::sendBatch()
{
    m_unanswered = m_batch.size();
    QByteArray requests;
    if (m_fd >= 0) {
        for (std::size_t slot = 0; slot < m_batch.size(); ++slot) {
            rtmsg route{};
            route.rtm_family = AF_INET;
            route.rtm_dst_len = 32;
            const std::uint32_t sequence = m_nextSequence++;
            m_inFlight.insert(sequence, {slot, Step::Route});
            appendRequest(requests, RTM_GETROUTE, sequence, route, RTA_DST, m_batch[slot].address);
        }
    }
    if (m_fd < 0 || !send(requests)) {
        giveUp();
        return;
    }
    m_batchTimer.start();
}

void NeighbourTable::readReplies()
{
    alignas(nlmsghdr) char buffer[64 * 1024];
    QPointer<NeighbourTable> self(this);
    for (;;) {
        const ssize_t received = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (received < 0) {
            if (errno == EINTR)
                continue;
            // ENOBUFS: the kernel dropped replies; the batch's time-out answers the rest.
            break;
        }
        QByteArray followUps;
        std::size_t left = std::size_t(received);
        const char *at = buffer;
        while (left >= sizeof(nlmsghdr)) {
            nlmsghdr header;
            std::memcpy(&header, at, sizeof header);
            if (header.nlmsg_len < sizeof(nlmsghdr) || header.nlmsg_len > left)
                break;
            handleMessage(header, at, followUps);
            if (!self)
                return;
            const std::size_t step = NLMSG_ALIGN(header.nlmsg_len);
            if (step >= left)
                break;
            at += step;
            left -= step;
        }
        if (!followUps.isEmpty() && !send(followUps)) {
            giveUp();
            return;
        }
    }
    if (!m_batch.empty() && m_unanswered == 0) {
        m_batch.clear();
        m_inFlight.clear();
        m_batchTimer.stop();
    }
    scheduleBatch();
}

void NeighbourTable::handleMessage(const nlmsghdr &header, const char *message,
                                   QByteArray &followUps)
{
    if (m_routesSequence != 0 && header.nlmsg_seq == m_routesSequence) {
        if (header.nlmsg_type == NLMSG_DONE || header.nlmsg_type == NLMSG_ERROR) {
            // An error, or routes that changed while they were read: asked again later.
            const bool whole = header.nlmsg_type == NLMSG_DONE && !m_readingInterrupted;
            // A router's full tables are neither read every few seconds nor searched per row.
            const bool few = m_routesRead <= MaxRoutes && m_reading.size() <= MaxDirectRoutes;
            m_routesSequence = 0;
            m_batchTimer.stop();
            if (whole && few)
                m_direct = std::move(m_reading);
            m_routes = whole && few                               ? Routes::Known
                       : !few || header.nlmsg_type == NLMSG_ERROR ? Routes::Unusable
                                                                  : Routes::Unknown;
            m_routesAge.start();
            m_reading = {};
        } else {
            readRoute(header, message);
        }
        return;
    }
    const auto flight = m_inFlight.constFind(header.nlmsg_seq);
    if (flight == m_inFlight.cend())
        return;
    const InFlight step = *flight;
    m_inFlight.erase(flight);
    if (step.slot >= m_batch.size())
        return;
    const Question &question = m_batch[step.slot];
    NeighbourAnswer result;
    result.address = question.address;
    const char *payload = message + NLMSG_HDRLEN;
    const std::size_t payloadLength = header.nlmsg_len - NLMSG_HDRLEN;

    if (header.nlmsg_type == RTM_NEWROUTE && step.step == Step::Route &&
        payloadLength >= sizeof(rtmsg)) {
        rtmsg route;
        std::memcpy(&route, payload, sizeof route);
        bool viaRouter = false;
        int interface = 0;
        forEachAttribute(payload + NLMSG_ALIGN(sizeof(rtmsg)),
                         payloadLength - std::min(payloadLength, NLMSG_ALIGN(sizeof(rtmsg))),
                         [&](unsigned type, const char *value, std::size_t length) {
                             if (type == RTA_GATEWAY || type == RTA_VIA || type == RTA_MULTIPATH)
                                 viaRouter = true;
                             else if (type == RTA_OIF && length >= sizeof(int))
                                 std::memcpy(&interface, value, sizeof interface);
                         });
        // Only a directly connected host has an entry of its own; the rest get nothing.
        if (route.rtm_type == RTN_UNICAST && !viaRouter && interface > 0) {
            ndmsg neighbour{};
            neighbour.ndm_family = AF_INET;
            neighbour.ndm_ifindex = interface;
            const std::uint32_t sequence = m_nextSequence++;
            m_inFlight.insert(sequence, {step.slot, Step::Neighbour});
            appendRequest(followUps, RTM_GETNEIGH, sequence, neighbour, NDA_DST, question.address);
            return;
        }
    } else if (header.nlmsg_type == NLMSG_ERROR && step.step == Step::Probe) {
        // The acknowledgement of a probe: on success the host's answer follows within
        // moments, and the caller asks again for it.
        nlmsgerr error{};
        if (payloadLength >= sizeof error)
            std::memcpy(&error, payload, sizeof error);
        result = question.found;
        result.verifying = payloadLength >= sizeof error && error.error == 0;
        // No right to, or a kernel that cannot: not asked again. An entry that went away
        // meanwhile (ENOENT) says nothing of the next one.
        if (error.error == -EPERM || error.error == -EACCES || error.error == -EOPNOTSUPP ||
            error.error == -EINVAL)
            m_probeRefused = true;
    } else if (header.nlmsg_type == RTM_NEWNEIGH && step.step == Step::Neighbour &&
               payloadLength >= sizeof(ndmsg)) {
        ndmsg neighbour;
        std::memcpy(&neighbour, payload, sizeof neighbour);
        std::optional<HardwareAddress> hardware;
        std::optional<std::uint32_t> confirmedTicks;
        forEachAttribute(payload + NLMSG_ALIGN(sizeof(ndmsg)),
                         payloadLength - std::min(payloadLength, NLMSG_ALIGN(sizeof(ndmsg))),
                         [&](unsigned type, const char *value, std::size_t length) {
                             if (type == NDA_LLADDR && length == 6) {
                                 HardwareAddress a;
                                 std::memcpy(a.bytes.data(), value, 6);
                                 hardware = a;
                             } else if (type == NDA_CACHEINFO && length >= sizeof(nda_cacheinfo)) {
                                 nda_cacheinfo info;
                                 std::memcpy(&info, value, sizeof info);
                                 confirmedTicks = info.ndm_confirmed;
                             }
                         });
        result.verifying = neighbour.ndm_state & (NUD_INCOMPLETE | NUD_DELAY | NUD_PROBE);
        const bool usable = !(neighbour.ndm_state & (NUD_INCOMPLETE | NUD_FAILED | NUD_NOARP)) &&
                            neighbour.ndm_state != NUD_NONE;
        if (usable && hardware && !hardware->isZero()) {
            result.hardware = hardware;
            // The kernel keeps the time the host last confirmed the entry itself, as an
            // age; a static entry was never confirmed by anyone.
            if (confirmedTicks && !(neighbour.ndm_state & NUD_PERMANENT)) {
                const std::int64_t confirmedAt =
                    steadyNs() - std::int64_t(*confirmedTicks) * m_nsPerTick;
                // The age comes in whole ticks counted from kernel jiffies, so it may read up
                // to a tick too old: an answer to the request itself must still count.
                result.confirmedSince = confirmedAt + m_nsPerTick >= question.sinceNs;
            }
        }
        // An entry the host confirmed only before the moment asked about stays reachable in
        // the kernel's eyes for up to a minute, and nothing would ask the host again
        // meanwhile: have the kernel probe it now (one unicast ARP request to that host).
        const bool wantsConfirmation = question.sinceNs != std::numeric_limits<std::int64_t>::min();
        if (wantsConfirmation && result.hardware && !result.confirmedSince && !result.verifying &&
            !(neighbour.ndm_state & NUD_PERMANENT) && !m_probeRefused) {
            ndmsg probe{};
            probe.ndm_family = AF_INET;
            probe.ndm_ifindex = neighbour.ndm_ifindex;
            probe.ndm_state = NUD_PROBE;
            const std::uint32_t sequence = m_nextSequence++;
            m_inFlight.insert(sequence, {step.slot, Step::Probe});
            m_batch[step.slot].found = result;
            appendRequest(followUps, RTM_NEWNEIGH, sequence, probe, NDA_DST, question.address,
                          NLM_F_REQUEST | NLM_F_REPLACE | NLM_F_ACK);
            return;
        }
    }
    // Anything else (an error such as "no entry", an unexpected reply): nothing known.
    answer(step.slot, result);
}

void NeighbourTable::answer(std::size_t slot, const NeighbourAnswer &result)
{
    Question &question = m_batch[slot];
    if (question.answered)
        return;
    question.answered = true;
    --m_unanswered;
    const std::int64_t tag = question.tag;
    Q_EMIT answered(result, tag);
}

void NeighbourTable::giveUp()
{
    if (m_routesSequence != 0) {
        // The routes never came: every question goes to the route step from now on.
        m_routesSequence = 0;
        m_routes = Routes::Unusable;
        m_reading = {};
        scheduleBatch();
        return;
    }
    QPointer<NeighbourTable> self(this);
    const std::uint64_t cancels = m_cancels;
    // Answered from a copy: a listener may ask again, or cancel, meanwhile.
    std::vector<Question> batch = std::move(m_batch);
    m_batch.clear();
    m_inFlight.clear();
    m_unanswered = 0;
    m_batchTimer.stop();
    for (const Question &question : batch) {
        if (question.answered)
            continue;
        NeighbourAnswer none;
        none.address = question.address;
        Q_EMIT answered(none, question.tag);
        if (!self || m_cancels != cancels)
            return;
    }
    scheduleBatch();
}
