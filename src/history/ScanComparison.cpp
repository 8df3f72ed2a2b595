#include "history/ScanComparison.h"

#include "app/GeneralDate.h"
#include "app/Version.h"
#include "output/CsvExport.h"
#include "scan/IP_Functions.h"

#include <QIODevice>
#include <QJsonObject>
#include <QMultiHash>

#include <algorithm>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

// Orders dotted addresses by value; anything else after them, by text.
quint64 sortKey(const QString &address)
{
    quint64 value = 0;
    int octets = 0;
    int digits = 0;
    quint32 octet = 0;
    for (const QChar c : address) {
        if (c.isDigit() && digits < 3) {
            octet = octet * 10 + quint32(c.digitValue());
            ++digits;
        } else if (c == u'.' && digits > 0 && octets < 3) {
            value = (value << 8) | std::min(octet, 255u);
            ++octets;
            octet = 0;
            digits = 0;
        } else {
            return quint64(1) << 32;
        }
    }
    if (octets != 3 || digits == 0 || octet > 255)
        return quint64(1) << 32;
    return (value << 8) | octet;
}

struct Keyed
{
    quint64 key;
    const HistoryRow *row;
};

// The rows by address value up to `upTo`, each address once (its first row): sorting numbers
// is much cheaper than hashing texts, and the walk below then yields every group in order.
std::vector<Keyed> byAddress(const QList<HistoryRow> &rows, qint64 upTo)
{
    std::vector<Keyed> keyed;
    keyed.reserve(std::size_t(rows.size()));
    for (const HistoryRow &row : rows) {
        const quint64 key = sortKey(row.address);
        if (upTo >= 0 && key <= quint64(upTo))
            keyed.push_back({key, &row});
    }
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed &a, const Keyed &b) {
        return a.key != b.key ? a.key < b.key : a.row->address < b.row->address;
    });
    const auto same = [](const Keyed &a, const Keyed &b) {
        return a.key == b.key && a.row->address == b.row->address;
    };
    keyed.erase(std::unique(keyed.begin(), keyed.end(), same), keyed.end());
    return keyed;
}

} // namespace

QList<ScanComparison::Change> ScanComparison::compare(const QList<HistoryRow> &then,
                                                      const QList<HistoryRow> &now, qint64 upTo)
{
    const std::vector<Keyed> before = byAddress(then, upTo);
    const std::vector<Keyed> after = byAddress(now, upTo);
    QList<Change> added;
    QList<Change> gone;
    QList<Change> renamed;
    QList<Change> changed;
    auto b = before.cbegin();
    auto a = after.cbegin();
    while (b != before.cend() || a != after.cend()) {
        const bool beforeFirst =
            a == after.cend() ||
            (b != before.cend() &&
             (b->key != a->key ? b->key < a->key : b->row->address < a->row->address));
        const bool afterFirst =
            b == before.cend() ||
            (a != after.cend() &&
             (a->key != b->key ? a->key < b->key : a->row->address < b->row->address));
        if (beforeFirst) {
            gone.append({Kind::Gone, b->row->address, b->row->name, {}, b->row->hardware});
            ++b;
        } else if (afterFirst) {
            added.append({Kind::New, a->row->address, {}, a->row->name, a->row->hardware});
            ++a;
        } else {
            const HistoryRow &was = *b->row;
            const HistoryRow &is = *a->row;
            if (was.nameKnown && is.nameKnown && was.name != is.name)
                renamed.append({Kind::Renamed, is.address, was.name, is.name, is.hardware});
            if (!was.hardware.isEmpty() && !is.hardware.isEmpty() && was.hardware != is.hardware)
                changed.append({Kind::Changed, is.address, was.hardware, is.hardware, is.hardware});
            ++a;
            ++b;
        }
    }
    // A device gone from one address and new at another is one that moved. Each gone
    // address pairs with at most one new one, the lowest first.
    QMultiHash<QString, qsizetype> goneByHardware;
    for (qsizetype i = gone.size() - 1; i >= 0; --i) {
        if (!gone[i].hardware.isEmpty())
            goneByHardware.insert(gone[i].hardware, i);
    }
    QList<Change> moved;
    std::vector<bool> goneMoved(std::size_t(gone.size()), false);
    QList<Change> stillNew;
    for (Change &change : added) {
        const auto from =
            change.hardware.isEmpty() ? goneByHardware.end() : goneByHardware.find(change.hardware);
        if (from == goneByHardware.end()) {
            stillNew.append(std::move(change));
            continue;
        }
        goneMoved[std::size_t(*from)] = true;
        moved.append(
            {Kind::Moved, change.address, gone[*from].address, change.address, change.hardware});
        goneByHardware.erase(from);
    }
    QList<Change> stillGone;
    for (qsizetype i = 0; i < gone.size(); ++i) {
        if (!goneMoved[std::size_t(i)])
            stillGone.append(std::move(gone[i]));
    }
    stillNew.reserve(stillNew.size() + stillGone.size() + renamed.size() + moved.size() +
                     changed.size());
    stillNew.append(std::move(stillGone));
    stillNew.append(std::move(renamed));
    stillNew.append(std::move(moved));
    stillNew.append(std::move(changed));
    return stillNew;
}

ScanComparison::Counts ScanComparison::count(const QList<Change> &changes)
{
    Counts counts;
    for (const Change &change : changes) {
        switch (change.kind) {
        case Kind::New:
            ++counts.added;
            break;
        case Kind::Gone:
            ++counts.gone;
            break;
        case Kind::Renamed:
            ++counts.renamed;
            break;
        case Kind::Moved:
            ++counts.moved;
            break;
        case Kind::Changed:
            ++counts.changed;
            break;
        }
    }
    return counts;
}

