#include "scan/components/AresLookup.h"

#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
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
    // and tabs, the first line and its first name win). Only a regular file is read, and only
    // its first MaxBytes: a FIFO without a writer, a device that never ends or a huge file
    // cannot hold or flood the program, DNS answers the rest, and the user hears it once.
    void hostsFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("answers"); // for 10.9.8.7, 10.9.8.6 and 10.9.8.5
        QTest::addColumn<QString>("problem"); // part of the one message; "" none
        const QString dns = u"No name found"_s, allDns = QStringList(3, dns).join(u", ");
        const QString notRegular = u"is not a regular file; names come from DNS alone."_s;
        QTest::newRow("regular file") << u"file"_s << u"first.test, six.test, "_s + dns << "";
        QTest::newRow("missing") << u"missing"_s << allDns << "";
        QTest::newRow("FIFO without a writer") << u"fifo"_s << allDns << notRegular;
        QTest::newRow("endless device") << u"/dev/zero"_s << allDns << notRegular;
        QTest::newRow("larger than is read")
            << u"huge"_s << u"first.test, "_s + dns + u", "_s + dns
            << u"is larger than 32 MB; only its first 32 MB are read."_s;
    }
    void hostsFile()
    {
        QFETCH(QString, kind);
        QFETCH(QString, problem);
        QTemporaryDir dir;
        const QString path = kind.startsWith(u'/') ? kind : dir.filePath("hosts");
        QFile file(path);
        const QByteArray text = "# 10.9.8.5 commented.test\n10.9.8.7 first.test alias # x\n"
                                "10.9.8.7 later.test\n \t10.9.8.6\tsix.test\n";
        if (kind == u"file") {
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
        } else if (kind == u"fifo") {
            QCOMPARE(::mkfifo(qPrintable(path), 0644), 0);
        } else if (kind == u"huge") {
            // Sparse: the second name lies just past what is read.
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("10.9.8.7 first.test\n") &&
                    file.seek(HostsIndex::MaxBytes - 4) && file.write("\n10.9.8.6 six.test\n"));
        }
        file.close();
        FakeDnsServer server;
        AresLookup lookup({server.address, true, path});
        QSignalSpy answered(&lookup, &LookupControl::LookupAnswer);
        QSignalSpy problems(&lookup, &LookupControl::problem);
        QStringList names;
        for (const QString &address : {u"10.9.8.7"_s, u"10.9.8.6"_s, u"10.9.8.5"_s}) {
            lookup.StartLookup(address);
            QVERIFY(QTest::qWaitFor([&] {
                server.answer(LookupControl::NoName); // when it came to DNS
                return answered.size() == names.size() + 1;
            }));
            names << answered.last().at(0).toString();
        }
        QTEST(names.join(u", "), "answers");
        QCOMPARE(problems.size(), problem.isEmpty() ? 0 : 1);
        QVERIFY(problem.isEmpty() ||
                problems[0][0].toString() == u"The hosts file "_s + path + u' ' + problem);
    }

    // A file that keeps changing is read again at most once a second, and then only when it
    // changed, also when its size stayed the same.
    void hostsFileChanges()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("hosts");
        std::int64_t now = 0;
        HostsIndex index(path, [&] { return now; });
        const auto write = [&](const QByteArray &text, int secondsAgo) {
            QFile file(path);
            return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() &&
                   file.setFileTime(QDateTime::currentDateTime().addSecs(-secondsAgo),
                                    QFileDevice::FileModificationTime);
        };
        const auto nameAt = [&](std::int64_t ms) {
            now = ms;
            return QString::fromLatin1(index.nameOf(0x0a090807).value_or("none"));
        };
        QVERIFY(write("10.9.8.7 first.test\n", 30));
        QCOMPARE(nameAt(0), u"first.test"_s);
        QVERIFY(write("10.9.8.7 second.test\n", 20));
        QCOMPARE(nameAt(999), u"first.test"_s);
        QCOMPARE(nameAt(1000), u"second.test"_s);
        QVERIFY(write("10.9.8.7 thirdd.test\n", 10)); // same size, newer
        QCOMPARE(nameAt(1999), u"second.test"_s);
        QCOMPARE(nameAt(2000), u"thirdd.test"_s);
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
