#pragma once

#include "scan/components/ResultGrid.h"

#include <QTableView>

class ResultProxyModel;

// The on-screen result table: shows a ResultGrid with row 0 as the column header, applies
// the grid's column widths and alignments, and reports mouse presses in table numbering
// (header row 0, data row i as i) so the owner can open its row menu.
//
// What the user does to the view alone happens here: a click on a column header sorts by
// that column (again: the other way; a third time: arrival order), Shift and Ctrl extend
// the selection of rows, and a find text hides the rows that do not contain it. Each kind of
// cell is drawn in a colour taken from the palette and checked against the table's
// background, so it stays readable under light and dark desktops.
class ResultTableView : public QTableView
{
    Q_OBJECT
public:
    explicit ResultTableView(ResultGrid *grid, QWidget *parent = nullptr);

    ResultGrid *grid() const { return m_grid; }
    ResultProxyModel *proxy() const { return m_proxy; }

    // Row and column under the pointer at the last mouse press, each -1 where the pointer
    // was beyond the last row or column (a press on the header gives row 0).
    qsizetype MouseRow() const { return m_mouseRow; }
    int MouseCol() const { return m_mouseCol; }

    // The current cell in table numbering; row -1 when there is none.
    qsizetype currentTableRow() const;
    int currentTableCol() const;
    // The selected rows in table numbering, in the order shown.
    QList<qsizetype> selectedTableRows() const;
    // Where table row `row`, column `col` is shown, in the view's coordinates; an empty
    // rectangle when it is not shown.
    QRect cellRect(qsizetype row, int col) const;

    // Every table row in the order shown (hidden rows included); empty in arrival order.
    ResultGrid::RowOrder tableOrder() const;
    // Back to arrival order, no sort indicator.
    void resetOrder();
    // Shows only rows with a cell that contains `text` (ignoring case); "" shows every row.
    void setFindText(const QString &text);
    QString findText() const { return m_findText; }

    // Pixels the address column has beyond its width in the grid, for the mark of a new
    // address beside it; 0 without marks.
    int markRoom() const;

    int twipsToPixels(int twips) const;
    int pixelsToTwips(int pixels) const;

Q_SIGNALS:
    // Button: 1 left, 2 right, 4 middle. Shift: 1 shift, 2 ctrl, 4 alt. X, Y in twips from
    // the view's top-left corner. Emitted after MouseRow and MouseCol are set.
    void MouseDown(int Button, int Shift, int X, int Y);
    // The keyboard's ways to the row menu (the Menu key, Shift+F10), to delete the selected
    // rows (Delete) and to copy (the platform's copy key).
    void menuKeyPressed();
    void deleteKeyPressed();
    void copyKeyPressed();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void applyColumnLayout();
    void applyInks();
    void columnResizedByUser(int column, int oldPixels, int newPixels);
    int borrowedPixels(int col) const;
    void reportPress(const QMouseEvent *event, const QWidget *source);

    ResultGrid *m_grid;
    ResultProxyModel *m_proxy;
    QString m_findText;
    qsizetype m_mouseRow = -1;
    int m_mouseCol = -1;
    bool m_applyingLayout = false;
};
