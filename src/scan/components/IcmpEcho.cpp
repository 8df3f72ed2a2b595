#include "scan/components/IcmpEcho.h"

#include "scan/components/IcmpPacket.h"

#include <QEventLoop>
#include <QPointer>
#include <QRandomGenerator>

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
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

} // namespace

IcmpEcho::IcmpEcho(QObject *parent)
    : IcmpEcho(SocketChoice::Auto, parent)
{}

IcmpEcho::IcmpEcho(SocketChoice choice, QObject *parent)
    : EchoControl(parent)
    , m_socket(choice)
    , m_table(IcmpSocket::randomWord())
{
    m_socket.onReply = [this](const IcmpSocket::Reply &reply) {
        handleReply(reply);
    };
    m_socket.onError = [this](const IcmpSocket::Error &error) {
        handleError(error);
    };
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
    } else if (!m_socket.isOpen()) {
        failure.status = NoIcmpSocket;
        failure.text = m_socket.unavailableReason();
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

void IcmpEcho::transmit(std::uint16_t sequence)
{
    Request *request = m_table.find(sequence);
    if (!request || request->sent)
        return;
    const int error =
        m_socket.send(request->target, sequence, request->ttl, request->payload, request->sentNs);
    if (error == 0) {
        request->sent = true;
        return;
    }
    if (error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS) {
        // A full buffer says nothing about the host: try again shortly.
        m_unsent.push_back(sequence);
        if (!m_resendTimer.isActive())
            m_resendTimer.start();
        return;
    }
    finish(sequence, SendFailedBase + error, 0, IcmpSocket::errnoText(error));
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

void IcmpEcho::handleReply(const IcmpSocket::Reply &reply)
{
    const Request *request = m_table.find(reply.sequence);
    // Late replies, duplicates and replies from elsewhere find nothing that fits.
    if (!request || !request->sent || request->target != reply.source ||
        reply.payload != request->payload)
        return;
    // A real-time clock set back meanwhile must not give a negative time.
    const std::int64_t milliseconds = (reply.receivedNs - request->sentNs) / NsPerMs;
    finish(reply.sequence, Answered, int(std::clamp<std::int64_t>(milliseconds, 0, 32767)), {});
}

void IcmpEcho::handleError(const IcmpSocket::Error &error)
{
    const Request *request = m_table.find(error.sequence);
    if (!request || !request->sent || request->target != error.destination)
        return;
    const int status = error.type == IcmpPacket::DestinationUnreachableType ? DestinationUnreachable
                                                                            : TimeExceeded;
    finish(error.sequence, status, 0,
           errorCause(error.type, error.code) + u" from "_s + addressText(error.router));
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
