// The report of a result table of 100,000 rows (offscreen platform unless one is set): what
// building it costs until its page total is known, until its first page is on screen, per
// page painted, and for printing every page to a PDF file; and how far memory peaks, which
// must not grow with the number of pages.
#include "BenchSupport.h"
#include "output/print/PrintEngine.h"
#include "output/print/PrintPreviewForm.h"
#include "scan/components/ResultGrid.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPrinter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QWindow>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {
constexpr int RowCount = 100'000;
constexpr int PaintedPages = 50;

void print(const char *name, double value, const char *unit)
{
    std::printf("%s: %.2f %s\n", name, value, unit);
}

double peakMemoryMiB()
{
    return static_cast<double>(processStatusKiB("VmHWM:")) / 1024;
}

double ms(const QElapsedTimer &timer)
{
    return timer.nsecsElapsed() / 1e6;
}
} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QWidget owner;
    const QString first = u"10.0.0.1"_s;
    const QString last = u"10.1.134.160"_s;
    // The main window's columns at its design font, in twips.
    ResultGrid table;
    table.setCols(3);
    table.setColWidth(0, 2040);
    table.setColWidth(1, 1950);
    table.setColWidth(2, 3300);

    QElapsedTimer timer;
    timer.start();
    table.setRedraw(false);
    table.setRows(1 + RowCount);
    for (int row = 1; row <= RowCount; ++row) {
        table.setRow(row);
        table.setCol(0);
        table.setText(u"10.%1.%2.%3"_s.arg(row >> 16).arg((row >> 8) & 255).arg(row & 255));
        table.setCol(1);
        table.setText(QString::number(row % 50) + u" ms"_s);
        table.setCol(2);
        table.setText(u"host-%1.example"_s.arg(row));
    }
    table.setRedraw(true);
    const double fillMs = ms(timer);
    print("grid_fill_100k_baseline", fillMs, "ms");
    const double baseMiB = peakMemoryMiB();
    print("peak_memory_before_report", baseMiB, "MiB");

    timer.restart();
    PrintPreviewForm::Preview(&owner, first, last, table);
    PrintPreviewForm *form = PrintPreviewForm::instance();
    auto *engine = form->findChild<PrintEngine *>(u"vsPrint"_s);
    auto *nextPage = form->findChild<QPushButton *>(u"NextPageButton"_s);
    const double buildMs = ms(timer);
    print("page_total", engine->PageTotal(), "pages");
    print("time_to_page_total", buildMs, "ms");
    print("build_vs_grid_fill", buildMs / fillMs, "ratio");
    while (!form->windowHandle() || !form->windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    engine->viewport()->grab();
    print("time_to_first_page_shown", ms(timer), "ms");

    timer.restart();
    for (int i = 0; i < PaintedPages; ++i) {
        nextPage->click();
        engine->viewport()->grab();
    }
    print("page_paint", ms(timer) / PaintedPages, "ms");
    print("peak_memory_after_preview", peakMemoryMiB(), "MiB");

    // A maximized window's grid is wider than the paper: the report then measures the
    // address and time columns for their widest text.
    const int nameWidth = table.ColWidth(2);
    table.setColWidth(2, 30000);
    timer.restart();
    PrintPreviewForm::Preview(&owner, first, last, table);
    print("time_to_page_total_wide_grid", ms(timer), "ms");
    print("wide_grid_vs_fitting_build", ms(timer) / buildMs, "ratio");
    table.setColWidth(2, nameWidth);
    PrintPreviewForm::Preview(&owner, first, last, table);

    QTemporaryDir dir;
    const QString file = dir.filePath(u"report.pdf"_s);
    PrintEngine::setNextPrinterSetup([file](QPrinter &printer) {
        printer.setOutputFileName(file);
        return true;
    });
    timer.restart();
    const bool printed = engine->PrintAllPages();
    print("print_all_pages_pdf", ms(timer), "ms");
    print("pdf_size", printed ? QFile(file).size() / 1048576.0 : 0, "MiB");
    const double peakMiB = peakMemoryMiB();
    print("peak_memory_after_print", peakMiB, "MiB");
    print("report_peak_memory_over_table", peakMiB - baseMiB, "MiB");
    return printed ? 0 : 1;
}
