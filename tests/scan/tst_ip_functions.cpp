#include "scan/IP_Functions.h"

#include <QTest>

#include <limits>

using namespace IP_Functions;
using namespace Qt::StringLiterals;

// fuzz_is_valid_address checks the accepted form of an address against random input and
// every printed address against that form, and the scan engine's tests walk blanks, a "/"
// tail and the sign boundary; the rows here are what neither can judge.
class TestIpFunctions : public QObject
{
    Q_OBJECT
private Q_SLOTS:
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
        QTest::newRow("sign and point, to even") << u"-2.5.1x"_s << -2.5 << qint64(-2) << -2;
        QTest::newRow("exponent without digits") << u"3.5e+"_s << 3.5 << qint64(3) << 4;
        QTest::newRow("point then exponent") << u"5.E2"_s << 500.0 << qint64(5) << 500;
        QTest::newRow("rounds over") << u"32767.5"_s << 32767.5 << qint64(32767) << over;
        QTest::newRow("hex 16-bit") << u"&HFFFF"_s << -1.0 << qint64(0) << -1;
        QTest::newRow("hex lower, blank") << u" & h7fff"_s << 32767.0 << qint64(0) << 32767;
        QTest::newRow("hex 32-bit") << u"&H10000"_s << 65536.0 << qint64(0) << over;
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
};

QTEST_APPLESS_MAIN(TestIpFunctions)
#include "tst_ip_functions.moc"
