#include "scan/components/DeviceNameLookup.h"

#include "scan/components/AresLookup.h"
#include "scan/components/DottedQuad.h"

#include <QDateTime>
#include <QPointer>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int TickMs = 50;
constexpr std::uint16_t TypePtr = 12;
constexpr std::uint16_t TypeNbstat = 0x21;
constexpr std::uint16_t ClassIn = 1;

std::int64_t nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

void put16(QByteArray &out, std::uint16_t value)
{
    out.append(char(value >> 8));
    out.append(char(value & 0xff));
}

QByteArray header(std::uint16_t id, std::uint16_t flags)
{
    QByteArray out;
    put16(out, id);
    put16(out, flags);
    put16(out, 1); // one question
    put16(out, 0);
    put16(out, 0);
    put16(out, 0);
    return out;
}

// Reads only the bytes that are there: every length and pointer is checked.
class Reader
{
public:
    explicit Reader(QByteArrayView bytes)
        : m_bytes(bytes)
    {}
    bool ok() const { return m_ok; }
    qsizetype at() const { return m_at; }
    std::uint16_t u16()
    {
        if (m_at + 2 > m_bytes.size()) {
            m_ok = false;
            return 0;
        }
        const auto value =
            std::uint16_t(std::uint8_t(m_bytes[m_at]) << 8 | std::uint8_t(m_bytes[m_at + 1]));
        m_at += 2;
        return value;
    }
    void skip(qsizetype count)
    {
        if (count < 0 || m_at + count > m_bytes.size())
            m_ok = false;
        else
            m_at += count;
    }
    // A domain name at the current place, following compression pointers; the place moves
    // past the name as written there.
    QByteArray name()
    {
        QByteArray out;
        qsizetype at = m_at;
        bool jumped = false;
        for (int steps = 0; steps < 128; ++steps) {
            if (at >= m_bytes.size())
                break;
            const auto length = std::uint8_t(m_bytes[at]);
            if ((length & 0xc0) == 0xc0) {
                if (at + 1 >= m_bytes.size())
                    break;
                if (!jumped)
                    m_at = at + 2;
                jumped = true;
                at = qsizetype(length & 0x3f) << 8 | std::uint8_t(m_bytes[at + 1]);
                continue;
            }
            if (length & 0xc0 || at + 1 + length > m_bytes.size())
                break;
            if (length == 0) {
                if (!jumped)
                    m_at = at + 1;
                return out.size() <= AresLookup::MaxNameLength + 1 ? out : QByteArray();
            }
            if (!out.isEmpty())
                out.append('.');
            out.append(m_bytes.sliced(at + 1, length));
            at += 1 + length;
        }
        m_ok = false;
        return {};
    }

private:
    QByteArrayView m_bytes;
    qsizetype m_at = 0;
    bool m_ok = true;
};

// The answer section of a reply to `id`: the reader stands at the first answer, and the
// count of answers; none for anything else.
std::optional<int> answers(Reader &r, std::uint16_t id, const QByteArray &question = {})
{
    const std::uint16_t replyId = r.u16();
    const std::uint16_t flags = r.u16();
    const std::uint16_t questions = r.u16();
    const std::uint16_t count = r.u16();
    r.skip(4);
    // A reply (QR set) without an error.
    if (!r.ok() || replyId != id || !(flags & 0x8000) || (flags & 0x000f) != 0)
        return std::nullopt;
    for (int i = 0; i < questions && r.ok(); ++i) {
        // A reply that repeats a question must repeat the one asked.
        if (r.name().compare(question, Qt::CaseInsensitive) != 0 && !question.isEmpty())
            return std::nullopt;
        r.skip(4);
    }
    return r.ok() ? std::optional<int>(count) : std::nullopt;
}

} // namespace

DeviceNameLookup::DeviceNameLookup(std::unique_ptr<LookupControl> dns, QObject *parent)
    : LookupControl(parent)
    , m_dns(std::move(dns))
{
    connect(m_dns.get(), &LookupControl::LookupAnswer, this, &DeviceNameLookup::dnsAnswered);
    connect(m_dns.get(), &LookupControl::problem, this, &LookupControl::problem);
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd >= 0) {
        // A host where nobody listens on the port says so at once ("port unreachable"):
        // the step ends then instead of at its time-out.
        const int on = 1;
        ::setsockopt(m_fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
        m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this,
                &DeviceNameLookup::readReplies);
    }
    m_timer.setInterval(TickMs);
    connect(&m_timer, &QTimer::timeout, this, &DeviceNameLookup::expire);
}

DeviceNameLookup::~DeviceNameLookup()
{
    // The DNS lookups answer as cancelled while it goes; nothing is passed on by then.
    m_dns->disconnect(this);
    m_notifier.reset();
    if (m_fd >= 0)
        ::close(m_fd);
}

