#include "scan/components/IcmpEcho.h"
#include "scan/components/IcmpPacket.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTest>
#include <QThread>
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
    explicit Recorder(IcmpEcho &echo, std::function<void(int, const QString &)> then = {})
    {
        const auto record = [this, &echo, then](const QString &, std::int16_t, std::int16_t status,
                                                const QString &tag) {
            outcomes << u"%1 %2 %3"_s.arg(tag).arg(status).arg(echo.EchoErrorText());
            if (then)
                then(status, tag);
        };
        QObject::connect(&echo, &EchoControl::EchoReply, &echo, record);
    }
    QStringList outcomes;
};

void addChoices()
{
    QTest::addColumn<int>("choice");
    QTest::newRow("datagram") << int(Choice::DatagramOnly);
    QTest::newRow("raw") << int(Choice::RawOnly);
}

// A raw socket on 127.0.0.66: sees the requests sent there and forges ICMP errors.
struct Probe
{
    Probe()
    {
        sockaddr_in local{AF_INET, 0, {inet_addr("127.0.0.66")}, {}};
        ::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local);
    }
    ~Probe() { ::close(fd); }

    // An error of this type (unreachable: host unreachable) quoting our request from
    // 127.0.0.1 to 127.0.1.5, its IP header with or without 4 bytes of options.
    void forgeError(int type, bool options, std::uint16_t id, std::uint16_t sequence)
    {
        const QByteArray inner =
            QByteArray::fromHex(options ? "4600002000000000010100007f0000017f00010500000000"
                                        : "4500001c00000000010100007f0000017f000105");
        send(QByteArray(8, '\0') + inner + IcmpPacket::echoRequest(id, sequence, {}).left(8), type,
             type == 3);
    }

    // Sends `message` to 127.0.0.1 as ICMP of this type and code, its checksum filled in.
    void send(QByteArray message, int type, int code = 0)
    {
        qToBigEndian(std::uint16_t(type << 8 | code), message.data());
        message[2] = message[3] = 0;
        qToBigEndian(IcmpPacket::checksum(message), message.data() + 2);
        sockaddr_in to{AF_INET, 0, {inet_addr("127.0.0.1")}, {}};
        QVERIFY(::sendto(fd, message.constData(), size_t(message.size()), 0,
                         reinterpret_cast<sockaddr *>(&to), sizeof to) > 0);
    }

    // The first echo request that reached the probe, or a Malformed one; `ttl` is the TTL
    // it arrived with.
    IcmpPacket::Parsed takeRequest(int *ttl = nullptr)
    {
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
            const auto packet = IcmpPacket::parseDatagram({buffer, n});
            if (packet.kind == IcmpPacket::Kind::EchoRequest) {
                if (ttl)
                    *ttl = static_cast<std::uint8_t>(buffer[8]);
                return packet;
            }
        }
        return {};
    }

    int fd = ::socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK, IPPROTO_ICMP);
    char buffer[2048];
};

