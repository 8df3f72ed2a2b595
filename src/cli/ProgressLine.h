#pragma once

#include "scan/AddressRange.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class HeadlessScanView;
class LookupControl;

// One self-updating line on a terminal's standard error: share of the range sent, rows
// listed, lookups pending, rate and time left. Silent unless standard error is a terminal.
class ProgressLine : public QObject
{
    Q_OBJECT
public:
    ProgressLine(const AddressRange &range, const HeadlessScanView &view,
                 const LookupControl &lookup, QObject *parent = nullptr);

    static bool wanted(bool quiet);
    void start();
    // Clears the line, so that messages after it start on a clean line.
    void stop();

private:
    void draw();
    std::int64_t sentCount() const;

    AddressRange m_range;
    const HeadlessScanView &m_view;
    const LookupControl &m_lookup;
    QTimer m_timer;
    QElapsedTimer m_clock;
    bool m_shown = false;
};
