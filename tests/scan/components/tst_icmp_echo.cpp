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

    // Answered, cancelled and failed requests all report from the event loop, with the tag
    // they were sent with; a waiting send has its outcome already when it returns.
    void sendEcho_data()
    {
        using enum IcmpEcho::SocketChoice;
        QTest::addColumn<int>("choice");
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("async");
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text"); // a pattern; no commas, as it goes into CSV exports
        const int bad = EchoControl::BadAddress, noSocket = EchoControl::NoIcmpSocket;
        const QString us = u"127.0.0.1"_s, invalid = u"^Invalid IPv4 address$"_s;
        const QString fix = u"^[^,]*ping_group_range[^,]*cap_net_raw[^,]*$"_s;
        QTest::newRow("answered") << int(Auto) << us << true << false << 0 << u"^$"_s;
        QTest::newRow("waiting send answered") << int(Auto) << us << false << false << 0 << u"^$"_s;
        QTest::newRow("cancelled") << int(Auto) << us << true << true << int(EchoControl::Cancelled)
                                   << u"^Request cancelled$"_s;
        QTest::newRow("no socket: the reason tells the fix")
            << int(None) << us << true << false << noSocket << fix;
        QTest::newRow("no socket, waiting send")
            << int(None) << us << false << false << noSocket << fix;
        QTest::newRow("empty") << int(Auto) << QString() << true << false << bad << invalid;
        QTest::newRow("leading zero, waiting send")
            << int(Auto) << u"127.0.0.01"_s << false << false << bad << invalid;
        QTest::newRow("blank around")
            << int(Auto) << u" 127.0.0.1"_s << true << false << bad << invalid;
    }

    void sendEcho()
    {
        QFETCH(int, choice);
        QFETCH(QString, address);
        QFETCH(bool, async);
        QFETCH(bool, cancel);
        QFETCH(QString, text);
        IcmpEcho echo{IcmpEcho::SocketChoice(choice)};
        if (choice != int(IcmpEcho::SocketChoice::None) && !echo.isAvailable())
            QSKIP(qPrintable(echo.unavailableReason()));
        QSignalSpy replies(&echo, &EchoControl::EchoReply);
        echo.setEchoAsync(async);
        echo.setEchoTag(u"7:127.0.0.1;1"_s);
        echo.SendEcho(address);
        echo.setEchoTag(u"changed after sending"_s);
        if (cancel)
            echo.CancelEchoes();
        QCOMPARE(replies.count(), 0);      // never from inside SendEcho or CancelEchoes
        QCOMPARE(echo.EchoesPending(), 1); // counted until reported
        if (!async)
            QTEST(echo.EchoErrorNumber(), "status");
        QTRY_COMPARE(replies.count(), 1);
        QCOMPARE(replies[0][0].toString(), address);
        QVERIFY(replies[0][1].toInt() >= 0 && replies[0][1].toInt() < 1000); // round trip, ms
        QTEST(int(replies[0][2].value<std::int16_t>()), "status");
        QCOMPARE(replies[0][3].toString(), u"7:127.0.0.1;1"_s);
        QVERIFY2(QRegularExpression(text).match(echo.EchoErrorText()).hasMatch(),
                 qPrintable(echo.EchoErrorText()));
        QTest::qWait(100); // an answer after the cancel is dropped, not reported
        QCOMPARE(replies.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestIcmpEcho)
#include "tst_icmp_echo.moc"
