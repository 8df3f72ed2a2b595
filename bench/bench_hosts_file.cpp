// A window scan with name lookups in the private test network (run through
// tests/net/testnet.sh), once with a two-line hosts file and once with a 150,000-line one
// (the size of common blocking lists), and once more with the large one growing all the
// while: the large file must not slow the scan, burn CPU or inflate the listed round-trip
// times, nor must a file that keeps changing.
#include "BenchSupport.h"
#include "ScanToEnd.h"
#include "scan/ScanEngine.h"
#include "scan/components/AresLookup.h"
#include "scan/components/HostsIndex.h"
#include "scan/components/IcmpEcho.h"
#include "scan/components/ResultGrid.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

namespace {

struct Run
{
    double seconds = 0;
    double cpuSeconds = 0;
    int maxRoundTripMs = 0;
    qsizetype rows = 0;
    qsizetype named = 0;
};

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// `appendEveryMs` > 0: a line is added to the hosts file that often while the scan runs, as
// a tool that keeps a blocking list up to date would.
Run scan(const QString &hostsFile, int appendEveryMs = 0)
{
    QTimer appender;
    QObject::connect(&appender, &QTimer::timeout, [&, n = 0]() mutable {
        QFile file(hostsFile);
        if (file.open(QIODevice::Append))
            file.write("10.255.0." + QByteArray::number(++n % 256) + " appended.example\n");
    });
    if (appendEveryMs > 0)
        appender.start(appendEveryMs);
    IcmpEcho echo;
    AresLookup::Config config;
    config.hostsFile = hostsFile;
    AresLookup lookup(config);
    ResultGrid grid;
    grid.setCols(3);
    FakeScanView view;
    ScanEngine engine(echo, lookup, grid, view);
    engine.Resolve_DNS = true;
    engine.Pings_per_Node = 1;
    engine.setInter_Ping_Delay(1);
    view.start = QStringLiteral("127.0.0.1");
    view.end = QStringLiteral("127.0.0.254");

    const double cpuBefore = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    scanToEnd(engine, view);
    Run run;
    run.seconds = double(clock.nsecsElapsed()) / 1e9;
    run.cpuSeconds = cpuSeconds() - cpuBefore;
    run.rows = grid.Rows() - 1;
    for (qsizetype row = 1; row < grid.Rows(); ++row) {
        run.maxRoundTripMs =
            std::max(run.maxRoundTripMs, grid.cellText(row, 1).section(u' ', 0, 0).toInt());
        run.named += grid.cellText(row, 2).contains(u'.');
    }
    return run;
}

bool writeHosts(const QString &path, int lines)
{
    QByteArray text = "127.0.0.1 localhost\n::1 localhost ip6-localhost\n";
    for (int n = 0; n < lines - 2; ++n) // addresses outside the scanned range, all distinct
        text += "10." + QByteArray::number(n >> 16 & 0xff) + '.' +
                QByteArray::number(n >> 8 & 0xff) + '.' + QByteArray::number(n & 0xff) + " ad-" +
                QByteArray::number(n) + ".tracker.example\n";
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (outsideTestNetwork("bench_hosts_file"))
        return 0;
    QTemporaryDir dir;
    const QString small = dir.filePath(QStringLiteral("hosts-2"));
    const QString large = dir.filePath(QStringLiteral("hosts-150000"));
    if (!writeHosts(small, 2) || !writeHosts(large, 150000)) {
        std::fprintf(stderr, "bench_hosts_file: cannot write the hosts files\n");
        return 1;
    }
    QList<double> smallSeconds, largeSeconds;
    Run smallRun, largeRun;
    for (int round = 0; round < 5; ++round) { // alternating, so drift hits both alike
        smallRun = scan(small);
        largeRun = scan(large);
        smallSeconds.append(smallRun.seconds);
        largeSeconds.append(largeRun.seconds);
    }
    const double smallMedian = median(smallSeconds), largeMedian = median(largeSeconds);
    const Run changing = scan(large, 20);
    std::printf("scan_254_at_1ms_hosts_2_lines: %.3f s (%lld rows, %lld named)\n", smallMedian,
                static_cast<long long>(smallRun.rows), static_cast<long long>(smallRun.named));
    std::printf("scan_254_at_1ms_hosts_150000_lines: %.3f s (%lld rows, %lld named)\n", largeMedian,
                static_cast<long long>(largeRun.rows), static_cast<long long>(largeRun.named));
    std::printf("hosts_150000_vs_2_time: %+.1f %%\n", (largeMedian / smallMedian - 1) * 100);
    std::printf("scan_254_at_1ms_hosts_150000_lines_appended_every_20ms: %.3f s (%lld named)\n",
                changing.seconds, static_cast<long long>(changing.named));
    std::printf("addresses_per_second_hosts_150000: %.0f /s\n", 254 / largeMedian);
    std::printf("cpu_hosts_2_lines: %.3f s\n", smallRun.cpuSeconds);
    std::printf("cpu_hosts_150000_lines: %.3f s\n", largeRun.cpuSeconds);
    HostsIndex index(large);
    QElapsedTimer build;
    build.start();
    index.nameOf(0x0a000001);
    const double buildMs = double(build.nsecsElapsed()) / 1e6;
    build.restart();
    for (int n = 1; n <= 254; ++n)
        index.nameOf(0x7f000000 | std::uint32_t(n));
    std::printf("hosts_150000_index_build_once: %.1f ms\n", buildMs);
    std::printf("hosts_150000_lookup_from_index: %.2f us\n",
                double(build.nsecsElapsed()) / 1e3 / 254);
    std::printf("max_round_trip_hosts_2_lines: %d ms\n", smallRun.maxRoundTripMs);
    std::printf("max_round_trip_hosts_150000_lines: %d ms\n", largeRun.maxRoundTripMs);
    return 0;
}
