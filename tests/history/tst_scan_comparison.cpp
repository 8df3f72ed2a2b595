// The comparison of two row sets and its CSV form.
#include "app/BuildVersion.h"
#include "history/ScanComparison.h"

#include <QBuffer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// "10.0.0.1=a 10.0.0.2=? 10.0.0.3=": address=name, "?" for a name not known.
QList<HistoryRow> rowsOf(const QString &text)
{
    QList<HistoryRow> rows;
    for (const QString &item : text.split(u' ', Qt::SkipEmptyParts)) {
        const QString name = item.section(u'=', 1);
        rows.append(
            {item.section(u'=', 0, 0), u"1 ms"_s, name == u"?" ? QString() : name, name != u"?"});
    }
    return rows;
}

// "new 10.0.0.3 -> c", "renamed 10.0.0.1 a -> b", "gone 10.0.0.2 b ->", joined by "|".
QString describe(const QList<ScanComparison::Change> &changes)
{
    QStringList out;
    for (const ScanComparison::Change &c : changes)
        out << (ScanComparison::kindName(c.kind) + u' ' + c.address + u' ' + c.then + u" -> "_s +
                c.now)
                   .trimmed();
    return out.join(u'|');
}

} // namespace

class TestScanComparison : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void compare_data()
    {
        QTest::addColumn<QString>("then");
        QTest::addColumn<QString>("now");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, const char *then, const char *now,
                            const char *expected) {
            QTest::newRow(name) << QString::fromLatin1(then) << QString::fromLatin1(now)
                                << QString::fromLatin1(expected);
        };
        row("same", "10.0.0.1=a 10.0.0.2=b", "10.0.0.2=b 10.0.0.1=a", "");
        row("first scan empty", "", "10.0.0.2=b 10.0.0.1=", "new 10.0.0.1  ->|new 10.0.0.2  -> b");
        row("second scan empty", "10.0.0.1=a", "", "gone 10.0.0.1 a ->");
        row("new, gone and renamed, grouped", "10.0.0.1=a 10.0.0.2=b 10.0.0.3=c",
            "10.0.0.4=d 10.0.0.3=x 10.0.0.1=a",
            "new 10.0.0.4  -> d|gone 10.0.0.2 b ->|renamed 10.0.0.3 c -> x");
        row("name lost is a rename", "10.0.0.1=a", "10.0.0.1=", "renamed 10.0.0.1 a ->");
        row("unknown name is no rename", "10.0.0.1=a 10.0.0.2=?", "10.0.0.1=? 10.0.0.2=b", "");
        row("duplicates count once, first row wins", "10.0.0.1=a 10.0.0.1=z",
            "10.0.0.1=a 10.0.0.1=y 10.0.0.2=b 10.0.0.2=b", "new 10.0.0.2  -> b");
        row("ordered by address value, high half last", "",
            "200.0.0.1= 10.0.0.10= 10.0.0.9= 9.255.255.255=",
            "new 9.255.255.255  ->|new 10.0.0.9  ->|new 10.0.0.10  ->|new 200.0.0.1  ->");
    }
    void compare()
    {
        QFETCH(QString, then);
        QFETCH(QString, now);
        QFETCH(QString, expected);
        QCOMPARE(describe(ScanComparison::compare(rowsOf(then), rowsOf(now))), expected);
    }

    void csvHasCommentHeaderAndQuotedFields()
    {
        ScanRecord then;
        then.firstAddress = u"10.0.0.1"_s;
        then.lastAddress = u"10.0.0.9"_s;
        then.started = QDateTime(QDate(2026, 3, 1), QTime(8, 0, 5));
        ScanRecord now = then;
        now.started = QDateTime(QDate(2026, 3, 2), QTime(9, 30, 0));
        const QList<ScanComparison::Change> changes = {
            {ScanComparison::Kind::New, u"10.0.0.4"_s, {}, u"a,b"_s},
            {ScanComparison::Kind::Renamed, u"10.0.0.5"_s, u"say \"x\""_s, u"=y"_s}};
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(ScanComparison::writeCsv(buffer, then, now, changes, QLocale::c()).ok);
        QCOMPARE(buffer.data(),
                 "# Previous scan from 10.0.0.1 to 10.0.0.9, 1 Mar 2026 08:00:05\r\n"
                 "# This scan from 10.0.0.1 to 10.0.0.9, 2 Mar 2026 09:30:00\r\n"
                 "# Compared in Zarnholt Vantrel, Version " VANTREL_VERSION_TEXT "\r\n"
                 "# \r\nnew,10.0.0.4,,\"a,b\"\r\nrenamed,10.0.0.5,\"say \"\"x\"\"\",'=y\r\n");
        QCOMPARE(QJsonDocument(ScanComparison::toJson(changes[1])).toJson(QJsonDocument::Compact),
                 "{\"address\":\"10.0.0.5\",\"change\":\"renamed\",\"now\":\"=y\",\"then\":\"say "
                 "\\\"x\\\"\"}");
    }
};

QTEST_GUILESS_MAIN(TestScanComparison)
#include "tst_scan_comparison.moc"
