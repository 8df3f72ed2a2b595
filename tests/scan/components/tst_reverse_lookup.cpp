#include "scan/components/AresLookup.h"

#include "scan/components/LookupRecorder.h"

#include <QPointer>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// A DNS server on 127.0.0.1 that answers each query with the test's rcode and no records,
// or stays silent (rcode -1). Answers with names are tried in tst_net_reverse_lookup.
struct FakeDnsServer
{
    FakeDnsServer()
    {
        sockaddr_in addr{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t length = sizeof addr;
        bind(fd, reinterpret_cast<sockaddr *>(&addr), length);
        getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &length);
        address = u"127.0.0.1:%1"_s.arg(ntohs(addr.sin_port));
        QObject::connect(&notifier, &QSocketNotifier::activated, [this] {
            char query[512];
            sockaddr_in from{};
            socklen_t size = sizeof from;
            auto *peer = reinterpret_cast<sockaddr *>(&from);
            for (ssize_t n; (n = recvfrom(fd, query, sizeof query, 0, peer, &size)) >= 12;) {
                query[2] = char(0x81); // the query itself, marked a response
                query[3] = char(0x80 | rcode);
                if (rcode >= 0)
                    sendto(fd, query, size_t(n), 0, peer, size);
            }
        });
    }
    ~FakeDnsServer() { close(fd); }

    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    QSocketNotifier notifier{fd, QSocketNotifier::Read};
    QString address;
    int rcode = -1;
};

} // namespace

class TestReverseLookup : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Catches, among others, Qt's complaint about two live notifiers for one socket.
    void init() { QTest::failOnWarning(QRegularExpression()); }

    void answers_data()
    {
        using enum LookupControl::Status;
        QTest::addColumn<int>("before");      // lookups of "bad" started just before
        QTest::addColumn<QString>("address"); // 127.0.0.99 is in no hosts file
        QTest::addColumn<int>("rcode");
        QTest::addColumn<LookupControl::Status>("status");
        QTest::addColumn<QString>("result");
        const QString a = u"127.0.0.99"_s;
        QTest::newRow("servfail") << 0 << a << 2 << ServerFailure << u"DNS server failure"_s;
        QTest::newRow("no records") << 0 << a << 0 << NoName << u"No name found"_s;
        QTest::newRow("leading zero")
            << 0 << u"10.0.0.01"_s << -1 << BadAddress << u"Not a valid address"_s;
        QTest::newRow("over capacity") // each holds a place until its answer is delivered
            << AresLookup::Capacity << a << -1 << TooManyLookups << u"Too many lookups at once"_s;
    }

    void answers()
    {
        QFETCH(int, before);
        QFETCH(QString, address);
        QFETCH(int, rcode);
        FakeDnsServer server;
        server.rcode = rcode;
        AresLookup lookup({server.address, true});
        LookupRecorder recorder(&lookup);
        for (int i = 0; i < before; ++i)
            lookup.StartLookup(u"bad"_s);
        lookup.setLookupTag(u"3:7"_s);
        lookup.StartLookup(address);
        lookup.setLookupTag(u"changed"_s);
        QVERIFY(recorder.answers.isEmpty()); // never inside StartLookup
        QTRY_COMPARE(recorder.answers.size(), before + 1);
        QTEST(recorder.answers.last().result, "result");
        QTEST(LookupControl::Status(recorder.answers.last().status), "status");
        QCOMPARE(recorder.answers.last().tag, u"3:7"_s);
    }

    // A name from outside never brings controls, blanks or overlong text into a cell.
    void sanitizedName()
    {
        QCOMPARE(AresLookup::sanitizedName("host.example."), u"host.example"_s);
        QCOMPARE(AresLookup::sanitizedName("a\tb c\x1b[0m\n\xc3\xa9"), u"a?b?c?[0m???"_s);
        QCOMPARE(AresLookup::sanitizedName(QByteArray(300, 'x')), QString(253, u'x'));
    }

    void cancelOrDestroy_data()
    {
        QTest::addColumn<bool>("destroy");
        QTest::newRow("cancel") << false;
        QTest::newRow("destroy") << true;
    }

    // From the handler of "bad", answered first: two lookups wait at the silent server and
    // one more has its answer queued. Each answers once, as cancelled, in the order started.
    void cancelOrDestroy()
    {
        QFETCH(bool, destroy);
        FakeDnsServer server;
        QPointer<AresLookup> lookup = new AresLookup({server.address, true});
        LookupRecorder recorder(lookup);
        connect(lookup, &LookupControl::LookupAnswer, this, [&](const QString &, const QString &a) {
            if (a != u"bad"_s)
                return;
            lookup->StartLookup(u"undelivered"_s);
            if (destroy)
                delete lookup;
            else
                lookup->CancelLookups();
        });
        for (const QString &address : {u"bad"_s, u"127.0.0.97"_s, u"127.0.0.98"_s})
            lookup->StartLookup(address);
        QTRY_COMPARE(recorder.answers.size(), 4);
        QTest::qWait(100); // nothing more may come
        QStringList answered;
        for (const LookupRecorder::Answer &answer : recorder.answers)
            answered << answer.address + u' ' + answer.result;
        QCOMPARE(
            answered,
            (QStringList{u"bad Not a valid address"_s, u"127.0.0.97 Lookup cancelled"_s,
                         u"127.0.0.98 Lookup cancelled"_s, u"undelivered Lookup cancelled"_s}));
        QVERIFY(destroy ? lookup.isNull() : lookup->LookupsPending() == 0);
        delete lookup;
    }
};

QTEST_GUILESS_MAIN(TestReverseLookup)
#include "tst_reverse_lookup.moc"
