// Cost of the scan history: what the end of a 65,536-row scan adds (rows are written while the
// scan runs, a second's worth at a time), the same rows all left for the end, loading the
// scan back as the earlier scan at the next start, comparing two such scans, the file's size
// after 200 such scans and opening it against an empty history.
#include "history/ScanComparison.h"
#include "history/ScanHistory.h"
#include "history/ScanRecorder.h"
#include "output/CsvExport.h"
#include "scan/components/ResultGrid.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

constexpr int RowCount = 65'536;
constexpr int Runs = 5;

void print(const char *name, double value, const char *unit)
{
    std::printf("%s: %.2f %s\n", name, value, unit);
}

QString addressOf(int i)
{
    return u"10.1.%1.%2"_s.arg((i >> 8) & 255).arg(i & 255);
}

QList<HistoryRow> rowsOf(int count, int variant)
{
    QList<HistoryRow> rows;
    rows.reserve(count);
    for (int i = 0; i < count; ++i) {
        // One address in a hundred comes and goes and one in a hundred is renamed between
        // the two variants.
        if (i % 100 == variant)
            continue;
        const QString name = i % 100 == 50 + variant ? u"renamed-%1.lab.example"_s.arg(i)
                                                     : u"host-%1.lab.example"_s.arg(i);
        rows.append({addressOf(i), QString::number(i % 400) + u" ms"_s, name, true});
    }
    return rows;
}

void fill(ResultGrid &grid, const QList<HistoryRow> &rows)
{
    grid.setRedraw(false);
    grid.setRows(rows.size() + 1);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        grid.setRow(i + 1);
        grid.setCol(0);
        grid.setText(rows[i].address);
        grid.setCol(1);
        grid.setText(rows[i].response);
        grid.setCol(2);
        grid.setText(rows[i].name);
    }
    grid.setRedraw(true);
}

