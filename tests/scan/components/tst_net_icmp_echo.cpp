#include "scan/components/IcmpEcho.h"
#include "scan/components/IcmpPacket.h"

#include <QElapsedTimer>
#include <QTest>
#include <QtEndian>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

using namespace Qt::StringLiterals;

// Inside the private test network (tests/net/testnet.sh): 127.0.0.0/24 and 127.1.0.0/16
// answer, 127.0.1.0/24 is silent, 127.0.2.0/24 is unreachable.
namespace {

using Choice = IcmpEcho::SocketChoice;

// Records "tag status text" of every EchoReply (text: EchoErrorText as the handler sees
// it); `then` runs inside the handler.
struct Recorder
{
    explicit Recorder(IcmpEcho &echo,
                      std::function<void(const QString &, int, const QString &)> then = {})
    {
        QObject::connect(&echo, &EchoControl::EchoReply, &echo,
                         [this, &echo, then](const QString &address, std::int16_t,
                                             std::int16_t status, const QString &tag) {
                             outcomes
                                 << u"%1 %2 %3"_s.arg(tag).arg(status).arg(echo.EchoErrorText());
                             if (then)
                                 then(address, status, tag);
                         });
    }
    QStringList outcomes;
};

// A raw socket on 127.0.0.66: sees the requests sent there and forges ICMP errors.
struct Probe
{
    Probe()
    {
        sockaddr_in local{AF_INET, 0, {inet_addr("127.0.0.66")}, {}};
        ::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local);
    }
    ~Probe() { ::close(fd); }

    // The TTL our request with this id and sequence arrived with, or -1.
    int arrivedTtl(std::uint16_t id, std::uint16_t sequence)
    {
        char buffer[2048];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
            const auto packet = IcmpPacket::parseDatagram(QByteArrayView(buffer, n));
            if (packet.kind == IcmpPacket::Kind::EchoRequest && packet.id == id &&
                packet.sequence == sequence)
                return static_cast<std::uint8_t>(buffer[8]);
        }
        return -1;
    }

    // An error quoting our request from 127.0.0.1 to 127.0.1.5.
    void forgeError(int type, int code, int innerIhl, std::uint16_t id, std::uint16_t sequence)
    {
        QByteArray inner = QByteArray::fromHex("4500001c00000000010100007f0000017f000105") +
                           QByteArray((innerIhl - 5) * 4, '\0');
        inner[0] = char(0x40 | innerIhl);
        inner[3] = char(innerIhl * 4 + 8);
        QByteArray message = QByteArray::fromRawData("\0\0\0\0\0\0\0\0", 8) + inner +
                             IcmpPacket::echoRequest(id, sequence, {}).left(8);
        message[0] = char(type);
        message[1] = char(code);
        qToBigEndian(IcmpPacket::checksum(message), message.data() + 2);
        sockaddr_in to{AF_INET, 0, {inet_addr("127.0.0.1")}, {}};
        QVERIFY(::sendto(fd, message.constData(), size_t(message.size()), 0,
                         reinterpret_cast<sockaddr *>(&to), sizeof to) > 0);
    }

    int fd = ::socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK, IPPROTO_ICMP);
};

void addModes()
{
    QTest::addColumn<int>("choice");
    QTest::newRow("datagram") << int(Choice::DatagramOnly);
    QTest::newRow("raw") << int(Choice::RawOnly);
}

} // namespace

