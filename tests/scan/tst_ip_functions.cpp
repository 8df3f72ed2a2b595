#include "scan/IP_Functions.h"

#include <QTest>

#include <limits>

using namespace IP_Functions;
using namespace Qt::StringLiterals;

// fuzz_is_valid_address checks the accepted form of an address against random input and
// every printed address against that form; the rows here are what it cannot judge.
class TestIpFunctions : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void isValidAddress_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("number");
        QTest::newRow("lowest") << u"0.0.0.0"_s << true << 0;
        QTest::newRow("highest") << u"255.255.255.255"_s << true << -1;
        QTest::newRow("outer spaces") << u"  10.0.0.1   "_s << true << 167772161;
        QTest::newRow("slash suffix") << u"10.0.0.1/24"_s << true << 167772161;
        QTest::newRow("sign boundary low") << u"127.255.255.255"_s << true << 2147483647;
        QTest::newRow("sign boundary high")
            << u"128.0.0.0"_s << true << std::numeric_limits<int>::min();
        QTest::newRow("leading zero") << u"10.0.0.01"_s << false << 0;
        QTest::newRow("first octet above 32767") << u"40000.0.0.1"_s << false << 0;
        QTest::newRow("wraps to valid number") << u"266.0.0.1"_s << false << 0;
    }

    void isValidAddress()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(int, number);
        const QString before = text;
        QCOMPARE(Is_Valid_Address(text), valid);
        QCOMPARE(text, before);
        if (valid) {
            QCOMPARE(Address_To_Number(text), number);
            QCOMPARE(Number_To_Address(number), text.trimmed()); // the text was cut at the slash
        }
    }

    void addressToHex_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("hex"); // empty: overflow expected
        QTest::newRow("example") << u"10.20.30.40"_s << u"0A141E28"_s;
        QTest::newRow("modulo 256") << u"300.-1.0.255"_s << u"2CFF00FF"_s;
        QTest::newRow("missing octets") << u"1.2"_s << u"01020000"_s;
        QTest::newRow("fourth takes rest") << u"1.2.3.4.5"_s << u"01020304"_s;
        QTest::newRow("hex and blanks") << u"&HFF.1 6.&hFFFF.0"_s << u"FF10FF00"_s;
        QTest::newRow("slash cut") << u"1.2.3.4/40000"_s << u"01020304"_s;
        QTest::newRow("overflow first") << u"32768.0.0.0"_s << QString();
        QTest::newRow("overflow second") << u"0.-32769.0.0"_s << QString();
        QTest::newRow("long hex overflows") << u"&H10000.0.0.0"_s << QString();
    }

    void addressToHex()
    {
        QFETCH(QString, text);
        QFETCH(QString, hex);
        if (hex.isEmpty()) {
            QVERIFY_THROWS_EXCEPTION(OverflowError, Address_To_Hex(text));
            QVERIFY(!Is_Valid_Address(text));
        } else {
            QCOMPARE(Address_To_Hex(text), hex);
            QCOMPARE(Hex_To_Address(hex), Number_To_Address(Address_To_Number(text)));
        }
    }

    void readNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        const double infinity = std::numeric_limits<double>::infinity();
        QTest::newRow("none") << u"abc"_s << 0.0;
        QTest::newRow("blanks inside") << u" 1\t2\n3 "_s << 123.0;
        QTest::newRow("sign and point") << u"-2.5x"_s << -2.5;
        QTest::newRow("second point stops") << u"1.2.3"_s << 1.2;
        QTest::newRow("exponent without digits") << u"7e+"_s << 7.0;
        QTest::newRow("leading point") << u"-.5"_s << -0.5;
        QTest::newRow("point then exponent") << u"5.E2"_s << 500.0;
        QTest::newRow("hex 16-bit") << u"&HFFFF"_s << -1.0;
        QTest::newRow("hex lower") << u" & h7fff"_s << 32767.0;
        QTest::newRow("hex 32-bit") << u"&H10000"_s << 65536.0;
        QTest::newRow("hex without digits") << u"&Hxyz"_s << 0.0;
        QTest::newRow("huge exponent") << u"1e99999999999999999999"_s << infinity;
        QTest::newRow("long digits") << (u"1"_s + QString(400, u'0')) << infinity;
    }

    void readNumber()
    {
        QFETCH(QString, text);
        QTEST(Read_Number(text), "value");
    }

    void toInt16_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("expected");
        QTest::addColumn<bool>("overflow");
        QTest::newRow("2.5 to even") << 2.5 << 2 << false;
        QTest::newRow("3.5 to even") << 3.5 << 4 << false;
        QTest::newRow("-32768.5 to even") << -32768.5 << -32768 << false;
        QTest::newRow("32767.5 rounds over") << 32767.5 << 0 << true;
        QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << 0 << true;
        QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN() << 0 << true;
    }

    void toInt16()
    {
        QFETCH(double, value);
        QFETCH(bool, overflow);
        if (overflow)
            QVERIFY_THROWS_EXCEPTION(OverflowError, To_Int16(value));
        else
            QTEST(int(To_Int16(value)), "expected");
    }

    void addressSpan_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("end");
        QTest::addColumn<qint64>("span");
        QTest::newRow("octet carry") << u"10.0.0.255"_s << u"10.0.1.0"_s << qint64(1);
        QTest::newRow("sign boundary") << u"127.255.255.255"_s << u"128.0.0.0"_s << qint64(1);
        QTest::newRow("negative") << u"200.1.2.3"_s << u"200.1.2.4"_s << qint64(1);
        QTest::newRow("across sign") << u"127.255.255.250"_s << u"128.0.0.5"_s << qint64(11);
        QTest::newRow("whole space") << u"0.0.0.0"_s << u"255.255.255.255"_s << 4294967295LL;
        QTest::newRow("whole space back") << u"255.255.255.255"_s << u"0.0.0.0"_s << -4294967295LL;
    }

    // Rows one address apart also check Next_Address; the last address wraps to the first.
    void addressSpan()
    {
        QFETCH(QString, start);
        QFETCH(QString, end);
        QFETCH(qint64, span);
        QCOMPARE(Address_Span_Of(Address_To_Number(start), Address_To_Number(end)), span);
        if (span == 1 || span == -4294967295LL)
            QCOMPARE(Number_To_Address(Next_Address(Address_To_Number(start))), end);
    }

    void leadingNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("value");
        QTest::newRow("tag") << u"17:10.0.0.1;2"_s << qint64(17);
        QTest::newRow("negative") << u"-42x"_s << qint64(-42);
        QTest::newRow("none") << u"Interactive"_s << qint64(0);
        QTest::newRow("blank first") << u" 5"_s << qint64(0);
        QTest::newRow("saturates") << QString(40, u'9') << std::numeric_limits<qint64>::max();
        QTest::newRow("saturates low")
            << (u"-"_s + QString(40, u'9')) << std::numeric_limits<qint64>::min();
    }

    void leadingNumber()
    {
        QFETCH(QString, text);
        QTEST(qint64(Leading_Number(text)), "value");
    }
};

QTEST_APPLESS_MAIN(TestIpFunctions)
#include "tst_ip_functions.moc"
