#pragma once

#include "scan/ScanView.h"

#include <QString>

// The scan engine's view without a window: keeps what a status bar would show, for the
// progress line, and the reason a start was refused.
class HeadlessScanView : public ScanView
{
public:
    HeadlessScanView(const QString &startText, const QString &endText);

    QString startingText() const override { return m_start; }
    QString endingText() const override { return m_end; }
    void refuseStart(const QString &message, Box focus) override;
    void showScanLayout() override {}
    void showRunning(bool) override {}
    void setIcmpPercent(int percent) override { m_icmpPercent = percent; }
    void setDnsPercent(int) override {}
    // Called for every address handed out: only kept, read when the progress is drawn.
    void setIpStatus(const QString &text) override { m_ipStatus = text; }
    void setNodeCount(std::int64_t count) override { m_nodeCount = count; }
    bool isMinimized() const override { return false; }
    void setWindowCaption(const QString &) override {}
    void beep() override {}

    QString refusal() const { return m_refusal; }
    QString ipStatus() const { return m_ipStatus; }
    int icmpPercent() const { return m_icmpPercent; }
    std::int64_t nodeCount() const { return m_nodeCount; }

private:
    QString m_start, m_end;
    QString m_refusal;
    QString m_ipStatus;
    int m_icmpPercent = 0;
    std::int64_t m_nodeCount = 0;
};
