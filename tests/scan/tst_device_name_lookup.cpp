// Names that hosts give themselves, asked by mDNS and then NetBIOS where DNS has none: the
// packets, the replies read (and refused), and the order and time limits of the two steps,
// against responders of the test's own on the loopback address.
#include "fakes/FakeLookup.h"
#include "scan/components/DeviceNameLookup.h"

#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray reply(std::uint16_t id, std::uint16_t flags, const QByteArray &question,
                 const QByteArray &answer)
{
    QByteArray out;
    for (const std::uint16_t v :
         {id, flags, std::uint16_t(question.isEmpty() ? 0 : 1),
          std::uint16_t(answer.isEmpty() ? 0 : 1), std::uint16_t(0), std::uint16_t(0)}) {
        out.append(char(v >> 8));
        out.append(char(v & 0xff));
    }
    return out + question + answer;
}

// An answer record: owner name, type, class, TTL, then the data with its length.
QByteArray record(const QByteArray &owner, char type, const QByteArray &data)
{
    return owner + QByteArray("\0\0", 2) + type + QByteArray("\0\1\0\0\0\x78", 6) +
           char(data.size() >> 8) + char(data.size() & 0xff) + data;
}

const QByteArray PeerName("\x0cvantrel-peer\x05local\0", 20);

QByteArray nodeStatus(const QList<QPair<QByteArray, int>> &names) // name, suffix | group << 8
{
    QByteArray data(1, char(names.size()));
    for (const auto &[name, kind] : names)
        data +=
            name.leftJustified(15, ' ') + char(kind & 0xff) + char(kind >> 8 ? 0x80 : 0x04) + '\0';
    return record(QByteArray(1, ' ') + QByteArray(32, 'A'), '\x21', data);
}

// A UDP responder on 127.0.0.1 that answers each query with what `answer` makes of it.
class Responder : public QObject
{
public:
    explicit Responder(std::function<QByteArray(const QByteArray &)> answer)
        : m_answer(std::move(answer))
    {
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr *>(&local), sizeof local);
        socklen_t length = sizeof local;
        ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&local), &length);
        port = ntohs(local.sin_port);
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] {
            char buffer[512];
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t n = ::recvfrom(m_fd, buffer, sizeof buffer, 0,
                                         reinterpret_cast<sockaddr *>(&from), &fromLength);
            if (n <= 0)
                return;
            ++queries;
            const QByteArray out = m_answer(QByteArray(buffer, n));
            if (!out.isEmpty())
                ::sendto(m_fd, out.constData(), out.size(), 0, reinterpret_cast<sockaddr *>(&from),
                         fromLength);
        });
    }
    ~Responder() override { ::close(m_fd); }
    int port = 0;
    int queries = 0;

private:
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    std::function<QByteArray(const QByteArray &)> m_answer;
};

std::uint16_t idOf(const QByteArray &query)
{
    return std::uint16_t(std::uint8_t(query[0]) << 8 | std::uint8_t(query[1]));
}

} // namespace

