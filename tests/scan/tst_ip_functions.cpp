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
    void addressForms_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("hex"); // empty: overflow expected
        QTest::newRow("highest") << u"255.255.255.255"_s << true << u"FFFFFFFF"_s;
        QTest::newRow("outer spaces") << u"  10.0.0.1   "_s << true << u"0A000001"_s;
        QTest::newRow("sign boundary high") << u"128.0.0.0"_s << true << u"80000000"_s;
        QTest::newRow("leading zero") << u"10.0.0.01"_s << false << u"0A000001"_s;
        QTest::newRow("wraps to valid number") << u"266.0.0.1"_s << false << u"0A000001"_s;
        QTest::newRow("modulo 256") << u"300.-1.0.255"_s << false << u"2CFF00FF"_s;
        QTest::newRow("missing octets") << u"1.2"_s << false << u"01020000"_s;
        QTest::newRow("fourth takes rest") << u"1.2.3.4.5"_s << false << u"01020304"_s;
        QTest::newRow("hex and blanks") << u"&HFF.1 6.&hFFFF.0"_s << false << u"FF10FF00"_s;
        QTest::newRow("slash cut") << u"1.2.3.4/40000"_s << true << u"01020304"_s;
        QTest::newRow("overflow first") << u"32768.0.0.0"_s << false << QString();
        QTest::newRow("overflow second") << u"0.-32769.0.0"_s << false << QString();
        QTest::newRow("long hex overflows") << u"&H10000.0.0.0"_s << false << QString();
    }

    // Valid text reads back as it was typed (without spaces and slash); every form agrees.
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

    // The two readers side by side: Read_Number (octets, settings), Leading_Number (tags),
    // and the octet's To_Int16 of what Read_Number read (0x10000: overflow expected).
    void numberReaders_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("read");
        QTest::addColumn<qint64>("leading");
        QTest::addColumn<int>("int16");
        const qint64 max = std::numeric_limits<qint64>::max(), min = -max - 1;
        const int over = 0x10000;
        QTest::newRow("none") << u"Interactive"_s << 0.0 << qint64(0) << 0;
        QTest::newRow("tag") << u"17:10.0.0.1;2"_s << 17.0 << qint64(17) << 17;
        QTest::newRow("blanks inside") << u" 1\t2\n3 "_s << 123.0 << qint64(0) << 123;
        QTest::newRow("sign and point, to even") << u"-2.5x"_s << -2.5 << qint64(-2) << -2;
        QTest::newRow("second point stops") << u"1.2.3"_s << 1.2 << qint64(1) << 1;
        QTest::newRow("exponent without digits") << u"3.5e+"_s << 3.5 << qint64(3) << 4;
        QTest::newRow("leading point") << u"-.5"_s << -0.5 << qint64(0) << 0;
        QTest::newRow("point then exponent") << u"5.E2"_s << 500.0 << qint64(5) << 500;
        QTest::newRow("lowest, to even") << u"-32768.5"_s << -32768.5 << qint64(-32768) << -32768;
        QTest::newRow("rounds over") << u"32767.5"_s << 32767.5 << qint64(32767) << over;
        QTest::newRow("hex 16-bit") << u"&HFFFF"_s << -1.0 << qint64(0) << -1;
        QTest::newRow("hex lower") << u" & h7fff"_s << 32767.0 << qint64(0) << 32767;
        QTest::newRow("hex 32-bit") << u"&H10000"_s << 65536.0 << qint64(0) << over;
        QTest::newRow("hex without digits") << u"&Hxyz"_s << 0.0 << qint64(0) << 0;
        QTest::newRow("huge exponent")
            << u"1e99999999999999999999"_s << qInf() << qint64(1) << over;
        QTest::newRow("long digits") << u"1"_s + QString(400, u'0') << qInf() << max << over;
        QTest::newRow("long negative") << u"-1"_s + QString(400, u'0') << -qInf() << min << over;
    }

    void numberReaders()
    {
        QFETCH(QString, text);
        QFETCH(int, int16);
        QTEST(Read_Number(text), "read");
        QTEST(qint64(Leading_Number(text)), "leading");
        if (int16 == 0x10000)
            QVERIFY_THROWS_EXCEPTION(OverflowError, To_Int16(Read_Number(text)));
        else
            QCOMPARE(int(To_Int16(Read_Number(text))), int16);
        QVERIFY_THROWS_EXCEPTION(OverflowError, To_Int16(qQNaN()));
    }

    void addressSpan_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("end");
        QTest::addColumn<qint64>("span");
        QTest::newRow("octet carry") << u"10.0.0.255"_s << u"10.0.1.0"_s << qint64(1);
        QTest::newRow("sign boundary") << u"127.255.255.255"_s << u"128.0.0.0"_s << qint64(1);
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
};

QTEST_APPLESS_MAIN(TestIpFunctions)
#include "tst_ip_functions.moc"
