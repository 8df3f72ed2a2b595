#include "scan/components/AresLookup.h"

#include "scan/components/LookupRecorder.h"

#include <QFile>
#include <QPointer>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// A DNS server on 127.0.0.1 that echoes each query's header and question back with the
// rcode and answer records the test sets, or stays silent (rcode -1).
struct FakeDnsServer
{
    FakeDnsServer()
    {
        sockaddr_in addr{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t length = sizeof addr;
        bind(fd, reinterpret_cast<sockaddr *>(&addr), length);
        getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &length);
        address = u"127.0.0.1:%1"_s.arg(ntohs(addr.sin_port));
        QObject::connect(&notifier, &QSocketNotifier::activated, [this] { reply(); });
    }
    ~FakeDnsServer() { close(fd); }

    void reply()
    {
        char query[512];
        sockaddr_storage from{};
        socklen_t length = sizeof from;
        ssize_t n;
        while ((n = recvfrom(fd, query, sizeof query, 0, reinterpret_cast<sockaddr *>(&from),
                             &length)) >= 12) {
            if (rcode < 0)
                continue;
            // Response with recursion; rcode; one question, at most one answer record.
            const QByteArray out = QByteArray(query, 2) + char(0x81) + char(0x80 | rcode) +
                                   QByteArray("\0\1\0", 3) + char(answers.isEmpty() ? 0 : 1) +
                                   QByteArray(4, 0) + QByteArray(query + 12, n - 12) + answers;
            sendto(fd, out.data(), size_t(out.size()), 0, reinterpret_cast<sockaddr *>(&from),
                   length);
        }
    }

    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    QSocketNotifier notifier{fd, QSocketNotifier::Read};
    QString address;
    int rcode = -1;
    QByteArray answers;
};

// One answer record for the question's name: type, class IN, TTL 60, the data.
QByteArray record(char type, const QByteArray &data)
{
    return QByteArray("\xc0\x0c\0", 3) + type + QByteArray("\0\1\0\0\0\x3c\0", 7) +
           char(data.size()) + data;
}

} // namespace

class TestReverseLookup : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Catches, among others, Qt's complaint about two live notifiers for one socket.
    void init() { QTest::failOnWarning(QRegularExpression()); }
    void answers_data();
    void answers();
    void sanitizedName_data();
    void sanitizedName();
    void cancelOrDestroy_data();
    void cancelOrDestroy();
    void capacity();
};

void TestReverseLookup::answers_data()
{
    QTest::addColumn<QString>("servers"); // null: the fake server
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("rcode");
    QTest::addColumn<QByteArray>("records");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("result");

    const QString fake;
    const QByteArray none;
    const QByteArray ptr = record(12, QByteArray("\3box\7example\0", 13));
    const QString a = u"127.0.0.99"_s; // in no hosts file: the query reaches the fake server
    const QString failure = u"DNS server failure"_s;
    const int found = AresLookup::Found, noName = AresLookup::NoName;
    const int failed = AresLookup::ServerFailure;
    QTest::newRow("name") << fake << a << 0 << ptr << found << u"box.example"_s;
    // c-ares refuses labels that are no host name; our name cleaning guards the hosts file.
    QTest::newRow("control characters")
        << fake << a << 0 << record(12, QByteArray("\7\x1b[2J\r\n\a\0", 9)) << failed << failure;
    QTest::newRow("record cut short") << fake << a << 0 << ptr.chopped(4) << failed << failure;
    QTest::newRow("servfail") << fake << a << 2 << none << failed << failure;
    QTest::newRow("refused") << fake << a << 5 << none << failed << failure;
    QTest::newRow("nxdomain") << fake << a << 3 << none << noName << u"No name found"_s;
    QTest::newRow("no records") << fake << a << 0 << none << noName << u"No name found"_s;
    QTest::newRow("leading zero") << fake << u"10.0.0.01"_s << -1 << none
                                  << int(AresLookup::BadAddress) << u"Not a valid address"_s;
    QTest::newRow("resolver unavailable")
        << u"not a server"_s << a << -1 << none << int(AresLookup::ResolverUnavailable)
        << u"Name lookup unavailable: Misformatted string"_s;

    // The machine's own hosts file, if it names 127.0.0.1: the first name of the first line.
    QFile hosts(u"/etc/hosts"_s);
    const auto localhost =
        QRegularExpression(u"^\\s*127\\.0\\.0\\.1\\s+([^\\s#]+)"_s,
                           QRegularExpression::MultilineOption)
            .match(hosts.open(QIODevice::ReadOnly) ? QString::fromLatin1(hosts.readAll())
                                                   : QString());
    if (localhost.hasMatch()) {
        QTest::newRow("hosts file, silent server")
            << fake << u"127.0.0.1"_s << -1 << none << found << localhost.captured(1);
    }
}

