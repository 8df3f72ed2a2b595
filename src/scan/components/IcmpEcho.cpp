#include "scan/components/IcmpEcho.h"

#include "scan/components/DottedQuad.h"
#include "scan/components/IcmpPacket.h"

#include <QEventLoop>
#include <QPointer>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype MaxPayload = 1024;
constexpr int ResendDelayMs = 2;
constexpr std::int64_t NsPerMs = 1'000'000;

std::int64_t monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

QString addressText(std::uint32_t address)
{
    return u"%1.%2.%3.%4"_s.arg(address >> 24)
        .arg(address >> 16 & 0xff)
        .arg(address >> 8 & 0xff)
        .arg(address & 0xff);
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

} // namespace

IcmpEcho::IcmpEcho(QObject *parent)
    : IcmpEcho(SocketChoice::Auto, parent)
{}

IcmpEcho::IcmpEcho(SocketChoice choice, QObject *parent)
    : EchoControl(parent)
    , m_choice(choice)
{
    auto first = std::make_unique<IcmpSocket>(choice);
    const std::uint16_t id = first->identifier();
    addLane(std::move(first), id);
    setEchoData(QString());
    m_timeoutTimer.setSingleShot(true);
    m_timeoutTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_timeoutTimer, &QTimer::timeout, this, &IcmpEcho::expireRequests);
    m_resendTimer.setSingleShot(true);
    m_resendTimer.setInterval(ResendDelayMs);
    connect(&m_resendTimer, &QTimer::timeout, this, &IcmpEcho::sendQueued);
}

IcmpEcho::~IcmpEcho()
{
    for (const auto &[waiter, loop] : m_waitLoops)
        loop->quit();
}

IcmpSocket *IcmpEcho::watch(std::unique_ptr<IcmpSocket> socket)
{
    IcmpSocket *raw = socket.get();
    raw->onReply = [this, raw](const IcmpSocket::Reply &reply) {
        handleReply(raw, reply);
    };
    raw->onError = [this, raw](const IcmpSocket::Error &error) {
        handleError(raw, error);
    };
    m_sockets.push_back(std::move(socket));
    return raw;
}

void IcmpEcho::addLane(std::unique_ptr<IcmpSocket> socket, std::uint16_t id)
{
    IcmpSocket *owner = socket ? watch(std::move(socket)) : m_lanes.front().socket;
    // Each lane starts at a random sequence number, as the first one always did.
    m_lanes.push_back(
        Lane{owner, id, std::make_unique<EchoSequenceTable>(IcmpSocket::randomWord())});
}

int IcmpEcho::EchoCapacity() const
{
    return std::min(int(m_laneLimit) * EchoSequenceTable::Capacity, m_requestLimit);
}

void IcmpEcho::setEchoData(const QString &banner)
{
    m_payload = banner.toUtf8().left(MaxPayload);
    if (m_payload.isEmpty())
        m_payload = QByteArrayLiteral("Vantrel echo request payload....");
    m_sendPayload = m_payload + QByteArray(sizeof(std::uint64_t), '\0');
}

std::optional<IcmpEcho::Key> IcmpEcho::addRequest(Request request)
{
    if (m_inFlight >= m_requestLimit)
        return std::nullopt;
    ++m_inFlight;
    const auto key = addToLane(std::move(request));
    if (!key)
        --m_inFlight;
    return key;
}

