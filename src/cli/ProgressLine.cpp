#include "cli/ProgressLine.h"

#include "cli/HeadlessScanView.h"
#include "scan/components/LookupControl.h"

#include <cstdio>
#include <unistd.h>

using namespace Qt::StringLiterals;

ProgressLine::ProgressLine(const AddressRange &range, const HeadlessScanView &view,
                           const LookupControl &lookup, QObject *parent)
    : QObject(parent)
    , m_range(range)
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

// The view keeps the last address handed out; its distance from the first is the count.
std::int64_t ProgressLine::sentCount() const
{
    const QString status = m_view.ipStatus();
    if (status == u"Scan Completed"_s)
        return m_range.size();
    if (!IP_Functions::Is_Valid_Address(status))
        return status.isEmpty() ? 1 : -1;
    QString copy = status;
    return IP_Functions::Address_Span_Of(m_range.first, IP_Functions::Address_To_Number(copy)) + 1;
}

void ProgressLine::draw()
{
    const std::int64_t total = m_range.size();
    std::int64_t sent = sentCount();
    if (sent < 0) // waiting on lookups: the share from the percentage instead
        sent = total * m_view.icmpPercent() / 100;
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
