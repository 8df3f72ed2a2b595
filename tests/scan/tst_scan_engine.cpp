#include "fakes/FakeEcho.h"
#include "fakes/FakeLookup.h"
#include "fakes/FakeNeighbours.h"
#include "fakes/FakeScanView.h"
#include "scan/ScanEngine.h"
#include "scan/components/DottedQuad.h"
#include "scan/components/ResultGrid.h"

#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

class TestScanEngine : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeEcho> echo;
    std::unique_ptr<FakeLookup> lookup;
    std::unique_ptr<ResultGrid> grid;
    std::unique_ptr<FakeScanView> view;
    std::unique_ptr<ScanEngine> engine; // uses the others: cleanup() ends it before they go

    void start(const QString &from, const QString &to)
    {
        view->start = from;
        view->end = to;
        engine->Scan_Button_Click();
    }
    // Ticks until the engine stops handing out addresses.
    void tickOut()
    {
        for (int i = 0; i < 100000 && engine->PING_Timer().isActive(); ++i)
            engine->PING_Timer_Timer();
    }

private Q_SLOTS:
    void init()
    {
        echo = std::make_unique<FakeEcho>();
        lookup = std::make_unique<FakeLookup>();
        grid = std::make_unique<ResultGrid>();
        grid->setCols(3);
        view = std::make_unique<FakeScanView>();
        engine = std::make_unique<ScanEngine>(*echo, *lookup, *grid, *view);
        engine->Resolve_DNS = false;
    }
    void cleanup() { engine.reset(); }

    // The boxes' texts start a walk from the start to the end address, in unsigned order,
    // each address once, or are refused with the box to correct in focus.
    void startFromTheBoxes_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("outcome"); // the addresses sent, or the refusal
        const auto row = [](const char *name, const char *from, const char *to,
                            const QString &outcome) {
            QTest::newRow(name) << QString(from) << QString(to) << outcome;
        };
        row("one address, blanks and slash", " 10.0.0.5 ", "10.0.0.5/24", u"10.0.0.5"_s);
        row("across the sign", "127.255.255.254", "128.0.0.1",
            u"127.255.255.254 127.255.255.255 128.0.0.0 128.0.0.1"_s);
        row("bad end", "10.0.0.1", "10.0.0.1.5",
            u"The ending address is not a valid IP address !"_s);
        row("across the sign, reversed", "128.0.0.5", "127.255.255.250",
            u"You starting address is greater than your ending address !"_s);
        row("no ICMP socket", "10.0.0.1", "10.0.0.2", FakeEcho().unavailableReason());
    }
    void startFromTheBoxes()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QString, outcome);
        const bool refused = !outcome.front().isDigit();
        echo->available = outcome != echo->unavailableReason();
        view->ipStatus = u"from the last scan"_s;
        start(from, to);
        QCOMPARE(view->refusals, refused ? QStringList{outcome} : QStringList());
        QCOMPARE(view->focus == ScanView::Box::Ending, outcome.startsWith(u"The ending"));
        QCOMPARE(view->ipStatus, u"from the last scan"_s); // the first address is not shown
        tickOut();
        QStringList sent;
        for (const auto &s : echo->sent) {
            sent << s.address;
            QVERIFY(s.async);
        }
        QCOMPARE(sent.join(u' '), refused ? QString() : outcome);
        QCOMPARE(engine->state().Address_Span, std::max<qsizetype>(0, sent.size() - 1));
    }

    // The scan ends only when every request of it has come back and every lookup answered:
    // rows never arrive after "Scan Completed", so an export made then holds them all. A
    // minimized window says so in its caption. (Real scans, inverted ones too, are tried
    // for the same in tst_net_scan.)
    void completionWaitsForEveryRequest_data()
    {
        QTest::addColumn<int>("count"); // addresses from 10.0.0.1
        QTest::addColumn<int>("pings");
        QTest::addColumn<bool>("resolve");
        QTest::addColumn<QString>("failing"); // fails its first attempt
        QTest::newRow("the last address's retry still out") << 3 << 2 << false << "10.0.0.3";
        // 199 of 200 lookups answered round to 100 %.
        QTest::newRow("then the lookups, the last a straggler") << 200 << 1 << true << "";
    }
    void completionWaitsForEveryRequest()
    {
        QFETCH(int, count);
        QFETCH(int, pings);
        QFETCH(bool, resolve);
        QFETCH(QString, failing);
        engine->Pings_per_Node = std::int16_t(pings);
        engine->Resolve_DNS = resolve;
        view->minimized = true;
        QStringList ends; // how each end came, and the rows listed then
        connect(engine.get(), &ScanEngine::scanEnded, this, [&](bool completed) {
            ends << u"%1 %2"_s.arg(completed ? "completed" : "stopped").arg(grid->Rows() - 1);
        });
        start(u"10.0.0.1"_s, u"10.0.0.%1"_s.arg(count));
        tickOut();
        QCOMPARE(view->ipStatus, u"Waiting on replies ..."_s);
        while (!echo->sent.isEmpty()) {
            QVERIFY(engine->isRunning());
            const FakeEcho::Sent request = echo->sent.takeFirst();
            const bool fails = request.address == failing && request.tag.endsWith(u";1");
            echo->reply(request.tag, fails ? EchoControl::TimedOut : 0);
        }
        if (resolve) {
            QCOMPARE(view->ipStatus, u"Waiting on DNS ..."_s);
            lookup->answer(0, u"one.example"_s);
            while (lookup->started.size() > 1)
                lookup->answer(0, u"n"_s);
            QCOMPARE(view->dnsPercent, 100);
            QVERIFY(engine->isRunning()); // one row still reads " resolving ..."
            lookup->answer(0, u"last"_s);
            QCOMPARE(grid->cellText(1, 2), u"one.example"_s);
        }
        QCOMPARE(view->ipStatus, u"Scan Completed"_s);
        QVERIFY(!engine->isRunning());
        QCOMPARE(view->beeps, 1);
        QCOMPARE(view->caption, u"Vantrel : Scan Completed"_s);
        QCOMPARE(ends, QStringList{u"completed %1"_s.arg(count)});
    }

    // A late tick hands out what fell due meanwhile, twice a tick's share at most, so a
    // stall is caught up at twice the pace and never in one burst; a rate hands out batches
    // and nothing while ahead; more than a second behind, the rest is let go. Every address
    // once and in order; the delay setting survives a rate for when it is lifted.
    void pacing_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<QList<int>>("tickAtMs");
        QTest::addColumn<QList<int>>("sentAfter"); // the first address goes out at start
        QTest::newRow("on time: one each") << 0 << QList{10, 20, 30} << QList{2, 3, 4};
        QTest::newRow("early: still one") << 0 << QList{5, 6} << QList{2, 3};
        QTest::newRow("late: catches up by two at most")
            << 0 << QList{10, 60, 200, 210} << QList{2, 4, 6, 8};
        QTest::newRow("rate: a batch a tick, none while ahead")
            << 20000 << QList{1, 1, 2} << QList{21, 21, 41};
        QTest::newRow("rate: late, at twice the pace")
            << 20000 << QList{100, 101, 102} << QList{41, 81, 121};
        QTest::newRow("rate: seconds late, still twice the pace")
            << 1000 << QList{5000, 5001} << QList{3, 5};
    }
    void pacing()
    {
        QFETCH(int, rate);
        QFETCH(QList<int>, tickAtMs);
        QFETCH(QList<int>, sentAfter);
        std::int64_t nowNs = 0;
        engine->setPacingClock([&] { return nowNs; });
        engine->setInter_Ping_Delay(10);
        engine->setAddressRate(rate);
        QCOMPARE(engine->PING_Timer().interval(), rate ? 1 : 10);
        start(u"10.0.0.0"_s, u"10.0.3.255"_s);
        for (qsizetype i = 0; i < tickAtMs.size(); ++i) {
            nowNs = std::int64_t{tickAtMs[i]} * 1'000'000;
            engine->PING_Timer_Timer();
            QCOMPARE(echo->sent.size(), sentAfter[i]);
        }
        for (qsizetype i = 0; i < echo->sent.size(); ++i)
            QCOMPARE(echo->sent[i].address, IP_Functions::Number_To_Address(0x0A000000 + i));
        QCOMPARE(engine->state().Sent_Count, sentAfter.last() - 1);
        engine->setAddressRate(0);
        QCOMPARE(engine->PING_Timer().interval(), 10);
    }

    // One address, its attempts answered or failing: a scan lists it with its time and
    // looks its name up; an inverted one lists only a failure, with the error, and never
    // retries.
    void attempts_data()
    {
        QTest::addColumn<int>("pings");
        QTest::addColumn<int>("answeredAttempt");  // 0: every attempt fails
        QTest::addColumn<bool>("leftSynchronous"); // as an interactive ping leaves the control
        QTest::addColumn<bool>("inverted");
        QTest::newRow("answered on the third of three") << 3 << 3 << false << false;
        QTest::newRow("all attempts fail") << 2 << 0 << false << false;
        QTest::newRow("retry after a waiting send") << 2 << 2 << true << false;
        QTest::newRow("inverted: failure listed, no retry") << 3 << 0 << false << true;
    }
    void attempts()
    {
        QFETCH(int, pings);
        QFETCH(int, answeredAttempt);
        QFETCH(bool, leftSynchronous);
        QFETCH(bool, inverted);
        engine->Pings_per_Node = std::int16_t(pings);
        engine->Reverse_Scan = inverted;
        engine->Resolve_DNS = true;
        start(u"10.0.0.7"_s, u"10.0.0.7"_s);
        echo->setEchoAsync(!leftSynchronous);
        const int attempts = answeredAttempt ? answeredAttempt : inverted ? 1 : pings;
        for (int attempt = 1; attempt <= attempts; ++attempt) {
            QCOMPARE(echo->sent.size(), attempt);
            QCOMPARE(echo->sent.last().tag, u"1:10.0.0.7;%1"_s.arg(attempt));
            QVERIFY(echo->sent.last().async);
            echo->reply(echo->sent.last().tag,
                        attempt == answeredAttempt ? 0 : EchoControl::TimedOut, 42);
        }
        QCOMPARE(echo->sent.size(), attempts);
        const bool listed = (answeredAttempt > 0) != inverted;
        QCOMPARE(grid->Rows(), listed ? 2 : 1);
        QCOMPARE(lookup->started.size(), listed ? 1 : 0);
        if (listed)
            QCOMPARE(grid->cellText(1, 1), inverted ? echo->errorText : u"42 ms"_s);
        QCOMPARE(view->nodeCount, listed ? 1 : -1);
    }

    // A listed host gets its hardware address and maker from the neighbour table: any entry
    // for a host that answered echo; for one whose requests all failed, only an entry the
    // host confirmed after this scan's first request (an inverted scan's row, or, when asked
    // for, a host listed with "No echo reply"). The scan completes after those answers.
    void hardwareAddresses_data()
    {
        QTest::addColumn<int>("answeredAttempt"); // of two; 0: both fail
        QTest::addColumn<bool>("inverted");
        QTest::addColumn<bool>("arpOnly");
        QTest::addColumn<QString>("entry");  // the table's entry; empty: none
        QTest::addColumn<int>("confirmed");  // by the host after the first request; 2: after
                                             // the kernel was still asking it
        QTest::addColumn<QString>("listed"); // response cell, hardware cell; empty: no row
        const QString mac = u"00:11:32:aa:bb:04"_s;
        const QString none;
        QTest::newRow("answered: any entry") << 2 << false << false << mac << 0 << u"1 ms|"_s + mac;
        QTest::newRow("answered, off-link") << 1 << false << false << none << 0 << u"1 ms|"_s;
        QTest::newRow("silent, ARP listing off") << 0 << false << false << mac << 1 << none;
        QTest::newRow("silent, answered ARP")
            << 0 << false << true << mac << 1 << u"No echo reply|"_s + mac;
        QTest::newRow("silent, answered the kernel's later probe")
            << 0 << false << true << mac << 2 << u"No echo reply|"_s + mac;
        QTest::newRow("silent, entry from before") << 0 << false << true << mac << 0 << none;
        QTest::newRow("silent, no entry") << 0 << false << true << none << 0 << none;
        QTest::newRow("inverted, answered ARP")
            << 0 << true << false << mac << 1 << u"Request timed out|"_s + mac;
        QTest::newRow("inverted, entry from before")
            << 0 << true << false << mac << 0 << u"Request timed out|"_s;
    }
    void hardwareAddresses()
    {
        QFETCH(int, answeredAttempt);
        QFETCH(bool, inverted);
        QFETCH(bool, arpOnly);
        QFETCH(QString, entry);
        QFETCH(int, confirmed);
        QFETCH(QString, listed);
        FakeNeighbours neighbours;
        grid->setCols(5);
        std::int64_t nowNs = 1000;
        engine->setPacingClock([&] { return nowNs; });
        engine->setNeighbours(&neighbours, [](const HardwareAddress &address) {
            return u"maker of "_s + address.text().left(8);
        });
        engine->Pings_per_Node = 2;
        engine->Reverse_Scan = inverted;
        engine->listArpOnly = arpOnly;
        QStringList ends;
        connect(engine.get(), &ScanEngine::scanEnded, this,
                [&](bool completed) { ends << (completed ? u"completed"_s : u"stopped"_s); });
        start(u"10.0.0.7"_s, u"10.0.0.7"_s);
        tickOut();
        nowNs = 5000;
        for (int attempt = 1; !echo->sent.isEmpty(); ++attempt)
            echo->answerAll(attempt == answeredAttempt ? 0 : EchoControl::TimedOut);
        const bool asked = answeredAttempt > 0 || inverted || arpOnly;
        QCOMPARE(neighbours.asked.size(), asked ? 1 : 0);
        QCOMPARE(ends, asked ? QStringList() : QStringList{u"completed"_s});
        if (asked) {
            QCOMPARE(neighbours.asked[0].tag, engine->state().Scan_Number);
            if (confirmed == 2) {
                neighbours.answer(entry, 500, true);
                QVERIFY(ends.isEmpty());
                QTRY_COMPARE(neighbours.asked.size(), 1);
            }
            neighbours.answer(entry, confirmed ? 2000 : 500);
        }
        QCOMPARE(ends, QStringList{u"completed"_s});
        QCOMPARE(grid->Rows(), listed.isEmpty() ? 1 : 2);
        if (!listed.isEmpty()) {
            QCOMPARE(grid->cellText(1, 1) + u'|' + grid->cellText(1, 3), listed);
            QCOMPARE(grid->cellText(1, 4),
                     grid->cellText(1, 3).isEmpty() ? QString() : u"maker of 00:11:32"_s);
            QCOMPARE(view->nodeCount, 1);
        }
        // An answer of an earlier scan writes nothing.
        start(u"10.0.0.7"_s, u"10.0.0.7"_s);
        Q_EMIT neighbours.answered({*parseDottedQuad(u"10.0.0.7"_s), HardwareAddress{}, true}, 1);
        QCOMPARE(grid->Rows(), 1);
        engine->setNeighbours(nullptr);
    }

    // After a restart, a failed reply of the scan before and one abandoned at close are
    // neither listed nor retried.
    void repliesOutsideTheScan()
    {
        start(u"10.0.0.1"_s, u"10.0.0.3"_s);
        engine->Scan_Button_Click(); // stop
        start(u"10.0.0.1"_s, u"10.0.0.3"_s);
        echo->reply(u"1:10.0.0.1;1"_s, EchoControl::TimedOut);
        echo->reply(u"2:10.0.0.1;1"_s, EchoControl::Cancelled);
        QCOMPARE(grid->Rows(), 1);
        QCOMPARE(echo->sent.size(), 2);
    }

    // A lookup answer goes to the row it was started for, which moves up when a row above
    // it is deleted; one whose row is gone, or one of a scan stopped and restarted, writes
    // nothing, and progress and completion count only the scan's own.
    void lookupAnswersFindTheirRows()
    {
        engine->Resolve_DNS = true;
        start(u"10.0.0.1"_s, u"10.0.0.1"_s);
        echo->answerAll();
        engine->Scan_Button_Click();
        start(u"10.0.0.1"_s, u"10.0.0.3"_s);
        tickOut();
        echo->answerAll();
        lookup->answer(0, u"stale"_s); // of the first scan, for row 1 and 10.0.0.1
        QCOMPARE(grid->cellText(1, 2), u" resolving ..."_s);
        QCOMPARE(view->dnsPercent, 0);
        grid->RemoveItem(1); // 10.0.0.1 goes; 10.0.0.3 moves from row 3 to row 2
        lookup->answer(2, u"three.example"_s);
        QCOMPARE(grid->cellText(2, 2), u"three.example"_s);
        lookup->answer(0, u"one.example"_s); // its row is gone
        QCOMPARE(grid->cellText(1, 0) + grid->cellText(1, 2), u"10.0.0.2 resolving ..."_s);
        QCOMPARE(view->dnsPercent, 67);
        lookup->answer(0, u"two.example"_s);
        QVERIFY(!engine->isRunning());
        QCOMPARE(view->dnsPercent, 100);
    }

    // A full request table holds the walk and the retries; a request the control refuses
    // for want of room goes out again as it was, never as a failed attempt, and never
    // becomes a row of an inverted scan. Every answering address is listed in the end.
    void fullRequestTableHoldsTheWalk_data()
    {
        QTest::addColumn<bool>("inverted");
        QTest::newRow("normal") << false;
        QTest::newRow("inverted") << true;
    }
    void fullRequestTableHoldsTheWalk()
    {
        QFETCH(bool, inverted);
        echo->capacity = 2;
        engine->Reverse_Scan = inverted;
        start(u"10.0.0.1"_s, u"10.0.0.5"_s);
        engine->PING_Timer_Timer();
        engine->PING_Timer_Timer();
        QCOMPARE(echo->sent.size(), 2);
        QCOMPARE(view->ipStatus, u"Waiting on replies ..."_s);
        QCOMPARE(engine->slotWaits().count, 1);
        echo->reply(echo->sent.takeAt(1).tag, EchoControl::TooManyOutstanding);
        QCOMPARE(echo->sent.last().tag, u"1:10.0.0.2;1"_s);
        QCOMPARE(grid->Rows(), 1);
        // The rest answer (normal) or time out (inverted) as room comes.
        const std::int16_t status = inverted ? EchoControl::TimedOut : 0;
        for (int round = 0; round < 20 && engine->isRunning(); ++round) {
            if (!echo->sent.isEmpty())
                echo->reply(echo->sent.takeFirst().tag, status);
            engine->PING_Timer_Timer();
        }
        QVERIFY(!engine->isRunning());
        QCOMPARE(grid->Rows(), 6);
        QCOMPARE(view->ipStatus, u"Scan Completed"_s);
        QVERIFY(engine->slotWaits().count >= 1);
    }

    // A lookup the control has no room for waits and starts once an answer makes room: no
    // row is left with a refusal instead of a name.
    void fullLookupControlHoldsTheLookup()
    {
        lookup->capacity = 12;
        engine->Resolve_DNS = true;
        start(u"10.0.0.1"_s, u"10.0.0.2"_s);
        tickOut();
        lookup->pending = 11; // another window's lookups, say
        echo->answerAll();
        QCOMPARE(lookup->started.size(), 1);
        lookup->answer(0, u"one.example"_s);
        QTRY_COMPARE(lookup->started.size(), 1);
        QCOMPARE(lookup->started[0].address, u"10.0.0.2"_s);
        lookup->answer(0, u"two.example"_s);
        QCOMPARE(grid->cellText(1, 2) + u' ' + grid->cellText(2, 2), u"one.example two.example"_s);
        QVERIFY(!engine->isRunning());
        QCOMPARE(view->dnsPercent, 100);
    }

    // Near the lookup control's capacity the walk waits, so no row gets a refusal for a name.
    void lookupGateHoldsTheWalk()
    {
        lookup->capacity = 12;
        lookup->pending = 3;
        start(u"10.0.0.1"_s, u"10.0.0.9"_s);
        engine->PING_Timer_Timer();
        QCOMPARE(view->ipStatus, u"Waiting on DNS ..."_s);
        QCOMPARE(echo->sent.size(), 1);
        lookup->pending = 2;
        engine->PING_Timer_Timer();
        QCOMPARE(echo->sent.size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestScanEngine)
#include "tst_scan_engine.moc"
