#include "scan/components/IcmpPacket.h"

#include <QTest>
#include <QtEndian>

using namespace IcmpPacket;

namespace {

// 127.0.0.1, 127.0.1.7 and 127.0.0.66
constexpr quint32 Us = 0x7f000001, Target = 0x7f000107, Router = 0x7f000042;

// An ICMP message with id 0x1234 and sequence 0x77.
QByteArray icmp(int type, const QByteArray &body, int code = 0)
{
    QByteArray message = QByteArray::fromHex("0000000012340077") + body;
    message[0] = char(type);
    message[1] = char(code);
    qToBigEndian(checksum(message), message.data() + 2);
    return message;
}

QByteArray ip(quint32 from, quint32 to, const QByteArray &body, int ihl = 5, int protocol = 1)
{
    QByteArray header(std::max(ihl, 5) * 4, '\0');
    header[0] = char(0x40 | ihl);
    qToBigEndian(std::uint16_t(ihl * 4 + body.size()), header.data() + 2);
    header[9] = char(protocol);
    qToBigEndian(from, header.data() + 12);
    qToBigEndian(to, header.data() + 16);
    return header + body;
}

// An error from the router quoting the start of our request to Target.
QByteArray error(int type, int code, int innerIhl, int innerProtocol = 1)
{
    const QByteArray request = icmp(EchoRequestType, "payload").left(8);
    return ip(Router, Us, icmp(type, ip(Us, Target, request, innerIhl, innerProtocol), code));
}

} // namespace

class TestIcmpPacket : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void checksumOf_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("expected");
        QTest::newRow("rfc 1071, carries") << QByteArray::fromHex("0001f203f4f5f6f7") << 0x220d;
        QTest::newRow("odd byte is the high byte") << QByteArray::fromHex("000102") << 0xfdfe;
    }

    void checksumOf()
    {
        QFETCH(QByteArray, bytes);
        QTEST(int(checksum(bytes)), "expected");
    }

    void parse_data()
    {
        using enum Kind;
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<quint32>("source");
        const auto row = [](const char *name, const QByteArray &data, Kind kind, quint32 from = 0) {
            QTest::newRow(name) << data << kind << from;
        };
        const QByteArray reply = icmp(EchoReplyType, "odd"); // odd length: the checksum's tail
        const QByteArray good = ip(Target, Us, reply);
        row("reply", good, EchoReply, Target);
        row("reply with ip options", ip(Target, Us, reply, 6), EchoReply, Target);
        row("own request", ip(Us, Target, icmp(EchoRequestType, "odd")), EchoRequest, Us);
        row("time exceeded", error(TimeExceededType, 0, 5), Error, Router);
        row("unreachable, inner options", error(DestinationUnreachableType, 1, 7), Error, Router);
        row("error quoting udp", error(DestinationUnreachableType, 3, 5, 17), Other);

        row("ip header cut", good.left(12), Malformed);
        row("icmp header cut", ip(Target, Us, reply.left(7)), Malformed);
        row("cut below total length", good.chopped(1), Malformed);
        row("ihl below five", QByteArray(good).replace(0, 1, "\x44"), Malformed);
        row("ihl beyond data", QByteArray(good).replace(0, 1, "\x4f").left(30), Malformed);
        row("not icmp", QByteArray(good).replace(9, 1, "\x11"), Malformed);
        row("bad checksum, odd byte", QByteArray(good).replace(good.size() - 1, 1, "e"), Malformed);
        row("error with inner ihl below five", error(TimeExceededType, 0, 3), Malformed);
        row("error quote cut", error(TimeExceededType, 0, 5).chopped(1), Malformed);
    }

    void parse()
    {
        QFETCH(QByteArray, datagram);
        const Parsed parsed = parseDatagram(datagram);
        QTEST(parsed.kind, "kind");
        if (parsed.kind == Kind::Malformed || parsed.kind == Kind::Other)
            return;
        QTEST(parsed.source, "source");
        // Replies and requests carry their own numbers, errors those of the quoted request.
        QCOMPARE(std::pair(int(parsed.id), int(parsed.sequence)), std::pair(0x1234, 0x77));
        if (parsed.kind == Kind::Error)
            QCOMPARE(parsed.quotedDestination, Target);
        else
            QCOMPARE(parsed.payload.toByteArray(), "odd");
    }
};

QTEST_APPLESS_MAIN(TestIcmpPacket)
#include "tst_icmp_packet.moc"
