#include "output/print/ReportLayout.h"

#include "scan/components/ResultGrid.h"
#include "scan/components/Twips.h"

#include <QFontMetricsF>
#include <QLine>
#include <QPagedPaintDevice>
#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

constexpr int CellPadding = 45;       // twips each side of a cell's text, 3 pixels on screen
constexpr int RowPadding = 90;        // twips added to the font height, as the screen grid does
constexpr int FooterGap = 140;        // footer band: twips below the printable area
constexpr int TitleGap = 120;         // twips between the title's box and the table
constexpr int HeaderFooterSize = 285; // 14.25 points
constexpr int BodySize = 165;         // 8.25 points
constexpr int LineWidth = 10;         // half a point
const QColor CaptionFill(224, 224, 224);
const QColor GridLine(128, 128, 128);
// Inks on white paper, each at least 4.5:1 against the paper and the caption fill.
const QColor FailureInk(176, 0, 0);
const QColor ResolvingInk(0, 0, 204);

QFont makeFont(const QString &family, QFont::StyleHint hint, int twips, bool bold)
{
    // Pixel sizes in twips keep the layout free of any device's resolution.
    QFont font(family);
    font.setStyleHint(hint);
    font.setPixelSize(twips);
    font.setBold(bold);
    // Ligatures would put one glyph for "fi" into the file, and a host name copied or
    // searched in the PDF would not read as typed.
    font.setStyleStrategy(QFont::PreferNoShaping);
    return font;
}

QSize twipsOf(const QPageSize &pageSize)
{
    const QSizeF mm = pageSize.size(QPageSize::Millimeter);
    return QSize(int(std::lround(mm.width() * Twips::PerInch / 25.4)),
                 int(std::lround(mm.height() * Twips::PerInch / 25.4)));
}

} // namespace

ReportLayout::ReportLayout(const QPageSize &pageSize)
    : m_pageSize(pageSize)
    , m_pageTwips(twipsOf(pageSize))
{}

QFont ReportLayout::bodyFont()
{
    return makeFont(u"MS Sans Serif"_s, QFont::SansSerif, BodySize, false);
}

QFont ReportLayout::headerFont()
{
    return makeFont(u"Courier New"_s, QFont::TypeWriter, HeaderFooterSize, true);
}

QFont ReportLayout::footerFont(int number, int halfPoints, bool bold)
{
    const int twips = halfPoints > 0 ? halfPoints * Twips::PerPoint / 2 : HeaderFooterSize;
    if (number == 3)
        return makeFont(u"Arial"_s, QFont::SansSerif, twips, bold);
    return makeFont(u"Courier New"_s, QFont::TypeWriter, twips, bold);
}

void ReportLayout::begin(const QString &header, const QString &footerRtf)
{
    m_open = true;
    m_header = header;
    m_footer.emplace(footerRtf, headerFont().bold());
    m_columns = {};
    m_cells = {};
    m_kinds = {};
    m_rows = 0;
    m_pageCount = 0;
    m_pictures = {};
}

void ReportLayout::addGrid(const ResultGrid &grid, const ResultGrid::RowOrder &order)
{
    if (!m_open)
        return;
    const int cols = grid.Cols();
    m_rows = grid.Rows();
    // An order that does not cover the table (it changed since) is not used.
    const bool ordered = qsizetype(order.size()) == m_rows - 1;
    m_cells.clear();
    m_cells.reserve(std::size_t(m_rows * cols));
    m_kinds.clear();
    m_kinds.reserve(std::size_t(m_rows * cols));
    for (qsizetype at = 0; at < m_rows; ++at) {
        const qsizetype row = ordered && at > 0 ? order[std::size_t(at - 1)] : at;
        for (int col = 0; col < cols; ++col) {
            m_cells.push_back(grid.cellText(row, col));
            m_kinds.push_back(grid.cellKind(row, col));
        }
    }

    m_columns.clear();
    int left = LeftMargin;
    for (const int width : columnWidths(grid)) {
        const int col = int(m_columns.size());
        m_columns.push_back({left, width, ResultGrid::alignmentFlags(grid.ColAlignment(col))});
        left += width;
    }
}

