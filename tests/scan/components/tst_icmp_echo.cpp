#include "scan/components/IcmpEcho.h"

#include <QSignalSpy>
#include <QTest>

// Runs in the machine's own network: the only address pinged here is 127.0.0.1.
class TestIcmpEcho : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void answersLoopback();
    void waitingSendReturnsWithOutcome();
    void withoutSocketFailsFromEventLoop();
    void badAddressFails_data();
    void badAddressFails();
    void cancelEndsEachRequestOnce();

private:
    static const QString Loopback;
};

const QString TestIcmpEcho::Loopback = QStringLiteral("127.0.0.1");

static std::int16_t statusOf(const QList<QVariant> &reply)
{
    return reply.at(2).value<std::int16_t>();
}

void TestIcmpEcho::answersLoopback()
{
    IcmpEcho echo;
    if (!echo.isAvailable())
        QSKIP(qPrintable(echo.unavailableReason()));
    QVERIFY(!echo.socketMode().isEmpty());
    QSignalSpy replies(&echo, &EchoControl::EchoReply);
    echo.setEchoData(QStringLiteral("Vantrel test banner"));
    echo.setEchoTag(QStringLiteral("7:127.0.0.1;1"));
    echo.SendEcho(Loopback);
    echo.setEchoTag(QStringLiteral("changed after sending"));
    QCOMPARE(echo.EchoesPending(), 1);
    QCOMPARE(replies.count(), 0); // never from inside SendEcho

    QTRY_COMPARE(replies.count(), 1);
    const QList<QVariant> reply = replies.takeFirst();
    QCOMPARE(reply.at(0).toString(), Loopback);
    QCOMPARE(statusOf(reply), EchoControl::Answered);
    QVERIFY(reply.at(1).value<std::int16_t>() >= 0);
    QCOMPARE(reply.at(3).toString(), QStringLiteral("7:127.0.0.1;1"));
    QCOMPARE(echo.EchoesPending(), 0);
}

void TestIcmpEcho::waitingSendReturnsWithOutcome()
{
    IcmpEcho echo;
    if (!echo.isAvailable())
        QSKIP(qPrintable(echo.unavailableReason()));
    QSignalSpy replies(&echo, &EchoControl::EchoReply);
    echo.setEchoAsync(false);
    echo.setEchoTag(QStringLiteral("Interactive"));
    echo.SendEcho(Loopback);
    QCOMPARE(echo.EchoErrorNumber(), 0);
    QVERIFY(echo.EchoRoundTrip() >= 0);
    QCOMPARE(replies.count(), 0);
    QTRY_COMPARE(replies.count(), 1);
    QCOMPARE(replies.first().at(3).toString(), QStringLiteral("Interactive"));
}

void TestIcmpEcho::withoutSocketFailsFromEventLoop()
{
    IcmpEcho echo(IcmpEcho::SocketChoice::None);
    QVERIFY(!echo.isAvailable());
    QVERIFY(echo.socketMode().isEmpty());
    const QString reason = echo.unavailableReason();
    QVERIFY2(reason.contains(QStringLiteral("ping_group_range")), qPrintable(reason));
    QVERIFY2(reason.contains(QStringLiteral("cap_net_raw")), qPrintable(reason));
    QVERIFY(!reason.contains(u','));

    QSignalSpy replies(&echo, &EchoControl::EchoReply);
    echo.SendEcho(Loopback);
    QCOMPARE(replies.count(), 0);
    QTRY_COMPARE(replies.count(), 1);
    QCOMPARE(statusOf(replies.first()), EchoControl::NoIcmpSocket);
    QCOMPARE(echo.EchoErrorText(), reason);

    echo.setEchoAsync(false);
    echo.SendEcho(Loopback);
    QCOMPARE(echo.EchoErrorNumber(), int(EchoControl::NoIcmpSocket));
}

void TestIcmpEcho::badAddressFails_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("empty") << QString();
    QTest::newRow("three octets") << QStringLiteral("127.0.1");
    QTest::newRow("octet above 255") << QStringLiteral("127.0.0.256");
    QTest::newRow("leading zero") << QStringLiteral("127.0.0.01");
    QTest::newRow("blank around") << QStringLiteral(" 127.0.0.1");
    QTest::newRow("prefix length") << QStringLiteral("127.0.0.1/8");
    QTest::newRow("name") << QStringLiteral("localhost");
    QTest::newRow("wide digits") << QStringLiteral("127.0.0.\u0661");
}

void TestIcmpEcho::badAddressFails()
{
    QFETCH(QString, address);
    IcmpEcho echo;
    QSignalSpy replies(&echo, &EchoControl::EchoReply);
    echo.setEchoTag(QStringLiteral("bad"));
    echo.SendEcho(address);
    QCOMPARE(replies.count(), 0);
    QTRY_COMPARE(replies.count(), 1);
    QCOMPARE(replies.first().at(0).toString(), address);
    QCOMPARE(statusOf(replies.first()), EchoControl::BadAddress);
    QCOMPARE(replies.first().at(3).toString(), QStringLiteral("bad"));
    QVERIFY(!echo.EchoErrorText().isEmpty());
}

void TestIcmpEcho::cancelEndsEachRequestOnce()
{
    IcmpEcho echo;
    if (!echo.isAvailable())
        QSKIP(qPrintable(echo.unavailableReason()));
    QSignalSpy replies(&echo, &EchoControl::EchoReply);
    for (int i = 0; i < 3; ++i)
        echo.SendEcho(Loopback);
    echo.CancelEchoes();
    QCOMPARE(echo.EchoesPending(), 3); // still counted until reported
    QTRY_COMPARE(replies.count(), 3);
    QCOMPARE(echo.EchoErrorText(), QStringLiteral("Request cancelled"));
    for (const QList<QVariant> &reply : replies)
        QCOMPARE(statusOf(reply), EchoControl::Cancelled);
    QCOMPARE(echo.EchoesPending(), 0);
    // The answers that were already on their way are dropped, not reported.
    QTest::qWait(200);
    QCOMPARE(replies.count(), 3);
}

QTEST_GUILESS_MAIN(TestIcmpEcho)
#include "tst_icmp_echo.moc"
