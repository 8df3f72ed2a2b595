#pragma once

#include <QDateTime>
#include <QIcon>
#include <QWidget>

#include <functional>

class MainForm;
class PrintEngine;
class QFrame;
class QLabel;
class QPushButton;
class ResultGrid;

// The print preview window: the report one page at a time, with buttons to page, zoom, print
// and close. The program has at most one; PrintNow and Preview create it on first use as a
// window of its own owned by the main window. Closing it discards it and its document.
// Geometry follows the window's design in twips (1/1440 inch).
class PrintPreviewForm : public QWidget
{
    Q_OBJECT
public:
    // Builds the report of the main window's range and table, prints it and unloads the
    // window, which is never shown (an open one is rebuilt, used and closed).
    static void PrintNow(MainForm &main);
    // Builds the report and shows it at page 1 and 100 %; returns at once, the window stays.
    static void Preview(MainForm &main);
    // The window while it is loaded, else nullptr.
    static PrintPreviewForm *instance();

    // Where the footer's date and time come from; tests fix it. Empty: the real clock.
    static void setClock(std::function<QDateTime()> clock);

    // A status panel by its key, "Zoom" or "Page".
    QLabel *Panel(const QString &key) const;

    QFrame *Toolbar = nullptr;
    QPushButton *PrintButton = nullptr;
    QPushButton *NextPageButton = nullptr;
    QPushButton *PrevPageButton = nullptr;
    QPushButton *ZoomInButton = nullptr;
    QPushButton *ZoomOutButton = nullptr;
    QPushButton *CloseButton = nullptr;
    QFrame *StatusBar = nullptr;
    PrintEngine *vsPrint = nullptr;
    QIcon Logo;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    explicit PrintPreviewForm(QWidget *owner);
    static PrintPreviewForm &load(MainForm &main);

    void build(const QString &startingText, const QString &endingText, const ResultGrid &table);
    void RefreshStatus();
    void Form_Resize();
    void PrintButton_Click();
    void NextPageButton_Click();
    void PrevPageButton_Click();
    void ZoomInButton_Click();
    void ZoomOutButton_Click();
    void CloseButton_Click();

    int twipsToPixels(int twips) const;
    void place(QWidget *widget, int left, int top, int width, int height);
};
