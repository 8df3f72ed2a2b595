#include "scan/components/ResultGrid.h"

#include <algorithm>
#include <limits>

namespace {
// rowCount() is an int, and it counts the data rows only.
constexpr qsizetype MaxRows = std::numeric_limits<int>::max();

using Kind = ResultGrid::Kind;

} // namespace

ResultGrid::ResultGrid(QObject *parent)
    : QAbstractTableModel(parent)
    , m_texts(std::size_t(m_cols))
    , m_kinds(std::size_t(m_cols), Kind::Plain)
    , m_colWidths(std::size_t(m_cols), DefaultColWidth)
    , m_colAlignments(std::size_t(m_cols), AlignGeneral)
{}

Qt::Alignment ResultGrid::alignmentFlags(int colAlignment)
{
    if (colAlignment < AlignLeftTop || colAlignment > AlignRightBottom)
        return Qt::AlignLeft | Qt::AlignVCenter;
    static constexpr Qt::AlignmentFlag horizontal[] = {Qt::AlignLeft, Qt::AlignHCenter,
                                                       Qt::AlignRight};
    static constexpr Qt::AlignmentFlag vertical[] = {Qt::AlignTop, Qt::AlignVCenter,
                                                     Qt::AlignBottom};
    return horizontal[colAlignment / 3] | vertical[colAlignment % 3];
}

qsizetype ResultGrid::Rows() const
{
    return m_rows;
}

void ResultGrid::setRows(qsizetype rows)
{
    rows = std::clamp<qsizetype>(rows, 1, MaxRows);
    if (rows > m_rows)
        appendRows(rows - m_rows);
    else if (rows == 1)
        clearDataRows();
    else if (rows < m_rows)
        removeRowsAtBottom(m_rows - rows);
}

int ResultGrid::Cols() const
{
    return m_cols;
}

void ResultGrid::setCols(int cols)
{
    cols = std::clamp(cols, 0, MaxCols);
    if (cols == m_cols)
        return;
    flushPending();

    const bool growing = cols > m_cols;
    if (growing)
        beginInsertColumns({}, m_cols, cols - 1);
    else
        beginRemoveColumns({}, cols, m_cols - 1);

    const int kept = std::min(cols, m_cols);
    std::deque<QString> texts(std::size_t(m_rows * cols));
    std::deque<Kind> kinds(std::size_t(m_rows * cols), Kind::Plain);
    for (qsizetype row = 0; row < m_rows; ++row) {
        for (int col = 0; col < kept; ++col) {
            texts[std::size_t(row * cols + col)] =
                std::move(m_texts[std::size_t(cellIndex(row, col))]);
            kinds[std::size_t(row * cols + col)] = m_kinds[std::size_t(cellIndex(row, col))];
        }
    }
    m_texts = std::move(texts);
    m_kinds = std::move(kinds);
    m_cols = cols;
    m_colWidths.resize(std::size_t(cols), DefaultColWidth);
    m_colAlignments.resize(std::size_t(cols), AlignGeneral);

    if (growing)
        endInsertColumns();
    else
        endRemoveColumns();
    Q_EMIT columnLayoutChanged();
}

qsizetype ResultGrid::Row() const
{
    return m_row;
}

void ResultGrid::setRow(qsizetype row)
{
    m_row = row;
}

int ResultGrid::Col() const
{
    return m_col;
}

void ResultGrid::setCol(int col)
{
    m_col = col;
}

QString ResultGrid::Text() const
{
    return cellText(m_row, m_col);
}

void ResultGrid::setText(const QString &text)
{
    if (!cellInRange(m_row, m_col))
        return;
    m_texts[std::size_t(cellIndex(m_row, m_col))] = text;
    cellChanged(m_row, m_col, Qt::DisplayRole);
}

ResultGrid::Kind ResultGrid::CellKind() const
{
    return cellKind(m_row, m_col);
}

