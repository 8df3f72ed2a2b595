#include "scan/components/AresLookup.h"

#include "scan/components/AresSocketWatcher.h"

#include <QByteArray>
#include <QPointer>

#include <algorithm>
#include <ares.h>
#include <arpa/inet.h>
#include <netdb.h>

using namespace Qt::StringLiterals;

namespace {

#if ARES_VERSION < 0x011C00
constexpr int DnsClassIn = 1;
constexpr int DnsTypePtr = 12;
#endif

const QString &noNameText()
{
    static const QString text = u"No name found"_s;
    return text;
}

const QString &cancelledText()
{
    static const QString text = u"Lookup cancelled"_s;
    return text;
}

struct Outcome
{
    int status;
    QString text;
};

Outcome outcomeOf(int aresStatus)
{
    switch (aresStatus) {
    case ARES_ENOTFOUND: // NXDOMAIN
    case ARES_ENODATA:   // the name exists but has no PTR record
        return {LookupControl::NoName, noNameText()};
    case ARES_ETIMEOUT:
    case ARES_ECONNREFUSED:
        return {LookupControl::NoAnswer, u"No answer from DNS server"_s};
    case ARES_ECANCELLED:
    case ARES_EDESTRUCTION:
        return {LookupControl::Cancelled, cancelledText()};
    case ARES_ENOMEM:
        return {LookupControl::ServerFailure, u"Out of memory"_s};
    default: // SERVFAIL, REFUSED, NOTIMP, FORMERR, a reply that does not parse
        return {LookupControl::ServerFailure, u"DNS server failure"_s};
    }
}

QString aresError(int status)
{
    return QString::fromLatin1(ares_strerror(status));
}

} // namespace

AresLookup::AresLookup(QObject *parent)
    : AresLookup(Config{}, parent)
{}

AresLookup::AresLookup(const Config &config, QObject *parent)
    : LookupControl(parent)
    , m_config(config)
    , m_hosts(config.hostsFile)
    , m_watcher(std::make_unique<AresSocketWatcher>())
{
    static const int libraryStatus = ares_library_init(ARES_LIB_INIT_ALL);
    if (libraryStatus != ARES_SUCCESS) {
        m_initError = u"Name lookup unavailable: "_s + aresError(libraryStatus);
        return;
    }

    // The hosts file is our own index; DNS goes through a plain PTR query, which never reads
    // the hosts file: only such a query tells NXDOMAIN, time-outs and server failures apart.
    ares_options options{};
    // Hand SERVFAIL and REFUSED answers to us instead of retrying them until they look like
    // a server that never answered: the user is told which of the two happened.
    options.flags = ARES_FLAG_NOCHECKRESP;
    options.timeout = TimeoutMs;
    options.tries = Tries;
    options.sock_state_cb = &AresSocketWatcher::sockStateCallback;
    options.sock_state_cb_data = m_watcher.get();
    const int mask = ARES_OPT_FLAGS | ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES | ARES_OPT_SOCK_STATE_CB;

    ares_channel channel = nullptr;
    int status = ares_init_options(&channel, &options, mask);
    if (status == ARES_SUCCESS && !m_config.servers.isEmpty())
        status = ares_set_servers_ports_csv(channel, m_config.servers.toLatin1().constData());
    if (status != ARES_SUCCESS) {
        if (channel)
            ares_destroy(channel);
        m_initError = u"Name lookup unavailable: "_s + aresError(status);
        return;
    }
    m_channel = channel;
    m_watcher->setChannel(channel);
}

AresLookup::~AresLookup()
{
    // Every lookup answers exactly once, so the outstanding ones answer now, while this is
    // still a whole object. A handler may start new lookups; those are cancelled too.
    for (;;) {
        const QList<quint64> ids = markAllCancelled();
        if (ids.isEmpty())
            break;
        deliverAll(ids);
    }
    m_destroying = true;
    if (m_channel) {
        // Runs the remaining callbacks with ARES_EDESTRUCTION; they only free their context.
        ares_destroy(m_channel);
        m_channel = nullptr;
    }
    m_watcher->setChannel(nullptr);
}

