#include "IP_Functions.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace IP_Functions {

namespace {

constexpr qsizetype MaxOctetLength = 254;

bool isDecimalDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

int hexDigitValue(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    return -1;
}

// The piece with every blank, tab and line feed taken out: they may sit anywhere, even
// inside a number ("1 2" reads as 12).
std::u16string withoutBlanks(const QString &text)
{
    std::u16string packed(std::size_t(text.size()), u'\0');
    const char16_t *from = reinterpret_cast<const char16_t *>(text.utf16());
    const char16_t *const fromEnd = from + text.size();
    char16_t *to = packed.data();
    for (; from != fromEnd; ++from) {
        if (*from != u' ' && *from != u'\t' && *from != u'\n')
            *to++ = *from;
    }
    packed.resize(std::size_t(to - packed.data()));
    return packed;
}

// Hex digits after "&H". Up to four significant digits are a 16-bit two's-complement
// value ("&HFFFF" is -1), five to eight a 32-bit one ("&HFFFFFFFF" is -1, "&H10000" is
// 65536), longer runs their plain magnitude, which no caller can take without overflow.
double readHex(const char16_t *p, const char16_t *end)
{
    double magnitude = 0;
    std::uint32_t low = 0;
    int significant = 0;
    for (; p != end; ++p) {
        const int digit = hexDigitValue(*p);
        if (digit < 0)
            break;
        if (significant == 0 && digit == 0)
            continue;
        ++significant;
        low = (low << 4) | std::uint32_t(digit);
        magnitude = magnitude * 16 + digit;
    }
    if (significant <= 4)
        return low > 0x7FFF ? double(low) - 65536.0 : double(low);
    if (significant <= 8)
        return double(std::int32_t(low));
    return magnitude;
}

// The longest decimal number (sign, digits, one point, an exponent) at the start.
double readDecimal(const char16_t *p, const char16_t *end)
{
    bool negative = false;
    if (p != end && (*p == u'+' || *p == u'-'))
        negative = *p++ == u'-';
    const char16_t *const numberStart = p;

    // Rough decimal order of magnitude, kept to tell overflow from underflow when the
    // value is out of double's range.
    long long order = 0;
    bool seenNonZero = false;
    bool mantissa = false;
    for (; p != end && isDecimalDigit(*p); ++p) {
        mantissa = true;
        seenNonZero = seenNonZero || *p != u'0';
        if (seenNonZero)
            ++order;
    }
    if (p != end && *p == u'.') {
        for (++p; p != end && isDecimalDigit(*p); ++p) {
            mantissa = true;
            if (!seenNonZero && *p == u'0')
                --order;
            seenNonZero = seenNonZero || *p != u'0';
        }
    }
    if (!mantissa)
        return 0;

    // An exponent counts only when at least one digit follows "e" and its sign.
    if (p != end && (*p == u'e' || *p == u'E')) {
        const char16_t *exp = p + 1;
        bool expNegative = false;
        if (exp != end && (*exp == u'+' || *exp == u'-'))
            expNegative = *exp++ == u'-';
        if (exp != end && isDecimalDigit(*exp)) {
            long long exponent = 0;
            for (; exp != end && isDecimalDigit(*exp); ++exp)
                exponent = std::min(exponent * 10 + (*exp - u'0'), 1'000'000'000LL);
            order += expNegative ? -exponent : exponent;
            p = exp;
        }
    }

    // Everything from the first digit to p is ASCII by now.
    std::string number(std::size_t(p - numberStart), '\0');
    char *to = number.data();
    for (const char16_t *from = numberStart; from != p; ++from)
        *to++ = char(*from);
    double value = 0;
    const std::errc ec = std::from_chars(number.data(), number.data() + number.size(), value).ec;
    if (ec == std::errc::result_out_of_range)
        value = order > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    else if (ec != std::errc())
        value = 0;
    return negative ? -value : value;
}

double readNumber(const std::u16string &s)
{
    const char16_t *const begin = s.data();
    const char16_t *const end = begin + s.size();
    if (s.size() >= 2 && begin[0] == u'&' && (begin[1] == u'H' || begin[1] == u'h'))
        return readHex(begin + 2, end);
    return readDecimal(begin, end);
}

// The octet's 16-bit value modulo 256 as two upper-case hex digits.
void appendOctetHex(QString &hex, const QString &piece)
{
    static constexpr char16_t digits[] = u"0123456789ABCDEF";
    const auto octet = std::uint16_t(To_Int16(Read_Number(piece))) & 0xFFU;
    hex += QChar(digits[octet >> 4]);
    hex += QChar(digits[octet & 0xFU]);
}

} // namespace

double Read_Number(const QString &text)
{
    return readNumber(withoutBlanks(text));
}

double roundHalfEven(double value)
{
    if (!std::isfinite(value))
        return value;
    const double below = std::floor(value);
    const double fraction = value - below;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(below, 2.0) != 0.0))
        return below + 1;
    return below;
}

