#include "cli/HeadlessScanView.h"

HeadlessScanView::HeadlessScanView(const QString &startText, const QString &endText,
                                   QObject *parent)
    : QObject(parent)
    , m_start(startText)
    , m_end(endText)
{}

void HeadlessScanView::refuseStart(const QString &message, Box)
{
    m_refusal = message;
}

void HeadlessScanView::showRunning(bool running)
{
    m_running = running;
    Q_EMIT runningChanged(running);
}