// Keeps the kernel from answering echo requests while it lives, so that only the probe's
// forged replies come back.
struct NoKernelReplies
{
    static bool set(const char *value)
    {
        QFile file("/proc/sys/net/ipv4/icmp_echo_ignore_all");
        return file.open(QIODevice::WriteOnly) && file.write(value) > 0;
    }
    ~NoKernelReplies() { set("0"); }
    const bool ok = set("1");
};

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

    void sweepPastSequenceWrap_data() { addChoices(); }

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
        std::vector<char> seen(total, 0);
        int sent = 0, answered = 0, wrong = 0, pendingInHandler = -1;
        const auto sendNext = [&] {
            echo.setEchoTag(QString::number(sent));
            echo.SendEcho(u"127.1.%1.%2"_s.arg(sent >> 8 & 0xff).arg(sent & 0xff));
            ++sent;
        };
        Recorder recorder(echo, [&](int status, const QString &tag) {
            if (tag.startsWith(u"silent"_s))
                return;
            wrong += status != 0 || seen[tag.toInt()]++; // each answered once
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
        for (int i = 1; i <= 3; ++i)
            QCOMPARE(recorder.outcomes[total + i - 1], u"silent%1 4 Request cancelled"_s.arg(i));
        QCOMPARE(echo.EchoesPending(), 0);
    }

    void waitingSendHoldsBackOthers_data()
    {
        QTest::addColumn<int>("choice");
        QTest::addColumn<QString>("error"); // forged; the status it reports is the ICMP type
        QTest::addColumn<bool>("innerOptions");
        QTest::addColumn<int>("ttl");
        QTest::addColumn<int>("onTheWire");
        const QString expired = u"127.0.1.5 11 TTL expired in transit from 127.0.0.66"_s;
        const QString unreachable = u"127.0.1.5 3 Destination host unreachable from 127.0.0.66"_s;
        const int datagram = int(Choice::DatagramOnly), raw = int(Choice::RawOnly);
        QTest::newRow("datagram expired, ttl 7") << datagram << expired << false << 7 << 7;
        QTest::newRow("datagram, ttl 300 clamped")
            << datagram << unreachable << false << 300 << 255;
        QTest::newRow("raw expired, ttl 0 clamped") << raw << expired << false << 0 << 1;
        QTest::newRow("raw, inner options, ttl 200") << raw << unreachable << true << 200 << 200;
    }

    // Unreachable, ICMP error, timed-out and answered requests, then a waiting send: it
    // returns with its own outcome after its time-out, and only then do the others report,
    // as they ended. The probe forges the error, which is pending when the next request is
    // sent (a ping socket then fails that send unless the error is taken first), and sees
    // the TTL of the answered request.
    void waitingSendHoldsBackOthers()
    {
        QFETCH(int, choice);
        QFETCH(QString, error);
        QFETCH(bool, innerOptions);
        QFETCH(int, ttl);
        const int type = error.section(u' ', 1, 1).toInt();
        Probe probe;
        IcmpEcho echo{Choice(choice)};
        Recorder recorder(echo);
        echo.setEchoTTL(ttl);
        echo.setEchoTimeout(200);
        for (const auto &to : {u"127.0.2.9"_s, u"127.0.1.5"_s, u"127.0.1.1"_s, u"127.0.0.66"_s}) {
            echo.setEchoTag(to);
            echo.SendEcho(to);
            if (to == u"127.0.1.5"_s)
                probe.forgeError(type, innerOptions, echo.identifier(), echo.lastSequence());
        }
        echo.setEchoTimeout(400);
        echo.setEchoAsync(false);
        echo.setEchoTag(u"waiting"_s);
        const QDeadlineTimer timeout(400);
        echo.SendEcho(u"127.0.1.2"_s);
        QVERIFY(timeout.hasExpired());
        QCOMPARE(echo.EchoErrorNumber(), int(EchoControl::TimedOut));
        QCOMPARE(recorder.outcomes.size(), 0);
        QCOMPARE(echo.EchoesPending(), 5);
        QTRY_COMPARE(recorder.outcomes.size(), 5);
        const int unreachable = EchoControl::SendFailedBase + EHOSTUNREACH;
        QCOMPARE(recorder.outcomes,
                 (QStringList{u"127.0.2.9 %1 No route to host"_s.arg(unreachable), error,
                              u"127.0.0.66 0 "_s, u"127.0.1.1 1 Request timed out"_s,
                              u"waiting 1 Request timed out"_s}));
        int arrivedTtl = -1;
        probe.takeRequest(&arrivedTtl);
        QTEST(arrivedTtl, "onTheWire");
    }

    // A reply that waits while the event loop is busy keeps the time the kernel got it.
    void busyLoopAddsNoTime_data() { addChoices(); }
    void busyLoopAddsNoTime()
    {
        QFETCH(int, choice);
        IcmpEcho echo{Choice(choice)};
        int roundTrip = -1;
        QObject::connect(&echo, &EchoControl::EchoReply, &echo,
                         [&](const QString &, std::int16_t ms, std::int16_t status) {
                             roundTrip = status == 0 ? ms : 9999;
                         });
        echo.SendEcho(u"127.0.0.7"_s);
        QThread::msleep(200);
        QTRY_VERIFY(roundTrip >= 0);
        QVERIFY2(roundTrip < 5, qPrintable(QString::number(roundTrip)));
    }

    // Someone who knows our identifier and sequence number but not the value the request
    // carried after the banner cannot make a silent address answer; someone who sees the
    // request can (the control that forged replies arrive at all).
    void forgedReplies_data()
    {
        QTest::addColumn<int>("choice");
        QTest::addColumn<QString>("forged"); // payload: banner, wrong value, or copied
        QTest::addColumn<int>("status");
        for (const auto &[choice, name] :
             {std::pair{Choice::DatagramOnly, "datagram"}, std::pair{Choice::RawOnly, "raw"}}) {
            for (const QString forged : {"banner", "wrong", "copied"})
                QTest::addRow("%s, %s", name, qPrintable(forged))
                    << int(choice) << forged << (forged == "copied" ? 0 : 1);
        }
    }
    void forgedReplies()
    {
        QFETCH(int, choice);
        QFETCH(QString, forged);
        QFETCH(int, status);
        NoKernelReplies silence;
        QVERIFY(silence.ok);
        Probe probe;
        IcmpEcho echo{Choice(choice)};
        Recorder recorder(echo);
        echo.setEchoData(u"Vantrel banner"_s);
        echo.setEchoTimeout(300);
        echo.SendEcho(u"127.0.0.66"_s);
        IcmpPacket::Parsed request;
        QVERIFY(QTest::qWaitFor([&] {
            request = probe.takeRequest();
            return request.kind == IcmpPacket::Kind::EchoRequest;
        }));
        QVERIFY(request.payload.startsWith("Vantrel banner") &&
                request.payload.size() > qsizetype(sizeof "Vantrel banner"));
        QByteArray payload = request.payload.toByteArray();
        if (forged == "banner")
            payload = "Vantrel banner";
        else if (forged == "wrong")
            payload.back() = char(payload.back() ^ 1);
        probe.send(IcmpPacket::echoRequest(request.id, request.sequence, payload),
                   IcmpPacket::EchoReplyType);
        QTRY_COMPARE(recorder.outcomes.size(), 1);
        QCOMPARE(recorder.outcomes[0].section(' ', 1, 1).toInt(), status);
    }
};

QTEST_GUILESS_MAIN(TestNetIcmpEcho)
#include "tst_net_icmp_echo.moc"
