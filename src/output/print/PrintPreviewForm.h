#pragma once

#include "scan/components/ResultGrid.h"

#include <QDateTime>
#include <QIcon>
#include <QWidget>

#include <functional>

class PrintEngine;
class QFrame;
class QLabel;
class QPushButton;

// The print preview window: the report one page at a time, with buttons to page, zoom, print
// and close. The program has at most one; PrintNow and Preview create it on first use as a
// window of its own owned by the window that asked for it. Closing it discards it and its document.
// Geometry follows the window's design in twips (1/1440 inch).
class PrintPreviewForm : public QWidget
{
    Q_OBJECT
public:
    // Builds the report of the range typed as startingText to endingText and of table,
    // prints it and unloads the window, which is never shown (an open one is rebuilt, used
    // and closed). A new window belongs to owner.
    // The rows go in `order` (table order when empty).
    static void PrintNow(QWidget *owner, const QString &startingText, const QString &endingText,
                         const ResultGrid &table, const ResultGrid::RowOrder &order = {});
    // Builds the report and shows it at page 1 and 100 %; returns at once, the window stays.
    // A new window opens at its design size, or as much of it as the screen has room for.
    static void Preview(QWidget *owner, const QString &startingText, const QString &endingText,
                        const ResultGrid &table, const ResultGrid::RowOrder &order = {});
    // The window while it is loaded, else nullptr.
    static PrintPreviewForm *instance();

    // Where the footer's date and time come from; tests fix it. Empty: the real clock.
    static void setClock(std::function<QDateTime()> clock);

    // A status panel by its key, "Zoom" or "Page".
    QLabel *Panel(const QString &key) const;

    QIcon Logo;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    // Each control also carries its name as its object name, by which tests find it.
    QFrame *Toolbar = nullptr;
    QPushButton *PrintButton = nullptr;
    QPushButton *NextPageButton = nullptr;
    QPushButton *PrevPageButton = nullptr;
    QPushButton *ZoomInButton = nullptr;
    QPushButton *ZoomOutButton = nullptr;
    QPushButton *CloseButton = nullptr;
    QFrame *StatusBar = nullptr;
    PrintEngine *vsPrint = nullptr;

    void nameControls();
    explicit PrintPreviewForm(QWidget *owner);
    static PrintPreviewForm &load(QWidget *owner);

    void build(const QString &startingText, const QString &endingText, const ResultGrid &table,
               const ResultGrid::RowOrder &order);
    void RefreshStatus();
    void Form_Resize();
    void PrintButton_Click();
    void NextPageButton_Click();
    void PrevPageButton_Click();
    void ZoomInButton_Click();
    void ZoomOutButton_Click();
    void CloseButton_Click();

    int twipsToPixels(int twips) const;
};
