#pragma once

#include "app/ScanSettings.h"

#include <QDateTime>
#include <QList>
#include <QString>

// One listed row of a scan as the table showed it. Without a known name, name lookup was
// off or its answer had not come when the scan was recorded.
struct HistoryRow
{
    QString address;
    QString response;
    QString name;
    bool nameKnown = true;

    friend bool operator==(const HistoryRow &, const HistoryRow &) = default;
};

// One scan as the history keeps it.
struct ScanRecord
{
    qint64 id = 0; // 0 until recorded
    QString firstAddress;
    QString lastAddress;
    bool inverted = false;
    ScanSettings settings;
    QDateTime started;
    QDateTime ended;
    bool completed = false; // false: stopped by the user
    QList<HistoryRow> rows;
};
