#pragma once

#include "scan/components/ResultGrid.h"

#include <QColor>
#include <QSortFilterProxyModel>

#include <array>

// What the result table shows of the grid: its rows sorted by a column when the user asks
// (addresses by value, times by value with failures after them, names ignoring case with
// rows still resolving or without a name after them), narrowed to the rows that contain a
// text, and each cell in the colour of its kind. The grid itself stays in arrival order.
class ResultProxyModel : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    explicit ResultProxyModel(ResultGrid *grid, QObject *parent = nullptr);

    ResultGrid *grid() const { return m_grid; }

    // The colour of each kind of cell; an invalid colour leaves the view's own.
    void setInk(ResultGrid::Kind kind, const QColor &color);
    QColor ink(ResultGrid::Kind kind) const;

    // Every table row, in the order of the current sort whatever the filter hides; empty
    // while unsorted (table order).
    ResultGrid::RowOrder tableOrder() const;

    // Table row (data rows from 1) of a row of this model and back; -1 where there is none.
    qsizetype tableRow(int proxyRow) const;
    int proxyRow(qsizetype tableRow) const;

    // True when table row `a` goes before `b` sorted by `column` in `order`; equal rows are
    // neither, so a stable sort keeps their arrival order.
    static bool before(const ResultGrid &grid, qsizetype a, qsizetype b, int column,
                       Qt::SortOrder order);

    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

protected:
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;

private:
    ResultGrid *m_grid;
    std::array<QColor, 6> m_inks;
};
