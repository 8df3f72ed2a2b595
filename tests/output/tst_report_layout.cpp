#include "app/BuildVersion.h"
#include "app/GeneralDate.h"
#include "output/ReportLayout.h"
#include "output/RtfFooter.h"
#include "scan/components/ResultGrid.h"

#include <QPdfWriter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// Builds reports into PDF files and reads them back as a reader would see them.
class TestReportLayout : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    const QDateTime moment{QDate(2026, 12, 5), QTime(14, 3, 7)};

    static QString address(int row)
    {
        return "10.0." + QString::number(row / 256) + '.' + QString::number(row % 256);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(dir.isValid());
        if (QStandardPaths::findExecutable("pdftotext").isEmpty())
            QSKIP("pdftotext (poppler-utils) is needed to read the reports back");
    }

    // The date is the user's regional text: whatever it holds stays text in the footer.
    void footerEscapesText()
    {
        const QString awkward = "a|b{c}\\d\\line";
        QCOMPARE(RtfFooter(RtfFooter::escaped(awkward), false).section(0),
                 (RtfFooter::Section{{{awkward, 0, 0, false}}}));
    }

    // Every row once, in table order, across the page breaks, with title, captions, footer
    // and logo on every page. Host names read as typed (no ligature glyphs), and a grid wider
    // than the paper keeps its addresses and times whole while the name column gives way.
    void pages_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("nameWidth");
        QTest::newRow("caption row only") << 0 << 3000;
        QTest::newRow("several pages") << 300 << 3000;
        QTest::newRow("grid wider than the paper") << 2 << 30000;
    }
    void pages()
    {
        QFETCH(int, rows);
        QFETCH(int, nameWidth);
        const QString title = "Vantrel from 10.0.0.1 to 10.0.1.44";
        const QList<int> widths = {1800, 2000, nameWidth};
        QStringList cells = {"IP Address", "Response Time", "DNS Lookup"}, expected;
        for (int row = 1; row <= rows; ++row) {
            expected << address(row);
            cells << address(row) << QString::number(row * 617) + " ms"
                  << "office" + QString::number(row) + ".filer.lab";
        }
        ReportLayout layout;
        {
            ResultGrid grid;
            grid.setRows(1 + rows);
            for (qsizetype at = 0; at < cells.size(); ++at) {
                grid.setRow(at / 3);
                grid.setCol(int(at % 3));
                grid.setText(cells[at]);
                grid.setColWidth(int(at % 3), widths[at % 3]);
            }
            layout.begin(title, RtfFooter::footerTemplate(moment));
            layout.addGrid(grid);
            layout.end();
            grid.setRows(1); // the report is a snapshot: later changes of the table never reach it
        }
        QCOMPARE(layout.pageCount() == 1, rows < 100); // and never no page at all
        const int available =
            layout.pageSize().width() - ReportLayout::LeftMargin - ReportLayout::RightMargin;
        const auto &columns = layout.columns();
        for (int col = 0; col < 3 && nameWidth < available / 2; ++col)
            QCOMPARE(columns[std::size_t(col)].width, widths[col]);
        if (nameWidth > available)
            QCOMPARE(columns[2].left + columns[2].width, ReportLayout::LeftMargin + available);
        QImage logo(32, 32, QImage::Format_RGB32);
        logo.fill(Qt::darkCyan);
        for (int page = 1; page <= layout.pageCount(); ++page)
            layout.addPicture(page, logo, QRect(720, layout.pageSize().height() - 940, 200, 200));
        // Printed into a PDF file and read back as a reader would see it, one entry per page.
        const QString file = dir.filePath(QTest::currentDataTag() + QString(".pdf"));
        {
            QPdfWriter writer(file);
            layout.setUpDevice(writer);
            QVERIFY(layout.print(writer));
        }
        QProcess pdftotext;
        pdftotext.start("pdftotext", {"-layout", file, "-"});
        QVERIFY(pdftotext.waitForFinished(60000) && pdftotext.exitCode() == 0);
        QStringList pages = QString::fromUtf8(pdftotext.readAllStandardOutput()).split('\f');
        pages.removeLast(); // after the last page break
        QCOMPARE(pages.size(), layout.pageCount());
        const QString date = generalDate(moment).simplified();
        for (int page = 1; page <= pages.size(); ++page) {
            const QString text = pages[page - 1].simplified();
            for (const QString &part : {title, QString("IP Address Response Time DNS Lookup"),
                                        QString("Zarnholt Vantrel Version " VANTREL_VERSION_TEXT),
                                        date, "Page " + QString::number(page)})
                QVERIFY2(text.contains(part), qPrintable(part + " not in: " + text));
        }
        const QString all = pages.join('\n');
        for (const QString &text : cells)
            QVERIFY2(all.contains(text), qPrintable(text + " not in: " + all));
        const QRegularExpression addressPattern(R"(\b10\.0\.\d+\.\d+\b)");
        QStringList found;
        for (const auto &match : addressPattern.globalMatch(QString(all).remove(title)))
            found << match.captured();
        QCOMPARE(found, expected);

        // The logo on every page: two heading lines, then one line per image.
        QProcess images;
        images.start("pdfimages", {"-list", file});
        QVERIFY(images.waitForFinished(60000));
        QCOMPARE(images.readAllStandardOutput().count('\n') - 2, layout.pageCount());
    }
};

QTEST_MAIN(TestReportLayout)
#include "tst_report_layout.moc"
