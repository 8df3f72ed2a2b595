#include "ui/ResultProxyModel.h"

#include <algorithm>
#include <numeric>
#include <optional>

namespace {

using Kind = ResultGrid::Kind;

// Addresses as written by the scan: four decimal parts. Anything else has no value and
// sorts after the addresses.
std::optional<quint32> addressValue(const QString &text)
{
    quint32 value = 0;
    int parts = 0;
    int digits = 0;
    quint32 part = 0;
    for (const QChar ch : text) {
        if (ch.isDigit() && ch.unicode() < 128) {
            part = part * 10 + quint32(ch.unicode() - u'0');
            if (++digits > 3 || part > 255)
                return std::nullopt;
        } else if (ch == u'.' && digits > 0 && parts < 3) {
            value = value << 8 | part;
            ++parts;
            part = 0;
            digits = 0;
        } else {
            return std::nullopt;
        }
    }
    if (parts != 3 || digits == 0)
        return std::nullopt;
    return value << 8 | part;
}

// A round-trip time: its leading number. Failures and texts without a number have none.
std::optional<qint64> timeValue(const QString &text, Kind kind)
{
    if (kind == Kind::Failure)
        return std::nullopt;
    qint64 value = 0;
    int digits = 0;
    for (const QChar ch : text) {
        if (!ch.isDigit() || ch.unicode() >= 128 || digits == 18)
            break;
        value = value * 10 + (ch.unicode() - u'0');
        ++digits;
    }
    return digits > 0 ? std::optional(value) : std::nullopt;
}

// Where a name sorts: names first, then rows still resolving, then rows without a name.
int nameGroup(const QString &text, Kind kind)
{
    if (kind == Kind::Resolving)
        return 1;
    return text.trimmed().isEmpty() ? 2 : 0;
}

// -1, 0 or 1 as a goes before, with or after b in ascending order; `fixed` is set when one
// of them belongs after the other whatever the direction (a failure after a time, a row
// without a name after a named one).
int compareCells(const ResultGrid &grid, qsizetype a, qsizetype b, int column, bool &fixed)
{
    fixed = false;
    const QString ta = grid.cellText(a, column);
    const QString tb = grid.cellText(b, column);
    const auto byValue = [&fixed](const auto &va, const auto &vb) {
        if (va.has_value() != vb.has_value()) {
            fixed = true;
            return va ? -1 : 1;
        }
        if (va && *va != *vb)
            return *va < *vb ? -1 : 1;
        return 0;
    };
    int order = 0;
    switch (column) {
    case 0:
        order = byValue(addressValue(ta), addressValue(tb));
        break;
    case 1:
        order = byValue(timeValue(ta, grid.cellKind(a, column)),
                        timeValue(tb, grid.cellKind(b, column)));
        break;
    case 2: {
        const int ga = nameGroup(ta, grid.cellKind(a, column));
        const int gb = nameGroup(tb, grid.cellKind(b, column));
        if (ga != gb) {
            fixed = true;
            return ga < gb ? -1 : 1;
        }
        break;
    }
    default:
        // Hardware addresses and makers: rows without one after the others.
        if (ta.isEmpty() != tb.isEmpty()) {
            fixed = true;
            return ta.isEmpty() ? 1 : -1;
        }
        break;
    }
    if (order != 0 || fixed)
        return order;
    // Equal values (or texts without one, such as two failures): by text, ignoring case.
    const int text = ta.compare(tb, Qt::CaseInsensitive);
    return text < 0 ? -1 : text > 0 ? 1 : 0;
}

} // namespace

ResultProxyModel::ResultProxyModel(ResultGrid *grid, QObject *parent)
    : QSortFilterProxyModel(parent)
    , m_grid(grid)
{
    setSourceModel(grid);
    setDynamicSortFilter(true);
    setFilterKeyColumn(-1);
    setFilterCaseSensitivity(Qt::CaseInsensitive);
}

void ResultProxyModel::setInk(ResultGrid::Kind kind, const QColor &color)
{
    QColor &ink = m_inks[std::size_t(kind)];
    if (ink == color)
        return;
    ink = color;
    if (rowCount() > 0)
        Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1),
                           {Qt::ForegroundRole});
}

QColor ResultProxyModel::ink(ResultGrid::Kind kind) const
{
    return m_inks[std::size_t(kind)];
}

QVariant ResultProxyModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::ForegroundRole)
        return QSortFilterProxyModel::data(index, role);
    const QVariant kind = QSortFilterProxyModel::data(index, ResultGrid::KindRole);
    if (!kind.isValid())
        return {};
    const QColor &ink = m_inks[std::size_t(std::clamp(kind.toInt(), 0, int(m_inks.size()) - 1))];
    return ink.isValid() ? QVariant(ink) : QVariant();
}

bool ResultProxyModel::before(const ResultGrid &grid, qsizetype a, qsizetype b, int column,
                              Qt::SortOrder order)
{
    bool fixed = false;
    const int cmp = compareCells(grid, a, b, column, fixed);
    return fixed || order == Qt::AscendingOrder ? cmp < 0 : cmp > 0;
}

bool ResultProxyModel::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    // The proxy reverses lessThan itself for a descending sort; what belongs after the
    // values in both directions must answer the other way round then.
    bool fixed = false;
    const int cmp = compareCells(*m_grid, qsizetype(left.row()) + 1, qsizetype(right.row()) + 1,
                                 left.column(), fixed);
    if (fixed && sortOrder() == Qt::DescendingOrder)
        return cmp > 0;
    return cmp < 0;
}

ResultGrid::RowOrder ResultProxyModel::tableOrder() const
{
    const int column = sortColumn();
    if (column < 0)
        return {};
    ResultGrid::RowOrder rows(std::size_t(std::max<qsizetype>(0, m_grid->Rows() - 1)));
    std::iota(rows.begin(), rows.end(), qsizetype(1));
    const Qt::SortOrder order = sortOrder();
    std::stable_sort(rows.begin(), rows.end(), [&](qsizetype a, qsizetype b) {
        return before(*m_grid, a, b, column, order);
    });
    return rows;
}

qsizetype ResultProxyModel::tableRow(int proxyRow) const
{
    const QModelIndex source = mapToSource(index(proxyRow, 0));
    return source.isValid() ? qsizetype(source.row()) + 1 : -1;
}

int ResultProxyModel::proxyRow(qsizetype tableRow) const
{
    if (tableRow < 1 || tableRow > m_grid->rowCount())
        return -1;
    const QModelIndex proxy = mapFromSource(m_grid->index(int(tableRow - 1), 0));
    return proxy.isValid() ? proxy.row() : -1;
}
