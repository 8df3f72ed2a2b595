// Real scans in the private test network (run through tests/net/testnet.sh): how closely
// the ping timer keeps its delay, how long the event loop ever waits between two turns
// during a long scan, and the peak memory at the end.
#include "BenchSupport.h"
#include "ScanToEnd.h"
#include "scan/ScanEngine.h"
#include "scan/components/AresLookup.h"
#include "scan/components/IcmpEcho.h"
#include "scan/components/ResultGrid.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <cstdio>

namespace {

struct Run
{
    double seconds = 0;
    double longestGapMs = 0;
    qsizetype rows = 0;
};

Run scan(const QString &from, const QString &to, int delayMs)
{
    IcmpEcho echo;
    AresLookup lookup;
    ResultGrid grid;
    grid.setCols(3);
    FakeScanView view;
    ScanEngine engine(echo, lookup, grid, view);
    engine.Resolve_DNS = false;
    engine.Pings_per_Node = 1;
    engine.setInter_Ping_Delay(delayMs);
    view.start = from;
    view.end = to;

    // A 1 ms probe timer: the longest gap between its ticks is the longest time the event
    // loop was busy elsewhere.
    QElapsedTimer sinceProbe;
    double longestGap = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, static_cast<double>(sinceProbe.nsecsElapsed()) / 1e6);
        sinceProbe.restart();
    });

    QElapsedTimer clock;
    clock.start();
    sinceProbe.start();
    probe.start();
    scanToEnd(engine, view);
    Run run;
    run.seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    run.longestGapMs = longestGap;
    run.rows = grid.Rows() - 1;
    return run;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (outsideTestNetwork("bench_scan_pacing"))
        return 0;
    const bool full = app.arguments().contains(QStringLiteral("--full"));

    const Run fast = scan(QStringLiteral("127.1.0.0"), QStringLiteral("127.1.15.255"), 1);
    std::printf("pacing_4096_at_1ms: %.3f s (ideal 4.096 s, %+.1f %%, %lld rows)\n", fast.seconds,
                (fast.seconds / 4.096 - 1) * 100, static_cast<long long>(fast.rows));
    const Run slow = scan(QStringLiteral("127.1.0.0"), QStringLiteral("127.1.3.231"), 10);
    std::printf("pacing_1000_at_10ms: %.3f s (ideal 10.000 s, %+.1f %%)\n", slow.seconds,
                (slow.seconds / 10.0 - 1) * 100);
    if (full) {
        const Run big = scan(QStringLiteral("127.1.0.0"), QStringLiteral("127.1.255.255"), 1);
        std::printf("scan_65536_at_1ms: %.3f s (%lld rows)\n", big.seconds,
                    static_cast<long long>(big.rows));
        std::printf("scan_65536_longest_event_loop_gap: %.1f ms\n", big.longestGapMs);
    } else {
        std::printf("scan_4096_longest_event_loop_gap: %.1f ms (pass --full for the /16 scan)\n",
                    fast.longestGapMs);
    }
    std::printf("peak_memory: %.1f MB\n", static_cast<double>(processStatusKiB("VmHWM:")) / 1024.0);
    return 0;
}
