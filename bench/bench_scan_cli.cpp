// vantrel-scan against fping in the same run, inside the private test network:
//   tests/net/testnet.sh build/<dir>/bench/bench_scan_cli
// Prints "name: value unit" lines. Elapsed times are also given as ratios to the ideal
// (addresses / rate), for both programs, so a noisy machine shows in both alike. Adds its
// own routes: 127.16.0.0/12 answering (a million addresses), 127.4.0.0/16 silent and
// 127.5.0.0/16 answering.
#include "BenchSupport.h"

#include <QByteArray>
#include <QFile>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

void print(const char *name, double value, const char *unit)
{
    std::printf("%s: %.3f %s\n", name, value, unit);
    std::fflush(stdout);
}

struct Run
{
    pid_t pid = -1;
    Clock::time_point started;
    double seconds = -1;
    double cpuSeconds = -1;
    long peakKiB = -1;
    int exitCode = -1;
};

// Starts a program with standard output into `outFile` ("" for /dev/null).
Run spawn(const QStringList &command, const QString &outFile)
{
    std::vector<QByteArray> words;
    for (const QString &word : command)
        words.push_back(word.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const QByteArray out = outFile.isEmpty() ? QByteArray("/dev/null") : outFile.toLocal8Bit();
    posix_spawn_file_actions_addopen(&actions, 1, out.constData(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    Run run;
    run.started = Clock::now();
    if (posix_spawnp(&run.pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        run.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

void finish(Run &run)
{
    if (run.pid < 0)
        return;
    int status = 0;
    rusage usage{};
    if (wait4(run.pid, &status, 0, &usage) != run.pid)
        return;
    run.seconds = std::chrono::duration<double>(Clock::now() - run.started).count();
    run.peakKiB = usage.ru_maxrss;
    run.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Run runToEnd(const QStringList &command, const QString &outFile = {})
{
    Run run = spawn(command, outFile);
    finish(run);
    return run;
}

qint64 lineCount(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return file.readAll().count('\n');
}

const QString Program = QStringLiteral(VANTREL_SCAN_PROGRAM);

// Adds a route inside the test network; false (and said) where that fails.
bool addRoute(const QStringList &route)
{
    QStringList command{QStringLiteral("ip"), QStringLiteral("route"), QStringLiteral("add")};
    command += route;
    const Run run = runToEnd(command);
    if (run.exitCode != 0)
        std::fprintf(stderr, "could not add the route %s\n", qPrintable(route.join(u' ')));
    return run.exitCode == 0;
}

// Sweeps at a given pace by both programs; rows counted from their output.
void compare(const char *name, const QStringList &ours, const QStringList &fping,
             double idealSeconds, const QString &dir)
{
    const QString ourOut = dir + QStringLiteral("/ours.csv");
    const QString theirOut = dir + QStringLiteral("/fping.txt");
    const Run mine = runToEnd(QStringList{Program} + ours, ourOut);
    const Run theirs = runToEnd(fping, theirOut);
    char label[160];
    std::snprintf(label, sizeof label, "%s vantrel-scan elapsed", name);
    print(label, mine.seconds, "s");
    std::snprintf(label, sizeof label, "%s vantrel-scan ratio to ideal", name);
    print(label, mine.seconds / idealSeconds, "x");
    std::snprintf(label, sizeof label, "%s vantrel-scan rows listed", name);
    print(label, double(lineCount(ourOut) - 4), "rows");
    std::snprintf(label, sizeof label, "%s vantrel-scan peak memory", name);
    print(label, mine.peakKiB / 1024.0, "MB");
    std::snprintf(label, sizeof label, "%s vantrel-scan cpu", name);
    print(label, mine.cpuSeconds, "s");
    std::snprintf(label, sizeof label, "%s fping elapsed", name);
    print(label, theirs.seconds, "s");
    std::snprintf(label, sizeof label, "%s fping ratio to ideal", name);
    print(label, theirs.seconds / idealSeconds, "x");
    std::snprintf(label, sizeof label, "%s fping alive", name);
    print(label, double(lineCount(theirOut)), "addresses");
    std::snprintf(label, sizeof label, "%s fping peak memory", name);
    print(label, theirs.peakKiB / 1024.0, "MB");
    std::snprintf(label, sizeof label, "%s fping cpu", name);
    print(label, theirs.cpuSeconds, "s");
    if (mine.exitCode != 0 || theirs.exitCode != 0)
        std::fprintf(stderr, "%s: exit codes %d (vantrel-scan), %d (fping)\n", name, mine.exitCode,
                     theirs.exitCode);
}

// Time from the start of the process to its first echo request on the wire, seen by a raw
// socket of our own (loopback shows outgoing requests too).
void startUp(const QString &target)
{
    const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK, IPPROTO_ICMP);
    if (fd < 0) {
        std::fprintf(stderr, "start-up: no raw socket, skipped\n");
        return;
    }
    in_addr wanted{};
    inet_pton(AF_INET, target.toLatin1().constData(), &wanted);
    Run run = spawn({Program, QStringLiteral("-q"), QStringLiteral("-n"), QStringLiteral("-c"),
                     QStringLiteral("1"), target},
                    {});
    double firstRequest = -1;
    while (firstRequest < 0) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0)
            break;
        unsigned char packet[1500];
        const ssize_t n = ::recv(fd, packet, sizeof packet, 0);
        if (n < 28)
            continue;
        const auto *ip = reinterpret_cast<const iphdr *>(packet);
        const std::size_t header = ip->ihl * 4u;
        if (std::size_t(n) < header + 8 || ip->daddr != wanted.s_addr || packet[header] != 8)
            continue;
        firstRequest = std::chrono::duration<double>(Clock::now() - run.started).count();
    }
    finish(run);
    ::close(fd);
    print("start-up to first request", firstRequest * 1000, "ms");
    print("one-address run, whole", run.seconds * 1000, "ms");
}

} // namespace

int main()
{
    if (outsideTestNetwork("bench_scan_cli"))
        return 0;
    QTemporaryDir dir;
    // Each run records its scan, as a user's would, but into a history of this run only.
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.path()));
    startUp(QStringLiteral("127.0.0.77"));

    // 4,096 addresses, one every millisecond.
    compare("4096 at 1 ms",
            {QStringLiteral("-q"), QStringLiteral("-n"), QStringLiteral("-c"), QStringLiteral("1"),
             QStringLiteral("-t"), QStringLiteral("500"), QStringLiteral("-i"), QStringLiteral("1"),
             QStringLiteral("127.1.0.0/20")},
            {QStringLiteral("fping"), QStringLiteral("-a"), QStringLiteral("-q"),
             QStringLiteral("-r"), QStringLiteral("0"), QStringLiteral("-t"), QStringLiteral("500"),
             QStringLiteral("-i"), QStringLiteral("1"), QStringLiteral("-g"),
             QStringLiteral("127.1.0.0/20")},
            4.096, dir.path());

    // 65,536 addresses at 10,000 a second.
    compare("65536 at 10000/s",
            {QStringLiteral("-q"), QStringLiteral("-n"), QStringLiteral("-c"), QStringLiteral("1"),
             QStringLiteral("-t"), QStringLiteral("500"), QStringLiteral("--rate"),
             QStringLiteral("10000"), QStringLiteral("127.1.0.0/16")},
            {QStringLiteral("fping"), QStringLiteral("-a"), QStringLiteral("-q"),
             QStringLiteral("-r"), QStringLiteral("0"), QStringLiteral("-t"), QStringLiteral("500"),
             QStringLiteral("-i"), QStringLiteral("0.1"), QStringLiteral("-g"),
             QStringLiteral("127.1.0.0/16")},
            6.5536, dir.path());

    // The same /16 with the history kept (the default), side by side with the run above.
    {
        const QString out = dir.path() + QStringLiteral("/history.csv");
        const Run kept = runToEnd({Program, QStringLiteral("-q"), QStringLiteral("-n"),
                                   QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("-t"),
                                   QStringLiteral("500"), QStringLiteral("--rate"),
                                   QStringLiteral("10000"), QStringLiteral("127.1.0.0/16")},
                                  out);
        const Run without = runToEnd(
            {Program, QStringLiteral("-q"), QStringLiteral("-n"), QStringLiteral("-c"),
             QStringLiteral("1"), QStringLiteral("-t"), QStringLiteral("500"),
             QStringLiteral("--rate"), QStringLiteral("10000"), QStringLiteral("--no-history"),
             QStringLiteral("127.1.0.0/16")},
            out);
        print("65536 at 10000/s with history elapsed", kept.seconds, "s");
        print("65536 at 10000/s with history ratio to ideal", kept.seconds / 6.5536, "x");
        print("65536 at 10000/s --no-history elapsed", without.seconds, "s");
        print("65536 at 10000/s history vs --no-history", kept.seconds / without.seconds, "x");
    }

    // A million addresses at 100,000 a second.
    if (addRoute({QStringLiteral("local"), QStringLiteral("127.16.0.0/12"), QStringLiteral("dev"),
                  QStringLiteral("lo"), QStringLiteral("table"), QStringLiteral("local")})) {
        const QString out = dir.path() + QStringLiteral("/million.csv");
        const Run million = runToEnd(
            {Program, QStringLiteral("-q"), QStringLiteral("-n"), QStringLiteral("-c"),
             QStringLiteral("1"), QStringLiteral("-t"), QStringLiteral("1000"),
             QStringLiteral("--rate"), QStringLiteral("100000"), QStringLiteral("127.16.0.0/12")},
            out);
        print("1048576 at 100000/s elapsed", million.seconds, "s");
        print("1048576 at 100000/s ratio to ideal", million.seconds / 10.48576, "x");
        print("1048576 at 100000/s rows listed", double(lineCount(out) - 4), "rows");
        print("1048576 at 100000/s peak memory", million.peakKiB / 1024.0, "MB");
        print("1048576 at 100000/s cpu", million.cpuSeconds, "s");
    }

    // A silent /16 then an answering one: retries of the silent half fill the request
    // slots, and no answering host may be lost to that.
    if (addRoute({QStringLiteral("127.4.0.0/16"), QStringLiteral("dev"), QStringLiteral("lo")}) &&
        addRoute({QStringLiteral("local"), QStringLiteral("127.5.0.0/16"), QStringLiteral("dev"),
                  QStringLiteral("lo"), QStringLiteral("table"), QStringLiteral("local")})) {
        const QString out = dir.path() + QStringLiteral("/silent-then-answering.jsonl");
        const Run run = runToEnd(
            {Program, QStringLiteral("-q"), QStringLiteral("-n"), QStringLiteral("-c"),
             QStringLiteral("2"), QStringLiteral("-t"), QStringLiteral("4000"),
             QStringLiteral("--rate"), QStringLiteral("10000"), QStringLiteral("--no-history"),
             QStringLiteral("--format"), QStringLiteral("jsonl"), QStringLiteral("127.4.0.0/15")},
            out);
        QFile file(out);
        QByteArray lines = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        print("silent then answering /15 elapsed", run.seconds, "s");
        print("silent then answering /15 answering hosts listed",
              double(lines.count("\"address\":\"127.5.")), "of 65536");
        const qsizetype at = lines.lastIndexOf("\"waits\":");
        const qsizetype waitedAt = lines.lastIndexOf("\"waited_ms\":");
        print("silent then answering /15 request table waits",
              at < 0 ? -1.0 : lines.mid(at + 8, 12).split(',').first().split('}').first().toDouble(),
              "times");
        print("silent then answering /15 walk waited for slots",
              waitedAt < 0 ? -1.0
                           : lines.mid(waitedAt + 12, 12).split(',').first().split('}').first()
                                     .toDouble(),
              "ms");
    }

    // A /24 with reverse lookups against the test DNS server.
    const QString names = dir.path() + QStringLiteral("/names.csv");
    const Run lookups =
        runToEnd({Program, QStringLiteral("-q"), QStringLiteral("-c"), QStringLiteral("1"),
                  QStringLiteral("-t"), QStringLiteral("500"), QStringLiteral("-i"),
                  QStringLiteral("1"), QStringLiteral("127.0.0.0/24")},
                 names);
    print("/24 with lookups, whole run", lookups.seconds, "s");
    print("/24 with lookups, rows listed", double(lineCount(names) - 4), "rows");
    QFile file(names);
    qint64 named = 0;
    if (file.open(QIODevice::ReadOnly))
        named = file.readAll().count(".vantrel.test");
    print("/24 with lookups, rows with a name", double(named), "rows");
    return 0;
}
