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
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

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
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
