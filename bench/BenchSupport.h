#pragma once

#include "scan/ScanView.h"

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

// A window for the scan engine that draws nothing: it only holds the range and whether the
// scan runs.
class BenchScanView : public ScanView
{
public:
    QString start, end;
    bool running = false;

    QString startingText() const override { return start; }
    QString endingText() const override { return end; }
    void refuseStart(const QString &message, Box) override
    {
        std::fprintf(stderr, "refused: %s\n", qPrintable(message));
    }
    void showScanLayout() override {}
    void showRunning(bool on) override { running = on; }
    void setIcmpPercent(int) override {}
    void setDnsPercent(int) override {}
    void setIpStatus(const QString &) override {}
    void setNodeCount(std::int64_t) override {}
    bool isMinimized() const override { return false; }
    void setWindowCaption(const QString &) override {}
    void beep() override {}
};