QByteArray DeviceNameLookup::mdnsQuery(std::uint16_t id, std::uint32_t address)
{
    QByteArray out = header(id, 0);
    for (int shift = 0; shift < 32; shift += 8) {
        const QByteArray label = QByteArray::number((address >> shift) & 0xff);
        out.append(char(label.size()));
        out.append(label);
    }
    out.append("\x07in-addr\x04"
               "arpa",
               13);
    out.append('\0');
    put16(out, TypePtr);
    put16(out, ClassIn);
    return out;
}

QByteArray DeviceNameLookup::netbiosQuery(std::uint16_t id)
{
    // The wildcard name "*", padded with NULs to 16 bytes, each half-byte as a letter.
    QByteArray out = header(id, 0);
    out.append(char(32));
    out.append("CK");
    out.append(QByteArray(30, 'A'));
    out.append('\0');
    put16(out, TypeNbstat);
    put16(out, ClassIn);
    return out;
}

QString DeviceNameLookup::mdnsName(QByteArrayView reply, std::uint16_t id, std::uint32_t address)
{
    Reader r(reply);
    const QByteArray asked = QByteArray::number(address & 0xff) + '.' +
                             QByteArray::number(address >> 8 & 0xff) + '.' +
                             QByteArray::number(address >> 16 & 0xff) + '.' +
                             QByteArray::number(address >> 24) + ".in-addr.arpa";
    const auto count = answers(r, id, asked);
    for (int i = 0; count && i < *count && r.ok(); ++i) {
        r.name();
        const std::uint16_t type = r.u16();
        r.skip(6); // class, time to live
        const std::uint16_t length = r.u16();
        if (!r.ok())
            break;
        if (type == TypePtr) {
            // The name may point back into the whole message.
            Reader data(reply);
            data.skip(r.at());
            const QByteArray name = data.name();
            if (data.ok() && !name.isEmpty())
                return AresLookup::sanitizedName(name.constData());
        }
        r.skip(length);
    }
    return {};
}

QString DeviceNameLookup::netbiosName(QByteArrayView reply, std::uint16_t id)
{
    Reader r(reply);
    const auto count = answers(r, id);
    if (!count || *count < 1)
        return {};
    r.name();
    const std::uint16_t type = r.u16();
    r.skip(6);
    r.u16(); // data length; the names are counted below
    if (!r.ok() || type != TypeNbstat || r.at() >= reply.size())
        return {};
    const int names = std::uint8_t(reply[r.at()]);
    const qsizetype first = r.at() + 1;
    // Each name: 15 characters, a suffix byte (0x00: the machine's own name), two flag bytes
    // (the top bit of the first: a group name).
    for (int i = 0; i < names; ++i) {
        const qsizetype at = first + qsizetype(i) * 18;
        if (at + 18 > reply.size())
            break;
        if (reply[at + 15] != '\0' || (std::uint8_t(reply[at + 16]) & 0x80))
            continue;
        const QByteArray name = reply.sliced(at, 15).toByteArray().trimmed();
        if (!name.isEmpty() && !name.contains('\0'))
            return AresLookup::sanitizedName(name.constData());
    }
    return {};
}

std::uint16_t DeviceNameLookup::freeId()
{
    while (m_nextId == 0 || m_probes.contains(m_nextId))
        ++m_nextId;
    return m_nextId++;
}

void DeviceNameLookup::dnsAnswered(const QString &result, const QString &hostAddress, int status,
                                   const QString &tag, int elapsedMs)
{
    const auto address = parseDottedQuad(hostAddress);
    const bool noName = status == NoName || status == NoAnswer || status == ServerFailure;
    if (!noName || !address || m_fd < 0 || m_probes.size() >= 0xfff0) {
        Q_EMIT LookupAnswer(result, hostAddress, status, tag, elapsedMs);
        return;
    }
    const std::uint16_t id = freeId();
    Probe &probe = m_probes[id];
    probe = {*address, result, hostAddress, status, tag, elapsedMs, nowMs(), false, false};
    send(id, probe);
    if (!m_timer.isActive())
        m_timer.start();
}

void DeviceNameLookup::send(std::uint16_t id, const Probe &probe)
{
    const QByteArray query = probe.netbios ? netbiosQuery(id) : mdnsQuery(id, probe.address);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(probe.address);
    to.sin_port = htons(std::uint16_t(probe.netbios ? m_netbiosPort : m_mdnsPort));
    // A query that cannot go out (no route, a full buffer) simply finds no name. An error
    // reported for an earlier query fails the next send once without sending it: again.
    for (int tries = 0; tries < 2; ++tries) {
        if (::sendto(m_fd, query.constData(), std::size_t(query.size()), 0,
                     reinterpret_cast<sockaddr *>(&to), sizeof to) >= 0 ||
            errno == EAGAIN || errno == EWOULDBLOCK)
            break;
    }
}

