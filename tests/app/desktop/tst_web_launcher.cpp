#include "app/Version.h"
#include "app/desktop/Globals.h"
#include "ui/MessageBox.h"
#include "ui/SplashForm.h"

#include <QDir>
#include <QLabel>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// The launcher against stand-in helpers and browsers in a private folder that is the
// whole PATH, so nothing real is ever asked or started.
class TestWebLauncher : public QObject
{
    Q_OBJECT

    QHash<QByteArray, QByteArray> saved;
    std::unique_ptr<QTemporaryDir> root;

    QByteArray path(const char *name) const { return root->filePath(QLatin1String(name)).toUtf8(); }

    void writeFile(const char *name, const QByteArray &text, bool executable = true)
    {
        QFile file(QString::fromUtf8(path(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
        if (executable)
            file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    }

    // Logs each call as its argument count, then its arguments, one a line; `name` first
    // when given, so that calls of xdg-open tell from the browser's.
    void writeBrowser(const char *file, const QByteArray &name = {})
    {
        writeFile(file, "#!/bin/sh\nprintf '%s\\n' \"$(($# + " +
                            QByteArray(name.isEmpty() ? "0" : "1") + "))\" " + name +
                            " \"$@\" >> " + path("calls.log") + "\n");
    }

    // Takes the probe for a web page, after logging that it exists, and names entry as the
    // program for web pages.
    void writeXdgMime(const QByteArray &entry)
    {
        writeFile("bin/xdg-mime",
                  "#!/bin/sh\ncase \"$2\" in\nfiletype) [ -f \"$3\" ] && echo \"$3\" >> " +
                      path("probes.log") + " && echo 'text/html; charset=utf-8';;\n" +
                      "default) [ \"$3\" = text/html ] && echo '" + entry + "';;\nesac\n");
    }

    QList<QStringList> calls() const
    {
        QFile file(QString::fromUtf8(path("calls.log")));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
        QList<QStringList> result;
        while (lines.size() > 1) {
            const int count = lines.takeFirst().toInt();
            result.append(lines.mid(0, count));
            lines = lines.mid(count);
        }
        return result;
    }

    QStringList probesLeft() const
    {
        return QDir(QString::fromUtf8(path("tmp"))).entryList(QDir::Files);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        MessageBox::setTestMode(true);
        for (const char *name : {"PATH", "BROWSER", "TMPDIR", "XDG_DATA_DIRS", "XDG_DATA_HOME"})
            saved.insert(name, qgetenv(name));
    }

    void init()
    {
        root = std::make_unique<QTemporaryDir>();
        for (const char *folder : {"bin", "tmp", "share/applications", "home"})
            QVERIFY(QDir(root->path()).mkpath(QLatin1String(folder)));
        qputenv("PATH", path("bin"));
        qunsetenv("BROWSER");
        qputenv("TMPDIR", path("tmp"));
        qputenv("XDG_DATA_DIRS", path("share"));
        qputenv("XDG_DATA_HOME", path("home"));
    }

    void cleanup()
    {
        for (auto it = saved.cbegin(); it != saved.cend(); ++it) {
            if (it.value().isNull())
                qunsetenv(it.key().constData());
            else
                qputenv(it.key().constData(), it.value());
        }
        QVERIFY(MessageBox::takeShown().isEmpty());
        QCOMPARE(probesLeft(), QStringList());
    }

    void findsBrowser_data()
    {
        QTest::addColumn<QByteArray>("browserVariable");
        QTest::addColumn<QByteArray>("entry");     // what xdg-mime names; empty: no xdg-mime
        QTest::addColumn<QStringList>("expected"); // "" for the address
        QTest::newRow("BROWSER, first runnable of the list")
            << QByteArray("missing-browser:browser --new %s") << QByteArray()
            << QStringList{"--new", ""};
        QTest::newRow("desktop entry for the probe's type")
            << QByteArray() << QByteArray("stand-in.desktop") << QStringList{"--private", ""};
        QTest::newRow("entry elsewhere refused: xdg-open")
            << QByteArray() << QByteArray("../share/applications/stand-in.desktop")
            << QStringList{"xdg-open", ""};
    }
    void findsBrowser()
    {
        QFETCH(QByteArray, browserVariable);
        QFETCH(QByteArray, entry);
        QFETCH(QStringList, expected);
        writeBrowser("bin/browser");
        writeBrowser("bin/xdg-open", "xdg-open");
        writeFile("share/applications/stand-in.desktop",
                  "[Desktop Action other]\nExec=wrong\n\n[Desktop Entry]\nName=Stand-in\n"
                  "Exec=browser --private %U %i\n",
                  false);
        if (!browserVariable.isEmpty())
            qputenv("BROWSER", browserVariable);
        if (!entry.isEmpty())
            writeXdgMime(entry);

        const QString address = Version::webSite() + QStringLiteral("/FAQ.htm");
        Globals::Open_Web_Page(nullptr, address);
        expected.replaceInStrings(QRegularExpression(QStringLiteral("^$")), address);
        QTRY_COMPARE(calls(), QList<QStringList>{expected});
        if (!entry.isEmpty()) // the probe was there while the desktop was asked about it
            QVERIFY(QFile(QString::fromUtf8(path("probes.log"))).size() > 0);
    }

    void helpPages_data()
    {
        QTest::addColumn<QString>("page");
        for (const char *page :
             {"/Updates.htm", "/FAQ.htm", "/Feedback.htm", "/Bug-List.htm", "/Bug-Report.htm"})
            QTest::newRow(page) << QString::fromLatin1(page);
    }
    void helpPages()
    {
        QFETCH(QString, page);
        writeBrowser("bin/xdg-open");
        writeXdgMime("absent.desktop");
        QWidget owner;
        Qt::CursorShape meanwhile = Qt::ArrowCursor; // while the desktop is being asked
        QTimer::singleShot(0, &owner, [&] { meanwhile = owner.cursor().shape(); });
        Globals::openHelpPage(&owner, page);
        QTRY_COMPARE(calls(), QList<QStringList>{{Version::webSite() + page}});
        QCOMPARE(meanwhile, Qt::WaitCursor);
        QCOMPARE(owner.cursor().shape(), Qt::ArrowCursor);
    }

    void splashLink()
    {
        writeBrowser("bin/xdg-open");
        SplashForm splash;
        splash.show();
        QVERIFY(QTest::qWaitForWindowExposed(&splash));
        QString statusMeanwhile;
        Qt::CursorShape cursorMeanwhile = Qt::ArrowCursor;
        QTimer::singleShot(1000, &splash, [&] {
            statusMeanwhile = splash.Status->text();
            cursorMeanwhile = splash.cursor().shape();
        });
        QTest::mouseClick(splash.ZarnholtWebLink, Qt::LeftButton); // returns after the pause
        QCOMPARE(statusMeanwhile, QStringLiteral("Loading Web Browser ..."));
        QCOMPARE(cursorMeanwhile, Qt::WaitCursor);
        QCOMPARE(splash.Status->text(), QString());
        QCOMPARE(splash.cursor().shape(), Qt::ArrowCursor);
        QVERIFY(splash.isVisible());
        QTRY_COMPARE(calls(), QList<QStringList>{{Version::webSite()}});
    }

    void failures_data()
    {
        QTest::addColumn<QByteArray>("xdgOpen"); // empty: none on PATH
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("title");
        QTest::newRow("no browser")
            << QByteArray() << QStringLiteral("Could not find default Browser")
            << QStringLiteral("Browser Not Found");
        QTest::newRow("browser does not start")
            << QByteArray("#!/nonexistent/interpreter\n") << QStringLiteral("Web Page not Opened")
            << QStringLiteral("URL Failed");
    }
    void failures()
    {
        QFETCH(QByteArray, xdgOpen);
        QFETCH(QString, text);
        QFETCH(QString, title);
        if (!xdgOpen.isEmpty())
            writeFile("bin/xdg-open", xdgOpen);
        writeXdgMime("absent.desktop");
        Globals::Open_Web_Page(nullptr, Version::webSite());
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, text);
        QCOMPARE(shown[0].title, title);
        QCOMPARE(shown[0].icon, MessageBox::Icon::Exclamation);
        QCOMPARE(shown[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }

    void addressReachesBrowserVerbatim()
    {
        writeBrowser("bin/xdg-open");
        const QString touched = QString::fromUtf8(path("touched"));
        const QString address =
            QStringLiteral("https://a.example/x y;$(touch %1)`touch %1`&z='q\"|*>%1").arg(touched);
        Globals::Open_Web_Page(nullptr, address);
        QTRY_COMPARE(calls(), QList<QStringList>{{address}});
        QVERIFY(!QFile::exists(touched));
    }
};

QTEST_MAIN(TestWebLauncher)
#include "tst_web_launcher.moc"
