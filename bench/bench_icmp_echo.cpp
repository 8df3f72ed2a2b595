// Speed of the echo component inside the private test network:
//   tests/net/testnet.sh build/<dir>/bench/bench_icmp_echo
// Prints "name: value unit" lines; ratios compare against a baseline of the same run.
#include "BenchSupport.h"

#include "scan/components/EchoSequenceTable.h"
#include "scan/components/IcmpEcho.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <cstdio>

namespace {

constexpr int Outstanding = 10000;

void print(const char *name, double value, const char *unit)
{
    std::printf("%s: %.2f %s\n", name, value, unit);
    std::fflush(stdout);
}

QString answeringAddress(int i)
{
    return QStringLiteral("127.0.0.%1").arg(i & 0xff);
}

// Rounds of 256 requests to 127.0.0.0/24, each round waiting for all its answers.
double roundsPerSecond(IcmpEcho &echo, int rounds)
{
    int answered = 0;
    int expected = 0;
    QEventLoop loop;
    const auto connection = QObject::connect(
        &echo, &EchoControl::EchoReply, &loop,
        [&](const QString &, std::int16_t, std::int16_t status, const QString &tag) {
            if (tag == u"round" && status == EchoControl::Answered && ++answered == expected)
                loop.quit();
        });
    echo.setEchoTag(QStringLiteral("round"));
    QElapsedTimer clock;
    clock.start();
    for (int round = 0; round < rounds; ++round) {
        expected += 256;
        for (int i = 0; i < 256; ++i)
            echo.SendEcho(answeringAddress(i));
        if (answered < expected)
            loop.exec();
    }
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    QObject::disconnect(connection);
    return expected / seconds;
}

// A sliding window of requests to 127.1.0.0/16: a new one goes out as each answer arrives.
double pipelinedPerSecond(IcmpEcho &echo, int total, int window)
{
    int sent = 0;
    int done = 0;
    QEventLoop loop;
    const auto sendNext = [&] {
        echo.SendEcho(QStringLiteral("127.1.%1.%2").arg((sent >> 8) & 0xff).arg(sent & 0xff));
        ++sent;
    };
    const auto connection =
        QObject::connect(&echo, &EchoControl::EchoReply, &loop,
                         [&](const QString &, std::int16_t, std::int16_t, const QString &tag) {
                             if (tag != u"window")
                                 return;
                             if (++done == total)
                                 loop.quit();
                             else if (sent < total)
                                 sendNext();
                         });
    echo.setEchoTag(QStringLiteral("window"));
    QElapsedTimer clock;
    clock.start();
    while (sent < window)
        sendNext();
    loop.exec();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    QObject::disconnect(connection);
    return total / seconds;
}

// Adding, finding and ending one request in the in-flight table, with `resident` others.
double tableNsPerRequest(int resident)
{
    EchoSequenceTable table;
    for (int i = 0; i < resident; ++i) {
        EchoSequenceTable::Request request;
        request.deadlineNs = 1'000'000'000'000 + i;
        table.add(std::move(request));
    }
    constexpr int Operations = 1'000'000;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < Operations; ++i) {
        EchoSequenceTable::Request request;
        request.deadlineNs = i;
        const auto sequence = table.add(std::move(request));
        if (!table.find(*sequence) || !table.take(*sequence))
            std::abort();
    }
    return double(clock.nsecsElapsed()) / Operations;
}

void benchMode(IcmpEcho::SocketChoice choice, const char *name)
{
    IcmpEcho echo(choice);
    if (!echo.isAvailable()) {
        std::printf("%s: unavailable (%s)\n", name, qPrintable(echo.unavailableReason()));
        return;
    }
    echo.setEchoData(QStringLiteral("Vantrel benchmark"));
    echo.setEchoTimeout(5000);
    const QByteArray prefix(name);
    const double rounds = roundsPerSecond(echo, 100);
    print(prefix + "_rounds_of_256", rounds, "requests/s");
    print(prefix + "_window_1000", pipelinedPerSecond(echo, 50000, 1000), "requests/s");

    // The same rounds while 10,000 requests to silent addresses wait in the table.
    echo.setEchoTimeout(600000);
    echo.setEchoTag(QStringLiteral("silent"));
    for (int i = 0; i < Outstanding; ++i)
        echo.SendEcho(QStringLiteral("127.0.1.%1").arg(i & 0xff));
    echo.setEchoTimeout(5000);
    const double loaded = roundsPerSecond(echo, 100);
    print(prefix + "_rounds_of_256_with_10000_outstanding", loaded, "requests/s");
    print(prefix + "_us_per_matched_reply_with_10000_outstanding", 1e6 / loaded, "us");
    print(prefix + "_loaded_to_idle_ratio", loaded / rounds, "x");
    echo.CancelEchoes();
    QEventLoop drain;
    QObject::connect(&echo, &EchoControl::EchoReply, &drain, [&] {
        if (echo.EchoesPending() == 0)
            drain.quit();
    });
    drain.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    if (outsideTestNetwork("bench_icmp_echo"))
        return 0;
    QCoreApplication app(argc, argv);
    const double idle = tableNsPerRequest(0);
    const double loaded = tableNsPerRequest(Outstanding);
    print("table_add_find_take", idle, "ns");
    print("table_add_find_take_with_10000_in_flight", loaded, "ns");
    print("table_loaded_to_idle_ratio", loaded / idle, "x");
    benchMode(IcmpEcho::SocketChoice::DatagramOnly, "datagram");
    benchMode(IcmpEcho::SocketChoice::RawOnly, "raw");
    return 0;
}
