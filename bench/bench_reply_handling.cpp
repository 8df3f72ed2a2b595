// Cost of the echo reply handler: scripted replies through a scan with two pings per node
// and lookups on. The time should grow linearly with the number of replies.
#include "BenchSupport.h"
#include "fakes/FakeEcho.h"
#include "fakes/FakeLookup.h"
#include "fakes/FakeScanView.h"
#include "scan/ScanEngine.h"
#include "scan/components/ResultGrid.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

namespace {

double replyMilliseconds(int replies)
{
    FakeEcho echo;
    FakeLookup lookup;
    lookup.capacity = 1 << 30;
    ResultGrid grid;
    grid.setCols(3);
    FakeScanView view;
    ScanEngine engine(echo, lookup, grid, view);
    engine.Pings_per_Node = 2;
    engine.Resolve_DNS = true;
    view.start = QStringLiteral("10.0.0.0");
    view.end = QStringLiteral("10.255.255.255");
    engine.Scan_Button_Click();

    QStringList tags;
    tags.reserve(replies);
    for (int i = 0; i < replies; ++i) {
        const auto n = static_cast<std::uint32_t>(0x0A000000u + static_cast<std::uint32_t>(i));
        tags << QStringLiteral("1:%1.%2.%3.%4;1")
                    .arg(n >> 24)
                    .arg((n >> 16) & 255)
                    .arg((n >> 8) & 255)
                    .arg(n & 255);
    }
    QElapsedTimer timer;
    timer.start();
    for (const QString &tag : tags)
        echo.reply(tag, 0, 1);
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const double small = replyMilliseconds(10000);
    const double large = replyMilliseconds(100000);
    std::printf("reply_handling_10000: %.1f ms\n", small);
    std::printf("reply_handling_100000: %.1f ms\n", large);
    std::printf("reply_handling_growth_ratio: %.2f x\n", large / small);
    return 0;
}
