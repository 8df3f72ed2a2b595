#pragma once

#include "scan/components/Twips.h"

#include <QAbstractTableModel>
#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

// The result grid `Table`: a table of text cells addressed through a current cell (Row,
// Col), as the scan engine and the row actions use it. Row 0 is the header row; the model
// exposes it as the header and the data rows 1.. as model rows 0... Lengths are in twips.
//
// Each cell also carries what it is (a round-trip time, a failure's text, the placeholder of
// a lookup under way, a name); the windows choose a colour for each kind from their own
// palette, and readers of the table tell answers from failures by it.
//
// A current cell outside the table is allowed: reads give an empty text or a plain kind and
// writes are ignored, so a stale row index (a row deleted while its lookup was out) can
// never crash the caller.
class ResultGrid : public QAbstractTableModel
{
    Q_OBJECT
public:
    // Values of ColAlignment: horizontal position * 3 + vertical position (left, centre,
    // right; top, centre, bottom), so 1 is left and vertically centred, 7 right and
    // vertically centred. AlignGeneral is the starting value: text left, vertically centred.
    enum Alignment : int
    {
        AlignLeftTop = 0,
        AlignLeftCenter = 1,
        AlignLeftBottom = 2,
        AlignCenterTop = 3,
        AlignCenterCenter = 4,
        AlignCenterBottom = 5,
        AlignRightTop = 6,
        AlignRightCenter = 7,
        AlignRightBottom = 8,
        AlignGeneral = 9,
    };
    static Qt::Alignment alignmentFlags(int colAlignment);

    enum class Kind : std::uint8_t
    {
        Plain,     // addresses, captions, anything else
        Time,      // a round-trip time
        Failure,   // the echo component's error text
        Resolving, // the placeholder while the name lookup runs
        Name,      // the name lookup's answer
        // The lookup's text where it got no answer (no reply from the server, a server
        // failure, cancelled): shown as an answer is, but it names nothing.
        LookupFailure,
    };
    // The role through which views ask a cell's Kind (as an int).
    static constexpr int KindRole = Qt::UserRole + 1;

    // Table rows (data rows from 1) in the order a reader should walk them, for readers that
    // follow the order a view shows; empty means table order.
    using RowOrder = std::vector<qsizetype>;

    static constexpr int DefaultColWidth = Twips::PerInch;
    static constexpr int MaxCols = 1024;

    explicit ResultGrid(QObject *parent = nullptr);

    // Header row included. Writing 1 keeps only the header; a larger value appends empty
    // rows at the bottom; a smaller one drops rows from the bottom. The header row always
    // stays: values below 1 count as 1.
    qsizetype Rows() const;
    void setRows(qsizetype rows);
    // Starts at 3, the product's layout; clamped to 0..MaxCols.
    int Cols() const;
    void setCols(int cols);

    qsizetype Row() const;
    void setRow(qsizetype row);
    int Col() const;
    void setCol(int col);

    // Text and kind of the current cell.
    QString Text() const;
    void setText(const QString &text);
    Kind CellKind() const;
    void setCellKind(Kind kind);

    // Direct cell access for readers that walk the table (export, report, lookups).
    QString cellText(qsizetype row, int col) const;
    Kind cellKind(qsizetype row, int col) const;

    int ColWidth(int col) const; // twips
    void setColWidth(int col, int twips);
    int ColAlignment(int col) const;
    void setColAlignment(int col, int alignment);

    // False suspends repainting: appended rows reach attached views in one batch when
    // Redraw is set true again.
    bool Redraw() const;
    void setRedraw(bool redraw);

    // Removes a data row; the rows below move up by one. Row 0 cannot be removed.
    void RemoveItem(qsizetype row);
    // Removes `count` data rows from `row` on in one step (one removal signal).
    void removeTableRows(qsizetype row, qsizetype count);

    // Decoration and tool tip of a data row's address cell, asked only when a view paints
    // or hovers it; the cell's text and colour never change. An empty function: none.
    using AddressMark = std::function<QVariant(const QString &address, int role)>;
    void setAddressMark(AddressMark mark);
    bool hasAddressMark() const { return bool(m_addressMark); }

    // QAbstractTableModel
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

Q_SIGNALS:
    void columnLayoutChanged();
    void redrawChanged(bool redraw);
    // Emitted after data rows were removed or the table was cleared: first removed row index
    // (table numbering) and how many. Lets owners keep indexes of rows in step.
    void rowsRemovedFromTable(qsizetype firstRow, qsizetype count);

private:
    bool cellInRange(qsizetype row, int col) const;
    qsizetype cellIndex(qsizetype row, int col) const { return row * m_cols + col; }
    void appendRows(qsizetype count);
    void removeRowsAtBottom(qsizetype count);
    void clearDataRows();
    // Tells attached views about rows appended and cells written while Redraw was false.
    void flushPending();
    void cellChanged(qsizetype row, int col, int role);

    qsizetype m_rows = 1;
    int m_cols = 3;
    // Row-major, header row first: m_rows * m_cols entries each. Blocks rather than one
    // array: a million rows grow without ever holding the table twice while it moves.
    std::deque<QString> m_texts;
    std::deque<Kind> m_kinds;
    // Data rows the views have been told about; rowCount() reports this.
    qsizetype m_announcedRows = 0;
    // Data rows (model numbering) written while Redraw was false and not yet reported.
    qsizetype m_dirtyFirst = -1;
    qsizetype m_dirtyLast = -1;

    qsizetype m_row = 0;
    int m_col = 0;
    bool m_redraw = true;

    std::vector<int> m_colWidths;
    std::vector<int> m_colAlignments;
    AddressMark m_addressMark;
};