void AresLookup::StartLookup(const QString &address)
{
    const quint64 id = m_nextId++;
    Request request;
    request.address = address;
    request.tag = m_tag;
    request.clock.start();
    const bool full = m_requests.size() >= Capacity;
    m_requests.insert(id, request);

    if (full) {
        finish(id, TooManyLookups, u"Too many lookups at once"_s);
        return;
    }
    in_addr addr{};
    // inet_pton takes exactly four decimal octets without leading zeros or blanks.
    if (address.size() > 15 || inet_pton(AF_INET, address.toLatin1().constData(), &addr) != 1) {
        finish(id, BadAddress, u"Not a valid address"_s);
        return;
    }
    m_requests[id].addr = addr.s_addr;
    if (!m_channel) {
        finish(id, ResolverUnavailable, m_initError);
        return;
    }

    // A name in the hosts file answers (from the event loop, as every answer); a line
    // whose name is nothing showable goes on to DNS.
    if (m_config.useHostsFile) {
        const auto name = m_hosts.nameOf(ntohl(addr.s_addr));
        if (const QString problem = m_hosts.takeProblem(); !problem.isEmpty())
            QMetaObject::invokeMethod(
                this, [this, problem] { Q_EMIT this->problem(problem); }, Qt::QueuedConnection);
        if (name) {
            const QString shown = sanitizedName(name->constData());
            if (!shown.isEmpty()) {
                finish(id, Found, shown);
                return;
            }
        }
    }
    startQuery(id);
    m_watcher->rearm();
}

void AresLookup::CancelLookups()
{
    const QList<quint64> ids = markAllCancelled();
    cancelAresQueries();
    deliverAll(ids);
}

QString AresLookup::sanitizedName(const char *name)
{
    if (!name)
        return {};
    // A PTR answer is attacker-controlled: no control characters, blanks or non-ASCII bytes
    // reach a table cell, and its length stays within what DNS allows for a name.
    const qsizetype length = qstrnlen(name, MaxNameLength + 2);
    QString out;
    out.reserve(length);
    for (qsizetype i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        out.append(c > 0x20 && c < 0x7f ? QLatin1Char(char(c)) : QLatin1Char('?'));
    }
    if (out.endsWith(u'.'))
        out.chop(1);
    out.truncate(MaxNameLength);
    return out;
}

// The lookup a c-ares callback belongs to, while it still runs; null once it was answered,
// cancelled or the control is being destroyed.
const AresLookup::Request *AresLookup::runningRequest(const CallContext &context)
{
    AresLookup *self = context.self;
    if (self->m_destroying)
        return nullptr;
    const auto it = self->m_requests.constFind(context.id);
    if (it == self->m_requests.cend() || it->stage != Stage::Running)
        return nullptr;
    return &*it;
}

void AresLookup::ptrAnswered(void *arg, int status, const QString &name)
{
    const std::unique_ptr<CallContext> context(static_cast<CallContext *>(arg));
    if (!runningRequest(*context))
        return;
    if (status == ARES_SUCCESS && !name.isEmpty()) {
        context->self->finish(context->id, Found, name);
        return;
    }
    const Outcome outcome = outcomeOf(status == ARES_SUCCESS ? ARES_ENODATA : status);
    context->self->finish(context->id, outcome.status, outcome.text);
}

