#include "cli/ResultWriter.h"

#include "app/GeneralDate.h"
#include "output/CsvExport.h"
#include "scan/components/LookupControl.h"
#include "scan/components/ResultGrid.h"

#include <QIODevice>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype ChunkBytes = 64 * 1024;
// Text columns: the widest address, and the widest of the usual times and error texts;
// fixed, so that a row can be written the moment it is complete.
constexpr qsizetype AddressWidth = 15;
constexpr qsizetype ResponseWidth = 17;
// Names vary: a longer one pushes the hardware address and maker right on its line.
constexpr qsizetype NameWidth = 30;
constexpr qsizetype HardwareWidth = 17;

bool isAnswered(const ResultGrid &table, qsizetype row)
{
    return table.cellKind(row, 1) != ResultGrid::Kind::Failure;
}

class ChunkedOut
{
public:
    explicit ChunkedOut(QIODevice &device)
        : m_device(device)
    {}
    bool add(const QByteArray &bytes)
    {
        m_chunk += bytes;
        return m_chunk.size() < ChunkBytes || flush();
    }
    bool flush()
    {
        for (qsizetype done = 0; done < m_chunk.size();) {
            const qint64 n = m_device.write(m_chunk.constData() + done, m_chunk.size() - done);
            if (n <= 0) {
                error = m_device.errorString();
                return false;
            }
            done += n;
        }
        m_chunk.clear();
        return true;
    }
    QString error;

private:
    QIODevice &m_device;
    QByteArray m_chunk;
};

QByteArray textLine(const QString &address, const QString &response, const QString &name,
                    const QString &hardware, const QString &vendor)
{
    QString text = address.leftJustified(AddressWidth) + u"  "_s +
                   response.leftJustified(ResponseWidth) + u"  "_s + name.leftJustified(NameWidth) +
                   u"  "_s + hardware.leftJustified(HardwareWidth) + u"  "_s + vendor;
    // Trailing blanks of empty last columns are dropped.
    while (text.endsWith(u' '))
        text.chop(1);
    return (text + u'\n').toUtf8();
}

QString lookupText(int status)
{
    switch (status) {
    case LookupControl::Found:
        return u"found"_s;
    case LookupControl::NoName:
        return u"none"_s;
    case LookupControl::ServerFailure:
        return u"server failure"_s;
    case LookupControl::NoAnswer:
        return u"no answer"_s;
    default:
        return u"not done"_s;
    }
}

QByteArray jsonLine(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

bool writeComparisonText(ChunkedOut &out, const ResultWriter::Comparison &comparison)
{
    const bool inverted = comparison.then.inverted;
    QString heading = u"\nChanges since the completed scan of %1, %2: %3\n"_s.arg(
        generalDate(comparison.then.started), ScanComparison::modeText(inverted),
        ScanComparison::countsText(ScanComparison::count(comparison.changes), inverted));
    for (const QString &note : ScanComparison::notes(comparison))
        heading += note + u'\n';
    if (!out.add(heading.toUtf8()))
        return false;
    for (const ScanComparison::Change &change : comparison.changes) {
        if (!out.add((ScanComparison::textLine(change, inverted) + u'\n').toUtf8()))
            return false;
    }
    return true;
}

QJsonObject summaryObject(const ResultGrid &table, const ResultWriter::Summary &summary)
{
    const ScanOptions &o = summary.options;
    const ResultWriter::Counts counts = ResultWriter::count(table);
    const ScanSettings &s = o.settings;
    const QJsonObject settings{
        // An inverted scan sends one request an address, whatever -c says.
        {u"pings"_s, s.Reverse_Scan ? 1 : int(s.Pings_per_Node)},
        {u"timeout_ms"_s, s.Ping_Timeout},
        {u"ttl"_s, s.Ping_TTL},
        {u"delay_ms"_s, o.rate > 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(s.Inter_Ping_Delay)},
        {u"rate"_s, o.rate > 0 ? QJsonValue(o.rate) : QJsonValue(QJsonValue::Null)},
        {u"dns"_s, s.Resolve_DNS},
        {u"inverted"_s, s.Reverse_Scan},
        {u"arp"_s, s.listArpOnly},
    };
    std::int64_t addresses = 0;
    for (const AddressRange &r : o.ranges)
        addresses += r.size();
    QJsonObject object{
        {u"range"_s, QJsonObject{{u"first"_s, o.range.firstText()},
                                 {u"last"_s, o.range.lastText()},
                                 {u"ranges"_s, qint64(o.ranges.size())},
                                 {u"addresses"_s, qint64(addresses)}}},
        {u"counts"_s, QJsonObject{{u"listed"_s, counts.listed},
                                  {u"answered"_s, counts.answered},
                                  {u"failed"_s, counts.listed - counts.answered},
                                  {u"requests"_s, qint64(summary.requestsSent)}}},
        {u"start"_s, summary.started.toString(Qt::ISODateWithMs)},
        {u"end"_s, summary.ended.toString(Qt::ISODateWithMs)},
        {u"interrupted"_s, summary.interrupted},
        {u"settings"_s, settings},
        // Times the request table was full and the sweep waited for room.
        {u"request_table"_s,
         QJsonObject{{u"waits"_s, qint64(summary.waits.count)},
                     {u"waited_ms"_s, qint64(summary.waits.walkPausedNs / 1'000'000)}}},
    };
    if (o.compare) {
        QJsonValue compared(QJsonValue::Null); // no earlier scan of this range and mode
        if (const auto &c = summary.comparison) {
            using ScanComparison::Kind;
            const bool inverted = c->then.inverted;
            const ScanComparison::Counts changed = ScanComparison::count(c->changes);
            compared = QJsonObject{
                {u"start"_s, c->then.started.toUTC().toString(Qt::ISODateWithMs)},
                {u"end"_s, c->then.ended.toUTC().toString(Qt::ISODateWithMs)},
                {u"mode"_s, inverted ? u"inverted"_s : u"normal"_s},
                {u"counts"_s,
                 QJsonObject{{ScanComparison::kindName(Kind::New, inverted), changed.added},
                             {ScanComparison::kindName(Kind::Gone, inverted), changed.gone},
                             {ScanComparison::kindName(Kind::Renamed, inverted), changed.renamed},
                             {ScanComparison::kindName(Kind::Moved, inverted), changed.moved},
                             {ScanComparison::kindName(Kind::Changed, inverted), changed.changed}}},
                // Stopped scans after it, which were not compared with.
                {u"stopped_skipped"_s, c->stoppedSkipped},
                // Addresses compared, from the first: fewer than all after a stop.
                {u"addresses_compared"_s,
                 c->compared.settled >= 0 ? c->compared.settled : qint64(addresses)},
            };
        } else {
            object.insert(u"not_compared"_s, summary.notCompared);
        }
        object.insert(u"compared_with"_s, compared);
    }
    return object;
}

} // namespace

