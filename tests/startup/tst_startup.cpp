#include "app/ScanSettings.h"
#include "app/SettingsStore.h"
#include "fakes/FakeEcho.h"
#include "fakes/FakeLookup.h"
#include "scan/ScanEngine.h"
#include "startup/Startup.h"
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
#include <algorithm>

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
            qobject_cast<SplashForm *>(label->window()) && label->objectName() == u"Status")
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
        return std::ranges::any_of(QApplication::topLevelWidgets(), [window](QWidget *w) {
            return qobject_cast<SplashForm *>(w) && w->windowHandle() == window;
        });
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
        storePath = SettingsStore::fileName("Vantrel");
        QVERIFY(QDir().mkpath(QFileInfo(storePath).path()));
        QFile store(storePath);
        QVERIFY(store.open(QIODevice::WriteOnly | QIODevice::Truncate));
        store.write("[ICMP]\nPINGS Per Node=4\nTimeout=1500\nTTL=64\nInter PING Delay=20\n"
                    "[DNS]\nActive=False\n[Scan]\nReverse=True\n");
    }
    void cleanupTestCase() { QFile::remove(storePath); }

    // The splash must be on the screen, status line and all, before the stored settings are
    // read, also when the window system exposes the new window late; a key closes it early.
    void startsWithStoredSettings_data()
    {
        QTest::addColumn<bool>("keyDuringLoading");
        QTest::addColumn<int>("exposeDelayMs");
        QTest::newRow("splash left alone") << false << 0;
        QTest::newRow("key pressed on the splash") << true << 0;
        QTest::newRow("slow display") << false << 150;
    }
    void startsWithStoredSettings()
    {
        QFETCH(bool, keyDuringLoading);
        QFETCH(int, exposeDelayMs);
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
        DelayedSplashExpose filter(exposeDelayMs);
        qApp->installEventFilter(&filter);
        QStringList paintedAtLoad;
        const auto form =
            Globals::Main(std::make_unique<FakeEcho>(), std::make_unique<FakeLookup>(), [&] {
                paintedAtLoad = filter.painted;
                return SettingsStore::loadScanSettings();
            });
        qApp->removeEventFilter(&filter);
        QVERIFY(keyDuringLoading || paintedAtLoad.contains("Loading Default Settings ..."));
        QCOMPARE(splashClosedEarly, keyDuringLoading);
        QVERIFY(form->isVisible());
        const ScanSettings s = form->settings();
        QCOMPARE((QList<int>{s.Pings_per_Node, s.Ping_Timeout, s.Ping_TTL, s.Inter_Ping_Delay,
                             s.Resolve_DNS, s.Reverse_Scan}),
                 (QList<int>{4, 1500, 64, 20, false, true}));
        QCOMPARE(form->PING_Timer().interval(), 20);
        QVERIFY(std::ranges::none_of(QApplication::topLevelWidgets(), [](QWidget *w) {
            return qobject_cast<SplashForm *>(w) && w->isVisible();
        }));
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
