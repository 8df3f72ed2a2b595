// The comparison of two row sets and its CSV form.
#include "history/ScanComparison.h"

#include <QBuffer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

// "10.0.0.1=a 10.0.0.2=? 10.0.0.3=": address=name, "?" for a name not known.
QList<HistoryRow> rowsOf(const QString &text)
{
    QList<HistoryRow> rows;
    for (const QString &item : text.split(u' ', Qt::SkipEmptyParts)) {
        const QString name = item.section(u'=', 1);
        rows.append({item.section(u'=', 0, 0), QStringLiteral("1 ms"),
                     name == u"?" ? QString() : name, name != u"?"});
    }
    return rows;
}

// "new 10.0.0.3 -> c", "renamed 10.0.0.1 a -> b", "gone 10.0.0.2 b ->", joined by "|".
QString describe(const QList<ScanComparison::Change> &changes)
{
    QStringList out;
    for (const ScanComparison::Change &c : changes)
        out << (ScanComparison::kindName(c.kind) + u' ' + c.address + u' ' + c.then +
                QStringLiteral(" -> ") + c.now)
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
        QTest::newRow("same") << "10.0.0.1=a 10.0.0.2=b"
                              << "10.0.0.2=b 10.0.0.1=a"
                              << "";
        QTest::newRow("first scan empty") << ""
                                          << "10.0.0.2=b 10.0.0.1="
                                          << "new 10.0.0.1  ->|new 10.0.0.2  -> b";
        QTest::newRow("second scan empty") << "10.0.0.1=a"
                                           << ""
                                           << "gone 10.0.0.1 a ->";
        QTest::newRow("new, gone and renamed, grouped")
            << "10.0.0.1=a 10.0.0.2=b 10.0.0.3=c"
            << "10.0.0.4=d 10.0.0.3=x 10.0.0.1=a"
            << "new 10.0.0.4  -> d|gone 10.0.0.2 b ->|renamed 10.0.0.3 c -> x";
        QTest::newRow("name lost is a rename") << "10.0.0.1=a"
                                               << "10.0.0.1="
                                               << "renamed 10.0.0.1 a ->";
        QTest::newRow("unknown name is no rename") << "10.0.0.1=a 10.0.0.2=?"
                                                   << "10.0.0.1=? 10.0.0.2=b"
                                                   << "";
        QTest::newRow("duplicates count once, first row wins")
            << "10.0.0.1=a 10.0.0.1=z"
            << "10.0.0.1=a 10.0.0.1=y 10.0.0.2=b 10.0.0.2=b"
            << "new 10.0.0.2  -> b";
        QTest::newRow("ordered by address value, high half last")
            << ""
            << "200.0.0.1= 10.0.0.10= 10.0.0.9= 9.255.255.255="
            << "new 9.255.255.255  ->|new 10.0.0.9  ->|new 10.0.0.10  ->|new 200.0.0.1  ->";
    }
    void compare()
    {
        QFETCH(QString, then);
        QFETCH(QString, now);
        QFETCH(QString, expected);
        const auto changes = ScanComparison::compare(rowsOf(then), rowsOf(now));
        QCOMPARE(describe(changes), expected);
        const ScanComparison::Counts counts = ScanComparison::count(changes);
        QCOMPARE(counts.total(), changes.size());
    }

    void csvHasCommentHeaderAndQuotedFields()
    {
        ScanRecord then;
        then.firstAddress = QStringLiteral("10.0.0.1");
        then.lastAddress = QStringLiteral("10.0.0.9");
        then.started = QDateTime(QDate(2026, 3, 1), QTime(8, 0, 5));
        ScanRecord now = then;
        now.started = QDateTime(QDate(2026, 3, 2), QTime(9, 30, 0));
        const QList<ScanComparison::Change> changes = {
            {ScanComparison::Kind::New, QStringLiteral("10.0.0.4"), {}, QStringLiteral("a,b")},
            {ScanComparison::Kind::Renamed, QStringLiteral("10.0.0.5"), QStringLiteral("say \"x\""),
             QStringLiteral("=y")}};
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(ScanComparison::writeCsv(buffer, then, now, changes, QLocale::c()).ok);
        const QList<QByteArray> lines = buffer.data().split('\n');
        QCOMPARE(lines.size(), 7);
        QCOMPARE(lines[0], "# Previous scan from 10.0.0.1 to 10.0.0.9, 1 Mar 2026 08:00:05\r");
        QCOMPARE(lines[1], "# This scan from 10.0.0.1 to 10.0.0.9, 2 Mar 2026 09:30:00\r");
        QVERIFY(lines[2].startsWith("# Compared in Zarnholt Vantrel, Version "));
        QCOMPARE(lines[3], "# \r");
        QCOMPARE(lines[4], "new,10.0.0.4,,\"a,b\"\r");
        QCOMPARE(lines[5], "renamed,10.0.0.5,\"say \"\"x\"\"\",'=y\r");
        QCOMPARE(lines[6], "");
        QCOMPARE(QJsonDocument(ScanComparison::toJson(changes[1])).toJson(QJsonDocument::Compact),
                 "{\"address\":\"10.0.0.5\",\"change\":\"renamed\",\"now\":\"=y\",\"then\":\"say "
                 "\\\"x\\\"\"}");
    }
};

QTEST_GUILESS_MAIN(TestScanComparison)
#include "tst_scan_comparison.moc"
