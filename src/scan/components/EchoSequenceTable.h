#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

// The echo requests in flight, one per 16-bit sequence number, with their deadlines in
// order. Lookup by sequence number is O(1), adding, ending and finding the next deadline
// O(log n); numbers are handed out cyclically so a sweep can pass 65,535 requests without
// reusing a number that is still waiting for its answer.
class EchoSequenceTable
{
public:
    static constexpr int Capacity = 65536;

    struct Request
    {
        std::uint32_t target = 0; // host byte order
        QString address;
        QString tag;
        std::uint64_t cookie = 0;    // the request's own value, after the banner in its payload
        std::int64_t deadlineNs = 0; // monotonic clock
        std::int64_t timeoutNs = 0;
        std::int64_t sentNs = 0; // real-time clock, as the kernel stamps replies
        bool sent = false;
        int ttl = 0;
        std::uint64_t waiter = 0; // non-zero: a waiting send is blocked on this request
        std::uint64_t serial = 0; // order of adding to this table
        std::uint64_t issued = 0; // order of issue across the owner's tables
    };

    // Numbers are handed out from `first` on.
    explicit EchoSequenceTable(std::uint16_t first = 0);

    int size() const { return m_count; }

    // The sequence number given to the request; none when every number is in flight.
    std::optional<std::uint16_t> add(Request request);
    Request *find(std::uint16_t sequence);
    std::optional<Request> take(std::uint16_t sequence);

    std::optional<std::int64_t> nextDeadline() const;
    // The request whose deadline passed first, if any deadline lies at or before `nowNs`.
    std::optional<std::uint16_t> firstExpired(std::int64_t nowNs) const;
    std::vector<std::uint16_t> inOrderAdded() const;

private:
    std::vector<std::unique_ptr<Request>> m_slots;
    std::set<std::pair<std::int64_t, std::uint16_t>> m_deadlines;
    std::uint16_t m_next = 0;
    int m_count = 0;
    std::uint64_t m_serial = 0;
};
