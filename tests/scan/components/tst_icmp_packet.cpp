#include "scan/components/IcmpPacket.h"

#include <QTest>

using namespace IcmpPacket;

namespace {

constexpr std::uint32_t Us = 0x7f000001;     // 127.0.0.1
constexpr std::uint32_t Target = 0x7f000107; // 127.0.1.7
constexpr std::uint32_t Router = 0x7f000042; // 127.0.0.66

void put16(QByteArray &bytes, int offset, std::uint16_t value)
{
    bytes[offset] = char(value >> 8);
    bytes[offset + 1] = char(value & 0xff);
}

void put32(QByteArray &bytes, int offset, std::uint32_t value)
{
    put16(bytes, offset, std::uint16_t(value >> 16));
    put16(bytes, offset + 2, std::uint16_t(value & 0xffff));
}

QByteArray ipHeader(std::uint32_t source, std::uint32_t destination, int bodyLength, int ihl = 5,
                    int protocol = 1)
{
    QByteArray header(std::max(ihl, 5) * 4, '\0');
    header[0] = char(0x40 | ihl);
    put16(header, 2, std::uint16_t(ihl * 4 + bodyLength));
    header[8] = 64;
    header[9] = char(protocol);
    put32(header, 12, source);
    put32(header, 16, destination);
    return header;
}

QByteArray icmp(int type, std::uint16_t id, std::uint16_t sequence, const QByteArray &body,
                int code = 0)
{
    QByteArray message(8, '\0');
    message[0] = char(type);
    message[1] = char(code);
    put16(message, 4, id);
    put16(message, 6, sequence);
    message += body;
    put16(message, 2, checksum(message));
    return message;
}

QByteArray datagram(std::uint32_t source, const QByteArray &message, int ihl = 5)
{
    return ipHeader(source, Us, int(message.size()), ihl) + message;
}

// An error from the router quoting our request to Target.
QByteArray errorDatagram(int type, int code, int innerIhl, int innerProtocol = 1)
{
    const QByteArray request = icmp(EchoRequestType, 0x1234, 77, "payload").left(8);
    const QByteArray quoted =
        ipHeader(Us, Target, int(request.size()), innerIhl, innerProtocol) + request;
    return datagram(Router, icmp(type, 0, 0, quoted, code));
}

} // namespace

class TestIcmpPacket : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void checksumOf_data();
    void checksumOf();
    void parse_data();
    void parse();
};

void TestIcmpPacket::checksumOf_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("expected");
    QTest::newRow("rfc 1071 example") << QByteArray::fromHex("0001f203f4f5f6f7") << 0x220d;
    QTest::newRow("odd byte is the high byte") << QByteArray::fromHex("01") << 0xfeff;
    QTest::newRow("odd tail after words") << QByteArray::fromHex("000102") << 0xfdfe;
    QTest::newRow("carries fold back") << QByteArray::fromHex("ffffffff0001") << 0xfffe;
    QTest::newRow("empty") << QByteArray() << 0xffff;
}

void TestIcmpPacket::checksumOf()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, expected);
    QCOMPARE(checksum(bytes), expected);
}

void TestIcmpPacket::parse_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("withIpHeader");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("sequence");
    QTest::addColumn<std::uint32_t>("source");
    QTest::addColumn<QByteArray>("payload");

    const QByteArray reply = icmp(EchoReplyType, 0x1234, 77, "banner");
    QTest::newRow("reply") << datagram(Target, reply) << true << Kind::EchoReply << 0x1234 << 77
                           << Target << QByteArray("banner");
    QTest::newRow("reply with ip options") << datagram(Target, reply, 6) << true << Kind::EchoReply
                                           << 0x1234 << 77 << Target << QByteArray("banner");
    QTest::newRow("reply odd length") << datagram(Target, icmp(EchoReplyType, 1, 2, "odd")) << true
                                      << Kind::EchoReply << 1 << 2 << Target << QByteArray("odd");
    QTest::newRow("foreign id keeps its id")
        << datagram(Target, icmp(EchoReplyType, 0x4321, 77, "banner")) << true << Kind::EchoReply
        << 0x4321 << 77 << Target << QByteArray("banner");
    QTest::newRow("own request") << datagram(Us, icmp(EchoRequestType, 0x1234, 77, "banner"))
                                 << true << Kind::EchoRequest << 0x1234 << 77 << Us
                                 << QByteArray("banner");
    QTest::newRow("redirect") << datagram(Router, icmp(5, 0, 0, QByteArray(28, 'x'))) << true
                              << Kind::Other << 0 << 0 << Router << QByteArray();
    QTest::newRow("datagram socket reply")
        << reply << false << Kind::EchoReply << 0x1234 << 77 << Target << QByteArray("banner");

    QTest::newRow("time exceeded quoting us")
        << errorDatagram(TimeExceededType, 0, 5) << true << Kind::Error << 0x1234 << 77 << Router
        << QByteArray();
    QTest::newRow("unreachable inner options")
        << errorDatagram(DestinationUnreachableType, 1, 7) << true << Kind::Error << 0x1234 << 77
        << Router << QByteArray();
    QTest::newRow("error quoting udp") << errorDatagram(DestinationUnreachableType, 3, 5, 17)
                                       << true << Kind::Other << 0 << 0 << Router << QByteArray();

    const auto malformed = [](const char *name, const QByteArray &bytes, bool withIp = true) {
        QTest::newRow(name) << bytes << withIp << Kind::Malformed << 0 << 0 << std::uint32_t(0)
                            << QByteArray();
    };
    const QByteArray good = datagram(Target, reply);
    malformed("empty", QByteArray());
    malformed("ip header cut", good.left(12));
    malformed("icmp header cut", good.left(24));
    malformed("payload cut below total length", good.chopped(1));
    QByteArray ihlTooSmall = good;
    ihlTooSmall[0] = char(0x44);
    malformed("ihl below five", ihlTooSmall);
    QByteArray ihlBeyond = good.left(30);
    ihlBeyond[0] = char(0x4f);
    malformed("ihl beyond data", ihlBeyond);
    QByteArray notIcmp = good;
    notIcmp[9] = 17;
    malformed("not icmp", notIcmp);
    QByteArray badSum = good;
    badSum[badSum.size() - 1] = 'X';
    malformed("bad checksum", badSum);
    QByteArray badOddSum = datagram(Target, icmp(EchoReplyType, 1, 2, "odd"));
    badOddSum[badOddSum.size() - 1] = 'e';
    malformed("bad checksum odd byte", badOddSum);
    malformed("error with inner ihl below five", errorDatagram(TimeExceededType, 0, 3));
    malformed("error quote cut", errorDatagram(TimeExceededType, 0, 5).chopped(1));
    malformed("datagram socket reply cut", reply.left(7), false);
}

void TestIcmpPacket::parse()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, withIpHeader);
    QFETCH(Kind, kind);

    const Parsed parsed = withIpHeader ? parseDatagram(bytes) : parseMessage(bytes, Target);
    QCOMPARE(parsed.kind, kind);
    if (kind == Kind::Malformed)
        return;
    QTEST(int(parsed.id), "id");
    QTEST(int(parsed.sequence), "sequence");
    QTEST(parsed.source, "source");
    QTEST(parsed.payload.toByteArray(), "payload");
    if (kind == Kind::Error)
        QCOMPARE(parsed.quotedDestination, Target);
}

QTEST_APPLESS_MAIN(TestIcmpPacket)
#include "tst_icmp_packet.moc"
