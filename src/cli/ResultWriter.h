#pragma once

#include "cli/ScanOptions.h"
#include "history/ScanComparison.h"
#include "history/ScanRecord.h"
#include "scan/ScanEngine.h"

#include <QDateTime>
#include <QString>

#include <optional>

class QIODevice;
class ResultGrid;

// Writes the listed rows in the chosen format. CSV is the window's export file, written by
// the same writer; text and jsonl read the same table.
namespace ResultWriter {

// This scan against the most recent earlier completed scan of its range and mode.
using Comparison = ScanComparison::Report;

struct Summary
{
    ScanOptions options;
    QDateTime started, ended; // UTC
    bool interrupted = false;
    ScanEngine::SlotWaits waits;
    // Written after the rows when asked for and an earlier scan exists; else why not.
    std::optional<Comparison> comparison;
    QString notCompared;
};

struct Counts
{
    qint64 listed = 0;
    qint64 answered = 0; // rows with a round-trip time; the rest carry an error text
};

Counts count(ResultGrid &table);

// False with `error` set when the device refused the text.
bool write(QIODevice &device, ResultGrid &table, const Summary &summary, QString &error);

} // namespace ResultWriter
