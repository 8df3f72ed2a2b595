#include "fakes/FakeLookup.h"
#include "fakes/FakeScanView.h"
#include "scan/ScanEngine.h"
#include "scan/components/IcmpEcho.h"
#include "scan/components/IcmpPacket.h"
#include "scan/components/ResultGrid.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <QThread>
#include <QtEndian>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

using namespace Qt::StringLiterals;

// Inside the private test network (tests/net/testnet.sh): 127.0.0.0/24 and 127.1.0.0/16
// answer, 127.0.1.0/24 is silent, 127.0.2.0/24 is unreachable.
namespace {

using Choice = IcmpEcho::SocketChoice;

// Records "tag status text" of every EchoReply (text: EchoErrorText as the handler sees
// it) and the round trip of the last answered one; `then` runs inside the handler.
struct Recorder
{
    explicit Recorder(IcmpEcho &echo, std::function<void(int, const QString &)> then = {})
    {
        const auto record = [this, &echo, then](const QString &, std::int16_t ms,
                                                std::int16_t status, const QString &tag) {
            outcomes << u"%1 %2 %3"_s.arg(tag).arg(status).arg(echo.EchoErrorText());
            answeredMs = status == 0 ? ms : answeredMs;
            if (then)
                then(status, tag);
        };
        QObject::connect(&echo, &EchoControl::EchoReply, &echo, record);
    }
    QStringList outcomes;
    int answeredMs = -1;
};

// A raw socket on 127.0.0.66: sees the requests sent there and forges ICMP replies and
// errors.
struct Probe
{
    Probe()
    {
        sockaddr_in local{AF_INET, 0, {inet_addr("127.0.0.66")}, {}};
        ::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local);
    }
    ~Probe() { ::close(fd); }

