#include "app/Version.h"
#include "app/desktop/Globals.h"
#include "ui/MessageBox.h"
#include "ui/SplashForm.h"

#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

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
    void initTestCase() { MessageBox::setTestMode(true); }
    void cleanup()
    {
        QVERIFY(MessageBox::takeShown().isEmpty());
        QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void loadFillsTexts()
    {
        SplashForm splash;
        splash.show();
        QVERIFY(QTest::qWaitForWindowExposed(&splash));
        QCOMPARE(splash.lblVersion->text(), QStringLiteral("Version 1.3.0"));
        QCOMPARE(splash.lblCompany->text(), Version::legalTrademarks());
        QCOMPARE(splash.ZarnholtWebLink->text(), Version::webSite());
        QVERIFY(splash.OK_Button->isHidden());
        QCOMPARE(splash.BackPanel->geometry(), splash.rect());
        QVERIFY(!splash.Pgm_Icon->pixmap().isNull()); // the artwork is in the program
    }

    void keyCloses_data()
    {
        QTest::addColumn<bool>("about");
        QTest::addColumn<bool>("toButton"); // through the focused OK button
        QTest::addColumn<int>("key");
        QTest::newRow("start-up, Esc") << false << false << int(Qt::Key_Escape);
        QTest::newRow("About, letter") << true << false << int(Qt::Key_Q);
        QTest::newRow("About, Esc") << true << false << int(Qt::Key_Escape);
        QTest::newRow("About, Enter on OK") << true << true << int(Qt::Key_Return);
    }
    void keyCloses()
    {
        QFETCH(bool, about);
        QFETCH(bool, toButton);
        QFETCH(int, key);
        QWidget main;
        QPointer<SplashForm> splash = about ? SplashForm::showAbout(&main) : new SplashForm(&main);
        QVERIFY(splash);
        QVERIFY(exposeAndActivate(splash));
        QCOMPARE(splash->OK_Button->isVisible(), about);
        QTest::keyClick(splash, Qt::Key_Shift); // a modifier alone is not yet a key
        QVERIFY(splash->isVisible());
        QTest::keyClick(toButton ? static_cast<QWidget *>(splash->OK_Button) : splash.data(),
                        Qt::Key(key));
        if (about)
            QTRY_VERIFY(!splash); // the About box goes altogether
        else
            QVERIFY(splash->isHidden());
    }

    void okBringsMainWindowForward()
    {
        QWidget main;
        QWidget other;
        QVERIFY(exposeAndActivate(&main));
        QPointer<SplashForm> about = SplashForm::showAbout(&main);
        QVERIFY(about);
        QCOMPARE(SplashForm::showAbout(&main), about.data()); // one at a time
        QVERIFY(exposeAndActivate(&other));
        QTest::mouseClick(about->OK_Button, Qt::LeftButton);
        QTRY_VERIFY(main.isActiveWindow());
        QTRY_VERIFY(!about);
    }

    // The pointer moves over the window as the desktop moves it, so the window itself finds
    // the widget under it.
    void linkHover()
    {
        SplashForm splash;
        QVERIFY(exposeAndActivate(&splash));
        QLabel *link = splash.ZarnholtWebLink;
        const auto moveTo = [&](QWidget *widget, QPoint pos) {
            QTest::mouseMove(splash.windowHandle(), widget->mapTo(&splash, pos));
        };
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
        QVERIFY(!link->font().underline());
        moveTo(link, link->rect().center());
        QTRY_VERIFY(link->font().underline());
        moveTo(splash.BackPanel, QPoint(5, splash.height() - 5));
        QTRY_VERIFY(!link->font().underline());
        moveTo(link, QPoint(2, 2));
        QTRY_VERIFY(link->font().underline());
    }

    void pauseKeepsEventsTurning_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::newRow("one second") << 1;
        QTest::newRow("none") << 0;
    }
    void pauseKeepsEventsTurning()
    {
        QFETCH(int, seconds);
        bool fired = false;
        QTimer::singleShot(200, this, [&] { fired = true; });
        QElapsedTimer clock;
        clock.start();
        Globals::Pause_Seconds(static_cast<std::int16_t>(seconds));
        const qint64 elapsed = clock.elapsed();
        QCOMPARE(fired, seconds > 0);
        QVERIFY2(elapsed >= seconds * 1000 - 20 && elapsed < seconds * 1000 + 5000,
                 qPrintable(QString::number(elapsed)));
    }
};

QTEST_MAIN(TestSplashForm)
#include "tst_splash_form.moc"
