#pragma once

#include "history/ScanRecord.h"

#include <QList>
#include <QLocale>
#include <QString>

class QIODevice;
class QJsonObject;

// What changed between two scans of the same range: addresses listed now and not then
// (new), listed then and not now (gone), listed in both with a different name (renamed);
// and where hardware addresses are known, a device found at another address (moved, instead
// of a gone and a new address) and an address now held by another device (changed).
// Pure functions over two row sets, shared by the window and the command-line scanner.
namespace ScanComparison {

enum class Kind
{
    New,
    Gone,
    Renamed,
    Moved,  // then: the address it had; now: the address it has
    Changed // then: the hardware address it had; now: the one it has
};

struct Change
{
    Kind kind = Kind::New;
    QString address;
    QString then;     // the name in the earlier scan; empty for a new address
    QString now;      // the name in the later scan; empty for a gone address
    QString hardware; // the device's hardware address, where known

    friend bool operator==(const Change &, const Change &) = default;
};

struct Counts
{
    qsizetype added = 0;
    qsizetype gone = 0;
    qsizetype renamed = 0;
    qsizetype moved = 0;
    qsizetype changed = 0;
    qsizetype total() const { return added + gone + renamed + moved + changed; }
};

// New first, then gone, renamed, moved and changed; within each group by address value. An address
// listed twice counts once, with its first row. Names are compared only where both scans
// knew one.
QList<Change> compare(const QList<HistoryRow> &then, const QList<HistoryRow> &now);
Counts count(const QList<Change> &changes);

// "new", "gone", "renamed", "moved" or "changed": the change field of every output.
QString kindName(Kind kind);

// One change as a JSON object: change, address, then, now, and "mac" where known.
QJsonObject toJson(const Change &change);

// One line of the plain-text report: change, address, then, now, in aligned columns.
QString textLine(const Change &change);

// The comment lines that head the CSV list: both scans' ranges and dates, the program
// version, an empty comment. Lines end in CR LF, as in the export.
QString csvHeader(const ScanRecord &then, const ScanRecord &now, const QLocale &locale = QLocale());
// One CSV row: change, address, then, now, each field as the export writes it (quoted only
// where needed, a would-be formula kept a text); ends in CR LF.
QString csvLine(const Change &change);

struct Written
{
    bool ok = false;
    QString error;
};
// The header and every change, as UTF-8 without a byte-order mark.
Written writeCsv(QIODevice &device, const ScanRecord &then, const ScanRecord &now,
                 const QList<Change> &changes, const QLocale &locale = QLocale());

} // namespace ScanComparison
