#include "cli/ProgressLine.h"

#include "cli/HeadlessScanView.h"
#include "scan/ScanEngine.h"
#include "scan/components/LookupControl.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

using namespace Qt::StringLiterals;

ProgressLine::ProgressLine(std::int64_t total, const ScanEngine &engine,
                           const HeadlessScanView &view, const LookupControl &lookup,
                           QObject *parent)
    : QObject(parent)
    , m_total(total)
    , m_engine(engine)
    , m_view(view)
    , m_lookup(lookup)
{
    m_timer.setInterval(250);
    connect(&m_timer, &QTimer::timeout, this, &ProgressLine::draw);
}

bool ProgressLine::wanted(bool quiet)
{
    return !quiet && ::isatty(STDERR_FILENO) == 1;
}

void ProgressLine::start()
{
    m_clock.start();
    m_timer.start();
}

void ProgressLine::stop()
{
    m_timer.stop();
    if (m_shown)
        std::fputs("\r\x1b[K", stderr);
    m_shown = false;
}

// The first address goes out at the start and is not counted by the walk.
std::int64_t ProgressLine::sentCount() const
{
    return std::min(m_total, m_engine.state().Sent_Count + 1);
}

void ProgressLine::draw()
{
    const std::int64_t total = m_total;
    const std::int64_t sent = sentCount();
    const double seconds = m_clock.elapsed() / 1000.0;
    const double rate = seconds > 0 ? sent / seconds : 0;
    QString left = u"-"_s;
    if (rate > 0 && sent < total) {
        const qint64 remaining = qint64((total - sent) / rate);
        left = u"%1:%2"_s.arg(remaining / 60).arg(remaining % 60, 2, 10, QChar(u'0'));
    }
    const QString line =
        u"\r%1% sent (%2 of %3)  %4 listed  %5 lookups pending  %6/s  %7 left\x1b[K"_s.arg(
            QString::number(total > 0 ? 100 * sent / total : 100), QString::number(sent),
            QString::number(total), QString::number(m_view.nodeCount()),
            QString::number(m_lookup.LookupsPending()), QString::number(qint64(rate)), left);
    std::fputs(line.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
    m_shown = true;
}
