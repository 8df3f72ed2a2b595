#pragma once

#include <QString>

#include <cstdint>

// Conversions between the three forms of an IPv4 address: dotted-decimal text, eight
// upper-case hex digits, and the address number (32-bit signed, first octet in the top
// byte, so addresses from 128.0.0.0 up are negative). Ordering and spans treat address
// numbers as unsigned.
namespace IP_Functions {

using AddressNumber = std::int32_t;

// Thrown when an octet does not fit the 16-bit reading (above 32767, say).
struct OverflowError
{
};

// True when the text (outer spaces and a "/..." tail allowed) is a canonical dotted quad.
// Never throws.
bool Is_Valid_Address(QStringView text);

// Read only up to the first "/" of `text`. Throw OverflowError when an octet overflows the
// 16-bit reading.
AddressNumber Address_To_Number(QStringView text);
QString Address_To_Hex(QStringView text);

QString Number_To_Address(AddressNumber number);
QString Hex_To_Address(QString hex);

QString Leading_Octet(const QString &text);
QString Rest_After_Dot(const QString &text);

// End minus start as unsigned values; negative when the end lies below the start. Exact
// for every pair of addresses (the whole space spans 4,294,967,295).
std::int64_t Address_Span_Of(AddressNumber start, AddressNumber end);

// The next address in unsigned order: 127.255.255.255 is followed by 128.0.0.0.
AddressNumber Next_Address(AddressNumber number);

// The number-reading rule shared by octets and settings: blanks, tabs and line feeds
// skipped anywhere, an optional sign, the longest decimal number (digits, one point, an
// exponent), or "&H" hexadecimal; 0 when there is none.
double Read_Number(const QString &text);

// Nearest whole number, halves to the even neighbour, whatever the FPU's rounding mode.
// Every rounding of a read value goes through here (octets, settings, percentages).
double roundHalfEven(double value);

// Nearest 16-bit integer, halves to even. Throws OverflowError outside -32768..32767.
std::int16_t To_Int16(double value);

// The decimal number at the start of a text, up to the first character that cannot
// continue it; 0 when there is none. Reads request and lookup tags.
std::int64_t Leading_Number(QStringView text);

} // namespace IP_Functions