std::vector<int> ReportLayout::columnWidths(const ResultGrid &grid) const
{
    const int cols = grid.Cols();
    // The body font is drawn unshaped, so a plain ASCII text is as wide as the sum of its
    // characters: a table of a million rows is measured from one small table of advances.
    const QFontMetricsF metrics(bodyFont());
    std::array<qreal, 128> advances{};
    for (char16_t ch = 32; ch < 127; ++ch)
        advances[ch] = metrics.horizontalAdvance(QChar(ch));
    const auto widthOf = [&](const QString &text) {
        qreal width = 0;
        for (const QChar ch : text) {
            if (ch.unicode() < 32 || ch.unicode() >= 127)
                return metrics.horizontalAdvance(text);
            width += advances[ch.unicode()];
        }
        return width;
    };

    // Each column as wide as the screen made it, and wider where its widest text needs it,
    // so that nothing the paper has room for is cut.
    std::vector<int> widths;
    std::vector<int> needed;
    qint64 total = 0;
    for (int col = 0; col < cols; ++col) {
        qreal widest = 0;
        for (qsizetype row = 0; row < m_rows; ++row)
            widest = std::max(widest, widthOf(m_cells[std::size_t(row * cols + col)]));
        needed.push_back(int(std::ceil(widest)) + 2 * CellPadding + LineWidth);
        widths.push_back(std::max(std::max(0, grid.ColWidth(col)), needed.back()));
        total += widths.back();
    }
    const qint64 available = std::max(0, m_pageTwips.width() - LeftMargin - RightMargin);
    if (total <= available)
        return widths;

    // Too wide for the paper: every column but the last keeps room for its widest text, so
    // addresses and times print whole, and the last column, the names, takes what is left
    // and elides.
    qint64 used = 0;
    for (int col = 0; col + 1 < cols; ++col) {
        const int scaled = int(widths[std::size_t(col)] * available / total);
        widths[std::size_t(col)] = std::max(scaled, needed[std::size_t(col)]);
        used += widths[std::size_t(col)];
    }
    if (cols > 0)
        widths.back() = int(std::max<qint64>(0, available - used));
    return widths;
}

void ReportLayout::end()
{
    if (!m_open)
        return;
    m_open = false;
    m_rowHeight = int(std::ceil(QFontMetricsF(bodyFont()).height())) + RowPadding;
    const int bodyHeight = m_pageTwips.height() - TopMargin - BottomMargin;
    // Every page repeats the caption row above its share of the data rows.
    m_rowsPerPage = std::max(1, bodyHeight / m_rowHeight - 1);
    const qsizetype dataRows = std::max<qsizetype>(m_rows - 1, 0);
    const qsizetype pages = std::max<qsizetype>(1, (dataRows + m_rowsPerPage - 1) / m_rowsPerPage);
    m_pageCount = int(std::min<qsizetype>(pages, std::numeric_limits<int>::max()));
    m_pictures.assign(std::size_t(m_pageCount), {});
}

ReportLayout::RowRange ReportLayout::pageRows(int page) const
{
    if (page < 1 || page > m_pageCount || m_rows < 2)
        return {};
    const qsizetype first = 1 + qsizetype(page - 1) * m_rowsPerPage;
    return {first, std::clamp<qsizetype>(m_rows - first, 0, m_rowsPerPage)};
}

void ReportLayout::addPicture(int page, const QImage &picture, const QRect &target)
{
    if (m_open || page < 1 || page > m_pageCount || picture.isNull())
        return;
    m_pictures[std::size_t(page - 1)].push_back({picture, target.normalized()});
}

QString ReportLayout::cell(qsizetype row, int col) const
{
    const std::size_t at = std::size_t(row * qsizetype(m_columns.size()) + col);
    return at < m_cells.size() ? m_cells[at] : QString();
}

void ReportLayout::paintRow(QPainter &painter, qsizetype row, int top) const
{
    const QFontMetricsF metrics(painter.font());
    const qsizetype cols = qsizetype(m_columns.size());
    for (int col = 0; col < int(cols); ++col) {
        const Column &column = m_columns[std::size_t(col)];
        const QString text = cell(row, col);
        if (text.isEmpty() || column.width <= 2 * CellPadding)
            continue;
        painter.setPen(inkOf(m_kinds[std::size_t(row * cols + col)]));
        const QRectF box(column.left + CellPadding, top, column.width - 2 * CellPadding,
                         m_rowHeight);
        painter.drawText(box, int(column.alignment) | Qt::TextSingleLine,
                         metrics.elidedText(text, Qt::ElideRight, box.width()));
    }
}

QColor ReportLayout::inkOf(ResultGrid::Kind kind)
{
    switch (kind) {
    case ResultGrid::Kind::Failure:
        return FailureInk;
    case ResultGrid::Kind::Resolving:
        return ResolvingInk;
    default:
        return Qt::black;
    }
}

