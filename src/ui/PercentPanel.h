#pragma once

#include <QProgressBar>

// A status panel that shows a whole-number percentage 0 to 100 as a filled bar with its
// caption ("42%"), and reads it back.
class PercentPanel : public QProgressBar
{
    Q_OBJECT
public:
    explicit PercentPanel(QWidget *parent = nullptr);

    int percent() const { return value(); }
    void setPercent(int percent);
};
