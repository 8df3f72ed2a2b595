#pragma once

#include "scan/components/NeighbourControl.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QTimer>

#include <deque>
#include <memory>
#include <vector>

class QSocketNotifier;

// The kernel's neighbour table through rtnetlink, without any outside program. For each
// address the route decides first: only a host on a directly connected network (no
// gateway on the way) has its hardware address looked up, on the route's interface, so a
// router's address is never shown for the hosts behind it. Questions go to the kernel in
// batches on one socket, watched from the event loop; a batch the kernel leaves unanswered
// is given up after a second, its questions answered with nothing. The routing tables are
// read first (and again every few seconds): an address that no route without a gateway
// covers is answered at once, so hosts behind a router cost no question to the kernel.
class NeighbourTable : public NeighbourControl
{
    Q_OBJECT
public:
    explicit NeighbourTable(QObject *parent = nullptr);
    ~NeighbourTable() override;

    void lookup(std::uint32_t address, std::int64_t sinceNs, std::int64_t tag) override;
    int pending() const override { return int(m_queue.size() + m_unanswered); }
    void cancelAll() override;

    // False when no rtnetlink socket could be opened: every answer is then empty.
    bool isAvailable() const { return m_fd >= 0; }

    static constexpr int BatchSize = 256;
    static constexpr int BatchTimeoutMs = 1000;
    static constexpr int RoutesRefreshMs = 5000;
    static constexpr std::size_t MaxRoutes = 10'000;
    static constexpr std::size_t MaxDirectRoutes = 256;

private:
    struct Question
    {
        std::uint32_t address = 0;
        std::int64_t sinceNs = 0;
        std::int64_t tag = 0;
        bool answered = false;
        NeighbourAnswer found; // kept while the kernel's word on a probe is awaited
    };

    void startBatch();
    void sendBatch();
    bool requestRoutes();
    void readRoute(const struct nlmsghdr &header, const char *message);
    bool mayBeDirect(std::uint32_t address) const;
    void readReplies();
    void handleMessage(const struct nlmsghdr &header, const char *message, QByteArray &followUps);
    void answer(std::size_t slot, const NeighbourAnswer &result);
    void giveUp();
    bool send(const QByteArray &messages);
    void scheduleBatch();

    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::deque<Question> m_queue;
    std::vector<Question> m_batch;
    std::size_t m_unanswered = 0;
    // Sequence number of a request -> its question in the batch, and which step it is.
    enum class Step
    {
        Route,
        Neighbour,
        Probe
    };
    struct InFlight
    {
        std::size_t slot = 0;
        Step step = Step::Route;
    };
    QHash<std::uint32_t, InFlight> m_inFlight;
    std::uint32_t m_nextSequence = 1;
    QTimer m_startTimer;
    QTimer m_batchTimer;
    std::int64_t m_nsPerTick = 10'000'000;
    // The kernel refused to probe an entry for us (no CAP_NET_ADMIN, or too old a kernel):
    // not asked again.
    bool m_probeRefused = false;

    // Prefixes of the routes, in every table, that may reach a host directly (no gateway).
    struct Prefix
    {
        std::uint32_t network = 0;
        std::uint32_t mask = 0;
    };
    enum class Routes
    {
        Unknown,
        Known,
        Unusable
    };
    Routes m_routes = Routes::Unknown;
    std::vector<Prefix> m_direct;
    std::vector<Prefix> m_reading;      // of the dump under way
    std::uint32_t m_routesSequence = 0; // the dump under way; 0: none
    std::size_t m_routesRead = 0;
    bool m_readingInterrupted = false;
    QElapsedTimer m_routesAge;
    std::uint64_t m_cancels = 0;
};