std::optional<IcmpEcho::Key> IcmpEcho::addToLane(Request request)
{
    // The latest lane with room first, then the others, then a new one.
    for (std::size_t step = 0; step < m_lanes.size(); ++step) {
        const std::size_t lane = (m_lastLane + step) % m_lanes.size();
        if (m_lanes[lane].table->size() < EchoSequenceTable::Capacity) {
            const auto sequence = m_lanes[lane].table->add(std::move(request));
            return Key{lane, *sequence};
        }
    }
    if (m_lanes.size() >= m_laneLimit)
        return std::nullopt;
    const std::size_t before = m_lanes.size();
    if (m_lanes.front().socket->isRaw()) {
        if (const auto id = m_lanes.front().socket->addIdentifier())
            addLane(nullptr, *id);
    } else {
        auto socket = std::make_unique<IcmpSocket>(SocketChoice::DatagramOnly);
        if (socket->isOpen()) {
            const std::uint16_t id = socket->identifier();
            addLane(std::move(socket), id);
        }
    }
    if (m_lanes.size() == before) {
        // The system gave no further socket (out of descriptors, say): this is the limit.
        m_laneLimit = m_lanes.size();
        return std::nullopt;
    }
    const std::size_t lane = m_lanes.size() - 1;
    return Key{lane, *m_lanes[lane].table->add(std::move(request))};
}

std::optional<std::size_t> IcmpEcho::laneOf(const IcmpSocket *socket, std::uint16_t id) const
{
    for (std::size_t lane = 0; lane < m_lanes.size(); ++lane) {
        if (m_lanes[lane].id == id && m_lanes[lane].socket == socket)
            return lane;
    }
    return std::nullopt;
}

