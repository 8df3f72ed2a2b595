#include "scan/AddressRange.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestAddressRange : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // A tab splits the text into the two-address form; otherwise it is one text. The outcome
    // is "first last size", or the refusal.
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("outcome");
        const auto row = [](const char *name, const QString &text, const QString &outcome) {
            QTest::newRow(name) << text << outcome;
        };
        row("dash with spaces", u" 10.0.0.1 - 10.0.0.2 "_s, u"10.0.0.1 10.0.0.2 2"_s);
        row("block from inner address", u"10.1.2.77/24"_s, u"10.1.2.0 10.1.2.255 256"_s);
        row("/0", u"10.0.0.1/0"_s, u"0.0.0.0 255.255.255.255 4294967296"_s);
        row("across the sign", u"127.255.255.254-128.0.0.1"_s, u"127.255.255.254 128.0.0.1 4"_s);
        row("leading zero in block", u"10.0.0.01/24"_s,
            u"\"10.0.0.01\" is not a valid IPv4 address."_s);
        row("prefix 33", u"10.0.0.0/33"_s, u"The prefix length 33 is outside 0 to 32."_s);
        row("negative prefix", u"10.0.0.0/-1"_s,
            u"\"/-1\" has no prefix length: expected a number from 0 to 32."_s);
        row("junk after prefix", u"10.0.0.0/24x"_s, u"Unexpected \"x\" after the prefix length."_s);
        row("missing end", u"10.0.0.1-"_s, u"An address is missing."_s);
        row("slash in pair", u"10.0.0.1/24\t10.0.0.9"_s,
            u"\"10.0.0.1/24\" is not a valid IPv4 address."_s);
    }

    void parse()
    {
        QFETCH(QString, text);
        const QStringList pair = text.split(u'\t');
        const AddressRange::Parsed parsed =
            pair.size() == 2 ? AddressRange::parse(pair[0], pair[1]) : AddressRange::parse(text);
        const auto &range = parsed.range;
        QTEST(range ? u"%1 %2 %3"_s.arg(range->firstText(), range->lastText()).arg(range->size())
                    : parsed.error,
              "outcome");
    }
};

QTEST_GUILESS_MAIN(TestAddressRange)
#include "tst_address_range.moc"
