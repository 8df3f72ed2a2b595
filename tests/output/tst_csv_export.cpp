#include "app/BuildVersion.h"
#include "output/CsvExport.h"
#include "scan/components/ResultGrid.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTest>

using Rows = QList<QStringList>;

static const QDateTime Afternoon(QDate(1999, 8, 23), QTime(15, 5, 12));
static const QLocale Us(QLocale::English, QLocale::UnitedStates);

class TestCsvExport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void layout_data()
    {
        QTest::addColumn<Rows>("rows");        // three fields each
        QTest::addColumn<QByteArray>("lines"); // after the four comment lines
        QTest::addColumn<Rows>("read");        // by a CSV reader; empty: as `rows`
        QTest::newRow("empty table: four lines") << Rows{} << QByteArray() << Rows{};
        QTest::newRow("quoted only where needed, UTF-8")
            << Rows{{"10.0.0.7", " resolving ...", "h\u00f6st"},
                    {"a,b", "say \"hi\"", "a\nb"},
                    {"c\rd", "", ""}}
            << QByteArray("10.0.0.7, resolving ...,h\xc3\xb6st\r\n"
                          "\"a,b\",\"say \"\"hi\"\"\",\"a\nb\"\r\n\"c\rd\",,\r\n")
            << Rows{};
        // Names from the hosts file would open as formulas in a spreadsheet.
        QTest::newRow("formulas kept as text")
            << Rows{{"=HYPERLINK(\"http://x\",\"y\")", "+1+2", "@SUM(1+1)"},
                    {"-cmd", "\tx", "\rx"},
                    {"a=b", "host-1", " -x"}}
            << QByteArray("\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\",'+1+2,'@SUM(1+1)\r\n"
                          "'-cmd,'\tx,\"'\rx\"\r\na=b,host-1, -x\r\n")
            << Rows{{"'=HYPERLINK(\"http://x\",\"y\")", "'+1+2", "'@SUM(1+1)"},
                    {"'-cmd", "'\tx", "'\rx"},
                    {"a=b", "host-1", " -x"}};
        QTest::newRow("count beyond 16 bits")
            << Rows(40000, QStringList(3)) << QByteArray(",,\r\n").repeated(40000) << Rows{};
    }
    void layout()
    {
        QFETCH(Rows, rows);
        QFETCH(QByteArray, lines);
        QFETCH(Rows, read);
        ResultGrid table;
        table.setRows(rows.size() + 1);
        for (qsizetype cell = 0; cell < rows.size() * 3; ++cell) {
            table.setRow(cell / 3 + 1);
            table.setCol(cell % 3);
            table.setText(rows[cell / 3][cell % 3]);
        }
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        // A line break in a range box would start a bogus data line.
        QCOMPARE(
            CsvExport::write(buffer, table, "10.0.0.1\n", "10.0.0.254\r", Afternoon, Us).records,
            rows.size());
        QCOMPARE(buffer.data(), "# Scan from 10.0.0.1  to 10.0.0.254 \r\n"
                                "# Exported from Zarnholt Vantrel, Version " VANTREL_VERSION_TEXT
                                "\r\n"
                                "# 8/23/1999 3:05:12 PM\r\n"
                                "# \r\n" +
                                    lines);

        QProcess reader; // a real CSV reader, past the four comment lines
        reader.start("python3",
                     {"-c", "import csv, json, sys; f = open(0, encoding='utf-8', newline=''); "
                            "[f.readline() for _ in range(4)]; "
                            "json.dump(list(csv.reader(f, strict=True)), sys.stdout)"});
        if (!reader.waitForStarted())
            QSKIP("python3 is needed to read the file back");
        reader.write(buffer.data());
        reader.closeWriteChannel();
        QVERIFY(reader.waitForFinished());
        Rows records;
        for (const auto &record : QJsonDocument::fromJson(reader.readAllStandardOutput()).array())
            records << record.toVariant().toStringList();
        QCOMPARE(records, read.isEmpty() ? rows : read);
    }

    void generalDate_data()
    {
        QTest::addColumn<QLocale::Language>("language");
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, QLocale::Language language, QTime time,
                            const char *expected) {
            QTest::newRow(name) << language << time << QString::fromUtf8(expected);
        };
        row("midnight: date alone", QLocale::English, QTime(0, 0), "8/23/1999");
        row("second after midnight", QLocale::English, QTime(0, 0, 1), "8/23/1999 12:00:01 AM");
        row("zone before time", QLocale::Chinese, QTime(15, 5, 12), "1999/8/23 15:05:12");
        row("zone in brackets", QLocale::Spanish, QTime(15, 5, 12), "23/8/1999 15:05:12");
        row("quoted literals", QLocale::Bulgarian, QTime(15, 5, 12),
            "23.08.1999 \u0433. 15:05:12 \u0447.");
    }
    void generalDate()
    {
        QFETCH(QLocale::Language, language);
        QFETCH(QTime, time);
        QTEST(::generalDate(QDateTime(Afternoon.date(), time), QLocale(language)), "expected");
    }
};

QTEST_GUILESS_MAIN(TestCsvExport)
#include "tst_csv_export.moc"
