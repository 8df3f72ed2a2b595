#pragma once

#include "scan/IP_Functions.h"

#include <QString>

#include <cstdint>
#include <optional>

// A contiguous range of IPv4 addresses as typed by a user: two addresses, "FIRST-LAST",
// "ADDRESS/PREFIX" (the whole block) or one address. Shared by the window, which expands a
// block or dash range typed into the starting box, and by the headless scanner.
struct AddressRange
{
    IP_Functions::AddressNumber first = 0;
    IP_Functions::AddressNumber last = 0;

    // Canonical dotted-decimal texts of both ends.
    QString firstText() const;
    QString lastText() const;
    // 1 to 2^32.
    std::int64_t size() const;

    struct Parsed;

    // One text: "FIRST-LAST", "FIRST-N" (N the last octet of the end), "ADDRESS/PREFIX"
    // or "ADDRESS".
    static Parsed parse(const QString &text);
    // Two texts, each a single address.
    static Parsed parse(const QString &firstText, const QString &lastText);

    // A text as messages quote it: its first 60 characters at most.
    static QString shortened(const QString &text);
};

struct AddressRange::Parsed
{
    std::optional<AddressRange> range;
    QString error; // why the text was refused, when range is empty
};
