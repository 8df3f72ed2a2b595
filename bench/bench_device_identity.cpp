// What knowing the devices costs: reading the IEEE registries into the maker index (goal:
// under 100 ms for the full registries), and, inside the private test network, the extra
// time a scan of a whole on-link /24 (tests/net/onlink.sh: 127.7.0.2-254 behind one peer
// running avahi-daemon) takes when the hosts' own names are asked by mDNS, against the same
// scan with DNS names only in the same run. Prints "name: value unit" lines.
#include "BenchSupport.h"
#include "ScanToEnd.h"

#include "scan/components/AresLookup.h"
#include "scan/components/DeviceNameLookup.h"
#include "scan/components/IcmpEcho.h"
#include "scan/components/NeighbourTable.h"
#include "scan/components/ResultGrid.h"
#include "scan/components/VendorRegistry.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The wide segment's responder claims its 253 addresses a few seconds after the network is
// up: waits (a blocking wait is fine in a benchmark) until it answers, at most 30 s.
bool responderReady(std::uint32_t address)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    timeval wait{0, 200'000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(DeviceNameLookup::MdnsPort);
    to.sin_addr.s_addr = htonl(address);
    const QByteArray query = DeviceNameLookup::mdnsQuery(1, address);
    bool ready = false;
    for (int tries = 0; tries < 150 && !ready; ++tries) {
        ::sendto(fd, query.constData(), std::size_t(query.size()), 0,
                 reinterpret_cast<sockaddr *>(&to), sizeof to);
        char buffer[512];
        ready = ::recv(fd, buffer, sizeof buffer, 0) > 0;
    }
    ::close(fd);
    return ready;
}

struct Scan
{
    double ms = 0;
    double lastNameMs = 0; // when the last name came in
    int named = 0;         // rows with a name from the hosts themselves
    int rows = 0;
};

Scan scanWide(bool ownNames)
{
    // A responder answers the same question at most about once a second: scans of the same
    // hosts are kept that far apart.
    QElapsedTimer pause;
    pause.start();
    while (pause.elapsed() < 1500)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    IcmpEcho echo;
    std::unique_ptr<LookupControl> lookup = std::make_unique<AresLookup>();
    if (ownNames)
        lookup = std::make_unique<DeviceNameLookup>(std::move(lookup));
    NeighbourTable neighbours;
    ResultGrid grid;
    grid.setCols(5);
    FakeScanView view;
    view.start = u"127.7.0.1"_s;
    view.end = u"127.7.0.254"_s;
    ScanEngine engine(echo, *lookup, grid, view);
    engine.setNeighbours(&neighbours);
    engine.Pings_per_Node = 1;
    engine.Resolve_DNS = true;
    echo.setEchoTimeout(500);
    engine.setAddressRate(2000);
    QElapsedTimer clock;
    Scan out;
    QObject::connect(lookup.get(), &LookupControl::LookupAnswer, &engine,
                     [&](const QString &, const QString &, int status) {
                         if (status == LookupControl::Found)
                             out.lastNameMs = double(clock.nsecsElapsed()) / 1e6;
                     });
    clock.start();
    scanToEnd(engine, view);
    out.ms = double(clock.nsecsElapsed()) / 1e6;
    out.rows = int(grid.Rows() - 1);
    for (qsizetype row = 1; row < grid.Rows(); ++row)
        out.named += grid.cellText(row, 2).endsWith(u".local"_s) ? 1 : 0;
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // Inside the test network its responders start up alongside: measured once they are done.
    const bool onLink = qgetenv("VANTREL_TESTNET") == "1" &&
                        qgetenv("VANTREL_TESTNET_ONLINK") == "1" && responderReady(0x7f070002);

    std::vector<double> loads;
    std::size_t prefixes = 0;
    for (int round = 0; round < 7; ++round) {
        QElapsedTimer clock;
        clock.start();
        VendorRegistry registry;
        registry.load();
        loads.push_back(double(clock.nsecsElapsed()) / 1e6);
        prefixes = registry.size();
    }
    if (prefixes == 0) {
        std::printf("vendor_registry_load: skipped (the ieee-data package is not installed)\n");
    } else {
        std::printf("vendor_registry_prefixes: %zu count\n", prefixes);
        std::printf("vendor_registry_load: %.1f ms\n", median(loads));
        std::printf("vendor_registry_load_goal_ratio: %.2f ratio\n", median(loads) / 100.0);
    }
    std::fflush(stdout);

    if (outsideTestNetwork("bench_device_identity"))
        return 0;
    if (!onLink) {
        std::printf("onlink_254: skipped (no on-link segment with a ready mDNS responder)\n");
        return 0;
    }
    // Its announcements keep the responder busy for a while after it first answers: scanned
    // until it names nearly every host in time.
    for (int warmUp = 0; warmUp < 20 && scanWide(true).named < 240; ++warmUp) {
    }
    std::vector<double> dnsOnly, withOwn, lastName;
    Scan last;
    for (int round = 0; round < 3; ++round) {
        dnsOnly.push_back(scanWide(false).ms);
        last = scanWide(true);
        withOwn.push_back(last.ms);
        lastName.push_back(last.lastNameMs);
    }
    const double base = median(dnsOnly);
    const double own = median(withOwn);
    std::printf("onlink_254_scan_dns_names: %.0f ms\n", base);
    std::printf("onlink_254_scan_own_names: %.0f ms\n", own);
    std::printf("onlink_254_own_names_extra: %.0f ms\n", own - base);
    // The scan ends a second after DNS gave up on the one host that has no name of its own
    // (the scanner's address on the segment); the names themselves are in long before.
    std::printf("onlink_254_last_own_name_at: %.0f ms\n", median(lastName));
    std::printf("onlink_254_own_names_ratio: %.2f ratio\n", own / base);
    std::printf("onlink_254_named_by_mdns: %d of %d rows\n", last.named, last.rows);
    return 0;
}