bool DeviceNameLookup::drainErrors()
{
    // Every pending error is read, or the socket would stay readable and the loop spin.
    QPointer<DeviceNameLookup> self(this);
    for (;;) {
        char payload[512];
        char control[512];
        sockaddr_in to{};
        iovec data{payload, sizeof payload};
        msghdr message{};
        message.msg_name = &to;
        message.msg_namelen = sizeof to;
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t length = ::recvmsg(m_fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
        if (length < 0) {
            if (errno == EINTR)
                continue;
            return true;
        }
        bool unreachable = false;
        for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR ||
                c->cmsg_len < CMSG_LEN(sizeof(sock_extended_err)))
                continue;
            sock_extended_err error;
            std::memcpy(&error, CMSG_DATA(c), sizeof error);
            unreachable = error.ee_origin == SO_EE_ORIGIN_ICMP && error.ee_type == 3;
        }
        // The error quotes the query itself: its id, and where it went.
        if (!unreachable || length < 2)
            continue;
        const auto id = std::uint16_t(std::uint8_t(payload[0]) << 8 | std::uint8_t(payload[1]));
        const auto probe = m_probes.find(id);
        if (probe == m_probes.end() || ntohl(to.sin_addr.s_addr) != probe->address)
            continue;
        const int port = ntohs(to.sin_port);
        if (port == m_mdnsPort && !probe->netbios) {
            probe->netbios = true;
            send(id, *probe);
        } else if (port == m_netbiosPort && probe->netbios) {
            finish(id, {});
            if (!self)
                return false;
        }
    }
}

void DeviceNameLookup::readReplies()
{
    QPointer<DeviceNameLookup> self(this);
    if (!drainErrors())
        return;
    char buffer[2048];
    for (;;) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t received = ::recvfrom(m_fd, buffer, sizeof buffer, 0,
                                            reinterpret_cast<sockaddr *>(&from), &fromLength);
        if (received < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (received < 2)
            continue;
        const QByteArrayView reply(buffer, received);
        const auto id = std::uint16_t(std::uint8_t(buffer[0]) << 8 | std::uint8_t(buffer[1]));
        const auto probe = m_probes.find(id);
        // Only from a port asked, with the query's id; a busy responder's mDNS answer may
        // still come while NetBIOS is asked. A host with several addresses answers from the
        // one its kernel picks, so the source address is not required to be the one asked;
        // an mDNS reply repeats the question instead.
        const int port = ntohs(from.sin_port);
        const bool mdns = port == m_mdnsPort;
        if (probe == m_probes.end() || !(mdns || (probe->netbios && port == m_netbiosPort)))
            continue;
        const QString name = mdns ? mdnsName(reply, id, probe->address) : netbiosName(reply, id);
        if (!name.isEmpty()) {
            finish(id, name);
            if (!self)
                return;
        } else if (mdns && !probe->netbios) {
            probe->netbios = true; // mDNS has no name for it: on to NetBIOS at once
            send(id, *probe);
        }
    }
}

void DeviceNameLookup::expire()
{
    QPointer<DeviceNameLookup> self(this);
    const std::int64_t now = nowMs();
    QList<std::uint16_t> done;
    for (auto it = m_probes.begin(); it != m_probes.end(); ++it) {
        const std::int64_t age = now - it->startedMs;
        if (!it->netbios && age >= MdnsWaitMs) {
            it->netbios = true;
            send(it.key(), *it);
        } else if (!it->netbios && !it->mdnsRepeated && age >= MdnsWaitMs / 2) {
            it->mdnsRepeated = true;
            send(it.key(), *it);
        } else if (it->netbios && age >= TotalWaitMs) {
            done.append(it.key());
        }
    }
    for (const std::uint16_t id : done) {
        finish(id, {});
        if (!self)
            return;
    }
    if (m_probes.isEmpty())
        m_timer.stop();
}

void DeviceNameLookup::finish(std::uint16_t id, const QString &name)
{
    const auto found = m_probes.constFind(id);
    if (found == m_probes.cend())
        return;
    const Probe probe = *found;
    m_probes.erase(found);
    if (m_probes.isEmpty())
        m_timer.stop();
    const int elapsed = probe.elapsedMs + int(nowMs() - probe.startedMs);
    if (name.isEmpty())
        Q_EMIT LookupAnswer(probe.result, probe.hostAddress, probe.status, probe.tag, elapsed);
    else
        Q_EMIT LookupAnswer(name, probe.hostAddress, Found, probe.tag, elapsed);
}

void DeviceNameLookup::CancelLookups()
{
    QPointer<DeviceNameLookup> self(this);
    m_dns->CancelLookups();
    if (!self)
        return;
    const QHash<std::uint16_t, Probe> probes = std::exchange(m_probes, {});
    m_timer.stop();
    for (const Probe &probe : probes) {
        Q_EMIT LookupAnswer(u"Lookup cancelled"_s, probe.hostAddress, Cancelled, probe.tag,
                            probe.elapsedMs + int(nowMs() - probe.startedMs));
        if (!self)
            return;
    }
}
