#include "scan/components/AresLookup.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

// Inside the private test network: dnsmasq on 127.0.0.53 names 127.0.0.1-200 except
// 127.0.0.20, which only the test hosts file names. (A server that never answers is met
// by tst_net_scan_cli, with dnsmasq stopped.)
// A QSignalSpy keeps LookupAnswer's (result, address, status, tag, elapsed ms).
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

    // All of 127.0.0.1-254 at once through the system's resolv.conf and hosts file; each
    // answer still counts as pending while its handler runs.
    void sideBySide()
    {
        AresLookup lookup;
        QSignalSpy answers(&lookup, &LookupControl::LookupAnswer);
        QList<int> pendingInHandler;
        connect(&lookup, &LookupControl::LookupAnswer, this,
                [&] { pendingInHandler << lookup.LookupsPending(); });
        for (int n = 1; n <= 254; ++n) {
            lookup.setLookupTag(QString::number(n));
            lookup.StartLookup(u"127.0.0.%1"_s.arg(n));
        }
        QVERIFY(answers.isEmpty());
        QCOMPARE(lookup.LookupsPending(), 254);
        QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 254, 10000);
        QCOMPARE(lookup.LookupsPending(), 0);
        for (qsizetype i = 0; i < answers.size(); ++i) {
            QCOMPARE(pendingInHandler[i], 254 - i);
            const int n = answers[i][3].toInt();
            QCOMPARE(answers[i][1].toString(), u"127.0.0.%1"_s.arg(n));
            QCOMPARE(answers[i][0].toString(), n == 1    ? u"localhost"_s
                                               : n == 20 ? u"hostsfile-twenty.vantrel.test"_s
                                               : n > 200 ? u"No name found"_s
                                                         : u"host-%1.vantrel.test"_s.arg(n));
            QCOMPARE(answers[i][2].toInt(), int(n > 200 ? AresLookup::NoName : AresLookup::Found));
        }
    }
};

QTEST_GUILESS_MAIN(TestNetReverseLookup)
#include "tst_net_reverse_lookup.moc"
