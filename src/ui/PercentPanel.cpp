#include "ui/PercentPanel.h"

#include <algorithm>

PercentPanel::PercentPanel(QWidget *parent)
    : QProgressBar(parent)
{
    setRange(0, 100);
    setValue(0);
    setFormat(QStringLiteral("%p%"));
    setAlignment(Qt::AlignCenter);
    setTextVisible(true);
}

void PercentPanel::setPercent(int percent)
{
    setValue(std::clamp(percent, 0, 100));
}
