#pragma once

#include <QList>
#include <QObject>
#include <QString>

class EchoControl;
class QMenu;
class QPoint;
class QWidget;
class ResultGrid;
class ResultTableView;

// What the user does to result rows through the pop-up menu (copy a cell, delete the row,
// ping it again, telnet, hand it to the companion tool) and the Clear List entry. The menu
// opens by a right click on a row or, for the current row, by the Menu key or Shift+F10.
// Copy and Delete take every selected row when the menu's row is one of several selected;
// the Delete key deletes the selected rows (or the current one) and the copy key copies
// them (or the current cell). None of them touches the state of a running scan. The window
// wires its menu entries to the _Click slots; messages and the hourglass sit on the window.
class TableActions : public QObject
{
    Q_OBJECT
public:
    TableActions(QWidget &window, ResultTableView &view, ResultGrid &table, EchoControl &echo,
                 QMenu &popup);

    // The grid's mouse-button event: a right click on a data row makes the clicked cell
    // current and pops up the menu there.
    void Table_MouseDown(int Button, int Shift, int X, int Y);
    // The keyboard's way to the menu: for the current cell, placed at it.
    void Table_MenuKey();
    void Table_DeleteKey();
    void Table_CopyKey();

    void CopyPopup_Click();
    void DeletePopup_Click();
    void ClearSelection_Click();
    void PingPopup_Click();
    void TelnetPopup_Click();
    void BrowsePopup_Click();

private:
    // The cell of the right click, and the address its row held then. The scan moves the
    // grid's current cell with every reply and answer while the menu is up, so the actions
    // never go by the current cell.
    struct Target
    {
        qsizetype row = -1;
        int col = -1;
        QString address;
    };
    // The clicked row where it is now (rows above it may have been deleted), or -1 when it
    // is gone.
    qsizetype targetRow() const;
    void openMenu(qsizetype row, int col, const QPoint &global);
    // The selected rows when the menu's row is one of several selected, else none.
    QList<qsizetype> rowsWithTarget(qsizetype row) const;
    void copyRows(const QList<qsizetype> &rows);
    void deleteRows(QList<qsizetype> rows);

    QWidget &m_window;
    ResultTableView &m_view;
    ResultGrid &m_table;
    EchoControl &m_echo;
    QMenu &m_popup;
    Target m_target;
};
