#include "app/BuildVersion.h"
#include "app/GeneralDate.h"
#include "output/CsvExport.h"
#include "output/print/ReportLayout.h"
#include "output/RtfFooter.h"
#include "scan/components/ResultGrid.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPdfWriter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using Rows = QList<QStringList>;

// The exported file and the printed report, read back by independent readers: Python's csv
// module, and pdftotext of a PDF file.
class TestReadBack : public QObject
{
    Q_OBJECT

    // The table as the window keeps it: three columns, filled row by row from the captions.
    static void fill(ResultGrid &grid, const QStringList &cells)
    {
        grid.setRows(cells.size() / 3);
        for (qsizetype at = 0; at < cells.size(); ++at) {
            grid.setRow(at / 3);
            grid.setCol(int(at % 3));
            grid.setText(cells[at]);
        }
    }
    static QByteArray output(const QString &program, const QStringList &arguments,
                             const QByteArray &input = {})
    {
        QProcess process;
        process.start(program, arguments);
        process.write(input);
        process.closeWriteChannel();
        process.waitForFinished(60000);
        return process.readAllStandardOutput();
    }

private Q_SLOTS:
    void csv_data()
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
    void csv()
    {
        QFETCH(Rows, rows);
        QFETCH(QByteArray, lines);
        QFETCH(Rows, read);
        QStringList cells(3);
        for (const QStringList &row : std::as_const(rows))
            cells += row;
        ResultGrid table;
        fill(table, cells);
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        // A line break in a range box would start a bogus data line.
        const QDateTime afternoon(QDate(1999, 8, 23), QTime(15, 5, 12));
        const QLocale us(QLocale::English, QLocale::UnitedStates);
        QCOMPARE(
            CsvExport::write(buffer, table, "10.0.0.1\n", "10.0.0.254\r", afternoon, us).records,
            rows.size());
        QVERIFY(buffer.data().startsWith("# Scan from 10.0.0.1  to 10.0.0.254 \r\n# Exported"));
        QVERIFY(buffer.data().endsWith("\r\n# 8/23/1999 3:05:12 PM\r\n# \r\n" + lines));

        const QByteArray json =
            output("python3",
                   {"-c", "import csv, json, sys; f = open(0, encoding='utf-8', newline=''); "
                          "[f.readline() for _ in range(4)]; "
                          "json.dump(list(csv.reader(f, strict=True)), sys.stdout)"},
                   buffer.data());
        Rows records;
        for (const auto &record : QJsonDocument::fromJson(json).array())
            records << record.toVariant().toStringList();
        QCOMPARE(records, read.isEmpty() ? rows : read);
    }

    // A locale's short date and long time without the time zone, with four-digit years, and
    // the date alone at midnight.
    void generalDate()
    {
        const auto at = [](QTime time, QLocale::Language language) {
            return ::generalDate(QDateTime(QDate(1999, 8, 23), time), QLocale(language));
        };
        QCOMPARE(at(QTime(0, 0), QLocale::English), "8/23/1999");
        QCOMPARE(at(QTime(15, 5, 12), QLocale::Spanish), "23/8/1999 15:05:12"); // zone in brackets
        QCOMPARE(at(QTime(15, 5, 12), QLocale::Bulgarian), "23.08.1999 \u0433. 15:05:12 \u0447.");
    }

    // Every row once, in table order, across the page breaks, with title, captions and footer
    // on every page. Host names read as typed (no ligature glyphs), and a grid wider
    // than the paper keeps its addresses and times whole while the name column gives way.
    // A column narrower on screen than its text is widened where the paper has room.
    void report_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("nameWidth");
        QTest::addColumn<QString>("response"); // "": each row's own time
        QTest::newRow("caption row only") << 0 << 3000 << "";
        QTest::newRow("several pages") << 300 << 3000 << "";
        QTest::newRow("grid wider than the paper") << 2 << 30000 << "";
        QTest::newRow("failures wider than their column") << 3 << 1440 << "Request timed out";
    }
    void report()
    {
        QFETCH(int, rows);
        QFETCH(int, nameWidth);
        QFETCH(QString, response);
        const QString title = "Vantrel from 10.0.0.1 to 10.0.1.44";
        const QDateTime moment(QDate(2026, 12, 5), QTime(14, 3, 7));
        QStringList cells = {"IP Address", "Response Time", "DNS Lookup"}, addresses;
        for (int row = 1; row <= rows; ++row) {
            addresses << "10.0." + QString::number(row / 256) + '.' + QString::number(row % 256);
            cells << addresses.last()
                  << (response.isEmpty() ? QString::number(row * 617) + " ms" : response)
                  << "office" + QString::number(row) + ".filer.lab";
        }
        ResultGrid grid;
        fill(grid, cells);
        grid.setColWidth(2, nameWidth);
        ReportLayout layout;
        layout.begin(title, RtfFooter::footerTemplate(moment));
        layout.addGrid(grid);
        layout.end();
        grid.setRows(1); // the report is a snapshot: later changes of the table never reach it
        QCOMPARE(layout.pageCount() == 1, rows < 100); // and never no page at all
        const auto &names = layout.columns()[2];
        QVERIFY(names.left + names.width <= layout.pageSize().width() - ReportLayout::RightMargin);
        QTemporaryDir dir;
        const QString file = dir.filePath("report.pdf");
        {
            QPdfWriter writer(file);
            layout.setUpDevice(writer);
            QVERIFY(layout.print(writer));
        }
        // One entry per page, and an empty one after the last page break.
        const QStringList pages =
            QString::fromUtf8(output("pdftotext", {"-layout", file, "-"})).split('\f');
        QCOMPARE(pages.size(), layout.pageCount() + 1);
        for (int page = 1; page <= layout.pageCount(); ++page) {
            const QString text = pages[page - 1].simplified();
            for (const QString &part :
                 {title, QString("IP Address Response Time DNS Lookup"),
                  QString("Zarnholt Vantrel Version " VANTREL_VERSION_TEXT),
                  ::generalDate(moment).simplified(), "Page " + QString::number(page)})
                QVERIFY2(text.contains(part), qPrintable(part + " not in: " + text));
        }
        const QString all = pages.join('\n');
        for (const QString &text : cells)
            QVERIFY2(all.contains(text), qPrintable(text + " not in: " + all));
        QStringList found;
        for (const auto &match :
             QRegularExpression(R"(\b10\.0\.\d+\.\d+\b)").globalMatch(QString(all).remove(title)))
            found << match.captured();
        QCOMPARE(found, addresses);
    }
};

QTEST_MAIN(TestReadBack)
#include "tst_read_back.moc"
