#include "app/Version.h"
#include "ui/Controls.h"
#include "ui/SplashForm.h"
#include "widgets/MessageBox.h"
#include "widgets/WebLauncher.h"

#include <QScopeGuard>

#include <QLabel>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// The launcher against stand-in helpers and a stand-in browser in a private folder that is
// the whole PATH, so nothing real is ever asked or started.
class TestWebLauncher : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> root;
    QString boxes;

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
        qunsetenv("WEB_ENTRY");
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

    void openWebPage_data()
    {
        QTest::addColumn<QByteArray>("browserVariable");
        QTest::addColumn<QByteArray>("entry"); // the desktop's program for web pages
        QTest::addColumn<bool>("xdgOpen");
        QTest::addColumn<QString>("outcome"); // %1 is the address
        const auto row = [](const char *name, QByteArray browser, QByteArray entry, bool xdgOpen,
                            QString outcome) {
            QTest::newRow(name) << browser << entry << xdgOpen << outcome;
        };
        row("BROWSER, first runnable", "missing:browser --new %s", "", true, "[--new][%1]\n");
        row("desktop entry for the probe", "", "stand-in.desktop", true, "[--private][%1]\n");
        row("entry path refused", "", "../applications/stand-in.desktop", true, "[xdg-open][%1]\n");
        // The first message only.
        row("no browser", "", "", false, "Browser Not Found: Could not find default Browser");
    }
    void openWebPage()
    {
        QFETCH(QByteArray, browserVariable);
        QFETCH(QByteArray, entry);
        QFETCH(bool, xdgOpen);
        QFETCH(QString, outcome);
        qputenv("BROWSER", browserVariable);
        qputenv("WEB_ENTRY", entry);
        QVERIFY(xdgOpen || QFile::remove(path("xdg-open")));
        // Shell metacharacters reach the browser verbatim: no shell ever sees them.
        const auto address =
            QString("https://a.example/x y;$(touch %1)`touch %1`&z='q\"|*>%1").arg(path("touched"));
        Globals::Open_Web_Page(nullptr, address);
        QTRY_COMPARE(this->outcome(), outcome.replace("%1", address));
        QVERIFY(!QFile::exists(path("touched")));
    }

    void addresses_data()
    {
        QTest::addColumn<QString>("page"); // "": the splash window's link
        QTest::newRow("help page") << "/FAQ.htm";
        QTest::newRow("splash link") << "";
    }
    void addresses()
    {
        QFETCH(QString, page);
        SplashForm owner;
        // While the desktop is asked, and during the splash window's pause.
        Qt::CursorShape meanwhile = Qt::ArrowCursor;
        int pausedSeconds = 0;
        Globals::setPause([&](std::int16_t seconds) {
            pausedSeconds = seconds;
            meanwhile = owner.cursor().shape();
        });
        const auto realPause = qScopeGuard([] { Globals::setPause({}); });
        if (page.isEmpty()) {
            QTest::mouseClick(control<QLabel>(&owner, "ZarnholtWebLink"), Qt::LeftButton);
        } else {
            QTimer::singleShot(0, &owner, [&] { meanwhile = owner.cursor().shape(); });
            Globals::openHelpPage(&owner, page);
        }
        QTRY_COMPARE(outcome(), "[xdg-open][" + Version::webSite() + page + "]\n");
        QCOMPARE(meanwhile, Qt::WaitCursor);
        QCOMPARE(pausedSeconds, page.isEmpty() ? 3 : 0);
        QCOMPARE(owner.cursor().shape(), Qt::ArrowCursor);
    }
};

QTEST_MAIN(TestWebLauncher)
#include "tst_web_launcher.moc"