QString ScanComparison::kindName(Kind kind, bool inverted)
{
    switch (kind) {
    case Kind::New:
        return inverted ? u"silent"_s : u"new"_s;
    case Kind::Gone:
        return inverted ? u"answering"_s : u"gone"_s;
    case Kind::Renamed:
        return u"renamed"_s;
    case Kind::Moved:
        return u"moved"_s;
    case Kind::Changed:
        return u"changed"_s;
    }
    return {};
}

QString ScanComparison::modeText(bool inverted)
{
    return inverted ? u"inverted scan (the addresses that did not answer)"_s
                    : u"normal scan (the hosts that answered)"_s;
}

QString ScanComparison::countsText(const Counts &counts, bool inverted)
{
    QString text = u"%1 %2, %3 %4, %5 %6"_s.arg(
        QString::number(counts.added), kindName(Kind::New, inverted), QString::number(counts.gone),
        kindName(Kind::Gone, inverted), QString::number(counts.renamed),
        kindName(Kind::Renamed, inverted));
    // Devices are told apart only where hardware addresses were recorded.
    if (counts.moved + counts.changed > 0)
        text += u", %1 moved, %2 changed"_s.arg(counts.moved).arg(counts.changed);
    return text;
}

ScanComparison::Report ScanComparison::report(ScanRecord then, ScanRecord now,
                                              qint64 stoppedSkipped, Part part, bool running)
{
    Report r{std::move(then), std::move(now), {}, stoppedSkipped, running, {}};
    qint64 upTo = std::numeric_limits<qint64>::max();
    if (part.settled >= 0 && part.settled < part.total) {
        r.compared = part;
        upTo = part.settled > 0 ? qint64(part.last) : -1;
    }
    r.changes = compare(r.then.rows, r.now.rows, upTo);
    return r;
}

QStringList ScanComparison::notes(const Report &report)
{
    QStringList notes;
    if (report.stoppedSkipped > 0) {
        notes << (report.stoppedSkipped == 1
                      ? u"1 stopped scan after the previous one was not compared with."_s
                      : u"%1 stopped scans after the previous one were not compared with."_s.arg(
                            report.stoppedSkipped));
    }
    const Part &part = report.compared;
    if (part.settled >= 0) {
        const QString compared =
            part.settled == 0
                ? u"no address compared yet"_s
                : u"%1 of %2 addresses compared, up to %3"_s.arg(
                      QString::number(part.settled), QString::number(part.total),
                      IP_Functions::Number_To_Address(IP_Functions::AddressNumber(part.last)));
        notes << (report.running ? u"This scan is still running: so far %1."_s.arg(compared)
                                 : u"This scan was stopped: %1."_s.arg(compared));
    }
    return notes;
}

QJsonObject ScanComparison::toJson(const Change &change, bool inverted)
{
    QJsonObject object{{u"change"_s, kindName(change.kind, inverted)},
                       {u"address"_s, change.address},
                       {u"then"_s, change.then},
                       {u"now"_s, change.now}};
    if (!change.hardware.isEmpty())
        object.insert(u"mac"_s, change.hardware);
    return object;
}

QString ScanComparison::textLine(const Change &change, bool inverted)
{
    QString line =
        kindName(change.kind, inverted).leftJustified(10) + change.address.leftJustified(16);
    switch (change.kind) {
    case Kind::New:
        line += change.now;
        break;
    case Kind::Gone:
        line += change.then;
        break;
    case Kind::Renamed:
    case Kind::Moved:
    case Kind::Changed:
        line += change.then + u" -> "_s + change.now;
        break;
    }
    return line.trimmed();
}

QString ScanComparison::csvHeader(const Report &report, const QLocale &locale)
{
    // A scan of several ranges is known by them all, in the first field.
    const auto scanLine = [&](const QString &which, const ScanRecord &scan) -> QString {
        const QString range =
            scan.lastAddress.isEmpty()
                ? QString(u" scan of "_s + CsvExport::commentText(scan.firstAddress))
                : QString(u" scan from "_s + CsvExport::commentText(scan.firstAddress) + u" to "_s +
                          CsvExport::commentText(scan.lastAddress));
        return u"# "_s + which + range + u", "_s + generalDate(scan.started, locale) + u"\r\n"_s;
    };
    QString header = scanLine(u"Previous"_s, report.then) + scanLine(u"This"_s, report.now) +
                     u"# Mode: "_s + modeText(report.then.inverted) + u"\r\n"_s;
    for (const QString &note : notes(report))
        header += u"# "_s + CsvExport::commentText(note) + u"\r\n"_s;
    return header + u"# Compared in "_s + Version::companyName() + u' ' +
           Version::fileDescription() + u", Version "_s + Version::text() + u"\r\n# \r\n"_s;
}

QString ScanComparison::csvLine(const Change &change, bool inverted)
{
    return kindName(change.kind, inverted) + u',' + CsvExport::field(change.address) + u',' +
           CsvExport::field(change.then) + u',' + CsvExport::field(change.now) + u"\r\n"_s;
}

ScanComparison::Written ScanComparison::writeCsv(QIODevice &device, const Report &report,
                                                 const QLocale &locale)
{
    QString text = csvHeader(report, locale);
    for (const Change &change : report.changes)
        text += csvLine(change, report.then.inverted);
    const QByteArray bytes = text.toUtf8();
    for (qsizetype done = 0; done < bytes.size();) {
        const qint64 n = device.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0)
            return {false, device.errorString()};
        done += n;
    }
    return {true, {}};
}
