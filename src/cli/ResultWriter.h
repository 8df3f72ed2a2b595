#pragma once

#include "cli/ScanOptions.h"
#include "history/ScanComparison.h"
#include "history/ScanRecord.h"
#include "scan/ScanEngine.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

class QIODevice;
class ResultGrid;

// Writes the listed rows in the chosen format. CSV is the window's export file, written by
// the same writer; text and jsonl read the same table, a row at a time, so that they can be
// written as the rows come.
namespace ResultWriter {

// This scan against the most recent earlier completed scan of its range and mode.
using Comparison = ScanComparison::Report;

// What a row's cells do not say: the round trip as finely as it was measured and what
// became of its name lookup.
struct RowFacts
{
    std::int64_t roundTripNs = -1; // -1: no answer (a row of an inverted scan)
    int lookup = -1;               // the lookup control's status; -1: not done
    bool hardwareDone = false;     // the hardware address and maker are final
    bool written = false;          // already on the output
};
using Facts = std::vector<RowFacts>; // by table row; index 0 is the header's

struct Summary
{
    ScanOptions options;
    QDateTime started, ended; // UTC
    bool interrupted = false;
    ScanEngine::SlotWaits waits;
    std::int64_t requestsSent = 0;
    // Written after the rows when asked for and an earlier scan exists; else why not.
    std::optional<Comparison> comparison;
    QString notCompared;
};

struct Counts
{
    qint64 listed = 0;
    qint64 answered = 0; // rows with a round-trip time; the rest carry an error text
};

Counts count(const ResultGrid &table);

// The text format's column captions; empty for the other formats.
QByteArray header(ScanOptions::Format format);
// One row of the text or jsonl format, with its line end.
QByteArray rowLine(const ResultGrid &table, qsizetype row, const RowFacts &facts,
                   const ScanOptions &options);

// Everything not yet written: the header (unless `headerWritten`), every row whose facts do
// not say it was written, then what changed and the summary. False with `error` set when
// the device refused the text.
bool write(QIODevice &device, ResultGrid &table, const Summary &summary, const Facts &facts,
           bool headerWritten, QString &error);

} // namespace ResultWriter
