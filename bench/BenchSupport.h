#pragma once

#include <QByteArray>
#include <QFile>

#include <cstdio>

// A figure of this process from /proc/self/status in KiB ("VmHWM:" peak, "VmRSS:" now);
// -1 when it cannot be read.
inline qint64 processStatusKiB(const QByteArray &key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    // /proc files report size 0: read to the end.
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Network benchmarks run only inside the private test network, where nothing they send can
// leave the machine; elsewhere they say so and end as a success, so `dev.sh bench` goes on.
inline bool outsideTestNetwork(const char *benchmark)
{
    if (qgetenv("VANTREL_TESTNET") == "1")
        return false;
    std::printf("%s: skipped (needs the private test network: run it through "
                "tests/net/testnet.sh as root)\n",
                benchmark);
    return true;
}
