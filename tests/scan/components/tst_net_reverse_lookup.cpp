#include "scan/components/AresLookup.h"

#include "scan/components/LookupRecorder.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <csignal>

using namespace Qt::StringLiterals;

// Inside the private test network: dnsmasq on 127.0.0.53 names 127.0.0.1-200 except
// 127.0.0.20, which only the test hosts file names; 127.0.1.53 swallows every query.
class TestNetReverseLookup : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        if (qEnvironmentVariable("VANTREL_TESTNET") != u"1"_s)
            QSKIP("needs the private test network: run through tests/net/testnet.sh");
    }
    // Catches, among others, Qt's complaint about two live notifiers for one socket.
    void init() { QTest::failOnWarning(QRegularExpression()); }

    // All of 127.0.0.1-254 at once through the system's resolv.conf and hosts file.
    void sideBySide()
    {
        AresLookup lookup;
        LookupRecorder recorder(&lookup);
        for (int n = 1; n <= 254; ++n) {
            lookup.setLookupTag(QString::number(n));
            lookup.StartLookup(u"127.0.0.%1"_s.arg(n));
        }
        QVERIFY(recorder.answers.isEmpty());
        QCOMPARE(lookup.LookupsPending(), 254);
        QTRY_COMPARE_WITH_TIMEOUT(recorder.answers.size(), 254, 10000);
        QCOMPARE(lookup.LookupsPending(), 0);

        QList<int> seen(255, 0);
        for (qsizetype i = 0; i < recorder.answers.size(); ++i) {
            const LookupRecorder::Answer &answer = recorder.answers[i];
            QCOMPARE(answer.pendingInHandler, 254 - i);
            const int n = answer.tag.toInt();
            QCOMPARE(answer.address, u"127.0.0.%1"_s.arg(n));
            ++seen[n];
            QCOMPARE(answer.result, n == 1    ? u"localhost"_s
                                    : n == 20 ? u"hostsfile-twenty.vantrel.test"_s
                                    : n > 200 ? u"No name found"_s
                                              : u"host-%1.vantrel.test"_s.arg(n));
            QCOMPARE(answer.status, int(n > 200 ? AresLookup::NoName : AresLookup::Found));
        }
        QCOMPARE(seen.count(1), 254);
    }

    void noAnswer_data()
    {
        QTest::addColumn<QString>("servers"); // empty: the system's resolv.conf
        QTest::addColumn<bool>("stopServer");
        QTest::newRow("silent server")
            << qEnvironmentVariable("VANTREL_TESTNET_SILENT_DNS") << false;
        QTest::newRow("server stopped") << QString() << true; // last: the test DNS server is gone
    }

    void noAnswer()
    {
        QFETCH(QString, servers);
        QFETCH(bool, stopServer);
        if (stopServer) {
            const auto pid = pid_t(qEnvironmentVariable("VANTREL_TESTNET_DNSMASQ_PID").toInt());
            QVERIFY(pid > 1);
            QCOMPARE(::kill(pid, SIGTERM), 0);
            // Its socket is closed once the process is gone or a zombie.
            QTRY_VERIFY([pid] {
                QFile stat(u"/proc/%1/stat"_s.arg(pid));
                return !stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z ");
            }());
        }

        AresLookup lookup({servers, true});
        LookupRecorder recorder(&lookup);
        lookup.StartLookup(u"127.0.0.7"_s);
        lookup.StartLookup(u"127.0.0.20"_s); // the hosts file comes first and still answers
        QTRY_COMPARE_WITH_TIMEOUT(recorder.answers.size(), 2, 7000);
        QCOMPARE(recorder.answers[0].result, u"hostsfile-twenty.vantrel.test"_s);
        QCOMPARE(recorder.answers[1].status, int(AresLookup::NoAnswer));
        QCOMPARE(recorder.answers[1].result, u"No answer from DNS server"_s);
        qInfo("no answer after %d ms", recorder.answers[1].elapsedMs);
    }
};

QTEST_GUILESS_MAIN(TestNetReverseLookup)
#include "tst_net_reverse_lookup.moc"
