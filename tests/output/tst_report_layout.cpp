#include "output/CsvExport.h"
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

    static void fill(ResultGrid &grid, int rows)
    {
        grid.setRows(1 + rows);
        const char *captions[] = {"IP Address", "Response Time", "DNS Lookup"};
        for (int col = 0; col < 3; ++col) {
            grid.setRow(0);
            grid.setCol(col);
            grid.setText(QString::fromLatin1(captions[col]));
            grid.setColWidth(col, 1800);
        }
        for (int row = 1; row <= rows; ++row) {
            grid.setRow(row);
            grid.setCol(0);
            grid.setText(address(row));
            grid.setCol(1);
            grid.setText(QString::number(row % 97) + " ms");
            grid.setCol(2);
            grid.setText("host-" + QString::number(row) + ".example");
        }
    }
    static QString address(int row)
    {
        return "10.0." + QString::number(row / 256) + '.' + QString::number(row % 256);
    }

    void build(ReportLayout &layout, const ResultGrid &grid, const QString &title)
    {
        layout.begin(title, RtfFooter::footerTemplate(moment));
        layout.addGrid(grid);
        layout.end();
        QImage logo(32, 32, QImage::Format_RGB32);
        logo.fill(Qt::darkCyan);
        for (int page = 1; page <= layout.pageCount(); ++page)
            layout.addPicture(page, logo, QRect(720, layout.pageSize().height() - 940, 200, 200));
    }

    // The PDF's text, one entry per page.
    QStringList printAndRead(const ReportLayout &layout, const QString &name)
    {
        const QString file = dir.filePath(name + ".pdf");
        {
            QPdfWriter writer(file);
            layout.setUpDevice(writer);
            if (!layout.print(writer))
                return {};
        }
        QProcess pdftotext;
        pdftotext.start("pdftotext", {"-layout", file, "-"});
        if (!pdftotext.waitForFinished(60000) || pdftotext.exitCode() != 0)
            return {};
        QStringList pages = QString::fromUtf8(pdftotext.readAllStandardOutput()).split('\f');
        if (!pages.isEmpty() && pages.last().trimmed().isEmpty())
            pages.removeLast();
        return pages;
    }

    static QString runsText(const RtfFooter::Section &section)
    {
        QStringList lines;
        for (const RtfFooter::Line &line : section) {
            QStringList runs;
            for (const RtfFooter::Run &run : line)
                runs << QString::asprintf("%d/%d/%s:", run.font, run.halfPoints,
                                          run.bold ? "b" : "p") +
                            run.text;
            lines << runs.join('+');
        }
        return lines.join('\n');
    }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(dir.isValid());
        if (QStandardPaths::findExecutable("pdftotext").isEmpty())
            QSKIP("pdftotext (poppler-utils) is needed to read the reports back");
    }

    void footerTemplate()
    {
        const RtfFooter footer(RtfFooter::footerTemplate(moment), true);
        QCOMPARE(runsText(footer.section(0)), "0/20/b:  Zarnholt Vantrel +3/20/p: Version 1.3.0");
        QCOMPARE(runsText(footer.section(1)), "");
        QCOMPARE(runsText(footer.section(2)),
                 "0/20/b:" + CsvExport::generalDate(moment) + "\n0/20/b:Page %d ");
    }

    void rtfSubset_data()
    {
        QTest::addColumn<QString>("rtf");
        QTest::addColumn<QString>("left");
        QTest::addColumn<QString>("right");
        QTest::newRow("groups restore") << "{\\b x}y"
                                        << "0/0/b:x+0/0/p:y"
                                        << "";
        QTest::newRow("bold off") << "\\b a\\b0 b"
                                  << "0/0/b:a+0/0/p:b"
                                  << "";
        QTest::newRow("escapes") << "a\\{\\}\\\\\\|b"
                                 << "0/0/p:a{}\\|b"
                                 << "";
        QTest::newRow("blank ends a word") << "\\fs30  x"
                                           << "0/30/p: x"
                                           << "";
        QTest::newRow("unknown word") << "\\zork12 a"
                                      << "0/0/p:a"
                                      << "";
        QTest::newRow("stray close") << "}}a{"
                                     << "0/0/p:a"
                                     << "";
        QTest::newRow("trailing backslash") << "a\\"
                                            << "0/0/p:a"
                                            << "";
        QTest::newRow("huge size clamped") << "\\fs99999999999 a"
                                           << "0/200/p:a"
                                           << "";
        QTest::newRow("fourth section stays right") << "l||r|s"
                                                    << "0/0/p:l"
                                                    << "0/0/p:r|s";
        QTest::newRow("line breaks") << "||a\\line b\\par"
                                     << ""
                                     << "0/0/p:a\n0/0/p:b\n";
    }
    void rtfSubset()
    {
        QFETCH(QString, rtf);
        const RtfFooter footer(rtf, false);
        QTEST(runsText(footer.section(0)), "left");
        QTEST(runsText(footer.section(2)), "right");
    }

    void pages_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("severalPages");
        QTest::newRow("caption row only") << 0 << false;
        QTest::newRow("a few rows") << 12 << false;
        QTest::newRow("several pages") << 300 << true;
    }
    void pages()
    {
        QFETCH(int, rows);
        QFETCH(bool, severalPages);
        ResultGrid grid;
        fill(grid, rows);
        ReportLayout layout;
        const QString title = "Vantrel from 10.0.0.1 to 10.0.1.44";
        build(layout, grid, title);
        QCOMPARE(layout.pageCount() > 1, severalPages);

        const QStringList pages = printAndRead(layout, QTest::currentDataTag());
        QCOMPARE(pages.size(), layout.pageCount());
        const QString date = CsvExport::generalDate(moment).simplified();
        for (int page = 1; page <= pages.size(); ++page) {
            const QString text = pages[page - 1].simplified();
            QVERIFY2(text.contains(title), qPrintable(text));
            QVERIFY2(text.contains("IP Address Response Time DNS Lookup"), qPrintable(text));
            QVERIFY2(text.contains("Zarnholt Vantrel Version 1.3.0"), qPrintable(text));
            QVERIFY2(text.contains(date), qPrintable(text));
            QVERIFY2(text.contains("Page " + QString::number(page)), qPrintable(text));
        }

        // Every row once, in table order, across the page breaks.
        const QRegularExpression addressPattern(R"(\b10\.0\.\d+\.\d+\b)");
        QStringList found;
        for (const auto &match : addressPattern.globalMatch(pages.join('\n').remove(title)))
            found << match.captured();
        QStringList expected;
        for (int row = 1; row <= rows; ++row)
            expected << address(row);
        QCOMPARE(found, expected);

        // The logo on every page.
        QProcess images;
        images.start("pdfimages",
                     {"-list", dir.filePath(QTest::currentDataTag() + QString(".pdf"))});
        QVERIFY(images.waitForFinished(60000));
        const QStringList listed =
            QString::fromUtf8(images.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(listed.size() - 2, layout.pageCount()); // two heading lines
    }

    void snapshot()
    {
        ResultGrid grid;
        fill(grid, 3);
        ReportLayout layout;
        build(layout, grid, "Vantrel from 10.0.0.1 to 10.0.0.3");
        grid.setRow(2);
        grid.setCol(2);
        grid.setText("changed.example");
        grid.setRows(400);
        grid.setColWidth(0, 9000);

        QCOMPARE(layout.pageCount(), 1);
        QCOMPARE(layout.columns().front().width, 1800);
        const QStringList pages = printAndRead(layout, "snapshot");
        QCOMPARE(pages.size(), 1);
        QVERIFY(pages[0].contains("host-2.example"));
        QVERIFY(!pages[0].contains("changed.example"));
    }
};

QTEST_MAIN(TestReportLayout)
#include "tst_report_layout.moc"
