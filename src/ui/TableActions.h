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
    QString addressOfCurrentRow() const;

    MainForm &m_form;
};
