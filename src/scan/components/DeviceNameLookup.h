#pragma once

#include "scan/components/LookupControl.h"

#include <QByteArray>
#include <QHash>
#include <QTimer>

#include <cstdint>
#include <memory>

class QSocketNotifier;

// Reverse lookups that, where DNS finds no name, ask the host itself: first a unicast mDNS
// query for the PTR record of its in-addr.arpa name, sent to its port 5353, then a NetBIOS
// node-status query to its port 137. The first name found answers the lookup; without one
// the DNS answer stands. A host that refuses a port ("port unreachable") ends that step at
// once. An unanswered mDNS query is sent once more halfway, as a lost
// packet or a busy responder would otherwise cost the name. Each host is given at most a second in
// all, so the answer is never later than that after DNS gave up. Packets go only to the address
// looked up, from one UDP socket watched on the event loop; a reply counts only from the port
// asked, with the query's id (and for mDNS the question asked, where it repeats it).
class DeviceNameLookup : public LookupControl
{
    Q_OBJECT
public:
    static constexpr int MdnsPort = 5353;
    static constexpr int NetbiosPort = 137;
    static constexpr int MdnsWaitMs = 500;
    static constexpr int TotalWaitMs = 1000;

    // Takes DNS lookups from `dns`, which it owns.
    explicit DeviceNameLookup(std::unique_ptr<LookupControl> dns, QObject *parent = nullptr);
    ~DeviceNameLookup() override;

    QString LookupTag() const override { return m_dns->LookupTag(); }
    void setLookupTag(const QString &tag) override { m_dns->setLookupTag(tag); }
    void StartLookup(const QString &address) override { m_dns->StartLookup(address); }
    int LookupsPending() const override { return m_dns->LookupsPending() + int(m_probes.size()); }
    int LookupCapacity() const override { return m_dns->LookupCapacity(); }
    void CancelLookups() override;

    // Ports the queries go to; tests point them at responders of their own.
    void setPorts(int mdns, int netbios)
    {
        m_mdnsPort = mdns;
        m_netbiosPort = netbios;
    }

    // The query packets and the names read from replies, for the tests: none for a reply
    // that is not an answer to `id` or holds no name.
    static QByteArray mdnsQuery(std::uint16_t id, std::uint32_t address);
    static QByteArray netbiosQuery(std::uint16_t id);
    static QString mdnsName(QByteArrayView reply, std::uint16_t id, std::uint32_t address);
    static QString netbiosName(QByteArrayView reply, std::uint16_t id);

private:
    struct Probe
    {
        std::uint32_t address = 0;
        QString result; // what DNS said
        QString hostAddress;
        int status = 0;
        QString tag;
        int elapsedMs = 0;
        std::int64_t startedMs = 0;
        bool netbios = false; // the second step
        bool mdnsRepeated = false;
    };

    void dnsAnswered(const QString &result, const QString &hostAddress, int status,
                     const QString &tag, int elapsedMs);
    void send(std::uint16_t id, const Probe &probe);
    void readReplies();
    // Reads the errors the kernel queued for the queries; false when this went away.
    bool drainErrors();
    void expire();
    void finish(std::uint16_t id, const QString &name);
    std::uint16_t freeId();

    std::unique_ptr<LookupControl> m_dns;
    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QHash<std::uint16_t, Probe> m_probes; // by query id
    std::uint16_t m_nextId = 1;
    QTimer m_timer;
    int m_mdnsPort = MdnsPort;
    int m_netbiosPort = NetbiosPort;
};
