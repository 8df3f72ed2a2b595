// The About box, which is the start-up splash window with an OK button: how it closes.
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
        QTest::addColumn<bool>("toButton"); // to the focused OK button, else to the window
        QTest::addColumn<int>("key");       // 0: a click
        QTest::addColumn<bool>("forward");  // the main window comes to the front
        QTest::newRow("Enter on OK") << true << int(Qt::Key_Return) << false;
        QTest::newRow("Esc is OK") << false << int(Qt::Key_Escape) << true;
        QTest::newRow("OK clicked") << true << 0 << true;
    }
    void closing()
    {
        QFETCH(bool, toButton);
        QFETCH(int, key);
        QFETCH(bool, forward);
        QWidget main;
        QWidget other;
        QVERIFY(exposeAndActivate(&main));
        QPointer<SplashForm> about = SplashForm::showAbout(&main);
        QVERIFY(about && exposeAndActivate(about));
        QCOMPARE(control<QLabel>(about, "lblVersion")->text(), "Version " VANTREL_VERSION_TEXT);
        QVERIFY(!control<QLabel>(about, "Pgm_Icon")->pixmap().isNull()); // built in
        QVERIFY(SplashForm::showAbout(&main) == about);                  // one About box at a time
        QVERIFY(exposeAndActivate(&other));
        QTest::keyClick(about, Qt::Key_Shift); // a modifier alone is not yet a key
        QVERIFY(about->isVisible());
        QWidget *target = about;
        if (toButton)
            target = control<QPushButton>(about, "OK_Button");
        key ? QTest::keyClick(target, Qt::Key(key)) : QTest::mouseClick(target, Qt::LeftButton);
        QTRY_VERIFY(about.isNull());
        QTRY_VERIFY(!forward || main.isActiveWindow());
    }
};

QTEST_MAIN(TestSplashForm)
#include "tst_splash_form.moc"
