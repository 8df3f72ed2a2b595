#pragma once

#include <QPointer>
#include <QWidget>

class QFrame;
class QIcon;
class QLabel;
class QEventLoop;
class QPushButton;

// The product window: shown without a button while the program starts (its owner writes
// progress into Status and closes it), and as the About box with an OK button. Closing
// only hides it; the About box deletes itself, so every About loads it afresh. Geometry
// follows the window's design in twips (1/1440 inch).
class SplashForm : public QWidget
{
    Q_OBJECT
public:
    explicit SplashForm(QWidget *parent = nullptr);

    // Turns the shown window into the About box: OK button visible, status line empty.
    // Returns at once.
    void WaitForUser();

    // Puts text into the status line and returns once the window has painted it, or after
    // timeoutMs, or when the window closes meanwhile. Events are handled while it waits.
    void showStatus(const QString &text, int timeoutMs);
    void clearStatus();

    // The help menu's About entry. The box belongs to mainWindow, which its OK button
    // brings to the front. Gives the box, or null when it was closed at once.
    static SplashForm *showAbout(QWidget *mainWindow);

    // The program's icon in all its sizes, for windows and the application.
    static QIcon programIcon();

    int twipsToPixels(int twips) const;

    // Controls, under the names the rest of the program uses.

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // Each control also carries its name as its object name, by which tests find it.
    QFrame *BackPanel = nullptr;
    QLabel *Banner = nullptr;
    QLabel *Picture = nullptr;
    QFrame *Line1 = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Pgm_Icon = nullptr;
    QLabel *lblVersion = nullptr;
    QLabel *lblCompany = nullptr;
    QLabel *lblCopyright = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *ZarnholtWebLink = nullptr;
    QLabel *Status = nullptr;
    QPushButton *OK_Button = nullptr;

    void nameControls();
    void createControls();
    void Form_Load();
    void Form_Resize();
    void Form_KeyPress(int key);
    void OK_Button_Click();
    void ZarnholtWebLink_Click();
    void setLinkUnderlined(bool underlined);

    QPointer<QWidget> m_mainWindow;
    // Runs while showStatus waits for the status line to reach the screen.
    QEventLoop *m_paintWait = nullptr;
};
