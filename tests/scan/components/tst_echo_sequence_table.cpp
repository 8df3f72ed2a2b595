#include "scan/components/EchoSequenceTable.h"

#include <QTest>

namespace {

EchoSequenceTable::Request request(std::int64_t deadline, const QString &tag = {})
{
    EchoSequenceTable::Request r;
    r.deadlineNs = deadline;
    r.tag = tag;
    return r;
}

} // namespace

class TestEchoSequenceTable : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void numberInFlightSurvivesWrap();
    void fullTableRefuses();
    void deadlinesInOrder();
};

void TestEchoSequenceTable::numberInFlightSurvivesWrap()
{
    EchoSequenceTable table;
    const auto longLived = table.add(request(1'000'000, QStringLiteral("long")));
    QVERIFY(longLived);
    std::optional<std::uint16_t> previous;
    for (int i = 0; i < 200'000; ++i) {
        const auto sequence = table.add(request(i));
        QVERIFY(sequence);
        QVERIFY(*sequence != *longLived);
        if (previous)
            QVERIFY(table.take(*previous));
        previous = sequence;
    }
    QCOMPARE(table.size(), 2);
    QCOMPARE(table.find(*longLived)->tag, QStringLiteral("long"));
}

void TestEchoSequenceTable::fullTableRefuses()
{
    EchoSequenceTable table;
    for (int i = 0; i < EchoSequenceTable::Capacity; ++i)
        QVERIFY(table.add(request(i)));
    QVERIFY(!table.add(request(0)));
    QVERIFY(table.take(4242));
    QVERIFY(!table.take(4242));
    QCOMPARE(table.add(request(0)), std::optional<std::uint16_t>(4242));
}

void TestEchoSequenceTable::deadlinesInOrder()
{
    EchoSequenceTable table;
    const auto late = *table.add(request(300));
    const auto early = *table.add(request(100));
    const auto tied = *table.add(request(100));
    QCOMPARE(table.nextDeadline(), std::optional<std::int64_t>(100));
    QVERIFY(!table.firstExpired(99));
    QVERIFY(table.take(*table.firstExpired(100)));
    QVERIFY(table.take(*table.firstExpired(100)));
    QVERIFY(!table.firstExpired(299));
    QCOMPARE(table.firstExpired(300), std::optional<std::uint16_t>(late));
    QVERIFY(!table.find(early) && !table.find(tied));

    // Cancelling reports in the order requests were made, not by deadline.
    const auto second = *table.add(request(50));
    QCOMPARE(table.inOrderAdded(), (std::vector<std::uint16_t>{late, second}));
}

QTEST_APPLESS_MAIN(TestEchoSequenceTable)
#include "tst_echo_sequence_table.moc"
