#pragma once

#include <cstdint>

// The scan settings with their defaults. Their homes are the scan engine (pings per node,
// name lookups, inverted listing, hosts that answer only ARP), the echo control (time-out,
// TTL) and the interval of the ping timer; this record only carries them there.
struct ScanSettings
{
    std::int16_t Pings_per_Node = 2;
    int Ping_Timeout = 2000; // milliseconds
    int Ping_TTL = 32;
    int Inter_Ping_Delay = 250; // milliseconds
    bool Resolve_DNS = true;
    bool Reverse_Scan = false;
    // Also list hosts that answer only ARP; off, a normal scan lists the echo set alone.
    bool listArpOnly = false;

    // The values the options dialog can produce. The store falls back to the default for
    // anything outside them, so a hand-edited file cannot stall the ping timer.
    struct Range
    {
        int minimum;
        int maximum;
        constexpr bool contains(long long value) const
        {
            return value >= minimum && value <= maximum;
        }
    };
    static constexpr Range Pings_Range{1, 5};
    static constexpr Range Timeout_Range{100, 5000};
    static constexpr Range TTL_Range{1, 255};
    static constexpr Range Delay_Range{1, 2001};
};
