#pragma once

#include <QObject>

class MainForm;

// What the user does to single result rows through the pop-up menu (copy a cell, delete
// the row, ping it again, telnet, hand it to the companion tool) and the Clear List entry.
// None of them touches the state of a running scan.
class TableActions : public QObject
{
    Q_OBJECT
public:
    explicit TableActions(MainForm &form);

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

    MainForm &m_form;
    Target m_target;
};