class TestNetIcmpEcho : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        if (qgetenv("VANTREL_TESTNET") != "1")
            QSKIP("needs the private test network: run through tests/net/testnet.sh");
    }

    void sweepPastSequenceWrap_data() { addModes(); }

    // 70,000 requests, each sent from an answer's handler, pass the 16-bit sequence number
    // while three silent requests stay in flight: their numbers must not be handed out
    // again. The last answer's handler cancels those three, which report in sending order.
    void sweepPastSequenceWrap()
    {
        QFETCH(int, choice);
        const int total = 70000, window = choice == int(Choice::RawOnly) ? 1000 : 2000;
        IcmpEcho echo{Choice(choice)};
        for (int i = 1; i <= 3; ++i) { // later ones end sooner
            echo.setEchoTimeout(600000 - i * 1000);
            echo.setEchoTag(u"silent%1"_s.arg(i));
            echo.SendEcho(u"127.0.1.%1"_s.arg(i));
        }
        echo.setEchoTimeout(5000);
        const auto address = [](int n) {
            return u"127.1.%1.%2"_s.arg(n >> 8 & 0xff).arg(n & 0xff);
        };
        std::vector<char> seen(total, 0);
        int sent = 0, answered = 0, wrong = 0, pendingInHandler = -1;
        const auto sendNext = [&] {
            echo.setEchoTag(QString::number(sent));
            echo.SendEcho(address(sent++));
        };
        Recorder recorder(echo, [&](const QString &to, int status, const QString &tag) {
            if (tag.startsWith(u"silent"_s))
                return;
            const int n = tag.toInt();
            wrong += status != 0 || to != address(n) || seen[n]++; // each once, as sent
            if (sent < total)
                sendNext();
            if (++answered == total) {
                pendingInHandler = echo.EchoesPending();
                echo.CancelEchoes();
            }
        });
        while (sent < window)
            sendNext();
        QTRY_COMPARE_WITH_TIMEOUT(recorder.outcomes.size(), total + 3, 40000);
        QCOMPARE(wrong, 0);
        QCOMPARE(pendingInHandler, 3);
        QCOMPARE(recorder.outcomes.mid(total),
                 (QStringList{u"silent1 4 Request cancelled"_s, u"silent2 4 Request cancelled"_s,
                              u"silent3 4 Request cancelled"_s}));
        QCOMPARE(echo.EchoesPending(), 0);
    }

    void forgedErrorAndTtl_data()
    {
        QTest::addColumn<int>("choice");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("innerIhl");
        QTest::addColumn<QString>("outcome"); // of the request the error quotes
        QTest::addColumn<int>("ttl");
        QTest::addColumn<int>("onTheWire");
        const QString expired = u"silent 11 TTL expired in transit from 127.0.0.66"_s;
        const QString unreachable = u"silent 3 Destination host unreachable from 127.0.0.66"_s;
        const int datagram = int(Choice::DatagramOnly), raw = int(Choice::RawOnly);
        QTest::newRow("datagram time exceeded, ttl 7")
            << datagram << 11 << 0 << 5 << expired << 7 << 7;
        QTest::newRow("datagram unreachable, ttl 300 clamped")
            << datagram << 3 << 1 << 5 << unreachable << 300 << 255;
        QTest::newRow("raw time exceeded, ttl 0 clamped")
            << raw << 11 << 0 << 5 << expired << 0 << 1;
        QTest::newRow("raw unreachable inner options, ttl 200")
            << raw << 3 << 1 << 6 << unreachable << 200 << 200;
    }

    // The probe forges an error for a silent request and sees the TTL of one it answers.
    void forgedErrorAndTtl()
    {
        QFETCH(int, choice);
        QFETCH(int, type);
        QFETCH(int, code);
        QFETCH(int, innerIhl);
        QFETCH(QString, outcome);
        QFETCH(int, ttl);
        Probe probe;
        IcmpEcho echo{Choice(choice)};
        Recorder recorder(echo);
        echo.setEchoTimeout(30000);
        echo.setEchoTTL(ttl);
        echo.setEchoTag(u"silent"_s);
        echo.SendEcho(u"127.0.1.5"_s);
        probe.forgeError(type, code, innerIhl, echo.identifier(), echo.lastSequence());
        // Sent before the error is read: a ping socket then fails this send unless the
        // pending error is taken first.
        echo.setEchoTag(u"answering"_s);
        echo.SendEcho(u"127.0.0.66"_s);
        QTRY_COMPARE(recorder.outcomes.size(), 2);
        QTest::qWait(50); // nothing else may follow
        QStringList outcomes = recorder.outcomes;
        outcomes.sort();
        QCOMPARE(outcomes, (QStringList{u"answering 0 "_s, outcome}));
        QTEST(probe.arrivedTtl(echo.identifier(), echo.lastSequence()), "onTheWire");
    }

    void waitingSendHoldsBackOthers_data() { addModes(); }

    // Unreachable, timed-out and answered requests, then a waiting send: it returns with
    // its own outcome after its time-out, and only then do the others report, as they ended.
    void waitingSendHoldsBackOthers()
    {
        QFETCH(int, choice);
        IcmpEcho echo{Choice(choice)};
        Recorder recorder(echo);
        echo.setEchoTimeout(200);
        for (const QString &address : {u"127.0.2.9"_s, u"127.0.1.1"_s, u"127.0.0.5"_s}) {
            echo.setEchoTag(address);
            echo.SendEcho(address);
        }
        echo.setEchoTimeout(400);
        echo.setEchoAsync(false);
        echo.setEchoTag(u"waiting"_s);
        QElapsedTimer clock;
        clock.start();
        echo.SendEcho(u"127.0.1.2"_s);
        QVERIFY(clock.elapsed() >= 400);
        QCOMPARE(echo.EchoErrorNumber(), int(EchoControl::TimedOut));
        QCOMPARE(recorder.outcomes.size(), 0);
        QCOMPARE(echo.EchoesPending(), 4);
        QTRY_COMPARE(recorder.outcomes.size(), 4);
        const int unreachable = EchoControl::SendFailedBase + EHOSTUNREACH;
        QCOMPARE(
            recorder.outcomes,
            (QStringList{u"127.0.2.9 %1 No route to host"_s.arg(unreachable), u"127.0.0.5 0 "_s,
                         u"127.0.1.1 1 Request timed out"_s, u"waiting 1 Request timed out"_s}));
    }
};

QTEST_GUILESS_MAIN(TestNetIcmpEcho)
#include "tst_net_icmp_echo.moc"
