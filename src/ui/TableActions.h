#pragma once

#include <QObject>

class EchoControl;
class QMenu;
class QWidget;
class ResultGrid;
class ResultTableView;

// What the user does to single result rows through the pop-up menu (copy a cell, delete
// the row, ping it again, telnet, hand it to the companion tool) and the Clear List entry.
// None of them touches the state of a running scan. The window wires its menu entries to
// the _Click slots; messages and the hourglass sit on the window.
class TableActions : public QObject
{
    Q_OBJECT
public:
    TableActions(QWidget &window, ResultTableView &view, ResultGrid &table, EchoControl &echo,
                 QMenu &popup);

    // The grid's mouse-button event: a right click on a data row makes the clicked cell
    // current and pops up the menu there.
    void Table_MouseDown(int Button, int Shift, int X, int Y);

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

    QWidget &m_window;
    ResultTableView &m_view;
    ResultGrid &m_table;
    EchoControl &m_echo;
    QMenu &m_popup;
    Target m_target;
};
