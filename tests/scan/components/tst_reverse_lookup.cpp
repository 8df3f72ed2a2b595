#include "scan/components/AresLookup.h"

#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

class TestReverseLookup : public QObject
{
    Q_OBJECT

    // A DNS server on 127.0.0.1 that stays silent unless told to answer a query that came in.
    struct FakeDnsServer
    {
        ~FakeDnsServer() { close(fd); }

        // Answers one waiting query: SERVFAIL, or NOERROR with the PTR record `name` (DNS wire
        // form) or without records. False when none waits.
        bool answer(LookupControl::Status status, const QByteArray &name = {})
        {
            char query[512];
            const ssize_t n = recvfrom(fd, query, sizeof query, 0, peer, &length);
            if (n < 12)
                return false;
            QByteArray reply(query, n); // the query itself, marked a response
            reply[2] = char(0x81);
            reply[3] = char(status == LookupControl::ServerFailure ? 0x82 : 0x80);
            if (!name.isEmpty()) {
                reply[7] = 1; // one answer, owned by the question's name (offset 12)
                reply += QByteArray("\xc0\x0c\x00\x0c\x00\x01\x00\x00\x00\x3c", 10);
                reply += char(name.size() >> 8);
                reply += char(name.size() & 0xff);
                reply += name;
            }
            return sendto(fd, reply.constData(), size_t(reply.size()), 0, peer, length) ==
                   reply.size();
        }

        int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        // Our own address until bound, then that of the last query's sender.
        sockaddr_in addr{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        sockaddr *peer = reinterpret_cast<sockaddr *>(&addr);
        socklen_t length = sizeof addr;
        // "127.0.0.1:port", bound to a free port.
        QString address = [this] {
            bind(fd, peer, length);
            getsockname(fd, peer, &length);
            return u"127.0.0.1:%1"_s.arg(ntohs(addr.sin_port));
        }();
    };

private Q_SLOTS:
    // Catches, among others, Qt's complaint about two live notifiers for one socket.
    void init() { QTest::failOnWarning(QRegularExpression()); }

    void answers_data()
    {
        using enum LookupControl::Status;
        QTest::addColumn<LookupControl::Status>("status");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("result"); // a pattern
        QTest::newRow("servfail") << ServerFailure << QByteArray() << u"^DNS server failure$"_s;
        QTest::newRow("over capacity")
            << TooManyLookups << QByteArray() << u"^Too many lookups at once$"_s;
        QTest::newRow("name") << Found << QByteArray("\6host-1\7example", 16)
                              << u"^host-1\\.example$"_s;
        // Control, blank, non-ASCII: c-ares refuses it (older) or escapes it (newer); we
        // sanitize what passes. Either way only printable text reaches the cell.
        QTest::newRow("hostile name") << Found << QByteArray("\10a\1b c\377=x\4evil", 15)
                                      << u"^(DNS server failure|[!-~]+)$"_s;
    }

    void answers()
    {
        QFETCH(LookupControl::Status, status);
        QFETCH(QByteArray, name);
        QFETCH(QString, result);
        FakeDnsServer server;
        AresLookup lookup({server.address, true});
        QSignalSpy answers(&lookup, &LookupControl::LookupAnswer);
        // Over capacity: each "bad" lookup holds a place until its answer is delivered.
        for (int i = status == LookupControl::TooManyLookups ? AresLookup::Capacity : 0; i; --i)
            lookup.StartLookup(u"bad"_s);
        lookup.setLookupTag(u"3:7"_s);
        lookup.StartLookup(u"127.0.0.99"_s); // in no hosts file
        lookup.setLookupTag(u"changed"_s);
        QVERIFY(answers.isEmpty());                  // never inside StartLookup
        if (status != LookupControl::TooManyLookups) // its query went out: answer it
            QVERIFY(QTest::qWaitFor([&] { return server.answer(status, name); }));
        QTRY_COMPARE(lookup.LookupsPending(), 0);
        // LookupAnswer(result, address, status, tag, elapsed ms)
        const QString got = answers.last().at(0).toString();
        QVERIFY2(QRegularExpression(result).match(got).hasMatch(), qPrintable(got));
        QCOMPARE(answers.last().at(3).toString(), u"3:7"_s);
    }

