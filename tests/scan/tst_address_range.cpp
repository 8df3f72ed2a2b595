#include "scan/AddressRange.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestAddressRange : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // A tab splits the text into the two-address form; otherwise it is one text.
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("first"); // empty: refused
        QTest::addColumn<QString>("last");  // or the start of the refusal message
        QTest::addColumn<qint64>("size");
        QTest::newRow("two addresses")
            << u"10.0.0.1\t10.0.0.254"_s << u"10.0.0.1"_s << u"10.0.0.254"_s << qint64(254);
        QTest::newRow("dash with spaces")
            << u" 10.0.0.1 - 10.0.0.2 "_s << u"10.0.0.1"_s << u"10.0.0.2"_s << qint64(2);
        QTest::newRow("single") << u"192.168.7.9"_s << u"192.168.7.9"_s << u"192.168.7.9"_s
                                << qint64(1);
        QTest::newRow("block from inner address")
            << u"10.1.2.77/24"_s << u"10.1.2.0"_s << u"10.1.2.255"_s << qint64(256);
        QTest::newRow("/31") << u"10.0.0.7/31"_s << u"10.0.0.6"_s << u"10.0.0.7"_s << qint64(2);
        QTest::newRow("/0") << u"10.0.0.1/0"_s << u"0.0.0.0"_s << u"255.255.255.255"_s
                            << (qint64(1) << 32);
        QTest::newRow("across the sign") << u"127.255.255.254-128.0.0.1"_s << u"127.255.255.254"_s
                                         << u"128.0.0.1"_s << qint64(4);

        const auto refused = [](const char *name, const QString &text, const QString &message) {
            QTest::newRow(name) << text << QString() << message << qint64(0);
        };
        refused("bad address", u"10.0.0.256"_s, u"\"10.0.0.256\" is not a valid IPv4 address."_s);
        refused("leading zero in block", u"10.0.0.01/24"_s,
                u"\"10.0.0.01\" is not a valid IPv4 address."_s);
        refused("prefix 33", u"10.0.0.0/33"_s, u"The prefix length 33 is outside 0 to 32."_s);
        refused("negative prefix", u"10.0.0.0/-1"_s,
                u"\"/-1\" has no prefix length: expected a number from 0 to 32."_s);
        refused("junk after prefix", u"10.0.0.0/24x"_s,
                u"Unexpected \"x\" after the prefix length."_s);
        refused("second dash", u"10.0.0.1-10.0.0.2-10.0.0.3"_s,
                u"\"10.0.0.2-10.0.0.3\" is not a valid IPv4 address."_s);
        refused("missing end", u"10.0.0.1-"_s, u"An address is missing."_s);
        refused("slash in pair", u"10.0.0.1/24\t10.0.0.9"_s,
                u"\"10.0.0.1/24\" is not a valid IPv4 address."_s);
    }

    void parse()
    {
        QFETCH(QString, text);
        QFETCH(QString, first);
        QFETCH(QString, last);
        QFETCH(qint64, size);
        const QStringList pair = text.split(u'\t');
        const AddressRange::Parsed parsed =
            pair.size() == 2 ? AddressRange::parse(pair[0], pair[1]) : AddressRange::parse(text);
        if (first.isEmpty()) {
            QVERIFY(!parsed.range);
            QCOMPARE(parsed.error, last);
            return;
        }
        QVERIFY2(parsed.range, qPrintable(parsed.error));
        QCOMPARE(parsed.range->firstText(), first);
        QCOMPARE(parsed.range->lastText(), last);
        QCOMPARE(parsed.range->size(), size);
    }
};

QTEST_GUILESS_MAIN(TestAddressRange)
#include "tst_address_range.moc"
