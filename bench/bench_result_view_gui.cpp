// A result table of one million rows on screen (offscreen platform unless one is set):
// what showing it, jumping to its end and painting cost, and what appending a row costs
// while a view watches.
#include "scan/components/ResultGrid.h"
#include "ui/ResultTableView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {
constexpr int RowCount = 1'000'000;
constexpr int WatchedAppends = 20'000;

void appendRow(ResultGrid &grid, int i)
{
    grid.setRedraw(false);
    grid.setRows(grid.Rows() + 1);
    grid.setRow(grid.Rows() - 1);
    grid.setCol(0);
    grid.setText(u"127.1.%1.%2"_s.arg((i >> 8) & 255).arg(i & 255));
    grid.setCol(1);
    grid.setText(QString::number(i % 50) + u" ms"_s);
    grid.setCol(2);
    grid.setCellKind(ResultGrid::Kind::Resolving);
    grid.setText(u" resolving ..."_s);
    grid.setRedraw(true);
}

void print(const char *name, double value, const char *unit)
{
    std::printf("%s: %.2f %s\n", name, value, unit);
}
} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    ResultGrid grid;
    grid.setRedraw(false);
    for (int i = 0; i < RowCount; ++i)
        appendRow(grid, i);
    grid.setRedraw(true);

    QElapsedTimer timer;
    timer.start();
    ResultTableView view(&grid);
    view.resize(800, 600);
    view.show();
    // grab() paints whether or not the offscreen window is exposed yet.
    view.viewport()->grab();
    print("show_first_paint", timer.nsecsElapsed() / 1e6, "ms");

    timer.restart();
    view.scrollToBottom();
    view.viewport()->grab();
    print("scroll_to_bottom_and_paint", timer.nsecsElapsed() / 1e6, "ms");

    timer.restart();
    constexpr int Pages = 200;
    QScrollBar *bar = view.verticalScrollBar();
    for (int page = 0; page < Pages; ++page) {
        bar->setValue(bar->maximum() / Pages * page);
        view.viewport()->grab();
    }
    print("jump_and_paint_per_page", timer.nsecsElapsed() / 1e6 / Pages, "ms");

    // The engine's pattern while a view watches: one batched insert per reply. First the
    // model and view bookkeeping alone, then with one repaint per reply, the worst case of
    // one reply per event-loop pass.
    view.scrollToBottom();
    timer.restart();
    for (int i = 0; i < WatchedAppends; ++i)
        appendRow(grid, i);
    print("append_with_view_no_paint_per_row", double(timer.nsecsElapsed()) / 1e3 / WatchedAppends,
          "us");
    QApplication::processEvents();

    constexpr int Passes = 300;
    timer.restart();
    for (int i = 0; i < Passes; ++i) {
        appendRow(grid, i);
        QApplication::processEvents();
    }
    print("append_and_repaint_per_row", timer.nsecsElapsed() / 1e6 / Passes, "ms");
    return 0;
}
