// The kernel's neighbour table read through rtnetlink, on the on-link segment of the private
// test network (tests/net/onlink.sh): hardware addresses of directly connected peers, none
// through a router or for the machine's own addresses, and whether the host confirmed its
// entry after a given moment.
#include "scan/components/DottedQuad.h"
#include "scan/components/IcmpEcho.h"
#include "scan/components/NeighbourTable.h"

#include <QSignalSpy>
#include <QTest>

#include <chrono>

using namespace Qt::StringLiterals;

namespace {

std::int64_t steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

class TestNetNeighbours : public QObject
{
    Q_OBJECT

    // Pings every address once and waits for all outcomes.
    void pingAll(IcmpEcho &echo, const QStringList &addresses)
    {
        echo.setEchoTimeout(300);
        int outcomes = 0;
        connect(&echo, &EchoControl::EchoReply, this, [&] { ++outcomes; });
        for (const QString &address : addresses) {
            echo.setEchoTag(address);
            echo.SendEcho(address);
        }
        QTRY_COMPARE(outcomes, addresses.size());
        echo.disconnect(this);
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (qgetenv("VANTREL_TESTNET_ONLINK") != "1")
            QSKIP("needs the on-link segment of the private test network (tests/net)");
    }

    // The route decides: a peer on the bridge has its own address; the host behind the
    // router, this machine's own address and an address nobody answers have none. The peer
    // that drops echo answered ARP after the ping went out, and before it nobody did.
    void hardwareAddresses_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("hardware");
        QTest::addColumn<bool>("confirmedAfterPing");
        QTest::newRow("peer") << u"127.3.0.2"_s << u"00:11:32:00:00:01"_s << true;
        QTest::newRow("private address") << u"127.3.0.3"_s << u"02:00:00:00:00:02"_s << true;
        QTest::newRow("drops echo, answers ARP")
            << u"127.3.0.4"_s << u"70:b3:d5:f2:f0:04"_s << true;
        QTest::newRow("router") << u"127.3.0.5"_s << u"08:00:27:00:00:05"_s << true;
        QTest::newRow("behind the router") << u"127.6.0.1"_s << QString() << false;
        QTest::newRow("this machine, bridge") << u"127.3.0.1"_s << QString() << false;
        QTest::newRow("this machine, loopback") << u"127.0.0.9"_s << QString() << false;
        QTest::newRow("nobody there") << u"127.3.0.77"_s << QString() << false;
        QTest::newRow("no route") << u"127.9.0.1"_s << QString() << false;
    }
    void hardwareAddresses()
    {
        QFETCH(QString, address);
        QFETCH(QString, hardware);
        QFETCH(bool, confirmedAfterPing);
        IcmpEcho echo;
        NeighbourTable table;
        QVERIFY(table.isAvailable());
        QSignalSpy answers(&table, &NeighbourControl::answered);
        const std::int64_t beforePing = steadyNs();
        pingAll(echo, {address});
        const std::int64_t afterPing = steadyNs() + 100'000'000;
        const std::uint32_t number = *parseDottedQuad(address);
        table.lookup(number, beforePing, 1);
        table.lookup(number, afterPing, 2);
        QCOMPARE(answers.size(), 0); // never inside the call
        QCOMPARE(table.pending(), 2);
        QTRY_COMPARE(answers.size(), 2);
        QCOMPARE(table.pending(), 0);
        for (int i = 0; i < 2; ++i) {
            const auto answer = answers[i][0].value<NeighbourAnswer>();
            QCOMPARE(answers[i][1].toLongLong(), i + 1);
            QCOMPARE(answer.address, number);
            QCOMPARE(answer.hardware ? answer.hardware->text() : QString(), hardware);
            QCOMPARE(answer.confirmedSince, i == 0 && confirmedAfterPing);
        }
    }

    // An entry the host confirmed before the moment asked about is still reachable to the
    // kernel: it is probed, and asked again, the host's answer confirms it.
    void probeOfAnEarlierEntry()
    {
        IcmpEcho echo;
        NeighbourTable table;
        QSignalSpy answers(&table, &NeighbourControl::answered);
        const std::uint32_t number = *parseDottedQuad(u"127.3.0.4"_s);
        pingAll(echo, {u"127.3.0.4"_s});
        QTest::qWait(50);
        const std::int64_t since = steadyNs();
        table.lookup(number, since, 1);
        QTRY_COMPARE(answers.size(), 1);
        auto answer = answers[0][0].value<NeighbourAnswer>();
        QVERIFY(answer.hardware && !answer.confirmedSince && answer.verifying);
        QTRY_VERIFY([&] {
            answers.clear();
            table.lookup(number, since, 2);
            return answers.wait(1000) && answers[0][0].value<NeighbourAnswer>().confirmedSince;
        }());
    }

    // Many questions at once go out in batches and each is answered once, with its tag;
    // questions dropped by cancelAll() are never answered.
    void batchesAndCancel()
    {
        NeighbourTable table;
        QList<std::int64_t> tags;
        connect(&table, &NeighbourControl::answered, this,
                [&](const NeighbourAnswer &, std::int64_t tag) { tags << tag; });
        const int count = NeighbourTable::BatchSize * 2 + 7;
        for (int i = 0; i < count; ++i)
            table.lookup(*parseDottedQuad(u"127.3.0.2"_s) + std::uint32_t(i % 250), 0, i);
        QTRY_COMPARE(tags.size(), count);
        std::sort(tags.begin(), tags.end());
        QCOMPARE(tags.first(), 0);
        QCOMPARE(tags.last(), count - 1);
        QCOMPARE(std::adjacent_find(tags.begin(), tags.end()), tags.end());

        tags.clear();
        table.lookup(*parseDottedQuad(u"127.3.0.2"_s), 0, 1);
        table.cancelAll();
        QCOMPARE(table.pending(), 0);
        QTest::qWait(50);
        QVERIFY(tags.isEmpty());
    }
};

Q_DECLARE_METATYPE(NeighbourAnswer)

QTEST_MAIN(TestNetNeighbours)
#include "tst_net_neighbours.moc"
