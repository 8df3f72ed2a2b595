#pragma once

#include <QString>

#include <cstdint>

// What the scan engine needs of the window that hosts it: the two range boxes, the Scan
// button, the status panels and the window caption. The main window implements it; engine
// tests use a recording fake.
class ScanView
{
public:
    enum class Box
    {
        Starting,
        Ending
    };

    virtual ~ScanView() = default;

    virtual QString startingText() const = 0;
    virtual QString endingText() const = 0;

    // An exclamation message box titled "Vantrel" with an OK button, then the focus moves to
    // the box to correct.
    virtual void refuseStart(const QString &message, Box focus) = 0;

    // Hourglass, status bar shown, output menus enabled, window grown on the first scan.
    virtual void showScanLayout() = 0;
    // Running: boxes disabled, button "STOP" in bold, focus on the button.
    // Idle: hourglass off, boxes enabled and their texts selected, button "Scan", focus on
    // the starting box.
    virtual void showRunning(bool running) = 0;

    virtual void setIcmpPercent(int percent) = 0;
    virtual void setDnsPercent(int percent) = 0;
    virtual void setIpStatus(const QString &text) = 0;
    virtual void setNodeCount(std::int64_t count) = 0;

    virtual bool isMinimized() const = 0;
    virtual void setWindowCaption(const QString &caption) = 0;
    virtual void beep() = 0;
};
