#include "cli/ResultWriter.h"

#include "app/GeneralDate.h"
#include "output/CsvExport.h"
#include "scan/components/ResultGrid.h"

#include <QIODevice>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <array>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype ChunkBytes = 64 * 1024;

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

bool writeText(ChunkedOut &out, const ResultGrid &table,
               const std::optional<ResultWriter::Comparison> &comparison)
{
    const std::array<QString, 3> header{u"IP Address"_s, u"Response Time"_s, u"DNS Lookup"_s};
    std::array<qsizetype, 3> width{};
    for (int col = 0; col < 3; ++col) {
        width[col] = header[col].size();
        for (qsizetype row = 1; row < table.Rows(); ++row)
            width[col] = std::max(width[col], table.cellText(row, col).size());
    }
    const auto line = [&](const std::array<QString, 3> &cells) {
        QString text = cells[0].leftJustified(width[0]) + u"  "_s +
                       cells[1].leftJustified(width[1]) + u"  "_s + cells[2];
        // A name ends the line; trailing blanks of an empty last column are dropped.
        while (text.endsWith(u' '))
            text.chop(1);
        return (text + u'\n').toUtf8();
    };
    if (!out.add(line(header)))
        return false;
    for (qsizetype row = 1; row < table.Rows(); ++row) {
        if (!out.add(
                line({table.cellText(row, 0), table.cellText(row, 1), table.cellText(row, 2)})))
            return false;
    }
    if (comparison) {
        const bool inverted = comparison->then.inverted;
        QString heading = u"\nChanges since the completed scan of %1, %2: %3\n"_s.arg(
            generalDate(comparison->then.started), ScanComparison::modeText(inverted),
            ScanComparison::countsText(ScanComparison::count(comparison->changes), inverted));
        for (const QString &note : ScanComparison::notes(*comparison))
            heading += note + u'\n';
        if (!out.add(heading.toUtf8()))
            return false;
        for (const ScanComparison::Change &change : comparison->changes) {
            if (!out.add((ScanComparison::textLine(change, inverted) + u'\n').toUtf8()))
                return false;
        }
    }
    return out.flush();
}

QByteArray jsonLine(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

bool writeJsonl(ChunkedOut &out, ResultGrid &table, const ResultWriter::Summary &summary)
{
    const ScanOptions &o = summary.options;
    for (qsizetype row = 1; row < table.Rows(); ++row) {
        QJsonObject object{{u"address"_s, table.cellText(row, 0)}};
        const QString outcome = table.cellText(row, 1);
        if (isAnswered(table, row))
            object.insert(u"time_ms"_s, outcome.section(u' ', 0, 0).toInt());
        else
            object.insert(u"error"_s, outcome);
        object.insert(u"name"_s, o.settings.Resolve_DNS ? QJsonValue(table.cellText(row, 2))
                                                        : QJsonValue(QJsonValue::Null));
        if (!out.add(jsonLine(object)))
            return false;
    }
    if (summary.comparison) {
        for (const ScanComparison::Change &change : summary.comparison->changes) {
            if (!out.add(
                    jsonLine(ScanComparison::toJson(change, summary.comparison->then.inverted))))
                return false;
        }
    }
    const ResultWriter::Counts counts = ResultWriter::count(table);
    const ScanSettings &s = o.settings;
    const QJsonObject settings{
        {u"pings"_s, s.Pings_per_Node},
        {u"timeout_ms"_s, s.Ping_Timeout},
        {u"ttl"_s, s.Ping_TTL},
        {u"delay_ms"_s, s.Inter_Ping_Delay},
        {u"rate"_s, o.rate > 0 ? QJsonValue(o.rate) : QJsonValue(QJsonValue::Null)},
        {u"dns"_s, s.Resolve_DNS},
        {u"inverted"_s, s.Reverse_Scan},
    };
    QJsonObject summaryObject{
        {u"range"_s, QJsonObject{{u"first"_s, o.range.firstText()},
                                 {u"last"_s, o.range.lastText()},
                                 {u"addresses"_s, qint64(o.range.size())}}},
        {u"counts"_s, QJsonObject{{u"listed"_s, counts.listed},
                                  {u"answered"_s, counts.answered},
                                  {u"failed"_s, counts.listed - counts.answered}}},
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
                             {ScanComparison::kindName(Kind::Renamed, inverted), changed.renamed}}},
                // Stopped scans after it, which were not compared with.
                {u"stopped_skipped"_s, c->stoppedSkipped},
                // Addresses of the range compared, from the first: fewer than the range
                // after a stop.
                {u"addresses_compared"_s, c->compared >= 0 ? c->compared : qint64(o.range.size())},
            };
        } else {
            summaryObject.insert(u"not_compared"_s, summary.notCompared);
        }
        summaryObject.insert(u"compared_with"_s, compared);
    }
    return out.add(jsonLine(QJsonObject{{u"summary"_s, summaryObject}})) && out.flush();
}

} // namespace

ResultWriter::Counts ResultWriter::count(ResultGrid &grid)
{
    Counts counts;
    counts.listed = grid.Rows() - 1;
    for (qsizetype row = 1; row < grid.Rows(); ++row)
        counts.answered += isAnswered(grid, row) ? 1 : 0;
    return counts;
}

bool ResultWriter::write(QIODevice &device, ResultGrid &table, const Summary &summary,
                         QString &error)
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
    const bool ok = o.format == ScanOptions::Format::Text
                        ? writeText(out, table, summary.comparison)
                        : writeJsonl(out, table, summary);
    error = out.error;
    return ok;
}
