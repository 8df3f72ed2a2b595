#pragma once

#include <cstdint>

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class HeadlessScanView;
class LookupControl;
class ScanEngine;

// One self-updating line on a terminal's standard error: share of the range sent, rows
// listed, lookups pending, rate and time left. Silent unless standard error is a terminal.
class ProgressLine : public QObject
{
    Q_OBJECT
public:
    ProgressLine(std::int64_t total, const ScanEngine &engine, const HeadlessScanView &view,
                 const LookupControl &lookup, QObject *parent = nullptr);

    static bool wanted(bool quiet);
    void start();
    // Clears the line, so that messages after it start on a clean line.
    void stop();

private:
    void draw();
    std::int64_t sentCount() const;

    std::int64_t m_total;
    const ScanEngine &m_engine;
    const HeadlessScanView &m_view;
    const LookupControl &m_lookup;
    QTimer m_timer;
    QElapsedTimer m_clock;
    bool m_shown = false;
};