int fail(int line)
{
    std::fprintf(stderr, "bench_scan_history: step at line %d failed\n", line);
    return 1;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double ms(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    ScanSettings settings;

    // Recording as the window does it: rows written a second at a time while the scan runs,
    // then the end; and all of them left for the end (a scan shorter than a second).
    ResultGrid grid;
    grid.setCols(3);
    const QList<HistoryRow> first = rowsOf(RowCount, 0);
    std::vector<double> endMs;
    std::vector<double> allAtEndMs;
    for (int run = 0; run < Runs; ++run) {
        for (const bool batched : {true, false}) {
            grid.setRows(1);
            ScanRecorder recorder(grid);
            if (!recorder.open(dir.filePath(u"record-%1-%2.sqlite"_s.arg(run).arg(batched))))
                return fail(__LINE__);
            recorder.scanStarting(u"10.1.0.0"_s, u"10.1.255.255"_s, settings);
            fill(grid, first);
            if (batched) {
                QElapsedTimer running;
                running.start();
                while (running.elapsed() < 1100)
                    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
            }
            QElapsedTimer timer;
            timer.start();
            recorder.scanEnded(true);
            (batched ? endMs : allAtEndMs).push_back(ms(timer));
            if (recorder.recordedId() == 0)
                return fail(__LINE__);
        }
    }
    std::vector<double> writeOnlyMs;
    for (int run = 0; run < Runs; ++run) {
        ScanHistory history;
        if (!history.open(dir.filePath(u"write-%1.sqlite"_s.arg(run))).ok)
            return fail(__LINE__);
        ScanRecord scan;
        scan.firstAddress = u"10.1.0.0"_s;
        scan.lastAddress = u"10.1.255.255"_s;
        scan.rows = first;
        scan.completed = true; // the next scan's earlier one
        QElapsedTimer timer;
        timer.start();
        if (history.record(scan) == 0)
            return fail(__LINE__);
        writeOnlyMs.push_back(ms(timer));
    }
    // Baseline on the same machine at the same moment: the same table exported to a file.
    std::vector<double> exportMs;
    for (int run = 0; run < Runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        QSaveFile file(dir.filePath(u"export.csv"_s));
        if (!file.open(QIODevice::WriteOnly) ||
            !CsvExport::write(file, grid, u"10.1.0.0"_s, u"10.1.255.255"_s,
                              QDateTime::currentDateTime())
                 .ok ||
            !file.commit())
            return fail(__LINE__);
        exportMs.push_back(ms(timer));
    }
    print("history_end_of_65536_row_scan_written_while_running", median(endMs), "ms");
    print("history_end_of_65536_row_scan_all_rows_at_end", median(allAtEndMs), "ms");
    print("history_all_rows_at_end_vs_csv_export_of_same_table",
          median(allAtEndMs) / median(exportMs), "x");
    print("history_record_65536_rows_write_only", median(writeOnlyMs), "ms");
    print("history_file_size_one_65536_row_scan_with_names",
          double(QFileInfo(dir.filePath(u"write-0.sqlite"_s)).size()) / 1024.0, "KiB");

    // The next scan start of the same range loads it back as the earlier scan.
    std::vector<double> loadMs;
    {
        ScanHistory history;
        if (!history.open(dir.filePath(u"write-0.sqlite"_s)).ok)
            return fail(__LINE__);
        for (int run = 0; run < Runs; ++run) {
            QElapsedTimer timer;
            timer.start();
            const std::optional<ScanRecord> earlier =
                history.previous(u"10.1.0.0"_s, u"10.1.255.255"_s, false);
            loadMs.push_back(ms(timer));
            if (!earlier || earlier->rows.size() != first.size())
                return fail(__LINE__);
        }
    }
    print("history_load_previous_65536_rows", median(loadMs), "ms");

    const QList<HistoryRow> second = rowsOf(RowCount, 1);
    std::vector<double> compareMs;
    qsizetype changes = 0;
    for (int run = 0; run < Runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        changes = ScanComparison::compare(first, second).size();
        compareMs.push_back(ms(timer));
    }
    print("history_compare_two_65536_row_scans", median(compareMs), "ms");
    print("history_compare_changes_found", double(changes), "changes");

    // 200 sweeps of a /16 without names (as vantrel-scan -n), then 50 more: the file holds
    // the 200 most recent and does not grow past them.
    const QString full = dir.filePath(u"full.sqlite"_s);
    const auto fullSize = [&] {
        return double(QFileInfo(full).size() + QFileInfo(full + u"-wal"_s).size()) / 1048576.0;
    };
    double sizeAt200 = 0;
    {
        ScanHistory history;
        if (!history.open(full).ok)
            return fail(__LINE__);
        ScanRecord scan;
        scan.firstAddress = u"10.1.0.0"_s;
        scan.lastAddress = u"10.1.255.255"_s;
        for (const HistoryRow &row : first)
            scan.rows.append({row.address, row.response, {}, false});
        for (int i = 0; i < ScanHistory::DefaultKeep + 50; ++i) {
            if (history.record(scan) == 0)
                return fail(__LINE__);
            if (i + 1 == ScanHistory::DefaultKeep)
                sizeAt200 = fullSize();
        }
    }
    const auto openMs = [&](const QString &path) {
        std::vector<double> times;
        for (int run = 0; run < Runs * 2; ++run) {
            ScanHistory history;
            QElapsedTimer timer;
            timer.start();
            if (!history.open(path).ok)
                return -1.0;
            times.push_back(ms(timer));
        }
        return median(times);
    };
    const double emptyMs = openMs(dir.filePath(u"empty.sqlite"_s));
    const double fullMs = openMs(full);
    print("history_file_size_200_scans_of_65536_rows", sizeAt200, "MiB");
    print("history_file_size_after_250_scans_of_65536_rows", fullSize(), "MiB");
    print("history_open_empty", emptyMs, "ms");
    print("history_open_200_scans", fullMs, "ms");
    print("history_open_200_scans_vs_empty", fullMs / emptyMs, "x");
    return 0;
}
