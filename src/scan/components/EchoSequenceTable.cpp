#include "EchoSequenceTable.h"

#include <algorithm>

EchoSequenceTable::EchoSequenceTable(std::uint16_t first)
    : m_slots(Capacity)
    , m_next(first)
{}

std::optional<std::uint16_t> EchoSequenceTable::add(Request request)
{
    if (m_count == Capacity)
        return std::nullopt;
    // Cyclic search: a number comes back only after all others were handed out, so late
    // replies to an ended request almost never meet a new request under its number.
    while (m_slots[m_next])
        ++m_next;
    const std::uint16_t sequence = m_next++;
    request.serial = m_serial++;
    m_deadlines.emplace(request.deadlineNs, sequence);
    m_slots[sequence] = std::make_unique<Request>(std::move(request));
    ++m_count;
    return sequence;
}

EchoSequenceTable::Request *EchoSequenceTable::find(std::uint16_t sequence)
{
    return m_slots[sequence].get();
}

std::optional<EchoSequenceTable::Request> EchoSequenceTable::take(std::uint16_t sequence)
{
    std::unique_ptr<Request> request = std::move(m_slots[sequence]);
    if (!request)
        return std::nullopt;
    m_deadlines.erase({request->deadlineNs, sequence});
    --m_count;
    return std::move(*request);
}

std::optional<std::int64_t> EchoSequenceTable::nextDeadline() const
{
    if (m_deadlines.empty())
        return std::nullopt;
    return m_deadlines.begin()->first;
}

std::optional<std::uint16_t> EchoSequenceTable::firstExpired(std::int64_t nowNs) const
{
    if (m_deadlines.empty() || m_deadlines.begin()->first > nowNs)
        return std::nullopt;
    return m_deadlines.begin()->second;
}

std::vector<std::uint16_t> EchoSequenceTable::inOrderAdded() const
{
    std::vector<std::uint16_t> sequences;
    sequences.reserve(m_deadlines.size());
    for (const auto &entry : m_deadlines)
        sequences.push_back(entry.second);
    std::sort(sequences.begin(), sequences.end(), [this](std::uint16_t a, std::uint16_t b) {
        return m_slots[a]->serial < m_slots[b]->serial;
    });
    return sequences;
}
