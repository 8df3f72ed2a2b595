#include "scan/components/IcmpEcho.h"

#include "scan/components/EchoSequenceTable.h"
#include "scan/components/IcmpPacket.h"

#include <QRegularExpression>
#include <QTest>
#include <QtEndian>

using namespace Qt::StringLiterals;
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
static QByteArray error(int type, int ihl, int protocol = 1)
{
    return ip(Router, Us, icmp(type, ip(Us, Target, icmp(EchoRequestType), ihl, protocol)));
}

// Runs in the machine's own network: the only address pinged here is 127.0.0.1.
class TestIcmpEcho : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The packet helpers above build with checksum(): it is checked on its own first.
    void checksumOf()
    {
        QCOMPARE(checksum(QByteArray::fromHex("0001f203f4f5f6f7")), 0x220d); // carries
        QCOMPARE(checksum(QByteArray::fromHex("000102")), 0xfdfe); // odd byte is the high byte
    }

    // The network tests feed requests, forged errors with inner options and forged replies
    // through the real sockets; these are the shapes they cannot make.
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
        row("time exceeded", error(TimeExceededType, 5), Error, Router);
        row("error quoting udp", error(DestinationUnreachableType, 5, 17), Other);
        row("ip header cut", good.left(12), Malformed);
        row("icmp header cut", ip(Target, Us, reply.left(7)), Malformed);
        row("cut below total length", good.chopped(1), Malformed);
        row("ihl below five", QByteArray(good).replace(0, 1, "\x44"), Malformed);
        row("not icmp", QByteArray(good).replace(9, 1, "\x11"), Malformed);
        row("bad checksum, odd byte", QByteArray(good).replace(good.size() - 1, 1, "e"), Malformed);
        row("error with inner ihl below five", error(TimeExceededType, 3), Malformed);
        row("error quote cut", error(TimeExceededType, 5).chopped(1), Malformed);
    }

    void parse()
    {
        QFETCH(QByteArray, datagram);
        const Parsed p = parseDatagram(datagram);
        QTEST(p.kind, "kind");
        if (p.kind == Kind::Malformed || p.kind == Kind::Other)
            return;
        QTEST(p.source, "source");
        // Replies carry their own numbers, errors those of the quoted request.
        QCOMPARE(std::pair(int(p.id), int(p.sequence)), std::pair(0x1234, 0x77));
        QVERIFY(p.kind == Kind::Error ? p.quotedDestination == Target : p.payload == "odd");
    }

    // What the sweeps past the wrap in tst_net_icmp_echo (numbers in flight skipped, a cancel
    // in the order sent) cannot show: a number is taken once, so a duplicate reply finds
    // nothing; a deadline expires at its own moment; a full table refuses.
    void sequenceTable()
    {
        EchoSequenceTable table(65535);
        const auto add = [&] {
            EchoSequenceTable::Request request;
            request.deadlineNs = 10;
            return table.add(std::move(request));
        };
        QCOMPARE(add(), std::optional<std::uint16_t>(65535));
        QCOMPARE(table.firstExpired(9), std::nullopt);
        QCOMPARE(table.firstExpired(10), std::optional<std::uint16_t>(65535));
        QVERIFY(table.take(65535));
        QVERIFY(!table.take(65535));
        while (table.size() < EchoSequenceTable::Capacity)
            QVERIFY(add());
        QCOMPARE(add(), std::nullopt);
    }

    // Answered, refused and cancelled requests all report from the event loop, never from
    // inside SendEcho or CancelEchoes, with the tag they were sent with, and count as pending
    // until then; a waiting send has its outcome already when it returns. The texts go into
    // CSV exports, so they hold no commas.
    void sendEcho()
    {
        IcmpEcho echo;
        if (!echo.isAvailable())
            QSKIP(qPrintable(echo.unavailableReason()));
        QStringList outcomes;
        connect(&echo, &EchoControl::EchoReply, this,
                [&](const QString &address, std::int16_t, std::int16_t status, const QString &tag) {
                    outcomes
                        << u"%1 %2 %3 %4"_s.arg(tag, address).arg(status).arg(echo.EchoErrorText());
                });
        const auto send = [&](const QString &tag, const QString &address, bool async) {
            echo.setEchoAsync(async);
            echo.setEchoTag(tag);
            echo.SendEcho(address);
            echo.setEchoTag(u"changed after sending"_s);
            return echo.EchoErrorNumber();
        };
        send(u"sent"_s, u"127.0.0.1"_s, true);
        QCOMPARE(send(u"refused"_s, u"127.0.0.01"_s, false), int(EchoControl::BadAddress));
        QCOMPARE(send(u"waited"_s, u"127.0.0.1"_s, false), 0);
        send(u"cancelled"_s, u"127.0.0.1"_s, true);
        echo.CancelEchoes();
        QCOMPARE(outcomes.size(), 0);
        QCOMPARE(echo.EchoesPending(), 4);
        QTRY_COMPARE(outcomes.size(), 4);
        // The answer to the cancelled request, which comes in before this one's, is dropped.
        send(u"after"_s, u"127.0.0.1"_s, true);
        QTRY_COMPARE(outcomes.size(), 5);
        outcomes.sort();
        QCOMPARE(outcomes,
                 (QStringList{u"after 127.0.0.1 0 "_s, u"cancelled 127.0.0.1 4 Request cancelled"_s,
                              u"refused 127.0.0.01 %1 Invalid IPv4 address"_s.arg(
                                  int(EchoControl::BadAddress)),
                              u"sent 127.0.0.1 0 "_s, u"waited 127.0.0.1 0 "_s}));
    }
};

QTEST_GUILESS_MAIN(TestIcmpEcho)
#include "tst_icmp_echo.moc"
