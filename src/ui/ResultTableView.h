#pragma once

#include <QTableView>

class ResultGrid;

// The on-screen result table: shows a ResultGrid with row 0 as the column header, applies
// the grid's column widths and alignments, and reports mouse presses in table numbering
// (header row 0, data row i as i) so the owner can open its row menu.
class ResultTableView : public QTableView
{
    Q_OBJECT
public:
    explicit ResultTableView(ResultGrid *grid, QWidget *parent = nullptr);

    ResultGrid *grid() const { return m_grid; }

    // Row and column under the pointer at the last mouse press, each -1 where the pointer
    // was beyond the last row or column (a press on the header gives row 0).
    qsizetype MouseRow() const { return m_mouseRow; }
    int MouseCol() const { return m_mouseCol; }

    int twipsToPixels(int twips) const;
    int pixelsToTwips(int pixels) const;

Q_SIGNALS:
    // Button: 1 left, 2 right, 4 middle. Shift: 1 shift, 2 ctrl, 4 alt. X, Y in twips from
    // the view's top-left corner. Emitted after MouseRow and MouseCol are set.
    void MouseDown(int Button, int Shift, int X, int Y);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void applyColumnLayout();
    void columnResizedByUser(int column, int oldPixels, int newPixels);
    void reportPress(const QMouseEvent *event, const QWidget *source);

    ResultGrid *m_grid;
    qsizetype m_mouseRow = -1;
    int m_mouseCol = -1;
    bool m_applyingLayout = false;
};
