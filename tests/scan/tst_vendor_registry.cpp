// Makers of hardware addresses from the IEEE registries' CSV files: the records as the
// registries write them, the longest prefix, private addresses, the newer of two copies,
// and the files the ieee-data package installs.
#include "scan/components/VendorRegistry.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Records in the registries' own form: quoted fields with commas, doubled quotes and line
// breaks, CR LF line ends, a heading line.
const QByteArray Sample = "Registry,Assignment,Organization Name,Organization Address\r\n"
                          "MA-L,001132,Synology Incorporated,\"9F., No.1, Yuandong Rd.\r\n"
                          "New Taipei City  TW 220632 \"\r\n"
                          "MA-L,70B3D5,IEEE Registration Authority,445 Hoes Lane\r\n"
                          "MA-S,70B3D5F2F,TELEPLATFORMS,\"Polbina st., 3/1 Moscow\"\r\n"
                          "MA-M,741AE09,Private,\r\n"
                          "MA-L,3C5AB4,\"Google, Inc.\",\"1600 Amphitheatre, Mountain View\"\r\n"
                          "MA-L,A4CDEF,\"Quoted \"\"Name\"\" Ltd\",x\r\n"
                          "MA-L,GGGGGG,Not hex,x\r\n"
                          "MA-L,12345,Five digits,x\r\n"
                          "MA-L,001133,,no name\r\n"
                          "MA-L,001132,Second Registration,x\r\n"
                          "MA-M,3C5AB41,Longer Prefix GmbH,x"; // no final line end

bool writeFile(const QString &path, const QByteArray &bytes, const QDateTime &modified)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return false;
    file.close();
    return file.open(QIODevice::ReadWrite) &&
           file.setFileTime(modified, QFileDevice::FileModificationTime);
}

} // namespace

class TestVendorRegistry : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void makers_data()
    {
        QTest::addColumn<QString>("hardware");
        QTest::addColumn<QString>("vendor");
        QTest::newRow("24-bit prefix, quoted address over lines")
            << u"00:11:32:aa:bb:01"_s << u"Synology Incorporated"_s;
        QTest::newRow("36-bit prefix beats its 24-bit block")
            << u"70:b3:d5:f2:f0:04"_s << u"TELEPLATFORMS"_s;
        QTest::newRow("rest of the block")
            << u"70:b3:d5:00:00:01"_s << u"IEEE Registration Authority"_s;
        QTest::newRow("28-bit prefix beats its 24-bit block")
            << u"3C:5A:B4:1F:00:00"_s << u"Longer Prefix GmbH"_s;
        QTest::newRow("quoted name with a comma") << u"3c:5a:b4:20:00:00"_s << u"Google, Inc."_s;
        QTest::newRow("doubled quotes") << u"a4:cd:ef:00:00:00"_s << u"Quoted \"Name\" Ltd"_s;
        QTest::newRow("registered as private") << u"74:1a:e0:90:00:01"_s << u"Private"_s;
        QTest::newRow("locally administered, whatever the prefix")
            << u"02:11:32:aa:bb:01"_s << u"Private address"_s;
        QTest::newRow("locally administered, random")
            << u"da:a1:19:00:00:01"_s << u"Private address"_s;
        QTest::newRow("not registered") << u"00:11:34:00:00:01"_s << QString();
        QTest::newRow("record without a name") << u"00:11:33:00:00:01"_s << QString();
        QTest::newRow("five hex digits are no prefix") << u"01:23:45:00:00:01"_s << QString();
        QTest::newRow("no hardware address") << u"00-11-32-aa-bb-01"_s << QString();
    }
    void makers()
    {
        QFETCH(QString, hardware);
        VendorRegistry registry;
        registry.addCsv(Sample);
        QCOMPARE(registry.size(), std::size_t(7));
        const auto address = HardwareAddress::fromText(hardware);
        QCOMPARE(address.has_value(), !hardware.contains(u'-'));
        if (!address)
            return;
        QCOMPARE(address->text(), hardware.toLower());
        QTEST(registry.vendorOf(*address), "vendor");
    }

    // Of the refreshed copy (first folder) and the packaged one, each registry comes from
    // the newer; a registry missing everywhere leaves its makers out, silently.
    void newerCopyWins_data()
    {
        QTest::addColumn<int>("refreshedAgeDays"); // -1: no refreshed copy
        QTest::addColumn<QString>("vendor");
        QTest::newRow("refreshed is newer") << 1 << u"Refreshed Name"_s;
        QTest::newRow("packaged is newer") << 400 << u"Packaged Name"_s;
        QTest::newRow("packaged only") << -1 << u"Packaged Name"_s;
    }
    void newerCopyWins()
    {
        QFETCH(int, refreshedAgeDays);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString refreshed = dir.filePath(u"var"_s);
        const QString packaged = dir.filePath(u"share"_s);
        QVERIFY(QDir().mkpath(refreshed) && QDir().mkpath(packaged));
        const QDateTime now = QDateTime::currentDateTime();
        QVERIFY(writeFile(packaged + u"/oui.csv"_s, "MA-L,001132,Packaged Name,x\n",
                          now.addDays(-100)));
        if (refreshedAgeDays >= 0) {
            QVERIFY(writeFile(refreshed + u"/oui.csv"_s, "MA-L,001132,Refreshed Name,x\n",
                              now.addDays(-refreshedAgeDays)));
        }
        VendorRegistry registry;
        registry.load({refreshed, packaged, dir.filePath(u"missing"_s)});
        QCOMPARE(registry.sources().size(), 1);
        QTEST(registry.vendorOf(*HardwareAddress::fromText(u"00:11:32:00:00:01"_s)), "vendor");
        QCOMPARE(registry.vendorOf(*HardwareAddress::fromText(u"02:11:32:00:00:01"_s)),
                 u"Private address"_s);

        VendorRegistry none;
        none.load({dir.filePath(u"missing"_s)});
        QCOMPARE(none.size(), std::size_t(0));
        QCOMPARE(none.vendorOf(*HardwareAddress::fromText(u"00:11:32:00:00:01"_s)), QString());
    }

    // The registries ieee-data installs: all four read, each kind of prefix found.
    void installedRegistries()
    {
        VendorRegistry registry;
        registry.load();
        if (registry.sources().isEmpty())
            QSKIP("the ieee-data package is not installed");
        QCOMPARE(registry.sources().size(), 4);
        QVERIFY2(registry.size() > 40000, qPrintable(QString::number(registry.size())));
        const auto vendor = [&](const QString &text) {
            return registry.vendorOf(*HardwareAddress::fromText(text));
        };
        QCOMPARE(vendor(u"00:11:32:00:00:01"_s), u"Synology Incorporated"_s); // MA-L
        QCOMPARE(vendor(u"70:b3:d5:f2:f0:04"_s), u"TELEPLATFORMS"_s);         // MA-S
        QVERIFY(!vendor(u"00:50:c2:7d:50:00"_s).isEmpty());                   // IAB
        QVERIFY(!vendor(u"20:85:93:b0:00:00"_s).isEmpty());                   // MA-M
    }
};

QTEST_MAIN(TestVendorRegistry)
#include "tst_vendor_registry.moc"
