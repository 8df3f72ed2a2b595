#include "cli/ScanEndWatcher.h"

#include "scan/ScanEngine.h"
#include "scan/components/EchoControl.h"
#include "scan/components/LookupControl.h"

ScanEndWatcher::ScanEndWatcher(ScanEngine &engine, EchoControl &echo, LookupControl &lookup,
                               QObject *parent)
    : QObject(parent)
    , m_echo(echo)
    , m_lookup(lookup)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &ScanEndWatcher::finish);
    connect(&engine, &ScanEngine::scanEnded, this, [this](bool completed) {
        if (completed)
            finish();
    });
}

void ScanEndWatcher::endWithin(int milliseconds)
{
    if (!m_stopping) {
        // Only from the stop on: a queued call per reply would cost a fast sweep dearly.
        // Queued, as a reply or answer still counts as pending while it is being delivered,
        // and the engine must have handled it (listed a row, started a lookup) before we
        // look.
        connect(&m_echo, &EchoControl::EchoReply, this, &ScanEndWatcher::check,
                Qt::QueuedConnection);
        connect(&m_lookup, &LookupControl::LookupAnswer, this, &ScanEndWatcher::check,
                Qt::QueuedConnection);
    }
    m_stopping = true;
    if (!m_deadline.isActive())
        m_deadline.start(milliseconds);
    check();
}

void ScanEndWatcher::endNow()
{
    finish();
}

void ScanEndWatcher::check()
{
    if (m_stopping && m_echo.EchoesPending() == 0 && m_lookup.LookupsPending() == 0)
        finish();
}

void ScanEndWatcher::finish()
{
    if (m_ended)
        return;
    m_ended = true;
    m_deadline.stop();
    Q_EMIT ended();
}
