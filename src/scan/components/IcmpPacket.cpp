#include "IcmpPacket.h"

#include <cstring>

namespace IcmpPacket {

namespace {

constexpr qsizetype IcmpHeaderSize = 8;
constexpr qsizetype MinimumIpHeaderSize = 20;
constexpr std::uint8_t IcmpProtocol = 1;

std::uint8_t byteAt(QByteArrayView data, qsizetype offset)
{
    return static_cast<std::uint8_t>(data[offset]);
}

std::uint16_t word16(QByteArrayView data, qsizetype offset)
{
    return static_cast<std::uint16_t>(byteAt(data, offset) << 8 | byteAt(data, offset + 1));
}

std::uint32_t word32(QByteArrayView data, qsizetype offset)
{
    return std::uint32_t(word16(data, offset)) << 16 | word16(data, offset + 2);
}

// Length of a sound IPv4 header at the start of `data`, or 0.
qsizetype ipHeaderLength(QByteArrayView data)
{
    if (data.size() < MinimumIpHeaderSize || byteAt(data, 0) >> 4 != 4)
        return 0;
    const qsizetype length = qsizetype(byteAt(data, 0) & 0x0f) * 4;
    return length < MinimumIpHeaderSize || length > data.size() ? 0 : length;
}

} // namespace

std::uint16_t checksum(QByteArrayView data)
{
    std::uint32_t sum = 0;
    qsizetype i = 0;
    for (; i + 1 < data.size(); i += 2)
        sum += word16(data, i);
    if (i < data.size())
        sum += std::uint32_t(byteAt(data, i)) << 8;
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

QByteArray echoRequest(std::uint16_t id, std::uint16_t sequence, QByteArrayView payload)
{
    QByteArray packet;
    writeEchoRequest(packet, id, sequence, payload);
    return packet;
}

void writeEchoRequest(QByteArray &packet, std::uint16_t id, std::uint16_t sequence,
                      QByteArrayView payload)
{
    packet.resize(IcmpHeaderSize + payload.size());
    char *bytes = packet.data();
    bytes[0] = char(EchoRequestType);
    bytes[1] = bytes[2] = bytes[3] = 0;
    bytes[4] = char(id >> 8);
    bytes[5] = char(id & 0xff);
    bytes[6] = char(sequence >> 8);
    bytes[7] = char(sequence & 0xff);
    if (!payload.isEmpty())
        std::memcpy(bytes + IcmpHeaderSize, payload.data(), std::size_t(payload.size()));
    const std::uint16_t sum = checksum(packet);
    bytes[2] = char(sum >> 8);
    bytes[3] = char(sum & 0xff);
}

std::optional<QuotedEcho> quotedEcho(QByteArrayView header)
{
    if (header.size() < IcmpHeaderSize || byteAt(header, 0) != EchoRequestType ||
        byteAt(header, 1) != 0)
        return std::nullopt;
    return QuotedEcho{word16(header, 4), word16(header, 6), header.sliced(IcmpHeaderSize)};
}

Parsed parseMessage(QByteArrayView message, std::uint32_t source)
{
    Parsed parsed;
    if (message.size() < IcmpHeaderSize || checksum(message) != 0)
        return parsed;
    parsed.type = byteAt(message, 0);
    parsed.code = byteAt(message, 1);
    parsed.source = source;
    switch (parsed.type) {
    case EchoReplyType:
    case EchoRequestType:
        parsed.kind = parsed.type == EchoReplyType ? Kind::EchoReply : Kind::EchoRequest;
        parsed.id = word16(message, 4);
        parsed.sequence = word16(message, 6);
        parsed.payload = message.sliced(IcmpHeaderSize);
        return parsed;
    case DestinationUnreachableType:
    case TimeExceededType: {
        // Errors quote the request's IP header (with its own length) and its first 8 bytes.
        const QByteArrayView quoted = message.sliced(IcmpHeaderSize);
        const qsizetype innerLength = ipHeaderLength(quoted);
        if (innerLength == 0 || quoted.size() < innerLength + IcmpHeaderSize)
            return parsed;
        const auto echo = quotedEcho(quoted.sliced(innerLength));
        if (byteAt(quoted, 9) != IcmpProtocol || !echo) {
            parsed.kind = Kind::Other;
            return parsed;
        }
        parsed.kind = Kind::Error;
        parsed.id = echo->id;
        parsed.sequence = echo->sequence;
        parsed.payload = echo->payload;
        parsed.quotedDestination = word32(quoted, 16);
        return parsed;
    }
    default:
        parsed.kind = Kind::Other;
        return parsed;
    }
}

Parsed parseDatagram(QByteArrayView datagram)
{
    const qsizetype headerLength = ipHeaderLength(datagram);
    if (headerLength == 0 || byteAt(datagram, 9) != IcmpProtocol)
        return {};
    const qsizetype totalLength = word16(datagram, 2);
    if (totalLength < headerLength || totalLength > datagram.size())
        return {};
    return parseMessage(datagram.sliced(headerLength, totalLength - headerLength),
                        word32(datagram, 12));
}

} // namespace IcmpPacket