void ResultGrid::setCellKind(Kind kind)
{
    if (!cellInRange(m_row, m_col))
        return;
    Kind &stored = m_kinds[std::size_t(cellIndex(m_row, m_col))];
    if (stored == kind)
        return;
    stored = kind;
    cellChanged(m_row, m_col, KindRole);
}

QString ResultGrid::cellText(qsizetype row, int col) const
{
    if (!cellInRange(row, col))
        return {};
    return m_texts[std::size_t(cellIndex(row, col))];
}

ResultGrid::Kind ResultGrid::cellKind(qsizetype row, int col) const
{
    if (!cellInRange(row, col))
        return Kind::Plain;
    return m_kinds[std::size_t(cellIndex(row, col))];
}

int ResultGrid::ColWidth(int col) const
{
    if (col < 0 || col >= m_cols)
        return 0;
    return m_colWidths[std::size_t(col)];
}

void ResultGrid::setColWidth(int col, int twips)
{
    if (col < 0 || col >= m_cols)
        return;
    twips = std::max(twips, 0);
    if (m_colWidths[std::size_t(col)] == twips)
        return;
    m_colWidths[std::size_t(col)] = twips;
    Q_EMIT columnLayoutChanged();
}

int ResultGrid::ColAlignment(int col) const
{
    if (col < 0 || col >= m_cols)
        return AlignGeneral;
    return m_colAlignments[std::size_t(col)];
}

void ResultGrid::setColAlignment(int col, int alignment)
{
    if (col < 0 || col >= m_cols || alignment < AlignLeftTop || alignment > AlignGeneral)
        return;
    if (m_colAlignments[std::size_t(col)] == alignment)
        return;
    m_colAlignments[std::size_t(col)] = alignment;
    // One signal for the whole column: the alignment is served per cell through
    // TextAlignmentRole, so views and proxies learn it like any other data.
    if (m_announcedRows > 0) {
        Q_EMIT dataChanged(index(0, col), index(int(m_announcedRows - 1), col),
                           {Qt::TextAlignmentRole});
    }
    Q_EMIT headerDataChanged(Qt::Horizontal, col, col);
    Q_EMIT columnLayoutChanged();
}

bool ResultGrid::Redraw() const
{
    return m_redraw;
}

void ResultGrid::setRedraw(bool redraw)
{
    if (redraw == m_redraw)
        return;
    m_redraw = redraw;
    if (redraw)
        flushPending();
    Q_EMIT redrawChanged(redraw);
}

void ResultGrid::RemoveItem(qsizetype row)
{
    removeTableRows(row, 1);
}

void ResultGrid::removeTableRows(qsizetype row, qsizetype count)
{
    if (row < 1 || row >= m_rows || count < 1)
        return;
    count = std::min(count, m_rows - row);
    flushPending();
    beginRemoveRows({}, int(row - 1), int(row + count - 2));
    const auto first = m_texts.begin() + cellIndex(row, 0);
    m_texts.erase(first, first + count * m_cols);
    const auto firstKind = m_kinds.begin() + cellIndex(row, 0);
    m_kinds.erase(firstKind, firstKind + count * m_cols);
    m_rows -= count;
    m_announcedRows = m_rows - 1;
    endRemoveRows();
    Q_EMIT rowsRemovedFromTable(row, count);
}

int ResultGrid::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_announcedRows);
}

int ResultGrid::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_cols;
}

QVariant ResultGrid::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.model() != this || index.row() >= m_announcedRows ||
        index.column() >= m_cols) {
        return {};
    }
    const qsizetype cell = cellIndex(qsizetype(index.row()) + 1, index.column());
    switch (role) {
    case Qt::DisplayRole:
        return m_texts[std::size_t(cell)];
    case KindRole:
        return int(m_kinds[std::size_t(cell)]);
    case Qt::TextAlignmentRole:
        return int(alignmentFlags(m_colAlignments[std::size_t(index.column())]));
    case Qt::DecorationRole:
    case Qt::ToolTipRole:
        if (index.column() == 0 && m_addressMark)
            return m_addressMark(m_texts[std::size_t(cell)], role);
        return {};
    default:
        return {};
    }
}