std::int16_t To_Int16(double value)
{
    if (!std::isfinite(value))
        throw OverflowError{};
    const double rounded = roundHalfEven(value);
    if (rounded < -32768.0 || rounded > 32767.0)
        throw OverflowError{};
    return std::int16_t(rounded);
}

QString Leading_Octet(const QString &text)
{
    const qsizetype dot = text.indexOf(u'.');
    if (dot < 0)
        return text.left(MaxOctetLength);
    return text.left(dot);
}

QString Rest_After_Dot(const QString &text)
{
    const qsizetype dot = text.indexOf(u'.');
    if (dot < 0)
        return QString();
    return text.mid(dot + 1);
}

QString Address_To_Hex(QStringView whole)
{
    const qsizetype slash = whole.indexOf(u'/');
    const QString text = (slash >= 0 ? whole.first(slash) : whole).toString();

    QString hex;
    hex.reserve(8);
    appendOctetHex(hex, Leading_Octet(text));
    QString rest = Rest_After_Dot(text);
    for (int i = 0; i < 2; ++i) {
        appendOctetHex(hex, Leading_Octet(rest));
        rest = Rest_After_Dot(rest);
    }
    appendOctetHex(hex, rest);
    return hex;
}

AddressNumber Address_To_Number(QStringView text)
{
    const QString hex = Address_To_Hex(text);
    std::uint32_t pattern = 0;
    for (const QChar c : hex)
        pattern = (pattern << 4) | std::uint32_t(hexDigitValue(c.unicode()));
    return AddressNumber(pattern);
}

QString Hex_To_Address(QString hex)
{
    if (hex.size() < 8)
        hex = hex.rightJustified(8, u'0');
    QString address;
    address.reserve(15);
    for (int i = 0; i < 4; ++i) {
        if (i > 0)
            address += u'.';
        // Read as "&H" followed by the pair, like any other number piece.
        std::u16string piece = u"&H";
        piece += withoutBlanks(hex.mid(2 * i, 2));
        address += QString::number(To_Int16(readNumber(piece)));
    }
    return address;
}

QString Number_To_Address(AddressNumber number)
{
    // The same text as through its hexadecimal form, written directly: it runs for every
    // address a sweep sends.
    char16_t text[15];
    qsizetype length = 0;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const unsigned octet = std::uint32_t(number) >> shift & 0xff;
        if (octet >= 100)
            text[length++] = char16_t(u'0' + octet / 100);
        if (octet >= 10)
            text[length++] = char16_t(u'0' + octet / 10 % 10);
        text[length++] = char16_t(u'0' + octet % 10);
        if (shift > 0)
            text[length++] = u'.';
    }
    return QString(reinterpret_cast<const QChar *>(text), length);
}

std::int64_t Address_Span_Of(AddressNumber start, AddressNumber end)
{
    return std::int64_t(std::uint32_t(end)) - std::int64_t(std::uint32_t(start));
}

AddressNumber Next_Address(AddressNumber number)
{
    return AddressNumber(std::uint32_t(number) + 1U);
}

bool Is_Valid_Address(QStringView text)
{
    AddressNumber number = 0;
    try {
        number = Address_To_Number(text);
    } catch (const OverflowError &) {
        return false;
    }
    if (const qsizetype slash = text.indexOf(u'/'); slash >= 0)
        text.truncate(slash);
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == u' ')
        ++first;
    while (last > first && text.at(last - 1) == u' ')
        --last;
    return text.sliced(first, last - first) == Number_To_Address(number);
}

std::int64_t Leading_Number(QStringView text)
{
    constexpr std::int64_t limit = std::numeric_limits<std::int64_t>::max();
    qsizetype pos = 0;
    bool negative = false;
    if (pos < text.size() && (text.at(pos) == u'+' || text.at(pos) == u'-'))
        negative = text.at(pos++) == u'-';
    // Accumulated as a negative value so that the most negative number fits too.
    std::int64_t value = 0;
    for (; pos < text.size() && isDecimalDigit(text.at(pos).unicode()); ++pos) {
        const int digit = text.at(pos).unicode() - u'0';
        if (value < (-limit - 1 + digit) / 10) {
            value = -limit - 1;
            continue;
        }
        value = value * 10 - digit;
    }
    if (negative)
        return value;
    return value < -limit ? limit : -value;
}

} // namespace IP_Functions
