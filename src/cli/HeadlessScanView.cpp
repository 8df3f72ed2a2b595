#include "cli/HeadlessScanView.h"

HeadlessScanView::HeadlessScanView(const QString &startText, const QString &endText)
    : m_start(startText)
    , m_end(endText)
{}

void HeadlessScanView::refuseStart(const QString &message, Box)
{
    m_refusal = message;
}
