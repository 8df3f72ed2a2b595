#pragma once

#include "scan/components/ResultGrid.h"

#include <QDateTime>
#include <QLocale>
#include <QString>

class QIODevice;

// The result table as a comma-separated text file: four "# " comment lines (range, program
// version, time stamp, an empty comment), then one line per data row: address, time and
// name, and after them the table's further columns (hardware address, maker). Lines end in CR LF
// and the text is UTF-8 without a byte-order mark. The writer takes any device, so the caller
// chooses how a file is replaced and tests can hand it a buffer or a failing device.
namespace CsvExport {

struct Result
{
    bool ok = false;
    qint64 records = 0; // data lines written
    QString error;      // the device's reason when !ok
};

// Reads the table once, every row from 1 to the last, and writes it without giving the event
// loop a chance to run. `now` is the time stamp of the third line. The rows go in `order`
// (the order a view shows them), or in table order when it is empty.
Result write(QIODevice &device, const ResultGrid &table, const QString &startText,
             const QString &endText, const QDateTime &now, const QLocale &locale = QLocale(),
             const ResultGrid::RowOrder &order = {});

// Replaces the file at `path` (or creates it) with the table as write() gives it, through
// AtomicFile: on any failure the old file stays byte-identical and `error` says why.
Result writeFile(const QString &path, const ResultGrid &table, const QString &startText,
                 const QString &endText, const QDateTime &now, const QLocale &locale = QLocale(),
                 const ResultGrid::RowOrder &order = {});

// One field as a data line writes it, and a text made fit for a comment line; for other
// lists in the same form.
QString field(const QString &cell);
QString commentText(const QString &text);

} // namespace CsvExport