ResultWriter::Counts ResultWriter::count(const ResultGrid &grid)
{
    Counts counts;
    counts.listed = grid.Rows() - 1;
    for (qsizetype row = 1; row < grid.Rows(); ++row)
        counts.answered += isAnswered(grid, row) ? 1 : 0;
    return counts;
}

QByteArray ResultWriter::header(ScanOptions::Format format)
{
    if (format != ScanOptions::Format::Text)
        return {};
    return textLine(u"IP Address"_s, u"Response Time"_s, u"DNS Lookup"_s, u"MAC Address"_s,
                    u"Vendor"_s);
}

QByteArray ResultWriter::rowLine(const ResultGrid &table, qsizetype row, const RowFacts &facts,
                                 const ScanOptions &options)
{
    const QString address = table.cellText(row, 0);
    const QString response = table.cellText(row, 1);
    const bool found = facts.lookup == LookupControl::Found;
    if (options.format == ScanOptions::Format::Text) {
        // People read the table's own texts, failures of the lookup included.
        return textLine(address, response,
                        options.settings.Resolve_DNS ? table.cellText(row, 2) : QString(),
                        table.cellText(row, 3), table.cellText(row, 4));
    }
    QJsonObject object{{u"address"_s, address}};
    if (isAnswered(table, row)) {
        object.insert(u"time_ms"_s, response.section(u' ', 0, 0).toInt());
        // Microseconds, from the kernel's time stamps.
        if (facts.roundTripNs >= 0)
            object.insert(u"rtt_ms"_s, double(facts.roundTripNs / 1000) / 1000.0);
    } else {
        object.insert(u"error"_s, response);
    }
    // A name is data: a failure to find one is said in "lookup", never in "name".
    object.insert(u"name"_s, found ? QJsonValue(table.cellText(row, 2)) : QJsonValue());
    object.insert(u"lookup"_s, lookupText(options.settings.Resolve_DNS ? facts.lookup : -1));
    // Only hosts on a directly connected network have them; null elsewhere.
    const auto textOrNull = [](const QString &text) {
        return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
    };
    object.insert(u"mac"_s, textOrNull(table.cellText(row, 3)));
    object.insert(u"vendor"_s, textOrNull(table.cellText(row, 4)));
    return jsonLine(object);
}

bool ResultWriter::write(QIODevice &device, ResultGrid &table, const Summary &summary,
                         const Facts &facts, bool headerWritten, QString &error)
{
    const ScanOptions &o = summary.options;
    if (o.format == ScanOptions::Format::Csv) {
        const CsvExport::Result result = CsvExport::write(
            device, table, o.range.firstText(), o.range.lastText(), QDateTime::currentDateTime());
        error = result.error;
        if (!result.ok || !summary.comparison)
            return result.ok;
        const ScanComparison::Written written =
            ScanComparison::writeCsv(device, *summary.comparison);
        error = written.error;
        return written.ok;
    }
    ChunkedOut out(device);
    bool ok = headerWritten || out.add(header(o.format));
    static const RowFacts none;
    for (qsizetype row = 1; ok && row < table.Rows(); ++row) {
        const RowFacts &rowFacts = std::size_t(row) < facts.size() ? facts[std::size_t(row)] : none;
        if (!rowFacts.written)
            ok = out.add(rowLine(table, row, rowFacts, o));
    }
    if (ok && summary.comparison) {
        if (o.format == ScanOptions::Format::Text) {
            ok = writeComparisonText(out, *summary.comparison);
        } else {
            for (const ScanComparison::Change &change : summary.comparison->changes) {
                if (!(ok = out.add(jsonLine(
                          ScanComparison::toJson(change, summary.comparison->then.inverted)))))
                    break;
            }
        }
    }
    if (ok && o.format == ScanOptions::Format::Jsonl)
        ok = out.add(jsonLine(QJsonObject{{u"summary"_s, summaryObject(table, summary)}}));
    ok = ok && out.flush();
    error = out.error;
    return ok;
}