    // The hosts file answers before DNS, as a resolver's file lookup would (comments, blanks
    // and tabs, the first line and its first name win), and a change to the file shows in
    // the next lookup, also one that keeps its size.
    void hostsFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("hosts");
        const auto write = [&](const QByteArray &text, int secondsAgo) {
            QFile file(path);
            return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() &&
                   file.setFileTime(QDateTime::currentDateTime().addSecs(-secondsAgo),
                                    QFileDevice::FileModificationTime);
        };
        FakeDnsServer server;
        AresLookup lookup({server.address, true, path});
        QSignalSpy answers(&lookup, &LookupControl::LookupAnswer);
        const auto ask = [&](const QString &address, bool dns = false) {
            const qsizetype before = answers.size();
            lookup.StartLookup(address);
            if (dns && !QTest::qWaitFor([&] { return server.answer(LookupControl::NoName); }))
                return u"no query"_s;
            return QTest::qWaitFor([&] { return answers.size() > before; })
                       ? answers.last().at(0).toString()
                       : u"no answer"_s;
        };
        QVERIFY(write("# 10.9.8.5 commented.test\n10.9.8.7 first.test alias # x\n"
                      "10.9.8.7 later.test\n \t10.9.8.6\tsix.test\n",
                      30));
        QCOMPARE(ask(u"10.9.8.7"_s), u"first.test"_s);
        QCOMPARE(ask(u"10.9.8.6"_s), u"six.test"_s);
        QCOMPARE(ask(u"10.9.8.5"_s, true), u"No name found"_s);
        QVERIFY(write("10.9.8.7 second.test\n", 20));
        QCOMPARE(ask(u"10.9.8.7"_s), u"second.test"_s);
        QVERIFY(write("10.9.8.7 thirdd.test\n", 10)); // same size, newer
        QCOMPARE(ask(u"10.9.8.7"_s), u"thirdd.test"_s);
        QCOMPARE(ask(u"10.9.8.6"_s, true), u"No name found"_s);
    }

    // A name from outside never brings controls, blanks or overlong text into a cell.
    void sanitizedName()
    {
        QCOMPARE(AresLookup::sanitizedName("a\tb c\x1b[0m\n\xc3\xa9.x."), u"a?b?c?[0m???.x"_s);
        QCOMPARE(AresLookup::sanitizedName(QByteArray(300, 'x')), QString(253, u'x'));
    }

    // From the handler of "10.0.0.01" (not canonical), answered first, the lookups are
    // cancelled: two wait at the silent server and one more has its answer queued. Each
    // answers once, as cancelled, in the order started (none from inside StartLookup, or
    // the order would differ).
    void cancelFromHandler()
    {
        FakeDnsServer server;
        AresLookup lookup({server.address, true});
        QStringList answered;
        connect(&lookup, &LookupControl::LookupAnswer, this, [&](QString result, QString address) {
            answered << address + u' ' + result;
            if (address == u"10.0.0.01"_s) {
                lookup.StartLookup(u"undelivered"_s);
                lookup.CancelLookups();
            }
        });
        for (const QString &address : {u"10.0.0.01"_s, u"127.0.0.97"_s, u"127.0.0.98"_s})
            lookup.StartLookup(address);
        QTRY_COMPARE(answered.size(), 4);
        // Answered through the event loop after anything still queued for the others.
        lookup.StartLookup(u"10.0.0.02"_s);
        QTRY_COMPARE(answered.size(), 5);
        QCOMPARE(answered.join(u", "),
                 u"10.0.0.01 Not a valid address, 127.0.0.97 Lookup cancelled, "
                 u"127.0.0.98 Lookup cancelled, undelivered Lookup cancelled, "
                 u"10.0.0.02 Not a valid address"_s);
        QCOMPARE(lookup.LookupsPending(), 0);
    }
};

QTEST_GUILESS_MAIN(TestReverseLookup)
#include "tst_reverse_lookup.moc"
