// Cost of filling the result grid: one million rows written the way the scan engine writes
// them, with the grid's batching on and off, and the memory a row takes.
#include "BenchSupport.h"
#include "scan/components/ResultGrid.h"

#include <QElapsedTimer>
#include <QFile>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {
constexpr int RowCount = 1'000'000;

enum class RedrawMode
{
    Batched,
    TogglePerRow,
    AlwaysOn
};

qint64 residentKiB()
{
    return processStatusKiB("VmRSS:");
}

QString addressText(int i)
{
    return u"127.%1.%2.%3"_s.arg((i >> 16) & 255).arg((i >> 8) & 255).arg(i & 255);
}

// Returns nanoseconds for RowCount rows, texts included.
qint64 fill(ResultGrid &grid, RedrawMode mode)
{
    const QString resolving = u" resolving ..."_s;
    QElapsedTimer timer;
    timer.start();
    if (mode == RedrawMode::Batched)
        grid.setRedraw(false);
    for (int i = 0; i < RowCount; ++i) {
        if (mode == RedrawMode::TogglePerRow)
            grid.setRedraw(false);
        grid.setRows(grid.Rows() + 1);
        grid.setRow(grid.Rows() - 1);
        grid.setCol(0);
        grid.setText(addressText(i));
        grid.setCol(1);
        grid.setCellKind(ResultGrid::Kind::Time);
        grid.setText(QString::number(i % 50) + u" ms"_s);
        grid.setCol(2);
        grid.setCellKind(ResultGrid::Kind::Resolving);
        grid.setText(resolving);
        if (mode == RedrawMode::TogglePerRow)
            grid.setRedraw(true);
    }
    if (mode == RedrawMode::Batched)
        grid.setRedraw(true);
    return timer.nsecsElapsed();
}

// The same texts built and dropped, without a grid: the floor any grid could reach.
qint64 textsOnly()
{
    QElapsedTimer timer;
    timer.start();
    qsizetype sink = 0;
    for (int i = 0; i < RowCount; ++i)
        sink += addressText(i).size() + (QString::number(i % 50) + u" ms"_s).size();
    const qint64 elapsed = timer.nsecsElapsed();
    if (sink == 0)
        std::puts("unexpected");
    return elapsed;
}

void print(const char *name, double value, const char *unit)
{
    std::printf("%s: %.1f %s\n", name, value, unit);
}
} // namespace

int main()
{
    ResultGrid grid;
    grid.setRows(1);

    const qint64 before = residentKiB();
    const qint64 batched = fill(grid, RedrawMode::Batched);
    const qint64 after = residentKiB();
    print("rows", RowCount, "rows");
    print("append_batched_total", batched / 1e6, "ms");
    print("append_batched_per_row", double(batched) / RowCount, "ns");
    print("memory_per_row", (after - before) * 1024.0 / RowCount, "bytes");

    // What stays resident is mostly freed text buffers that malloc keeps for the next scan.
    grid.setRows(1);
    print("memory_kept_after_clear", (residentKiB() - before) / 1024.0, "MiB");

    const qint64 toggled = fill(grid, RedrawMode::TogglePerRow);
    grid.setRows(1);
    const qint64 alwaysOn = fill(grid, RedrawMode::AlwaysOn);
    grid.setRows(1);
    const qint64 floor = textsOnly();

    print("append_redraw_toggled_per_row", double(toggled) / RowCount, "ns");
    print("append_redraw_on_no_view", double(alwaysOn) / RowCount, "ns");
    print("texts_only_per_row", double(floor) / RowCount, "ns");
    print("ratio_batched_to_texts_only", double(batched) / double(floor), "x");
    print("ratio_redraw_on_to_batched", double(alwaysOn) / double(batched), "x");
    return 0;
}
