#include "app/BuildVersion.h"
#include "ui/Controls.h"
#include "ui/SplashForm.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

class TestSplashForm : public QObject
{
    Q_OBJECT

    static bool exposeAndActivate(QWidget *window)
    {
        window->show();
        window->activateWindow();
        return QTest::qWaitForWindowExposed(window) && QTest::qWaitForWindowActive(window);
    }

private Q_SLOTS:
    void closing_data()
    {
        QTest::addColumn<bool>("about");
        QTest::addColumn<bool>("toButton"); // to the focused OK button
        QTest::addColumn<int>("key");       // 0: a click
        QTest::addColumn<bool>("forward");  // the main window comes to the front
        QTest::newRow("start-up, letter") << false << false << int(Qt::Key_Q) << false;
        QTest::newRow("About, Enter on OK") << true << true << int(Qt::Key_Return) << false;
        QTest::newRow("About, Esc is OK") << true << false << int(Qt::Key_Escape) << true;
        QTest::newRow("About, OK clicked") << true << true << 0 << true;
    }
    void closing()
    {
        QFETCH(bool, about);
        QFETCH(bool, toButton);
        QFETCH(int, key);
        QFETCH(bool, forward);
        QWidget main;
        QWidget other;
        QVERIFY(exposeAndActivate(&main));
        QPointer<SplashForm> splash = about ? SplashForm::showAbout(&main) : new SplashForm(&main);
        QVERIFY(splash && exposeAndActivate(splash));
        QCOMPARE(control<QLabel>(splash, "lblVersion")->text(), "Version " VANTREL_VERSION_TEXT);
        QVERIFY(!control<QLabel>(splash, "Pgm_Icon")
                     ->pixmap()
                     .isNull()); // the artwork is in the program
        QCOMPARE(control<QPushButton>(splash, "OK_Button")->isVisible(), about);
        QVERIFY(!about || SplashForm::showAbout(&main) == splash); // one About box at a time
        QVERIFY(exposeAndActivate(&other));
        QTest::keyClick(splash, Qt::Key_Shift); // a modifier alone is not yet a key
        QVERIFY(splash->isVisible());
        QWidget *target = toButton
                              ? static_cast<QWidget *>(control<QPushButton>(splash, "OK_Button"))
                              : splash.data();
        key ? QTest::keyClick(target, Qt::Key(key)) : QTest::mouseClick(target, Qt::LeftButton);
        QTRY_VERIFY(about ? splash.isNull() : splash->isHidden()); // About goes altogether
        QTRY_VERIFY(!forward || main.isActiveWindow());
    }

    // The pointer moves over the window as the desktop moves it, so the window itself finds
    // the widget under it.
    void linkHover()
    {
        SplashForm splash;
        QVERIFY(exposeAndActivate(&splash));
        QLabel *link = control<QLabel>(&splash, "ZarnholtWebLink");
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
        QVERIFY(!link->font().underline());
        QTest::mouseMove(splash.windowHandle(), link->mapTo(&splash, link->rect().center()));
        QTRY_VERIFY(link->font().underline());
        QTest::mouseMove(splash.windowHandle(), QPoint(5, splash.height() - 5)); // off the link
        QTRY_VERIFY(!link->font().underline());
        QTest::mouseMove(splash.windowHandle(), link->mapTo(&splash, QPoint(2, 2)));
        QTRY_VERIFY(link->font().underline());
    }
};

QTEST_MAIN(TestSplashForm)
#include "tst_splash_form.moc"
