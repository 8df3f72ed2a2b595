// Cost of exporting a one-million-row result table to a file, as the Export entry does it
// (temporary file, then replace), against the bare cost of writing the same bytes.
#include "BenchSupport.h"
#include "output/CsvExport.h"
#include "scan/components/ResultGrid.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {
constexpr int RowCount = 1'000'000;

// Rows as a finished scan leaves them: most answered and named, some still resolving,
// some without a name.
void fill(ResultGrid &grid)
{
    grid.setRedraw(false);
    grid.setRows(RowCount + 1);
    for (int i = 0; i < RowCount; ++i) {
        const QString address =
            u"10.%1.%2.%3"_s.arg((i >> 16) & 255).arg((i >> 8) & 255).arg(i & 255);
        grid.setRow(i + 1);
        grid.setCol(0);
        grid.setText(address);
        grid.setCol(1);
        grid.setText(QString::number(i % 400) + u" ms"_s);
        grid.setCol(2);
        if (i % 10 == 0)
            grid.setText(u" resolving ..."_s);
        else if (i % 10 != 1)
            grid.setText(u"host-"_s + QString::number(i) + u".lab.zarnholt.example"_s);
    }
    grid.setRedraw(true);
}

void print(const char *name, double value, const char *unit)
{
    std::printf("%s: %.2f %s\n", name, value, unit);
}

} // namespace

int main()
{
    ResultGrid grid;
    fill(grid);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"Vantrel.csv"_s);
    const qint64 hwmBefore = processStatusKiB("VmHWM:");

    QElapsedTimer timer;
    timer.start();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    const CsvExport::Result result =
        CsvExport::write(file, grid, u"10.0.0.0"_s, u"10.15.66.63"_s, QDateTime::currentDateTime());
    if (!result.ok || !file.commit())
        return 1;
    const double exportMs = double(timer.nsecsElapsed()) / 1e6;
    const qint64 hwmAfter = processStatusKiB("VmHWM:");

    // Baseline: the same bytes, already encoded, written in one go.
    QFile written(path);
    if (!written.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray bytes = written.readAll();
    timer.restart();
    QFile plain(dir.filePath(u"plain.csv"_s));
    if (!plain.open(QIODevice::WriteOnly) || plain.write(bytes) != bytes.size())
        return 1;
    plain.close();
    const double plainMs = double(timer.nsecsElapsed()) / 1e6;

    print("csv_export_rows", double(result.records), "rows");
    print("csv_export_file_size", double(bytes.size()) / 1e6, "MB");
    print("csv_export_time", exportMs, "ms");
    print("csv_export_throughput", double(bytes.size()) / 1e3 / exportMs, "MB/s");
    print("csv_plain_write_time", plainMs, "ms");
    print("csv_export_vs_plain_write", exportMs / plainMs, "ratio");
    print("csv_export_peak_memory_before", double(hwmBefore) / 1024, "MiB");
    print("csv_export_peak_memory_growth", double(hwmAfter - hwmBefore), "KiB");
    return 0;
}