void IcmpEcho::SendEcho(const QString &address)
{
    ++m_pending;
    const std::uint64_t waiter = m_async ? 0 : ++m_nextWaiter;
    Outcome failure{address, m_tag, {}, Answered, 0, 0};
    const auto target = parseDottedQuad(address);
    if (!target) {
        failure.status = BadAddress;
        failure.text = u"Invalid IPv4 address"_s;
    } else if (!isAvailable()) {
        failure.status = NoIcmpSocket;
        failure.text = unavailableReason();
    } else {
        Request request;
        request.target = *target;
        request.address = address;
        request.tag = m_tag;
        // After the banner, a value of this request alone that the reply must echo.
        request.cookie = QRandomGenerator::system()->generate64();
        request.timeoutNs = std::max(m_timeout, 0) * NsPerMs;
        request.deadlineNs = monotonicNs() + request.timeoutNs;
        request.ttl = std::clamp(m_ttl, 1, 255);
        request.waiter = waiter;
        request.issued = m_issued++;
        if (const auto key = addRequest(std::move(request))) {
            m_lastLane = key->lane;
            m_lastSequence = key->sequence;
            armTimeout();
            if (m_unsent.empty())
                transmit(*key);
            else
                m_unsent.push_back(*key);
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

void IcmpEcho::transmit(Key key)
{
    Lane &lane = m_lanes[key.lane];
    Request *request = lane.table->find(key.sequence);
    if (!request || request->sent)
        return;
    std::memcpy(m_sendPayload.data() + m_payload.size(), &request->cookie, sizeof request->cookie);
    const int error = lane.socket->send(lane.id, request->target, key.sequence, request->ttl,
                                        m_sendPayload, request->sentNs);
    if (error == 0) {
        request->sent = true;
        return;
    }
    if (error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS) {
        // A full buffer says nothing about the host: try again shortly.
        m_unsent.push_back(key);
        if (!m_resendTimer.isActive())
            m_resendTimer.start();
        return;
    }
    finish(key, SendFailedBase + error, 0, IcmpSocket::errnoText(error));
}

void IcmpEcho::sendQueued()
{
    while (!m_unsent.empty()) {
        const Key key = m_unsent.front();
        m_unsent.pop_front();
        const std::size_t before = m_unsent.size();
        transmit(key);
        if (m_unsent.size() > before) {
            // Still full: keep the order and wait again.
            m_unsent.pop_back();
            m_unsent.push_front(key);
            return;
        }
    }
}

void IcmpEcho::handleReply(const IcmpSocket *socket, const IcmpSocket::Reply &reply)
{
    const auto lane = laneOf(socket, reply.id);
    if (!lane)
        return;
    const Request *request = m_lanes[*lane].table->find(reply.sequence);
    // Late replies, duplicates and replies from elsewhere find nothing that fits.
    if (!request || !request->sent || request->target != reply.source ||
        reply.payload.size() != m_payload.size() + qsizetype(sizeof request->cookie) ||
        !reply.payload.startsWith(m_payload) ||
        std::memcmp(reply.payload.constData() + m_payload.size(), &request->cookie,
                    sizeof request->cookie) != 0)
        return;
    const Key key{*lane, reply.sequence};
    // A reply the kernel took in after the time-out is a time-out, also when a stopped or
    // busy program reads it only now, before its timer has fired. A real-time clock set
    // back meanwhile must not give a negative time.
    const std::int64_t elapsed = std::max<std::int64_t>(0, reply.receivedNs - request->sentNs);
    if (elapsed > request->timeoutNs) {
        finish(key, TimedOut, 0, u"Request timed out"_s);
        return;
    }
    finish(key, Answered, int(std::min<std::int64_t>(elapsed / NsPerMs, 32767)), {}, elapsed);
}

void IcmpEcho::handleError(const IcmpSocket *socket, const IcmpSocket::Error &error)
{
    const auto lane = laneOf(socket, error.id);
    if (!lane)
        return;
    const Request *request = m_lanes[*lane].table->find(error.sequence);
    if (!request || !request->sent || request->target != error.destination)
        return;
    // Whatever the error quotes of our payload must be ours: a forger who never saw the
    // request cannot know its cookie.
    QByteArray payload = m_payload;
    payload.append(reinterpret_cast<const char *>(&request->cookie), sizeof request->cookie);
    const qsizetype quoted = std::min(error.quoted.size(), payload.size());
    if (error.quoted.first(quoted) != QByteArrayView(payload).first(quoted))
        return;
    const int status = error.type == IcmpPacket::DestinationUnreachableType ? DestinationUnreachable
                                                                            : TimeExceeded;
    finish(Key{*lane, error.sequence}, status, 0,
           errorCause(error.type, error.code) + u" from "_s + addressText(error.router));
}

std::optional<std::int64_t> IcmpEcho::nextDeadline() const
{
    std::optional<std::int64_t> next;
    for (const Lane &lane : m_lanes) {
        const auto deadline = lane.table->nextDeadline();
        if (deadline && (!next || *deadline < *next))
            next = deadline;
    }
    return next;
}

void IcmpEcho::expireRequests()
{
    const std::int64_t now = monotonicNs();
    for (std::size_t lane = 0; lane < m_lanes.size(); ++lane) {
        while (const auto sequence = m_lanes[lane].table->firstExpired(now))
            finish(Key{lane, *sequence}, TimedOut, 0, u"Request timed out"_s);
    }
    armTimeout();
}

void IcmpEcho::armTimeout()
{
    const auto next = nextDeadline();
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
    // In the order they were issued, across lanes.
    std::vector<std::pair<std::uint64_t, Key>> all;
    for (std::size_t lane = 0; lane < m_lanes.size(); ++lane) {
        for (const std::uint16_t sequence : m_lanes[lane].table->inOrderAdded())
            all.emplace_back(m_lanes[lane].table->find(sequence)->issued, Key{lane, sequence});
    }
    std::sort(all.begin(), all.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    for (const auto &[issued, key] : all)
        finish(key, Cancelled, 0, u"Request cancelled"_s);
    m_timeoutTimer.stop();
}

void IcmpEcho::finish(Key key, int status, int roundTrip, const QString &text,
                      std::int64_t roundTripNs)
{
    std::optional<Request> request = m_lanes[key.lane].table->take(key.sequence);
    if (!request)
        return;
    --m_inFlight;
    conclude(Outcome{std::move(request->address), std::move(request->tag), text, status, roundTrip,
                     roundTripNs},
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
    m_roundTripNs = outcome.roundTripNs;
    m_errorText = outcome.text;
}
