#include "history/ScanComparison.h"

#include "app/Version.h"
#include "output/CsvExport.h"

#include <QHash>
#include <QIODevice>

#include <algorithm>

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

QString field(const QString &text)
{
    const bool quote = std::any_of(text.begin(), text.end(), [](QChar c) {
        return c == u',' || c == u'"' || c == u'\r' || c == u'\n';
    });
    if (!quote)
        return text;
    QString out = text;
    out.replace(u"\""_s, u"\"\""_s);
    return u'"' + out + u'"';
}

QString oneLine(QString text)
{
    text.replace(u'\r', u' ');
    text.replace(u'\n', u' ');
    return text;
}

} // namespace

QList<ScanComparison::Change> ScanComparison::compare(const QList<HistoryRow> &then,
                                                      const QList<HistoryRow> &now)
{
    QHash<QString, const HistoryRow *> before;
    before.reserve(then.size());
    for (const HistoryRow &row : then) {
        if (!before.contains(row.address))
            before.insert(row.address, &row);
    }
    QHash<QString, const HistoryRow *> after;
    after.reserve(now.size());
    for (const HistoryRow &row : now) {
        if (!after.contains(row.address))
            after.insert(row.address, &row);
    }

    QList<Change> changes;
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        const HistoryRow &row = **it;
        const auto earlier = before.constFind(it.key());
        if (earlier == before.cend()) {
            changes.append({Kind::New, row.address, {}, row.name});
        } else if (row.nameKnown && (*earlier)->nameKnown && row.name != (*earlier)->name) {
            changes.append({Kind::Renamed, row.address, (*earlier)->name, row.name});
        }
    }
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (!after.contains(it.key()))
            changes.append({Kind::Gone, it.key(), (*it)->name, {}});
    }
    // Sort on precomputed keys: parsing inside the comparison would repeat it n log n times.
    QList<std::pair<quint64, qsizetype>> order;
    order.reserve(changes.size());
    for (qsizetype i = 0; i < changes.size(); ++i) {
        const quint64 key = (quint64(changes[i].kind) << 40) | sortKey(changes[i].address);
        order.append({key, i});
    }
    std::sort(order.begin(), order.end(), [&](const auto &a, const auto &b) {
        if (a.first != b.first)
            return a.first < b.first;
        return changes[a.second].address < changes[b.second].address;
    });
    QList<Change> sorted;
    sorted.reserve(changes.size());
    for (const auto &entry : order)
        sorted.append(std::move(changes[entry.second]));
    return sorted;
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
        }
    }
    return counts;
}

QString ScanComparison::kindName(Kind kind)
{
    switch (kind) {
    case Kind::New:
        return u"new"_s;
    case Kind::Gone:
        return u"gone"_s;
    case Kind::Renamed:
        return u"renamed"_s;
    }
    return {};
}

QString ScanComparison::textLine(const Change &change)
{
    QString line = kindName(change.kind).leftJustified(8) + change.address.leftJustified(16);
    switch (change.kind) {
    case Kind::New:
        line += change.now;
        break;
    case Kind::Gone:
        line += change.then;
        break;
    case Kind::Renamed:
        line += change.then + u" -> "_s + change.now;
        break;
    }
    return line.trimmed();
}

QString ScanComparison::csvHeader(const ScanRecord &then, const ScanRecord &now,
                                  const QLocale &locale)
{
    const auto scanLine = [&](const QString &which, const ScanRecord &scan) -> QString {
        return u"# "_s + which + u" scan from "_s + oneLine(scan.firstAddress) + u" to "_s +
               oneLine(scan.lastAddress) + u", "_s + CsvExport::generalDate(scan.started, locale) +
               u"\r\n"_s;
    };
    return scanLine(u"Previous"_s, then) + scanLine(u"This"_s, now) +
           u"# Compared in Zarnholt Vantrel, Version "_s + Version::text() + u"\r\n# \r\n"_s;
}

QString ScanComparison::csvLine(const Change &change)
{
    return kindName(change.kind) + u',' + field(change.address) + u',' + field(change.then) + u',' +
           field(change.now) + u"\r\n"_s;
}

ScanComparison::Written ScanComparison::writeCsv(QIODevice &device, const ScanRecord &then,
                                                 const ScanRecord &now,
                                                 const QList<Change> &changes,
                                                 const QLocale &locale)
{
    QString text = csvHeader(then, now, locale);
    for (const Change &change : changes)
        text += csvLine(change);
    const QByteArray bytes = text.toUtf8();
    for (qsizetype done = 0; done < bytes.size();) {
        const qint64 n = device.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0)
            return {false, device.errorString()};
        done += n;
    }
    return {true, {}};
}
