#pragma once

#include "app/ScanSettings.h"

#include <QDateTime>
#include <QList>
#include <QString>

// One listed row of a scan as the table showed it. Without a known name, name lookup was
// off or its answer had not come when the scan was recorded. The hardware address and its
// maker are empty where the table had none (a host behind a router, a scan recorded before
// they were kept).
struct HistoryRow
{
    QString address;
    QString response;
    QString name;
    bool nameKnown = true;
    QString hardware = {};
    QString vendor = {};

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
