#include "output/CsvExport.h"

#include "app/AtomicFile.h"
#include "app/GeneralDate.h"
#include "app/Version.h"
#include "scan/components/ResultGrid.h"

#include <QIODevice>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

// Text is converted and handed to the device in pieces of about this many characters, so
// memory stays flat however long the table is.
constexpr qsizetype ChunkChars = 32 * 1024;

bool needsQuotes(const QString &text)
{
    for (const QChar c : text) {
        if (c == u',' || c == u'"' || c == u'\r' || c == u'\n')
            return true;
    }
    return false;
}

// A spreadsheet opens a field that starts with one of these as a formula. Names come from
// the hosts file and DNS, which are not ours to trust.
bool looksLikeFormula(const QString &text)
{
    return !text.isEmpty() && QStringView(u"=+-@\t\r").contains(text.front());
}

// Fields are written as the table shows them, except that a leading apostrophe keeps a
// would-be formula a text; only fields that would break the line or column structure are
// quoted, doubling their inner quotes.
void appendField(QString &out, const QString &cell)
{
    const QString text = looksLikeFormula(cell) ? u'\'' + cell : cell;
    if (!needsQuotes(text)) {
        out += text;
        return;
    }
    out += u'"';
    for (const QChar c : text) {
        if (c == u'"')
            out += u'"';
        out += c;
    }
    out += u'"';
}

// The range boxes' text goes into a comment line, which has no quoting: a line break in it
// would start a bogus data line.
QString oneLine(QString text)
{
    text.replace(u'\r', u' ');
    text.replace(u'\n', u' ');
    return text;
}

} // namespace

CsvExport::Result CsvExport::write(QIODevice &device, const ResultGrid &table,
                                   const QString &startText, const QString &endText,
                                   const QDateTime &now, const QLocale &locale,
                                   const ResultGrid::RowOrder &order)
{
    Result result;
    if (!device.isWritable()) {
        result.error = u"The file is not open for writing."_s;
        return result;
    }
    QString chunk;
    chunk.reserve(ChunkChars + 1024);
    const auto flush = [&] {
        const QByteArray bytes = chunk.toUtf8();
        chunk.resize(0);
        // A device may take part of a piece and report the reason only on the next try.
        for (qsizetype done = 0; done < bytes.size();) {
            const qint64 n = device.write(bytes.constData() + done, bytes.size() - done);
            if (n <= 0) {
                result.error = device.errorString();
                return false;
            }
            done += n;
        }
        return true;
    };

    chunk += u"# Scan from "_s + oneLine(startText) + u" to "_s + oneLine(endText) + u"\r\n"_s;
    chunk += u"# Exported from "_s + Version::companyName() + u' ' + Version::fileDescription() +
             u", Version "_s + Version::text() + u"\r\n"_s;
    chunk += u"# "_s + generalDate(now, locale) + u"\r\n"_s;
    chunk += u"# \r\n"_s;

    const qsizetype rows = table.Rows();
    const int cols = table.Cols();
    // An order that does not cover the table (it changed since) is not used.
    const bool ordered = qsizetype(order.size()) == rows - 1;
    for (qsizetype at = 1; at < rows; ++at) {
        const qsizetype row = ordered ? order[std::size_t(at - 1)] : at;
        // Address, time and name, then whatever the table holds after them (the hardware
        // address and its maker).
        appendField(chunk, table.cellText(row, 0));
        for (int col = 1; col < std::max(3, cols); ++col) {
            chunk += u',';
            appendField(chunk, table.cellText(row, col));
        }
        chunk += u"\r\n";
        ++result.records;
        if (chunk.size() >= ChunkChars && !flush())
            return result;
    }
    if (!flush())
        return result;
    result.ok = true;
    return result;
}

CsvExport::Result CsvExport::writeFile(const QString &path, const ResultGrid &table,
                                       const QString &startText, const QString &endText,
                                       const QDateTime &now, const QLocale &locale,
                                       const ResultGrid::RowOrder &order)
{
    AtomicFile file(path);
    if (!file.open())
        return {false, 0, file.errorString()};
    Result result = write(file.device(), table, startText, endText, now, locale, order);
    if (result.ok && !file.commit())
        return {false, 0, file.errorString()};
    return result;
}

QString CsvExport::field(const QString &cell)
{
    QString out;
    appendField(out, cell);
    return out;
}

QString CsvExport::commentText(const QString &text)
{
    return oneLine(text);
}
