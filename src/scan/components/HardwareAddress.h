#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

// A 48-bit hardware (MAC) address as the neighbour table gives it, written the way the
// tables show it: six lower-case hex pairs joined by colons.
struct HardwareAddress
{
    std::array<std::uint8_t, 6> bytes{};

    // The address as one number, first byte highest: prefixes are its top bits.
    std::uint64_t value() const
    {
        std::uint64_t v = 0;
        for (const std::uint8_t b : bytes)
            v = v << 8 | b;
        return v;
    }
    // Set on phones' private addresses, virtual machines' and containers' made-up ones: no
    // maker ever registered them.
    bool isLocallyAdministered() const { return bytes[0] & 0x02; }
    bool isZero() const { return value() == 0; }

    QString text() const
    {
        static constexpr char16_t Hex[] = u"0123456789abcdef";
        QString out(17, u':');
        for (int i = 0; i < 6; ++i) {
            out[3 * i] = QChar(Hex[bytes[std::size_t(i)] >> 4]);
            out[3 * i + 1] = QChar(Hex[bytes[std::size_t(i)] & 0xf]);
        }
        return out;
    }

    // Reads the form text() writes (either letter case); anything else is none.
    static std::optional<HardwareAddress> fromText(QStringView text)
    {
        if (text.size() != 17)
            return std::nullopt;
        HardwareAddress address;
        for (int i = 0; i < 6; ++i) {
            if (i > 0 && text[3 * i - 1] != u':')
                return std::nullopt;
            int byte = 0;
            for (int j = 0; j < 2; ++j) {
                const char16_t c = text[3 * i + j].unicode();
                const int digit = c >= u'0' && c <= u'9'   ? c - u'0'
                                  : c >= u'a' && c <= u'f' ? c - u'a' + 10
                                  : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                                           : -1;
                if (digit < 0)
                    return std::nullopt;
                byte = byte * 16 + digit;
            }
            address.bytes[std::size_t(i)] = std::uint8_t(byte);
        }
        return address;
    }

    friend bool operator==(const HardwareAddress &, const HardwareAddress &) = default;
};
