#include "fakes/FakeEcho.h"
#include "fakes/FakeLookup.h"
#include "fakes/FakeScanView.h"
#include "scan/ScanEngine.h"
#include "scan/components/ResultGrid.h"

#include <QColor>
#include <QTest>

#include <memory>

class TestScanEngine : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeEcho> echo;
    std::unique_ptr<FakeLookup> lookup;
    std::unique_ptr<ResultGrid> grid;
    std::unique_ptr<FakeScanView> view;
    std::unique_ptr<ScanEngine> engine; // uses the others, so goes first

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

    void refusedStart_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("message"); // the fake's socket is missing for its own reason
        const QString badStart = QStringLiteral("The starting address is not a valid IP address !");
        const QString order =
            QStringLiteral("You starting address is greater than your ending address !");
        const auto row = [](const char *name, const char *from, const char *to,
                            const QString &message) {
            QTest::newRow(name) << from << to << message;
        };
        row("leading zero", "10.0.0.01", "10.0.0.5", badStart);
        row("both invalid", "x", "y", badStart);
        row("bad end", "10.0.0.1", "10.0.0.1.5", "The ending address is not a valid IP address !");
        row("across sign, reversed", "128.0.0.5", "127.255.255.250", order);
        row("no ICMP socket", "10.0.0.1", "10.0.0.2", FakeEcho().unavailableReason());
    }
    void refusedStart()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QString, message);
        echo->available = message != echo->unavailableReason();
        start(from, to);
        QCOMPARE(view->refusals, QStringList{message});
        QCOMPARE(view->focus == ScanView::Box::Ending, message.startsWith(u"The ending"));
        QVERIFY(!engine->isRunning());
        QVERIFY(echo->sent.isEmpty());
        QCOMPARE(engine->state().Scan_Number, 0);
        QCOMPARE(view->layouts, 0);
    }

    // The walk from the start to the end address, in unsigned order, each address once; the
    // first goes out at start, never shown as the last address handed out. A minimized
    // window counts rows in its caption, then says the scan completed.
    void walk_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("addresses");
        QTest::newRow("one address, blanks and slash") << " 10.0.0.5 "
                                                       << "10.0.0.5/24"
                                                       << "10.0.0.5";
        QTest::newRow("across the sign") << "127.255.255.254"
                                         << "128.0.0.1"
                                         << "127.255.255.254 127.255.255.255 128.0.0.0 128.0.0.1";
    }
    void walk()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QString, addresses);
        const qsizetype count = addresses.count(u' ') + 1;
        view->minimized = true;
        view->ipStatus = QStringLiteral("from the last scan");
        start(from, to);
        QVERIFY(engine->isRunning());
        QCOMPARE(view->ipStatus, QStringLiteral("from the last scan"));
        QCOMPARE(engine->state().Address_Span, count - 1);
        tickOut();
        QStringList sent;
        for (const auto &s : echo->sent) {
            sent << s.address;
            QVERIFY(s.async);
        }
        QCOMPARE(sent.join(u' '), addresses);
        QCOMPARE(view->icmpPercent, count > 1 ? 100 : 0);
        echo->reply(echo->sent.takeFirst().tag, 0);
        QCOMPARE(view->caption, count > 1 ? "Vantrel : 1" : "Vantrel : Scan Completed");
        echo->answerAll();
        QCOMPARE(view->ipStatus, QStringLiteral("Scan Completed"));
        QVERIFY(!engine->isRunning());
        QCOMPARE(view->beeps, 1);
        QCOMPARE(view->caption, QStringLiteral("Vantrel : Scan Completed"));
    }

    // The scan ends only when every request of it has come back and every lookup answered:
    // rows never arrive after "Scan Completed", so an export made then holds them all.
    void completionWaitsForEveryRequest_data()
    {
        QTest::addColumn<int>("pings");
        QTest::addColumn<bool>("inverted");
        QTest::addColumn<bool>("resolve");
        QTest::addColumn<QString>("failing"); // fails its first attempt; "all": every attempt
        QTest::newRow("replies of the last addresses") << 1 << false << false << "";
        QTest::newRow("a retry still out") << 2 << false << false << "10.0.0.3";
        QTest::newRow("inverted: time-outs to come") << 1 << true << false << "all";
        QTest::newRow("then the lookups") << 1 << false << true << "";
    }
    void completionWaitsForEveryRequest()
    {
        QFETCH(int, pings);
        QFETCH(bool, inverted);
        QFETCH(bool, resolve);
        QFETCH(QString, failing);
        engine->Pings_per_Node = std::int16_t(pings);
        engine->Reverse_Scan = inverted;
        engine->Resolve_DNS = resolve;
        QStringList ends; // how each end came, and the rows listed then
        connect(engine.get(), &ScanEngine::scanEnded, this, [&](bool completed) {
            ends << QStringLiteral("%1 %2")
                        .arg(completed ? "completed" : "stopped")
                        .arg(grid->Rows() - 1);
        });
        start(QStringLiteral("10.0.0.1"), QStringLiteral("10.0.0.3"));
        tickOut();
        QCOMPARE(view->ipStatus, QStringLiteral("Waiting on replies ..."));
        while (!echo->sent.isEmpty()) {
            QVERIFY(engine->isRunning());
            QVERIFY(view->ipStatus != QStringLiteral("Scan Completed"));
            const FakeEcho::Sent request = echo->sent.takeFirst();
            const bool fails =
                failing == u"all" || (request.address == failing && request.tag.endsWith(u";1"));
            echo->reply(request.tag, fails ? EchoControl::TimedOut : 0);
        }
        if (resolve) {
            QCOMPARE(view->ipStatus, QStringLiteral("Waiting on DNS ..."));
            QCOMPARE(view->dnsPercent, 0);
            QVERIFY(engine->isRunning());
            lookup->answer(0, QStringLiteral("one.example"));
            QCOMPARE(view->dnsPercent, 33);
            lookup->answerAll();
            QCOMPARE(view->dnsPercent, 100);
            QCOMPARE(grid->cellText(1, 2), QStringLiteral("one.example"));
        }
        QCOMPARE(view->ipStatus, QStringLiteral("Scan Completed"));
        QVERIFY(!engine->isRunning());
        QCOMPARE(view->beeps, 1);
        QCOMPARE(ends, QStringList{QStringLiteral("completed 3")});
    }

    // A late tick hands out what fell due meanwhile, a few at most; a rate hands out
    // batches and nothing while ahead. Every address once and in order; the delay setting
    // survives a rate for when it is lifted.
    void pacing_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<QList<int>>("tickAtMs");
        QTest::addColumn<QList<int>>("sentAfter"); // the first address goes out at start
        QTest::newRow("on time: one each") << 0 << QList{10, 20, 30} << QList{2, 3, 4};
        QTest::newRow("early: still one") << 0 << QList{5, 6} << QList{2, 3};
        QTest::newRow("late: catches up by four at most")
            << 0 << QList{10, 60, 200} << QList{2, 6, 10};
        QTest::newRow("rate: a batch a tick, none while ahead")
            << 20000 << QList{1, 1, 2} << QList{21, 21, 41};
        QTest::newRow("rate: late, four batches at most") << 20000 << QList{100} << QList{81};
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
        start(QStringLiteral("10.0.0.0"), QStringLiteral("10.0.3.255"));
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

    void lookupGateHoldsTheWalk()
    {
        lookup->capacity = 12;
        lookup->pending = 3;
        start(QStringLiteral("10.0.0.1"), QStringLiteral("10.0.0.9"));
        engine->PING_Timer_Timer();
        QCOMPARE(view->ipStatus, QStringLiteral("Waiting on DNS ..."));
        QCOMPARE(echo->sent.size(), 1);
        lookup->pending = 2;
        engine->PING_Timer_Timer();
        QCOMPARE(echo->sent.size(), 2);
        QCOMPARE(view->ipStatus, QStringLiteral("10.0.0.2"));
    }

    void retries_data()
    {
        QTest::addColumn<int>("pings");
        QTest::addColumn<int>("answeredAttempt");  // 0: every attempt fails
        QTest::addColumn<bool>("leftSynchronous"); // as an interactive ping leaves the control
        QTest::newRow("answered on the third of three") << 3 << 3 << false;
        QTest::newRow("all attempts fail") << 2 << 0 << false;
        QTest::newRow("one ping: no retry") << 1 << 0 << false;
        QTest::newRow("retry after a waiting send") << 2 << 2 << true;
    }
    void retries()
    {
        QFETCH(int, pings);
        QFETCH(int, answeredAttempt);
        QFETCH(bool, leftSynchronous);
        engine->Pings_per_Node = std::int16_t(pings);
        engine->Resolve_DNS = true;
        start(QStringLiteral("10.0.0.7"), QStringLiteral("10.0.0.7"));
        echo->setEchoAsync(!leftSynchronous);
        const int attempts = answeredAttempt ? answeredAttempt : pings;
        for (int attempt = 1; attempt <= attempts; ++attempt) {
            QCOMPARE(echo->sent.size(), attempt);
            QCOMPARE(echo->sent.last().tag, QStringLiteral("1:10.0.0.7;%1").arg(attempt));
            QVERIFY(echo->sent.last().async);
            echo->reply(echo->sent.last().tag,
                        attempt == answeredAttempt ? 0 : EchoControl::TimedOut, 42);
        }
        QCOMPARE(echo->sent.size(), attempts);
        QCOMPARE(grid->Rows(), answeredAttempt ? 2 : 1);
        QCOMPARE(lookup->started.size(), answeredAttempt ? 1 : 0);
        if (answeredAttempt)
            QCOMPARE(grid->cellText(1, 1), QStringLiteral("42 ms"));
        QCOMPARE(view->nodeCount, answeredAttempt ? 1 : -1);
    }

    void invertedScanListsFailures()
    {
        engine->Reverse_Scan = true;
        engine->Pings_per_Node = 3;
        echo->errorText = QStringLiteral("Destination host unreachable from 127.0.0.1");
        start(QStringLiteral("10.0.0.1"), QStringLiteral("10.0.0.2"));
        engine->PING_Timer_Timer();
        echo->reply(QStringLiteral("1:10.0.0.1;1"), 0, 3);
        QCOMPARE(grid->Rows(), 1);
        QCOMPARE(view->nodeCount, 0);
        echo->reply(QStringLiteral("1:10.0.0.2;1"), EchoControl::DestinationUnreachable);
        QCOMPARE(echo->sent.size(), 2); // no retries when inverted
        QCOMPARE(grid->Rows(), 2);
        QCOMPARE(grid->cellText(1, 1), echo->errorText);
        QCOMPARE(grid->index(0, 1).data(Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
    }

    // After a stop, replies of the stopped scan are still listed; after the next start they
    // and anything not of a scan are dropped, and nothing is retried.
    void repliesOutsideTheScan_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("inverted");
        QTest::addColumn<int>("rows");
        const int cancelled = EchoControl::Cancelled;
        QTest::newRow("stopped scan, late reply") << "1:10.0.0.1;1" << 0 << false << 2;
        QTest::newRow("interactive") << "Interactive" << 0 << false << 1;
        QTest::newRow("interactive, failed") << "Interactive" << 1 << true << 1;
        QTest::newRow("older scan") << "1:10.0.0.1;1" << 0 << false << 1;
        QTest::newRow("older scan, failed") << "1:10.0.0.1;1" << 1 << false << 1;
        QTest::newRow("no number") << "x:10.0.0.1;1" << 0 << false << 1;
        QTest::newRow("cancelled") << "2:10.0.0.1;1" << cancelled << false << 1;
        QTest::newRow("cancelled, inverted") << "2:10.0.0.1;1" << cancelled << true << 1;
    }
    void repliesOutsideTheScan()
    {
        QFETCH(QString, tag);
        QFETCH(int, status);
        QFETCH(bool, inverted);
        QFETCH(int, rows);
        engine->Reverse_Scan = inverted;
        start(QStringLiteral("10.0.0.1"), QStringLiteral("10.0.0.3"));
        engine->Scan_Button_Click(); // stop
        if (rows == 1)
            start(QStringLiteral("10.0.0.1"), QStringLiteral("10.0.0.3"));
        echo->reply(tag, std::int16_t(status));
        QCOMPARE(grid->Rows(), rows);
        QCOMPARE(echo->sent.size(), rows == 1 ? 2 : 1); // nothing retried
    }

    void stragglerKeepsScanOpen()
    {
        engine->Resolve_DNS = true;
        engine->Pings_per_Node = 1;
        start(QStringLiteral("10.0.1.1"), QStringLiteral("10.0.2.44")); // 300 addresses
        for (int i = 0; i < 299; ++i)
            engine->PING_Timer_Timer();
        echo->answerAll();
        QCOMPARE(lookup->started.size(), 300);
        engine->PING_Timer_Timer(); // range exhausted
        QCOMPARE(view->ipStatus, QStringLiteral("Waiting on DNS ..."));
        while (lookup->started.size() > 1)
            lookup->answer(0, QStringLiteral("n"));
        QCOMPARE(view->dnsPercent, 100); // 299 of 300 rounds to 100 ...
        QVERIFY(engine->isRunning());    // ... but one row still reads " resolving ..."
        QVERIFY(view->ipStatus != QStringLiteral("Scan Completed"));
        lookup->answer(0, QStringLiteral("last"));
        QVERIFY(!engine->isRunning());
        QCOMPARE(view->ipStatus, QStringLiteral("Scan Completed"));
    }

    // After a row is deleted its lookup answer finds nothing to write and the others follow
    // their addresses up.
    void listedRows()
    {
        engine->Resolve_DNS = true;
        start(QStringLiteral("10.0.0.1"), QStringLiteral("10.0.0.3"));
        tickOut();
        echo->answerAll();
        grid->RemoveItem(1); // 10.0.0.1 goes; 10.0.0.3 moves from row 3 to row 2
        lookup->answer(2, QStringLiteral("three.example")); // tagged row 3
        QCOMPARE(grid->cellText(2, 2), QStringLiteral("three.example"));
        lookup->answer(0, QStringLiteral("one.example")); // its row is gone
        QCOMPARE(grid->cellText(1, 2), QStringLiteral(" resolving ..."));
        QCOMPARE(grid->cellText(1, 0), QStringLiteral("10.0.0.2"));
    }

    // After a quick restart the old scan's lookups are still out: they write nothing, and
    // the new scan's progress and completion count only its own.
    void restartLeavesOldLookupsOut()
    {
        engine->Resolve_DNS = true;
        start(QStringLiteral("10.0.0.1"), QStringLiteral("10.0.0.1"));
        echo->answerAll();
        engine->Scan_Button_Click();
        start(QStringLiteral("10.0.0.1"), QStringLiteral("10.0.0.1"));
        engine->PING_Timer_Timer();
        echo->answerAll();
        QCOMPARE(view->dnsPercent, 0);
        lookup->answer(1, QStringLiteral("fresh"));
        QCOMPARE(view->dnsPercent, 100);
        QVERIFY(!engine->isRunning());
        lookup->answer(0, QStringLiteral("stale"));
        QCOMPARE(grid->cellText(1, 2), QStringLiteral("fresh"));
        QCOMPARE(view->dnsPercent, 100);
    }
};

QTEST_GUILESS_MAIN(TestScanEngine)
#include "tst_scan_engine.moc"