void TestReverseLookup::answers()
{
    QFETCH(QString, servers);
    QFETCH(QString, address);
    QFETCH(int, rcode);
    QFETCH(QByteArray, records);
    FakeDnsServer server;
    server.rcode = rcode;
    server.answers = records;

    AresLookup lookup({servers.isNull() ? server.address : servers, true});
    LookupRecorder recorder(&lookup);
    lookup.setLookupTag(u"3:7"_s);
    lookup.StartLookup(address);
    lookup.setLookupTag(u"changed"_s);
    QVERIFY(recorder.answers.isEmpty());

    QTRY_COMPARE(recorder.answers.size(), 1);
    const LookupRecorder::Answer answer = recorder.answers.first();
    QTEST(answer.result, "result");
    QTEST(answer.status, "status");
    QCOMPARE(answer.tag, u"3:7"_s);
    QCOMPARE(answer.address, address);
    QCOMPARE(answer.pendingInHandler, 1);
    QCOMPARE(lookup.LookupsPending(), 0);
}

void TestReverseLookup::sanitizedName_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("name");
    QTest::newRow("trailing dot") << QByteArray("host.example.") << u"host.example"_s;
    QTest::newRow("controls, blanks") << QByteArray("a\tb c\x1b[0m\n\xc3\xa9") << u"a?b?c?[0m???"_s;
    QTest::newRow("too long") << QByteArray(300, 'x') << QString(AresLookup::MaxNameLength, u'x');
}

void TestReverseLookup::sanitizedName()
{
    QFETCH(QByteArray, raw);
    QTEST(AresLookup::sanitizedName(raw.constData()), "name");
}

void TestReverseLookup::cancelOrDestroy_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("cancel") << 0;
    QTest::newRow("destroy") << 1;
    QTest::newRow("destroy inside a handler") << 2;
}

void TestReverseLookup::cancelOrDestroy()
{
    QFETCH(int, mode);
    FakeDnsServer server;
    QPointer<AresLookup> lookup = new AresLookup({server.address, true});
    LookupRecorder recorder(lookup);
    if (mode == 2) {
        connect(lookup, &LookupControl::LookupAnswer, this,
                [&lookup](const QString &, const QString &, int, const QString &tag) {
                    if (tag == u"bad"_s)
                        delete lookup;
                });
    }
    // The bad one answers first; the others wait at the silent server.
    QStringList cancelled = {u"127.0.0.97"_s, u"127.0.0.98"_s};
    for (const QString &address : QStringList{u"bad"_s} + cancelled) {
        lookup->setLookupTag(address);
        lookup->StartLookup(address);
    }
    QTRY_VERIFY(!recorder.answers.isEmpty());
    if (mode != 2) {
        lookup->setLookupTag(u"undelivered"_s);
        lookup->StartLookup(u"undelivered"_s);
        cancelled.append(u"undelivered"_s);
        if (mode == 0)
            lookup->CancelLookups();
        else
            delete lookup;
    }
    QVERIFY(lookup.isNull() ? mode != 0 : lookup->LookupsPending() == 0);
    QTest::qWait(100); // nothing more may come
    QCOMPARE(recorder.answers.size(), cancelled.size() + 1);
    for (qsizetype i = 0; i < cancelled.size(); ++i) {
        const LookupRecorder::Answer &answer = recorder.answers[i + 1];
        QCOMPARE(answer.tag, cancelled[i]);
        QCOMPARE(answer.address, cancelled[i]);
        QCOMPARE(answer.status, int(AresLookup::Cancelled));
        QCOMPARE(answer.result, u"Lookup cancelled"_s);
        // The answer being delivered when the handler destroyed it still counts.
        QCOMPARE(answer.pendingInHandler, cancelled.size() - i + (mode == 2 ? 1 : 0));
    }
    delete lookup;
}

void TestReverseLookup::capacity()
{
    FakeDnsServer server;
    AresLookup lookup({server.address, true});
    LookupRecorder recorder(&lookup);
    for (int i = 0; i < lookup.LookupCapacity(); ++i)
        lookup.StartLookup(u"bad"_s); // each holds a place until its answer is delivered
    lookup.setLookupTag(u"over"_s);
    lookup.StartLookup(u"127.0.0.1"_s);
    QTRY_COMPARE(recorder.answers.size(), lookup.LookupCapacity() + 1);
    QCOMPARE(recorder.answers.last().tag, u"over"_s);
    QCOMPARE(recorder.answers.last().status, int(AresLookup::TooManyLookups));
}

QTEST_GUILESS_MAIN(TestReverseLookup)
#include "tst_reverse_lookup.moc"
