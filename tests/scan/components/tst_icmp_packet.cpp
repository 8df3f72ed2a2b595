#include "scan/components/IcmpPacket.h"

#include <QTest>
#include <QtEndian>

using namespace IcmpPacket;

// 127.0.0.1, 127.0.1.7 and 127.0.0.66
constexpr quint32 Us = 0x7f000001, Target = 0x7f000107, Router = 0x7f000042;

// An ICMP message with id 0x1234 and sequence 0x77.
static QByteArray icmp(int type, const QByteArray &body = {}, int code = 0)
{
    QByteArray message = QByteArray::fromHex("0000000012340077") + body;
    qToBigEndian(std::uint16_t(type << 8 | code), message.data());
    qToBigEndian(checksum(message), message.data() + 2);
    return message;
}

static QByteArray ip(quint32 from, quint32 to, const QByteArray &body, int ihl = 5,
                     int protocol = 1)
{
    QByteArray header(std::max(ihl, 5) * 4, '\0');
    // Version and header length, total length; TTL and protocol; source; destination.
    const quint32 words[] = {quint32(0x40 | ihl) << 24 | quint32(ihl * 4 + body.size()), 0,
                             quint32(protocol) << 16, from, to};
    qToBigEndian<quint32>(words, 5, header.data());
    return header + body;
}

// An error from the router quoting the header of our request to Target.
static QByteArray error(int type, int code, int ihl, int protocol = 1)
{
    return ip(Router, Us, icmp(type, ip(Us, Target, icmp(EchoRequestType), ihl, protocol), code));
}

class TestIcmpPacket : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The helpers above build packets with checksum(): it is checked on its own first.
    void checksumOf()
    {
        QCOMPARE(checksum(QByteArray::fromHex("0001f203f4f5f6f7")), 0x220d); // carries
        QCOMPARE(checksum(QByteArray::fromHex("000102")), 0xfdfe); // odd byte is the high byte
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
        const Parsed p = parseDatagram(datagram);
        QTEST(p.kind, "kind");
        if (p.kind == Kind::Malformed || p.kind == Kind::Other)
            return;
        QTEST(p.source, "source");
        // Replies and requests carry their own numbers, errors those of the quoted request.
        QCOMPARE(std::pair(int(p.id), int(p.sequence)), std::pair(0x1234, 0x77));
        QVERIFY(p.kind == Kind::Error ? p.quotedDestination == Target : p.payload == "odd");
    }
};

QTEST_APPLESS_MAIN(TestIcmpPacket)
#include "tst_icmp_packet.moc"
