#include "startup/Startup.h"

#include "app/BuildVersion.h"
#include "app/ScanSettings.h"
#include "app/Version.h"
#include "fakes/FakeEcho.h"
#include "fakes/FakeLookup.h"
#include "ui/Controls.h"
#include "ui/MainForm.h"
#include "ui/SplashForm.h"
#include "widgets/MessageBox.h"
#include "widgets/WebLauncher.h"

#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <algorithm>

// Records the status texts painted, and holds back the first expose of a window (the splash
// window's: it is the first one start-up shows) for delayMs, as a slow window system would.
class SplashWatch : public QObject
{
public:
    int delayMs = 0;
    QStringList painted;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && watched->objectName() == u"Status")
            painted << watched->property("text").toString();
        auto *window = qobject_cast<QWindow *>(watched);
        if (!window || event->type() != QEvent::Expose || delayMs == 0)
            return false;
        QTimer::singleShot(std::exchange(delayMs, 0), window, [window] {
            QExposeEvent late{QRegion(QRect(QPoint(), window->size()))};
            QCoreApplication::sendEvent(window, &late);
        });
        return true;
    }
};

// Start-up with its splash window, the splash window as the About box, and the web launcher
// behind its link and the help pages. The launcher runs against stand-in helpers and a stand-in
// browser in a private folder that is the whole PATH, so nothing real is ever asked or started.
class TestStartup : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> root;
    QString boxes;

    static bool exposeAndActivate(QWidget *window)
    {
        window->show();
        window->activateWindow();
        return QTest::qWaitForWindowExposed(window) && QTest::qWaitForWindowActive(window);
    }
    QString path(const char *name) const { return root->filePath(name); }
    void writeFile(const char *name, const QString &text)
    {
        QFile file(path(name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) > 0);
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    }
    // The message boxes so far, then one line per start of the stand-in browser with each
    // argument in brackets.
    QString outcome()
    {
        for (const auto &box : MessageBox::takeShown())
            boxes += box.title + ": " + box.text;
        QFile file(path("calls.log"));
        return boxes + (file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : "");
    }

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init()
    {
        MessageBox::setTestMode(true);
        boxes.clear();
        static const QString tempBase = QDir::tempPath(); // before TMPDIR points in here
        root = std::make_unique<QTemporaryDir>(tempBase + "/tst_web_launcher-XXXXXX");
        QVERIFY(QDir(root->path()).mkpath("tmp") && QDir(root->path()).mkpath("applications"));
        qputenv("PATH", root->path().toUtf8());
        qputenv("TMPDIR", path("tmp").toUtf8());
        qputenv("XDG_DATA_DIRS", root->path().toUtf8());
        qunsetenv("BROWSER");
        writeFile("browser",
                  "#!/bin/sh\n{ printf '[%s]' \"$@\"; echo; } >> '" + path("calls.log") + "'\n");
        writeFile("xdg-open", "#!/bin/sh\nexec browser xdg-open \"$@\"\n");
        // Types the probe as a web page while it exists, and names $WEB_ENTRY their program.
        writeFile("xdg-mime", "#!/bin/sh\ncase \"$2\" in\n"
                              "filetype) [ -f \"$3\" ] && echo 'text/html; charset=utf-8';;\n"
                              "default) [ \"$3\" = text/html ] && echo \"$WEB_ENTRY\";;\nesac\n");
        writeFile("applications/stand-in.desktop",
                  "[Desktop Action other]\nExec=wrong\n\n[Desktop Entry]\nName=Stand-in\n"
                  "Exec=browser --private %U %i\n");
    }
    // The probe is gone.
    void cleanup() { QCOMPARE(QDir(path("tmp")).entryList(QDir::Files), QStringList()); }

    // The splash must be on the screen, status line and all, before the settings are read,
    // also when the window system exposes the new window late.
    void startsWithSettings_data()
    {
        QTest::addColumn<int>("exposeDelayMs");
        QTest::addColumn<bool>("keyDuringLoading"); // any key closes the splash at once
        QTest::newRow("at once") << 0 << false;
        QTest::newRow("slow display") << 150 << false;
        QTest::newRow("key pressed on the splash") << 0 << true;
    }
    void startsWithSettings()
    {
        SplashWatch watch;
        QFETCH(int, exposeDelayMs);
        QFETCH(bool, keyDuringLoading);
        watch.delayMs = exposeDelayMs;
        bool closedEarly = false;
        if (keyDuringLoading) {
            // Runs inside start-up's first event drain, while the splash window shows.
            QTimer::singleShot(0, this, [&] {
                for (QWidget *w : QApplication::topLevelWidgets())
                    if (auto *splash = qobject_cast<SplashForm *>(w); splash && w->isVisible()) {
                        QTest::keyClick(splash, Qt::Key_A);
                        closedEarly = splash->isHidden();
                    }
            });
        }
        qApp->installEventFilter(&watch);
        QStringList paintedAtLoad;
        const auto form =
            Globals::Main(std::make_unique<FakeEcho>(), std::make_unique<FakeLookup>(), [&] {
                paintedAtLoad = watch.painted;
                return ScanSettings{4, 1500, 64, 20, false, true};
            });
        qApp->removeEventFilter(&watch);
        QVERIFY(keyDuringLoading || paintedAtLoad.contains("Loading Default Settings ..."));
        QCOMPARE(closedEarly, keyDuringLoading);
        QVERIFY(form->isVisible());
        QCOMPARE(form->PING_Timer().interval(), 20); // with the settings
        QVERIFY(std::ranges::none_of(QApplication::topLevelWidgets(), [](QWidget *w) {
            return qobject_cast<SplashForm *>(w) && w->isVisible();
        }));
    }

    // The About box, which is the splash window with an OK button: how it closes.
    void aboutClosing_data()
    {
        QTest::addColumn<bool>("toButton"); // to the focused OK button, else to the window
        QTest::addColumn<int>("key");       // 0: a click
        QTest::addColumn<bool>("forward");  // the main window comes to the front
        QTest::newRow("Enter on OK") << true << int(Qt::Key_Return) << false;
        QTest::newRow("Esc is OK") << false << int(Qt::Key_Escape) << true;
        QTest::newRow("OK clicked") << true << 0 << true;
    }
    void aboutClosing()
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

    void openWebPage_data()
    {
        QTest::addColumn<QByteArray>("browserVariable");
        QTest::addColumn<QByteArray>("entry"); // the desktop's program for web pages
        QTest::addColumn<QString>("outcome");  // %1 is the address
        const auto row = [](const char *name, QByteArray browser, QByteArray entry,
                            QString outcome) {
            QTest::newRow(name) << browser << entry << outcome;
        };
        row("BROWSER, first runnable", "missing:browser --new %s", "", "[--new][%1]\n");
        row("desktop entry for the probe", "", "stand-in.desktop", "[--private][%1]\n");
        row("entry path refused", "", "../applications/stand-in.desktop", "[xdg-open][%1]\n");
        // Not even xdg-open: the first message only.
        row("no browser", "", "", "Browser Not Found: Could not find default Browser");
    }
    void openWebPage()
    {
        QFETCH(QByteArray, browserVariable);
        QFETCH(QByteArray, entry);
        QFETCH(QString, outcome);
        qputenv("BROWSER", browserVariable);
        qputenv("WEB_ENTRY", entry);
        QVERIFY(outcome.startsWith('[') || QFile::remove(path("xdg-open")));
        // Shell metacharacters reach the browser verbatim: no shell ever sees them.
        const auto address =
            QString("https://a.example/x y;$(touch %1)`touch %1`&z='q\"|*>%1").arg(path("touched"));
        Globals::Open_Web_Page(nullptr, address);
        QTRY_COMPARE(this->outcome(), outcome.replace("%1", address));
        QVERIFY(!QFile::exists(path("touched")));
    }

    // A help page, then the splash window's link with its pause (never the real one here),
    // and the pointer back after each.
    void helpPageAndSplashLink()
    {
        SplashForm owner;
        int pausedSeconds = 0;
        Globals::setPause([&](std::int16_t seconds) { pausedSeconds = seconds; });
        const auto realPause = qScopeGuard([] { Globals::setPause({}); });
        Globals::openHelpPage(&owner, "/FAQ.htm");
        const QString site = "[xdg-open][" + Version::webSite();
        QTRY_COMPARE(outcome(), site + "/FAQ.htm]\n");
        QCOMPARE(owner.cursor().shape(), Qt::ArrowCursor);
        QTest::mouseClick(control<QLabel>(&owner, "ZarnholtWebLink"), Qt::LeftButton);
        QTRY_COMPARE(outcome(), site + "/FAQ.htm]\n" + site + "]\n");
        QCOMPARE(pausedSeconds, 3);
        QCOMPARE(owner.cursor().shape(), Qt::ArrowCursor);
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
