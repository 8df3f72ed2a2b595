#pragma once

#include "scan/components/HardwareAddress.h"

#include <QObject>

#include <cstdint>
#include <optional>

// What the kernel knows of a host on a directly connected network: its hardware address and
// whether that entry was confirmed (the host answered ARP) since a given moment.
struct NeighbourAnswer
{
    std::uint32_t address = 0; // host byte order
    // None for a host reached through a router, for an address of this machine, and where
    // the neighbour table holds no usable entry.
    std::optional<HardwareAddress> hardware;
    // The host itself confirmed the entry at or after the moment asked about (not a static
    // entry, not one learnt only from the host's own requests).
    bool confirmedSince = false;
    // The kernel is asking the host right now (its entry was stale when the request went
    // out, or had none): a confirmation may follow within seconds.
    bool verifying = false;
};

// The neighbour-table component: asks the kernel, asynchronously, for the hardware address
// of hosts. The product uses NeighbourTable (rtnetlink); engine tests use a scripted fake.
class NeighbourControl : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Asks about `address` (host byte order); `sinceNs` is a moment on the steady clock
    // (std::chrono::steady_clock, in nanoseconds) that confirmedSince is measured from.
    // The answer always arrives later from the event loop, never inside this call; `tag`
    // comes back with it. Many questions are answered together.
    virtual void lookup(std::uint32_t address, std::int64_t sinceNs, std::int64_t tag) = 0;
    // Asked and not yet answered.
    virtual int pending() const = 0;
    // Drops every question; none of them is answered.
    virtual void cancelAll() = 0;

Q_SIGNALS:
    void answered(const NeighbourAnswer &answer, std::int64_t tag);
};
