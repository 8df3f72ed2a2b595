#include "scan/AddressRange.h"

#include <algorithm>

using namespace IP_Functions;
using namespace Qt::StringLiterals;

namespace {

using Parsed = AddressRange::Parsed;

Parsed refused(const QString &error)
{
    return {std::nullopt, error};
}

// A single address: what Is_Valid_Address accepts, without the "/..." tail it would ignore,
// so that junk after an address is never silently dropped.
std::optional<AddressNumber> singleAddress(const QString &text)
{
    if (text.contains(u'/') || !Is_Valid_Address(text))
        return std::nullopt;
    QString copy = text;
    return Address_To_Number(copy);
}

QString notAnAddress(const QString &text)
{
    if (text.trimmed().isEmpty())
        return u"An address is missing."_s;
    return u"\"%1\" is not a valid IPv4 address."_s.arg(AddressRange::shortened(text));
}

// "10.0.0.1-254": the last octet of the end, the rest as the start's.
std::optional<AddressNumber> lastOctetOnly(AddressNumber first, const QString &text)
{
    const QString digits = text.trimmed();
    if (digits.isEmpty() || digits.size() > 3 ||
        !std::all_of(digits.begin(), digits.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return std::nullopt;
    const int octet = digits.toInt();
    if (octet > 255)
        return std::nullopt;
    return AddressNumber((std::uint32_t(first) & 0xFFFFFF00u) | std::uint32_t(octet));
}

Parsed ordered(AddressNumber first, AddressNumber last)
{
    if (Address_Span_Of(first, last) < 0)
        return refused(u"The first address %1 is greater than the last address %2."_s.arg(
            Number_To_Address(first), Number_To_Address(last)));
    return {AddressRange{first, last}, {}};
}

Parsed block(const QString &text, qsizetype slash)
{
    const QString addressText = text.left(slash);
    const auto address = singleAddress(addressText);
    if (!address)
        return refused(notAnAddress(addressText));
    const QString prefixText = text.mid(slash + 1).trimmed();
    qsizetype digits = 0;
    while (digits < prefixText.size() && prefixText.at(digits).isDigit() &&
           prefixText.at(digits).unicode() < 128)
        ++digits;
    if (digits == 0)
        return refused(u"\"/%1\" has no prefix length: expected a number from 0 to 32."_s.arg(
            AddressRange::shortened(prefixText)));
    if (digits < prefixText.size())
        return refused(u"Unexpected \"%1\" after the prefix length."_s.arg(
            AddressRange::shortened(prefixText.mid(digits))));
    // Leading zeros are harmless; a run too long for any prefix is simply out of range.
    const int prefix = digits > 3 ? 33 : prefixText.toInt();
    if (prefix > 32)
        return refused(
            u"The prefix length %1 is outside 0 to 32."_s.arg(AddressRange::shortened(prefixText)));
    const std::uint32_t hostMask = prefix == 0 ? 0xFFFFFFFFu : (1u << (32 - prefix)) - 1u;
    const std::uint32_t base = std::uint32_t(*address) & ~hostMask;
    return {AddressRange{AddressNumber(base), AddressNumber(base | hostMask)}, {}};
}

} // namespace

QString AddressRange::shortened(const QString &text)
{
    constexpr qsizetype Most = 60;
    return text.size() <= Most ? text : text.left(Most) + u"..."_s;
}

QString AddressRange::firstText() const
{
    return Number_To_Address(first);
}

QString AddressRange::lastText() const
{
    return Number_To_Address(last);
}

std::int64_t AddressRange::size() const
{
    return Address_Span_Of(first, last) + 1;
}

AddressRange::Parsed AddressRange::parse(const QString &text)
{
    if (text.trimmed().isEmpty())
        return refused(u"No address range given."_s);
    if (const qsizetype slash = text.indexOf(u'/'); slash >= 0)
        return block(text, slash);
    if (const qsizetype dash = text.indexOf(u'-'); dash >= 0) {
        if (const auto first = singleAddress(text.left(dash))) {
            if (const auto last = lastOctetOnly(*first, text.mid(dash + 1)))
                return ordered(*first, *last);
        }
        return parse(text.left(dash), text.mid(dash + 1));
    }
    const auto address = singleAddress(text);
    if (!address)
        return refused(notAnAddress(text));
    return {AddressRange{*address, *address}, {}};
}

AddressRange::Parsed AddressRange::parse(const QString &firstText, const QString &lastText)
{
    const auto first = singleAddress(firstText);
    if (!first)
        return refused(notAnAddress(firstText));
    const auto last = singleAddress(lastText);
    if (!last)
        return refused(notAnAddress(lastText));
    return ordered(*first, *last);
}
