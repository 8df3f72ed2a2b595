#pragma once

#include <QStringView>

#include <cstdint>
#include <optional>

// Reads an address in the form Vantrel writes it, a dotted quad and nothing else: no
// blanks, no leading zeros, no shorthand forms. Read by hand, as it runs for every request
// and reply of a sweep; typed text goes through IP_Functions instead.
inline std::optional<std::uint32_t> parseDottedQuad(QStringView text)
{
    std::uint32_t address = 0;
    qsizetype i = 0;
    const qsizetype size = text.size();
    for (int octet = 0; octet < 4; ++octet) {
        if (octet > 0) {
            if (i >= size || text[i] != u'.')
                return std::nullopt;
            ++i;
        }
        const qsizetype first = i;
        unsigned value = 0;
        while (i < size && i - first < 4 && text[i] >= u'0' && text[i] <= u'9')
            value = value * 10 + unsigned(text[i++].unicode() - u'0');
        const qsizetype digits = i - first;
        if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text[first] == u'0'))
            return std::nullopt;
        address = address << 8 | value;
    }
    if (i != size)
        return std::nullopt;
    return address;
}
