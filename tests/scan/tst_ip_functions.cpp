#include "scan/IP_Functions.h"

#include "scan/AddressRange.h"

#include <QTest>

using namespace IP_Functions;
using namespace Qt::StringLiterals;

// fuzz_is_valid_address judges the accepted form against random input; these rows are the
// readings it cannot judge: how text that is not an address still turns into a number, where
// that overflows, and the number reader behind the octets and the settings file. Then the
// range forms built on the address reader.
class TestIpFunctions : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void addressForms_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("hex"); // empty: overflow expected
        QTest::newRow("highest") << u"255.255.255.255"_s << true << u"FFFFFFFF"_s;
        QTest::newRow("sign boundary, blanks") << u" 128.0.0.0  "_s << true << u"80000000"_s;
        QTest::newRow("zeros inside octets") << u"100.205.10.0"_s << true << u"64CD0A00"_s;
        QTest::newRow("slash cut") << u"1.2.3.4/40000"_s << true << u"01020304"_s;
        QTest::newRow("leading zero") << u"10.0.0.01"_s << false << u"0A000001"_s;
        QTest::newRow("modulo 256") << u"300.-1.0.255"_s << false << u"2CFF00FF"_s;
        QTest::newRow("missing octets") << u"1.2"_s << false << u"01020000"_s;
        QTest::newRow("hex and blanks") << u"&HFF.1 6.&hFFFF.0"_s << false << u"FF10FF00"_s;
        QTest::newRow("overflow") << u"0.-32769.0.0"_s << false << QString();
    }
    // Valid text reads back as typed (without blanks and slash); every form agrees.
    void addressForms()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(QString, hex);
        QCOMPARE(Is_Valid_Address(text), valid);
        if (hex.isEmpty()) {
            QVERIFY_THROWS_EXCEPTION(OverflowError, Address_To_Hex(text));
            return;
        }
        QCOMPARE(Address_To_Hex(text), hex);
        const AddressNumber number = Address_To_Number(text);
        QCOMPARE(quint32(number), hex.toUInt(nullptr, 16));
        QCOMPARE(Number_To_Address(number),
                 valid ? text.section(u'/', 0, 0).trimmed() : Hex_To_Address(hex));
    }

    // Read_Number, then the 16-bit value settings and octets take from it (0x10000: overflow).
    void numberReader_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("read");
        QTest::addColumn<int>("int16");
        QTest::newRow("blanks inside") << u" 1\t2\n3 "_s << 123.0 << 123;
        QTest::newRow("sign and point, to even") << u"-2.5x"_s << -2.5 << -2;
        QTest::newRow("point then exponent") << u"5.E2"_s << 500.0 << 500;
        QTest::newRow("rounds over") << u"32767.5"_s << 32767.5 << 0x10000;
        QTest::newRow("hex 16-bit") << u"&HFFFF"_s << -1.0 << -1;
        QTest::newRow("hex 32-bit") << u"&H10000"_s << 65536.0 << 0x10000;
        QTest::newRow("long digits") << u"1"_s + QString(400, u'0') << qInf() << 0x10000;
    }
    void numberReader()
    {
        QFETCH(QString, text);
        QFETCH(int, int16);
        QTEST(Read_Number(text), "read");
        if (int16 == 0x10000)
            QVERIFY_THROWS_EXCEPTION(OverflowError, To_Int16(Read_Number(text)));
        else
            QCOMPARE(int(To_Int16(Read_Number(text))), int16);
    }

    // A tab splits the text into the two-address form; otherwise it is one text. The outcome
    // is "first last size", or the refusal.
    void rangeForms_data()
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

    void rangeForms()
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

QTEST_APPLESS_MAIN(TestIpFunctions)
#include "tst_ip_functions.moc"