class TestDeviceNameLookup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The NetBIOS query as the protocol has it; the mDNS query is tried against a real
    // responder by tst_net_scan_cli (deviceOwnName).
    void netbiosQuery()
    {
        const QByteArray nbstat = DeviceNameLookup::netbiosQuery(7);
        QCOMPARE(nbstat.size(), 12 + 34 + 4);
        QCOMPARE(nbstat.mid(12, 3), QByteArray(" CK"));
        QCOMPARE(nbstat.right(4), QByteArray("\0\x21\0\x01", 4));
    }

    // Replies as responders send them, and ones that must not give a name.
    void replies_data()
    {
        QTest::addColumn<bool>("netbios");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("name");
        const QByteArray question = DeviceNameLookup::mdnsQuery(5, 0x7f030002).mid(12);
        QTest::newRow("mdns, question echoed, owner compressed")
            << false
            << reply(5, 0x8400, question,
                     QByteArray("\xc0\x0c\0\x0c\0\x01\0\0\0\x78", 10) + char(0) +
                         char(PeerName.size()) + PeerName)
            << u"vantrel-peer.local"_s;
        QTest::newRow("mdns, name pointing back into the message")
            << false
            << reply(5, 0x8400, {},
                     record("\x0cvantrel-peer\x05local", '\x0c', QByteArray("\x03www\xc0\x0c", 6)))
            << u"www.vantrel-peer.local"_s;
        QTest::newRow("mdns, pointer loop")
            << false << reply(5, 0x8400, {}, record("\x01x", '\x0c', QByteArray("\xc0\x27", 2)))
            << QString();
        QTest::newRow("mdns, another question repeated")
            << false
            << reply(5, 0x8400, DeviceNameLookup::mdnsQuery(5, 0x7f030009).mid(12),
                     record("\x01x", '\x0c', PeerName))
            << QString();
        QTest::newRow("mdns, wrong id")
            << false << reply(6, 0x8400, {}, record("\x01x", '\x0c', PeerName)) << QString();
        QTest::newRow("mdns, a query, not a reply")
            << false << reply(5, 0x0000, {}, record("\x01x", '\x0c', PeerName)) << QString();
        QTest::newRow("mdns, cut short")
            << false << reply(5, 0x8400, {}, record("\x01x", '\x0c', PeerName)).chopped(4)
            << QString();
        QTest::newRow("netbios, the machine's unique name")
            << true
            << reply(5, 0x8400, {},
                     nodeStatus({{"WORKGROUP", 0x100}, {"PRINTER-7", 0x20}, {"PRINTER-7", 0x00}}))
            << u"PRINTER-7"_s;
        QTest::newRow("netbios, only group names")
            << true << reply(5, 0x8400, {}, nodeStatus({{"WORKGROUP", 0x100}})) << QString();
        QTest::newRow("netbios, names cut short")
            << true << reply(5, 0x8400, {}, nodeStatus({{"PRINTER-7", 0x00}})).chopped(10)
            << QString();
        QTest::newRow("netbios, control characters")
            << true << reply(5, 0x8400, {}, nodeStatus({{"EVIL\x1b[2J", 0x00}})) << u"EVIL?[2J"_s;
    }
    void replies()
    {
        QFETCH(bool, netbios);
        QFETCH(QByteArray, bytes);
        QTEST(netbios ? DeviceNameLookup::netbiosName(bytes, 5)
                      : DeviceNameLookup::mdnsName(bytes, 5, 0x7f030002),
              "name");
    }

    // DNS's answer stands where it named the host; otherwise mDNS is asked first (twice when
    // silent), NetBIOS after it (at once when mDNS said it has no name or its port is
    // closed), and without either the DNS answer comes after the second. Lookups count as
    // pending until then.
    void steps_data()
    {
        QTest::addColumn<QString>("mdns");    // name, "" silent, "-" a reply without a name
        QTest::addColumn<QString>("netbios"); // name, "" silent
        QTest::addColumn<QString>("answer");
        QTest::newRow("mdns") << u"vantrel-peer.local"_s << u"OTHER"_s << u"vantrel-peer.local"_s;
        QTest::newRow("mdns silent, netbios") << QString() << u"PRINTER-7"_s << u"PRINTER-7"_s;
        QTest::newRow("mdns without a name, netbios at once")
            << u"-"_s << u"PRINTER-7"_s << u"PRINTER-7"_s;
        QTest::newRow("both silent") << QString() << QString() << u"No name found"_s;
        // Nobody listens: the host's "port unreachable" ends each step, not its time-out.
        QTest::newRow("mdns port closed, netbios")
            << u"closed"_s << u"PRINTER-7"_s << u"PRINTER-7"_s;
        QTest::newRow("both ports closed") << u"closed"_s << u"closed"_s << u"No name found"_s;
    }
    void steps()
    {
        QFETCH(QString, mdns);
        QFETCH(QString, netbios);
        QFETCH(QString, answer);
        Responder mdnsResponder([&](const QByteArray &query) -> QByteArray {
            if (mdns.isEmpty())
                return {};
            const QByteArray data = mdns == u"-" ? QByteArray() : PeerName;
            return reply(idOf(query), 0x8400, {},
                         data.isEmpty() ? QByteArray() : record("\x01x", '\x0c', data));
        });
        Responder netbiosResponder([&](const QByteArray &query) -> QByteArray {
            if (netbios.isEmpty())
                return {};
            return reply(idOf(query), 0x8400, {}, nodeStatus({{netbios.toLatin1(), 0x00}}));
        });
        auto *dns = new FakeLookup;
        DeviceNameLookup lookup{std::unique_ptr<LookupControl>(dns)};
        const auto closedPort = [] {
            Responder gone([](const QByteArray &) { return QByteArray(); });
            return gone.port;
        };
        lookup.setPorts(mdns == u"closed" ? closedPort() : mdnsResponder.port,
                        netbios == u"closed" ? closedPort() : netbiosResponder.port);
        QSignalSpy answers(&lookup, &LookupControl::LookupAnswer);
        lookup.setLookupTag(u"1:5"_s);
        lookup.StartLookup(u"127.0.0.1"_s);
        lookup.StartLookup(u"127.0.0.2"_s); // named by DNS: asked no further
        QCOMPARE(lookup.LookupsPending(), 2);
        Q_EMIT dns->LookupAnswer(u"No name found"_s, u"127.0.0.1"_s, LookupControl::NoName,
                                 u"1:5"_s, 3);
        Q_EMIT dns->LookupAnswer(u"two.example"_s, u"127.0.0.2"_s, LookupControl::Found, u"1:5"_s,
                                 3);
        dns->started.clear();
        dns->pending = 0;
        QCOMPARE(answers.size(), 1);
        QCOMPARE(lookup.LookupsPending(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 2, 3000);
        QCOMPARE(answers[1][0].toString(), answer);
        QCOMPARE(answers[1][2].toInt(), answer == u"No name found" ? int(LookupControl::NoName)
                                                                   : int(LookupControl::Found));
        QCOMPARE(answers[1][3].toString(), u"1:5"_s);
        QCOMPARE(lookup.LookupsPending(), 0);
        if (mdns == u"closed") {
            QVERIFY2(answers[1][4].toInt() < 3 + DeviceNameLookup::MdnsWaitMs / 2,
                     qPrintable(answers[1][4].toString()));
            return;
        }
        QCOMPARE(mdnsResponder.queries, mdns.isEmpty() ? 2 : 1); // a silent one is asked again
        QCOMPARE(netbiosResponder.queries, answer == mdns ? 0 : 1);
    }
};

QTEST_MAIN(TestDeviceNameLookup)
#include "tst_device_name_lookup.moc"