void AresLookup::startQuery(quint64 id)
{
    const quint32 a = ntohl(m_requests.value(id).addr);
    const QByteArray name =
        QByteArray::number(a & 0xff) + '.' + QByteArray::number((a >> 8) & 0xff) + '.' +
        QByteArray::number((a >> 16) & 0xff) + '.' + QByteArray::number(a >> 24) + ".in-addr.arpa";
    // May answer before returning (no usable server): finish() only queues the delivery.
    ++m_aresDepth;
#if ARES_VERSION >= 0x011C00
    // 1.28 brought parsed records and deprecates the raw query and its parser.
    const auto answered = [](void *arg, ares_status_t status, size_t,
                             const ares_dns_record_t *record) {
        QString found;
        const size_t count = record ? ares_dns_record_rr_cnt(record, ARES_SECTION_ANSWER) : 0;
        for (size_t i = 0; i < count && found.isEmpty(); ++i) {
            const ares_dns_rr_t *rr = ares_dns_record_rr_get_const(record, ARES_SECTION_ANSWER, i);
            if (rr && ares_dns_rr_get_type(rr) == ARES_REC_TYPE_PTR)
                found = sanitizedName(ares_dns_rr_get_str(rr, ARES_RR_PTR_DNAME));
        }
        ptrAnswered(arg, status, found);
    };
    ares_query_dnsrec(m_channel, name.constData(), ARES_CLASS_IN, ARES_REC_TYPE_PTR, answered,
                      new CallContext{this, id}, nullptr);
#else
    const auto answered = [](void *arg, int status, int, unsigned char *abuf, int alen) {
        QString found;
        if (status == ARES_SUCCESS) {
            // The address only fills the result's address list, which is not read.
            const in_addr unused{};
            hostent *host = nullptr;
            status = ares_parse_ptr_reply(abuf, alen, &unused, sizeof unused, AF_INET, &host);
            if (host) {
                found = sanitizedName(host->h_name);
                ares_free_hostent(host);
            }
        }
        ptrAnswered(arg, status, found);
    };
    ares_query(m_channel, name.constData(), DnsClassIn, DnsTypePtr, answered,
               new CallContext{this, id});
#endif
    --m_aresDepth;
}

void AresLookup::finish(quint64 id, int status, const QString &result)
{
    const auto it = m_requests.find(id);
    if (it == m_requests.end() || it->stage != Stage::Running)
        return;
    it->stage = Stage::Answered;
    it->status = status;
    it->result = result;
    it->elapsedMs = int(qMin<qint64>(it->clock.elapsed(), INT_MAX));
    // Never inside StartLookup or a c-ares callback: the caller may start, cancel or
    // destroy from its handler.
    QMetaObject::invokeMethod(
        this, [this, id] { deliver(id); }, Qt::QueuedConnection);
}

void AresLookup::deliver(quint64 id)
{
    const auto it = m_requests.find(id);
    if (it == m_requests.end() || it->stage != Stage::Answered)
        return;
    it->stage = Stage::Delivering;
    // A copy: the handler may start or cancel lookups and so move the table.
    const Request request = *it;
    const QPointer<AresLookup> guard(this);
    Q_EMIT LookupAnswer(request.result, request.address, request.status, request.tag,
                        request.elapsedMs);
    // Still pending while the handler ran; gone only now.
    if (guard)
        m_requests.remove(id);
}

QList<quint64> AresLookup::markAllCancelled()
{
    QList<quint64> ids;
    for (auto it = m_requests.begin(); it != m_requests.end(); ++it) {
        if (it->stage == Stage::Delivering)
            continue;
        it->stage = Stage::Answered;
        it->status = Cancelled;
        it->result = cancelledText();
        it->elapsedMs = int(qMin<qint64>(it->clock.elapsed(), INT_MAX));
        ids.append(it.key());
    }
    std::sort(ids.begin(), ids.end()); // answer in the order the lookups started
    return ids;
}

bool AresLookup::deliverAll(const QList<quint64> &ids)
{
    const QPointer<AresLookup> guard(this);
    for (const quint64 id : ids) {
        deliver(id);
        if (!guard)
            return false;
    }
    return true;
}

void AresLookup::cancelAresQueries()
{
    if (!m_channel)
        return;
    if (m_aresDepth > 0) {
        // ares_cancel inside a c-ares callback would free queries c-ares is still using.
        QMetaObject::invokeMethod(
            this, [this] { cancelAresQueries(); }, Qt::QueuedConnection);
        return;
    }
    // Lookups started since a deferred cancel must go on running.
    for (const Request &request : std::as_const(m_requests)) {
        if (request.stage == Stage::Running)
            return;
    }
    ++m_aresDepth;
    ares_cancel(m_channel); // our callbacks see the lookups already answered and do nothing
    --m_aresDepth;
    m_watcher->rearm();
}
