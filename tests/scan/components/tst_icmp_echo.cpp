#include "scan/components/IcmpEcho.h"

#include "scan/components/EchoSequenceTable.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

// Runs in the machine's own network: the only address pinged here is 127.0.0.1.
class TestIcmpEcho : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Numbers wrap from 65535 to 0 and skip those in flight; a full table refuses; a cancel
    // walks the requests in the order they were added, neither by number nor by deadline.
    void sequenceTable()
    {
        EchoSequenceTable table(65534);
        const auto add = [&](std::int64_t deadline) {
            EchoSequenceTable::Request request;
            request.deadlineNs = deadline;
            return table.add(std::move(request));
        };
        QCOMPARE(add(30), std::optional<std::uint16_t>(65534));
        QCOMPARE(add(20), std::optional<std::uint16_t>(65535));
        QCOMPARE(add(10), std::optional<std::uint16_t>(0));
        QCOMPARE(table.inOrderAdded(), (std::vector<std::uint16_t>{65534, 65535, 0}));
        QCOMPARE(table.nextDeadline(), std::optional<std::int64_t>(10));
        QCOMPARE(table.firstExpired(9), std::nullopt);
        QCOMPARE(table.firstExpired(10), std::optional<std::uint16_t>(0));
        QVERIFY(table.take(65535));
        QVERIFY(!table.take(65535));
        QCOMPARE(add(40), std::optional<std::uint16_t>(1)); // 65535 waits for its turn
        while (table.size() < EchoSequenceTable::Capacity)
            QVERIFY(add(50));
        QCOMPARE(add(60), std::nullopt);
        QVERIFY(table.find(65535)); // the free number went last
        QCOMPARE(table.inOrderAdded().back(), 65535);
    }

    void loopback_data()
    {
        QTest::addColumn<bool>("async");
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<int>("status");
        QTest::newRow("answered") << true << false << int(EchoControl::Answered);
        QTest::newRow("waiting send answered") << false << false << int(EchoControl::Answered);
        QTest::newRow("cancelled") << true << true << int(EchoControl::Cancelled);
    }

    void loopback()
    {
        QFETCH(bool, async);
        QFETCH(bool, cancel);
        IcmpEcho echo;
        if (!echo.isAvailable())
            QSKIP(qPrintable(echo.unavailableReason()));
        QSignalSpy replies(&echo, &EchoControl::EchoReply);
        echo.setEchoAsync(async);
        echo.setEchoTag(u"7:127.0.0.1;1"_s);
        echo.SendEcho(u"127.0.0.1"_s);
        echo.setEchoTag(u"changed after sending"_s);
        if (cancel)
            echo.CancelEchoes();
        QCOMPARE(replies.count(), 0);      // never from inside SendEcho or CancelEchoes
        QCOMPARE(echo.EchoesPending(), 1); // counted until reported
        if (!async)
            QCOMPARE(echo.EchoErrorNumber(), 0);
        QTRY_COMPARE(replies.count(), 1);
        QVERIFY(replies[0][1].toInt() >= 0 && replies[0][1].toInt() < 1000); // round trip, ms
        QTEST(int(replies[0][2].value<std::int16_t>()), "status");
        QCOMPARE(replies[0][3].toString(), u"7:127.0.0.1;1"_s);
        QTest::qWait(100); // an answer after the cancel is dropped, not reported
        QCOMPARE(replies.count(), 1);
    }

    void failsFromEventLoop_data()
    {
        QTest::addColumn<int>("choice");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text"); // a pattern; no commas, as it goes into CSV exports
        const int any = int(IcmpEcho::SocketChoice::Auto), bad = EchoControl::BadAddress;
        const QString invalid = u"^Invalid IPv4 address$"_s;
        QTest::newRow("no socket: the reason tells the fix")
            << int(IcmpEcho::SocketChoice::None) << u"127.0.0.1"_s << int(EchoControl::NoIcmpSocket)
            << u"^[^,]*ping_group_range[^,]*cap_net_raw[^,]*$"_s;
        QTest::newRow("empty") << any << QString() << bad << invalid;
        QTest::newRow("three octets") << any << u"127.0.1"_s << bad << invalid;
        QTest::newRow("leading zero") << any << u"127.0.0.01"_s << bad << invalid;
        QTest::newRow("blank around") << any << u" 127.0.0.1"_s << bad << invalid;
    }

    void failsFromEventLoop()
    {
        QFETCH(int, choice);
        QFETCH(QString, address);
        QFETCH(QString, text);
        IcmpEcho echo{IcmpEcho::SocketChoice(choice)};
        QSignalSpy replies(&echo, &EchoControl::EchoReply);
        echo.SendEcho(address);
        QCOMPARE(replies.count(), 0);
        QTRY_COMPARE(replies.count(), 1);
        QCOMPARE(replies[0][0].toString(), address);
        QTEST(int(replies[0][2].value<std::int16_t>()), "status");
        QVERIFY2(QRegularExpression(text).match(echo.EchoErrorText()).hasMatch(),
                 qPrintable(echo.EchoErrorText()));
        echo.setEchoAsync(false); // a waiting send fails the same way
        echo.SendEcho(address);
        QTEST(echo.EchoErrorNumber(), "status");
    }
};

QTEST_GUILESS_MAIN(TestIcmpEcho)
#include "tst_icmp_echo.moc"
