#pragma once

#include "scan/ScanView.h"

#include <QStringList>

// A window for the scan engine that records what it is shown instead of drawing it.
class FakeScanView : public ScanView
{
public:
    QString start, end;
    QStringList refusals;
    Box focus = Box::Starting;
    bool running = false;
    int layouts = 0, icmpPercent = -1, dnsPercent = -1, beeps = 0;
    QString ipStatus, caption;
    std::int64_t nodeCount = -1;
    bool minimized = false;

    QString startingText() const override { return start; }
    QString endingText() const override { return end; }
    void refuseStart(const QString &message, Box box) override
    {
        refusals.append(message);
        focus = box;
    }
    void showScanLayout() override { ++layouts; }
    void showRunning(bool on) override { running = on; }
    void setIcmpPercent(int percent) override { icmpPercent = percent; }
    void setDnsPercent(int percent) override { dnsPercent = percent; }
    void setIpStatus(const QString &text) override { ipStatus = text; }
    void setNodeCount(std::int64_t count) override { nodeCount = count; }
    bool isMinimized() const override { return minimized; }
    void setWindowCaption(const QString &text) override { caption = text; }
    void beep() override { ++beeps; }
};