void ReportLayout::paintFooter(QPainter &painter, int page) const
{
    if (!m_footer)
        return;
    const int left = LeftMargin;
    const int right = m_pageTwips.width() - RightMargin;
    const int top = m_pageTwips.height() - BottomMargin + FooterGap;
    for (int index = 0; index < RtfFooter::SectionCount; ++index) {
        qreal y = top;
        for (const RtfFooter::Line &line : m_footer->section(index)) {
            struct Piece
            {
                QFont font;
                QString text;
                qreal width;
            };
            QList<Piece> pieces;
            qreal width = 0;
            QFontMetricsF empty(footerFont(0, 20, false));
            qreal ascent = line.isEmpty() ? empty.ascent() : 0;
            qreal descent = line.isEmpty() ? empty.descent() : 0;
            for (const RtfFooter::Run &run : line) {
                const QFont font = footerFont(run.font, run.halfPoints, run.bold);
                const QFontMetricsF metrics(font);
                const QString text = RtfFooter::withPageNumber(run.text, page);
                pieces.append({font, text, metrics.horizontalAdvance(text)});
                width += pieces.last().width;
                ascent = std::max(ascent, metrics.ascent());
                descent = std::max(descent, metrics.descent());
            }
            qreal x = index == 0 ? left : index == 1 ? (left + right - width) / 2 : right - width;
            for (const Piece &piece : pieces) {
                painter.setFont(piece.font);
                painter.drawText(QPointF(x, y + ascent), piece.text);
                x += piece.width;
            }
            y += ascent + descent;
        }
    }
}

void ReportLayout::paintPage(QPainter &painter, int page) const
{
    if (page < 1 || page > m_pageCount)
        return;
    painter.save();
    const int printableWidth = m_pageTwips.width() - LeftMargin - RightMargin;

    painter.setPen(Qt::black);
    painter.setFont(headerFont());
    const QRect titleBox(LeftMargin, 0, printableWidth, TopMargin - TitleGap);
    painter.drawText(
        titleBox, Qt::AlignHCenter | Qt::AlignBottom | Qt::TextSingleLine,
        QFontMetricsF(painter.font()).elidedText(m_header, Qt::ElideRight, titleBox.width()));

    if (!m_columns.empty() && m_rows > 0) {
        const RowRange rows = pageRows(page);
        const int tableLeft = m_columns.front().left;
        const int tableRight = m_columns.back().left + m_columns.back().width;
        const int tableBottom = TopMargin + int(rows.count + 1) * m_rowHeight;
        painter.fillRect(QRect(tableLeft, TopMargin, tableRight - tableLeft, m_rowHeight),
                         CaptionFill);
        painter.setFont(bodyFont());
        paintRow(painter, 0, TopMargin);
        for (qsizetype i = 0; i < rows.count; ++i)
            paintRow(painter, rows.first + i, TopMargin + int(i + 1) * m_rowHeight);

        QList<QLine> lines;
        for (int y = TopMargin; y <= tableBottom; y += m_rowHeight)
            lines.append(QLine(tableLeft, y, tableRight, y));
        lines.append(QLine(tableLeft, TopMargin, tableLeft, tableBottom));
        for (const Column &column : m_columns) {
            const int x = column.left + column.width;
            lines.append(QLine(x, TopMargin, x, tableBottom));
        }
        painter.setPen(QPen(GridLine, LineWidth));
        painter.drawLines(lines);
    }

    painter.setPen(Qt::black);
    paintFooter(painter, page);
    for (const Picture &picture : m_pictures[std::size_t(page - 1)])
        painter.drawImage(QRectF(picture.target), picture.image);
    painter.restore();
}

void ReportLayout::setUpDevice(QPagedPaintDevice &device) const
{
    device.setPageSize(m_pageSize);
    device.setPageOrientation(QPageLayout::Portrait);
    device.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Point);
}

bool ReportLayout::print(QPagedPaintDevice &device) const
{
    if (m_open || m_pageCount == 0)
        return false;
    QPainter painter;
    if (!painter.begin(&device))
        return false;
    const qreal scale = std::min(qreal(device.width()) / m_pageTwips.width(),
                                 qreal(device.height()) / m_pageTwips.height());
    for (int page = 1; page <= m_pageCount; ++page) {
        if (page > 1 && !device.newPage()) {
            painter.end();
            return false;
        }
        painter.save();
        painter.scale(scale, scale);
        paintPage(painter, page);
        painter.restore();
    }
    return painter.end();
}
