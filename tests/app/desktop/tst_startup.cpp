#include "app/ScanSettings.h"
#include "app/desktop/Globals.h"
#include "fakes/FakeEcho.h"
#include "fakes/FakeLookup.h"
#include "scan/ScanEngine.h"
#include "ui/MainForm.h"
#include "ui/SplashForm.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QWindow>

// Holds back the splash window's first expose, as a slow window system would, and records
// the status texts the splash paints.
class DelayedSplashExpose : public QObject
{
public:
    explicit DelayedSplashExpose(int delayMs)
        : m_delayMs(delayMs)
    {}
    QStringList painted;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (auto *label = qobject_cast<QLabel *>(watched);
            label && event->type() == QEvent::Paint &&
            qobject_cast<SplashForm *>(label->window()) &&
            label == static_cast<SplashForm *>(label->window())->Status)
            painted << label->text();
        auto *window = qobject_cast<QWindow *>(watched);
        if (window && event->type() == QEvent::Expose && m_delayMs > 0 && !m_held &&
            isSplash(window)) {
            m_held = true;
            const QRect area(QPoint(), window->size());
            QTimer::singleShot(m_delayMs, window, [window, area] {
                QExposeEvent late{QRegion(area)};
                QCoreApplication::sendEvent(window, &late);
            });
            return true;
        }
        return false;
    }

private:
    static bool isSplash(const QWindow *window)
    {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (qobject_cast<SplashForm *>(w) && w->windowHandle() == window)
                return true;
        }
        return false;
    }

    int m_delayMs;
    bool m_held = false;
};

class TestStartup : public QObject
{
    Q_OBJECT

    QString storePath;

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        const QString dir =
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
            QStringLiteral("/Vantrel");
        QVERIFY(QDir().mkpath(dir));
        storePath = dir + QStringLiteral("/Vantrel.conf");
        QFile store(storePath);
        QVERIFY(store.open(QIODevice::WriteOnly | QIODevice::Truncate));
        store.write("[ICMP]\nPINGS Per Node=4\nTimeout=1500\nTTL=64\nInter PING Delay=20\n"
                    "[DNS]\nActive=False\n[Scan]\nReverse=True\n");
    }
    void cleanupTestCase() { QFile::remove(storePath); }

    void startsWithStoredSettings_data()
    {
        QTest::addColumn<bool>("keyDuringLoading");
        QTest::newRow("splash left alone") << false;
        QTest::newRow("key pressed on the splash") << true;
    }
    void startsWithStoredSettings()
    {
        QFETCH(bool, keyDuringLoading);
        bool splashClosedEarly = false;
        if (keyDuringLoading) {
            // Runs inside start-up's first event drain, while the splash window shows.
            QTimer::singleShot(0, this, [&] {
                for (QWidget *w : QApplication::topLevelWidgets()) {
                    if (auto *splash = qobject_cast<SplashForm *>(w);
                        splash && splash->isVisible()) {
                        QTest::keyClick(splash, Qt::Key_A);
                        splashClosedEarly = !splash->isVisible();
                    }
                }
            });
        }
        const auto form =
            Globals::Main(std::make_unique<FakeEcho>(), std::make_unique<FakeLookup>());
        QCOMPARE(splashClosedEarly, keyDuringLoading);
        QVERIFY(form->isVisible());
        const ScanSettings s = form->settings();
        QCOMPARE(s.Pings_per_Node, 4);
        QCOMPARE(s.Ping_Timeout, 1500);
        QCOMPARE(s.Ping_TTL, 64);
        QCOMPARE(s.Inter_Ping_Delay, 20);
        QCOMPARE(form->PING_Timer().interval(), 20);
        QVERIFY(!s.Resolve_DNS);
        QVERIFY(s.Reverse_Scan);
        for (QWidget *w : QApplication::topLevelWidgets())
            QVERIFY(!qobject_cast<SplashForm *>(w) || !w->isVisible());
    }

    // The splash must be on the screen, status line and all, before the settings are read,
    // also when the window system exposes the new window late.
    void splashPaintedBeforeSettingsLoad_data()
    {
        QTest::addColumn<int>("exposeDelayMs");
        QTest::newRow("prompt display") << 0;
        QTest::newRow("slow display") << 150;
    }
    void splashPaintedBeforeSettingsLoad()
    {
        QFETCH(int, exposeDelayMs);
        DelayedSplashExpose filter(exposeDelayMs);
        qApp->installEventFilter(&filter);
        QStringList paintedAtLoad;
        const auto form =
            Globals::Main(std::make_unique<FakeEcho>(), std::make_unique<FakeLookup>(), [&] {
                paintedAtLoad = filter.painted;
                return ScanSettings{};
            });
        qApp->removeEventFilter(&filter);
        QVERIFY(paintedAtLoad.contains(QStringLiteral("Loading Default Settings ...")));
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