void ResultGrid::setAddressMark(AddressMark mark)
{
    const bool had = bool(m_addressMark);
    m_addressMark = std::move(mark);
    // A view makes room for the mark beside the address.
    if (had != bool(m_addressMark))
        Q_EMIT columnLayoutChanged();
    if (m_announcedRows > 0)
        Q_EMIT dataChanged(index(0, 0), index(int(m_announcedRows) - 1, 0),
                           {Qt::DecorationRole, Qt::ToolTipRole});
}

QVariant ResultGrid::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (section < 0 || section >= m_cols)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return m_texts[std::size_t(section)];
    case KindRole:
        return int(m_kinds[std::size_t(section)]);
    case Qt::TextAlignmentRole:
        return int(alignmentFlags(m_colAlignments[std::size_t(section)]));
    default:
        return {};
    }
}

bool ResultGrid::cellInRange(qsizetype row, int col) const
{
    return row >= 0 && row < m_rows && col >= 0 && col < m_cols;
}

void ResultGrid::appendRows(qsizetype count)
{
    // One appended row costs constant time; the new cells are null strings and hold no
    // text buffer.
    m_texts.resize(std::size_t((m_rows + count) * m_cols));
    m_kinds.resize(std::size_t((m_rows + count) * m_cols), Kind::Plain);
    m_rows += count;
    if (m_redraw)
        flushPending();
}

void ResultGrid::removeRowsAtBottom(qsizetype count)
{
    flushPending();
    const qsizetype first = m_rows - count;
    beginRemoveRows({}, int(first - 1), int(m_rows - 2));
    m_texts.resize(std::size_t(first * m_cols));
    m_kinds.resize(std::size_t(first * m_cols));
    m_rows = first;
    m_announcedRows = m_rows - 1;
    endRemoveRows();
    Q_EMIT rowsRemovedFromTable(first, count);
}

void ResultGrid::clearDataRows()
{
    const qsizetype count = m_rows - 1;
    if (count == 0)
        return;
    // A reset makes views forget everything, so rows still waiting for Redraw need no
    // announcement first.
    beginResetModel();
    std::deque<QString> header(m_texts.begin(), m_texts.begin() + m_cols);
    std::deque<Kind> headerKinds(m_kinds.begin(), m_kinds.begin() + m_cols);
    // Swapping in fresh vectors hands the memory of a large scan back at once.
    m_texts.swap(header);
    m_kinds.swap(headerKinds);
    m_rows = 1;
    m_announcedRows = 0;
    m_dirtyFirst = m_dirtyLast = -1;
    endResetModel();
    Q_EMIT rowsRemovedFromTable(1, count);
}

void ResultGrid::flushPending()
{
    const qsizetype stored = m_rows - 1;
    if (stored > m_announcedRows) {
        beginInsertRows({}, int(m_announcedRows), int(stored - 1));
        m_announcedRows = stored;
        endInsertRows();
    }
    if (m_dirtyFirst >= 0) {
        const qsizetype first = m_dirtyFirst;
        const qsizetype last = std::min(m_dirtyLast, m_announcedRows - 1);
        m_dirtyFirst = m_dirtyLast = -1;
        if (first <= last && m_cols > 0)
            Q_EMIT dataChanged(index(int(first), 0), index(int(last), m_cols - 1));
    }
}

void ResultGrid::cellChanged(qsizetype row, int col, int role)
{
    if (row == 0) {
        Q_EMIT headerDataChanged(Qt::Horizontal, col, col);
        return;
    }
    const qsizetype modelRow = row - 1;
    // A row not yet announced reaches the views with its content when it is.
    if (modelRow >= m_announcedRows)
        return;
    if (!m_redraw) {
        m_dirtyFirst = m_dirtyFirst < 0 ? modelRow : std::min(m_dirtyFirst, modelRow);
        m_dirtyLast = std::max(m_dirtyLast, modelRow);
        return;
    }
    const QModelIndex cell = index(int(modelRow), col);
    Q_EMIT dataChanged(cell, cell, {role});
}
