#pragma once

#include "history/ScanRecord.h"

#include <QList>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <limits>

class QIODevice;
class QJsonObject;

// What changed between two scans of the same range and mode: addresses listed now and not
// then (new), listed then and not now (gone), and listed in both with a different name
// (renamed). An inverted scan lists the addresses that did not answer, so there a new one
// has gone silent and a gone one answers again: the kinds are worded for the mode. Where
// both scans know hardware addresses, a device found at another address is one that moved
// (instead of a gone and a new address), and an address now held by another device one
// whose device changed. Pure functions over two row sets, shared by the window and the
// command-line scanner.
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
    QString then;          // the name in the earlier scan; empty for a new address
    QString now;           // the name in the later scan; empty for a gone address
    QString hardware = {}; // the device's hardware address, where known

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
// knew one. Addresses whose value is above `upTo` are left out on both sides.
QList<Change> compare(const QList<HistoryRow> &then, const QList<HistoryRow> &now,
                      qint64 upTo = std::numeric_limits<qint64>::max());
Counts count(const QList<Change> &changes);

// The change field of every output: "new", "gone" or "renamed"; for an inverted scan
// "silent", "answering" or "renamed"; "moved" and "changed" in both.
QString kindName(Kind kind, bool inverted = false);
// "normal scan (the hosts that answered)" or "inverted scan (the addresses that did not
// answer)".
QString modeText(bool inverted);
// "1 new, 2 gone, 0 renamed", worded for the mode; ", 1 moved, 0 changed" after it where
// devices moved or changed.
QString countsText(const Counts &counts, bool inverted);

// How far the later scan has come: the first `settled` of its `total` addresses (in the
// order it sends them, ascending) have their outcome, the last of them `last`. -1: all.
struct Part
{
    qint64 settled = -1;
    qint64 total = 0;
    quint32 last = 0;
};

// Two scans compared, with what a reader needs to trust the list.
struct Report
{
    ScanRecord then; // the most recent completed scan of the range and mode
    ScanRecord now;
    QList<Change> changes;
    qint64 stoppedSkipped = 0; // stopped scans between the two, not compared with
    bool running = false;      // `now` was still running
    // Short of all of `now`'s addresses while it runs or when it was stopped: only those
    // with their outcome were compared. -1: all of them.
    Part compared;
};
// Compares the part of `now` that has its outcome.
Report report(ScanRecord then, ScanRecord now, qint64 stoppedSkipped = 0, Part part = {},
              bool running = false);
// Sentences on the earlier scan and the part compared; none where there is nothing to add.
QStringList notes(const Report &report);

// One change as a JSON object: change, address, then, now, and "mac" where known.
QJsonObject toJson(const Change &change, bool inverted = false);

// One line of the plain-text report: change, address, then, now, in aligned columns.
QString textLine(const Change &change, bool inverted = false);

// The comment lines that head the CSV list: both scans' ranges and dates, the mode, the
// notes, the program version, an empty comment. Lines end in CR LF, as in the export.
QString csvHeader(const Report &report, const QLocale &locale = QLocale());
// One CSV row: change, address, then, now, each field as the export writes it (quoted only
// where needed, a would-be formula kept a text); ends in CR LF.
QString csvLine(const Change &change, bool inverted = false);

struct Written
{
    bool ok = false;
    QString error;
};
// The header and every change, as UTF-8 without a byte-order mark.
Written writeCsv(QIODevice &device, const Report &report, const QLocale &locale = QLocale());

} // namespace ScanComparison
