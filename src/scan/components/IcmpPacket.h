#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <optional>

// Building ICMP echo requests and reading what an ICMP socket delivers. Pure functions, so
// every malformed packet a socket may hand us can be tried in a unit test. Addresses are
// IPv4 numbers in host byte order.
namespace IcmpPacket {

enum Type : std::uint8_t
{
    EchoReplyType = 0,
    DestinationUnreachableType = 3,
    EchoRequestType = 8,
    TimeExceededType = 11,
};

enum class Kind
{
    Malformed,   // truncated, bad header length or bad checksum
    EchoReply,   // id, sequence, source and payload are set
    EchoRequest, // someone's request, on raw sockets our own ones too
    Error,       // unreachable or time exceeded quoting an echo request
    Other,       // any other ICMP message
};

struct Parsed
{
    Kind kind = Kind::Malformed;
    std::uint8_t type = 0;
    std::uint8_t code = 0;
    std::uint16_t id = 0;       // errors: the quoted request's
    std::uint16_t sequence = 0; // errors: the quoted request's
    std::uint32_t source = 0;   // errors: the router that reported
    std::uint32_t quotedDestination = 0;
    // Points into the parsed bytes; errors: what they quote of the request's payload, often
    // nothing or only its start.
    QByteArrayView payload;
};

struct QuotedEcho
{
    std::uint16_t id = 0;
    std::uint16_t sequence = 0;
    QByteArrayView payload; // what follows the quoted header, possibly cut
};

// RFC 1071 Internet checksum; an odd trailing byte counts as the high byte of a last word.
std::uint16_t checksum(QByteArrayView data);

QByteArray echoRequest(std::uint16_t id, std::uint16_t sequence, QByteArrayView payload);
// The same into `packet`, whose storage is reused from one request to the next.
void writeEchoRequest(QByteArray &packet, std::uint16_t id, std::uint16_t sequence,
                      QByteArrayView payload);

// One ICMP message without IP header, as a datagram ping socket delivers it.
Parsed parseMessage(QByteArrayView message, std::uint32_t source);

// One IPv4 datagram carrying ICMP, as a raw socket delivers it.
Parsed parseDatagram(QByteArrayView datagram);

// The header of an echo request as quoted back by an error; the data behind it may be cut.
std::optional<QuotedEcho> quotedEcho(QByteArrayView header);

} // namespace IcmpPacket
