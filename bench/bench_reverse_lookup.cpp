// Reverse lookups against the test network's DNS server: one at a time as the baseline,
// then all of 127.0.0.1-254 at once. Prints "name: value unit" lines.
#include "BenchSupport.h"

#include "scan/components/AresLookup.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <algorithm>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

// Starts one lookup per address at once and returns the milliseconds until the last answer.
double timeLookups(const AresLookup::Config &config, const QStringList &addresses)
{
    AresLookup lookup(config);
    QEventLoop loop;
    int answered = 0;
    QObject::connect(&lookup, &LookupControl::LookupAnswer, &loop, [&] {
        if (++answered == addresses.size())
            loop.quit();
    });
    QElapsedTimer clock;
    clock.start();
    for (const QString &address : addresses)
        lookup.StartLookup(address);
    loop.exec();
    return double(clock.nsecsElapsed()) / 1e6;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (outsideTestNetwork("bench_reverse_lookup"))
        return 0;

    QStringList all;
    for (int n = 1; n <= 254; ++n)
        all.append(u"127.0.0.%1"_s.arg(n));
    const AresLookup::Config system; // resolv.conf and hosts file of the test network

    QList<double> single;
    for (int n = 2; n <= 200; n += 4) // DNS names only, not the hosts file
        single.append(timeLookups(system, {u"127.0.0.%1"_s.arg(n)}));
    const double oneMs = median(single);

    QList<double> rounds;
    for (int round = 0; round < 7; ++round)
        rounds.append(timeLookups(system, all));
    const double allMs = median(rounds);

    const AresLookup::Config silent{qEnvironmentVariable("VANTREL_TESTNET_SILENT_DNS"), false};
    const double deadMs = timeLookups(silent, {u"127.0.0.7"_s});

    std::printf("single_lookup_median: %.3f ms\n", oneMs);
    std::printf("lookups_254_side_by_side_median: %.3f ms\n", allMs);
    std::printf("lookups_254_side_by_side_best: %.3f ms\n",
                *std::min_element(rounds.cbegin(), rounds.cend()));
    std::printf("lookups_254_per_lookup: %.4f ms\n", allMs / 254);
    std::printf("speedup_vs_one_at_a_time: %.1f x\n", oneMs * 254 / allMs);
    std::printf("dead_server_lookup: %.0f ms\n", deadMs);
    return 0;
}