    // An error of this type (unreachable: host unreachable) quoting our request from
    // 127.0.0.1 to 127.0.1.5, its IP header with or without 4 bytes of options, and its
    // echo header with `payload` after it.
    void forgeError(int type, bool options, std::uint16_t id, std::uint16_t sequence,
                    const QByteArray &payload = {})
    {
        const QByteArray inner =
            QByteArray::fromHex(options ? "4600002000000000010100007f0000017f00010500000000"
                                        : "4500001c00000000010100007f0000017f000105");
        send(QByteArray(8, '\0') + inner + IcmpPacket::echoRequest(id, sequence, {}).left(8) +
                 payload,
             type, type == 3);
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

    // The next echo request that reaches the probe within a second, or a Malformed one;
    // `ttl` is the TTL it arrived with. Waits on the socket, not the event loop, so the
    // control under test sees nothing meanwhile.
    IcmpPacket::Parsed takeRequest(int *ttl)
    {
        for (pollfd ready{fd, POLLIN, 0}; ::poll(&ready, 1, 1000) > 0;) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            const auto packet = IcmpPacket::parseDatagram({buffer, std::max<ssize_t>(n, 0)});
            if (packet.kind == IcmpPacket::Kind::EchoRequest) {
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

    void sweepPastSequenceWrap_data()
    {
        QTest::addColumn<Choice>("choice");
        QTest::newRow("datagram") << Choice::DatagramOnly;
        QTest::newRow("raw") << Choice::RawOnly;
    }

    // 70,000 requests, each sent from an answer's handler, pass the 16-bit sequence number
    // while three silent requests stay in flight: their numbers must not be handed out
    // again. The last answer's handler cancels those three, which report in sending order.
    void sweepPastSequenceWrap()
    {
        QFETCH(Choice, choice);
        const int total = 70000, window = choice == Choice::RawOnly ? 1000 : 2000;
        IcmpEcho echo{choice};
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

    // More requests in flight than one identifier can number: a second lane opens (another
    // ping socket, or another identifier on the raw socket) and none is refused.
    void secondLaneBeyondOneIdentifier()
    {
        QFETCH(Choice, choice);
        const int total = EchoSequenceTable::Capacity + 100;
        IcmpEcho echo{choice};
        echo.setEchoTimeout(60000);
        int refused = 0, cancelled = 0;
        QObject::connect(&echo, &EchoControl::EchoReply, &echo,
                         [&](const QString &, std::int16_t, std::int16_t status, const QString &) {
                             refused += status == EchoControl::TooManyOutstanding;
                             cancelled += status == EchoControl::Cancelled;
                         });
        for (int i = 0; i < total; ++i)
            echo.SendEcho(u"127.0.1.%1"_s.arg(i % 256));
        QCOMPARE(echo.laneCount(), 2);
        QCOMPARE(echo.EchoesPending(), total);
        echo.CancelEchoes();
        QTRY_COMPARE(cancelled, total);
        QCOMPARE(refused, 0);
    }
    void secondLaneBeyondOneIdentifier_data() { sweepPastSequenceWrap_data(); }

    void waitingSendHoldsBackOthers_data()
    {
        QTest::addColumn<Choice>("choice");
        QTest::addColumn<int>("errorType"); // forged: TTL expired or destination unreachable
        QTest::addColumn<bool>("innerOptions");
        QTest::addColumn<int>("ttl");
        QTest::addColumn<int>("onTheWire");
        const Choice datagram = Choice::DatagramOnly, raw = Choice::RawOnly;
        QTest::newRow("datagram expired, ttl 7") << datagram << 11 << false << 7 << 7;
        QTest::newRow("datagram, ttl 300 clamped") << datagram << 3 << false << 300 << 255;
        QTest::newRow("raw expired, ttl 0 clamped") << raw << 11 << false << 0 << 1;
        QTest::newRow("raw, inner options, ttl 200") << raw << 3 << true << 200 << 200;
    }

    // Unreachable, ICMP error, timed-out and answered requests, then a waiting send: it
    // returns with its own outcome after its time-out, and only then do the others report,
    // as they ended. The probe forges the error, which is pending when the next request is
    // sent (a ping socket then fails that send unless the error is taken first), and sees
    // the TTL of the requests to it. The kernel stays silent; the probe answers instead:
    // knowing our identifier and sequence number but not the value the request carried after
    // the banner makes no answer, a copy of the request does. That answer waits while the
    // event loop is busy and keeps the time the kernel got it.
    void waitingSendHoldsBackOthers()
    {
        QFETCH(Choice, choice);
        QFETCH(int, errorType);
        QFETCH(bool, innerOptions);
        QFETCH(int, ttl);
        NoKernelReplies silence;
        QVERIFY(silence.ok);
        Probe probe;
        IcmpEcho echo{choice};
        Recorder recorder(echo);
        echo.setEchoData(u"Vantrel banner"_s);
        echo.setEchoTTL(ttl);
        echo.setEchoTimeout(300);
        for (const QString &tag : {u"127.0.2.9"_s, u"127.0.1.5"_s, u"127.0.1.1"_s, u"banner"_s,
                                   u"wrong"_s, u"copied"_s}) {
            echo.setEchoTag(tag);
            echo.SendEcho(tag.startsWith(u"127."_s) ? tag : u"127.0.0.66"_s);
            if (tag == u"127.0.1.5"_s)
                probe.forgeError(errorType, innerOptions, echo.identifier(), echo.lastSequence());
        }
        int arrivedTtl = -1;
        for (const QString &forged : {u"banner"_s, u"wrong"_s, u"copied"_s}) {
            const IcmpPacket::Parsed request = probe.takeRequest(&arrivedTtl);
            QByteArray payload = request.payload.toByteArray();
            QVERIFY(payload.startsWith("Vantrel banner") &&
                    payload.size() > qsizetype(sizeof "Vantrel banner"));
            if (forged == u"banner"_s)
                payload = "Vantrel banner";
            else if (forged == u"wrong"_s)
                payload.back() = char(payload.back() ^ 1);
            probe.send(IcmpPacket::echoRequest(request.id, request.sequence, payload),
                       IcmpPacket::EchoReplyType);
        }
        QTEST(arrivedTtl, "onTheWire");
        QThread::msleep(100);
        echo.setEchoTimeout(500);
        echo.setEchoAsync(false);
        echo.setEchoTag(u"waiting"_s);
        const QDeadlineTimer timeout(500);
        echo.SendEcho(u"127.0.1.2"_s);
        QVERIFY(timeout.hasExpired());
        QCOMPARE(echo.EchoErrorNumber(), int(EchoControl::TimedOut));
        QCOMPARE(recorder.outcomes.size(), 0);
        QCOMPARE(echo.EchoesPending(), 7);
        QTRY_COMPARE(recorder.outcomes.size(), 7);
        const QString error =
            errorType == 11 ? u"TTL expired in transit"_s : u"Destination host unreachable"_s;
        const QString timedOut = u" 1 Request timed out"_s;
        QCOMPARE(recorder.outcomes,
                 (QStringList{u"127.0.2.9 %1 No route to host"_s.arg(EchoControl::SendFailedBase +
                                                                     EHOSTUNREACH),
                              u"127.0.1.5 %1 %2 from 127.0.0.66"_s.arg(errorType).arg(error),
                              u"copied 0 "_s, u"127.0.1.1"_s + timedOut, u"banner"_s + timedOut,
                              u"wrong"_s + timedOut, u"waiting"_s + timedOut}));
        QVERIFY2(recorder.answeredMs < 20, qPrintable(QString::number(recorder.answeredMs)));
    }

    // A reply the kernel took in after the time-out, read only later because the program was
    // busy (or stopped), is a time-out, not an answer; an error forged by someone who knows
    // the identifier and sequence number but not the request's cookie changes nothing.
    void lateRepliesAndForgedErrors_data() { sweepPastSequenceWrap_data(); }
    void lateRepliesAndForgedErrors()
    {
        QFETCH(Choice, choice);
        NoKernelReplies silence;
        QVERIFY(silence.ok);
        Probe probe;
        IcmpEcho echo{choice};
        Recorder recorder(echo);
        echo.setEchoData(u"Vantrel banner"_s);
        echo.setEchoTimeout(200);
        echo.setEchoTag(u"late"_s);
        echo.SendEcho(u"127.0.0.66"_s);
        int ttl = 0;
        const IcmpPacket::Parsed request = probe.takeRequest(&ttl);
        QVERIFY(request.kind == IcmpPacket::Kind::EchoRequest);
        const QByteArray payload = request.payload.toByteArray();
        echo.setEchoTag(u"forged"_s);
        echo.SendEcho(u"127.0.1.5"_s);
        QByteArray wrongCookie = payload;
        wrongCookie.back() = char(wrongCookie.back() ^ 1);
        probe.forgeError(3, false, echo.identifier(), echo.lastSequence(), wrongCookie);
        QThread::msleep(300);
        probe.send(IcmpPacket::echoRequest(request.id, request.sequence, payload),
                   IcmpPacket::EchoReplyType);
        QThread::msleep(300); // the reply waits in the socket; the time-out has not fired yet
        QTRY_COMPARE(recorder.outcomes.size(), 2);
        QCOMPARE(recorder.outcomes,
                 (QStringList{u"late 1 Request timed out"_s, u"forged 1 Request timed out"_s}));
    }

    // A scan whose silent first half fills the request table: the walk and the retries wait
    // for room, and every host of the answering second half is listed, none turned into a
    // miss by a refused request.
    void fullTableWaitsInsteadOfMissing()
    {
        // 127.0.1.128/25 answers; the rest of 127.0.1.0/24 stays silent.
        QCOMPARE(QProcess::execute(u"ip"_s, {u"route"_s, u"add"_s, u"local"_s, u"127.0.1.128/25"_s,
                                             u"dev"_s, u"lo"_s, u"table"_s, u"local"_s}),
                 0);
        IcmpEcho echo;
        echo.setRequestLimit(64);
        echo.setEchoTimeout(300);
        FakeLookup lookup;
        ResultGrid grid;
        FakeScanView view;
        view.start = u"127.0.1.0"_s;
        view.end = u"127.0.1.255"_s;
        ScanEngine engine(echo, lookup, grid, view);
        engine.Resolve_DNS = false;
        engine.Pings_per_Node = 2;
        engine.setAddressRate(5000);
        engine.Scan_Button_Click();
        QTRY_VERIFY_WITH_TIMEOUT(!engine.isRunning(), 20000);
        QCOMPARE(view.ipStatus, u"Scan Completed"_s);
        QCOMPARE(grid.Rows() - 1, 128);
        QStringList listed;
        for (qsizetype row = 1; row < grid.Rows(); ++row)
            listed << grid.cellText(row, 0);
        listed.sort();
        listed.removeDuplicates();
        QCOMPARE(listed.size(), 128);
        QVERIFY(listed.first().startsWith(u"127.0.1.1"_s));
        QVERIFY(engine.slotWaits().count > 0);
        QVERIFY(engine.slotWaits().walkPausedNs > 0);
        QProcess::execute(u"ip"_s, {u"route"_s, u"del"_s, u"local"_s, u"127.0.1.128/25"_s, u"dev"_s,
                                    u"lo"_s, u"table"_s, u"local"_s});
    }
};

QTEST_GUILESS_MAIN(TestNetIcmpEcho)
#include "tst_net_icmp_echo.moc"
