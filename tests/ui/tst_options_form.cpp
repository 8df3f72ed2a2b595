#include "app/SettingsStore.h"
#include "fakes/FakeEcho.h"
#include "fakes/FakeLookup.h"
#include "ui/Controls.h"
#include "ui/MainForm.h"
#include "ui/OptionsForm.h"
#include "widgets/MessageBox.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStandardPaths>
#include <QTest>

#include <sys/stat.h>

class TestOptionsForm : public QObject
{
    Q_OBJECT

    MainForm *form = nullptr;
    static QString storePath() { return SettingsStore::fileName("Vantrel"); }

    static QList<int> values(const ScanSettings &s)
    {
        return {s.Pings_per_Node,   s.Ping_Timeout, s.Ping_TTL,
                s.Inter_Ping_Delay, s.Resolve_DNS,  s.Reverse_Scan};
    }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        MessageBox::setTestMode(true);
    }
    void init()
    {
        QFile::remove(storePath());
        form = new MainForm(std::make_unique<FakeEcho>(), std::make_unique<FakeLookup>());
    }
    void cleanup()
    {
        delete form;
        QVERIFY(MessageBox::takeShown().isEmpty());
    }

    void labelsAtOpening_data()
    {
        QTest::addColumn<ScanSettings>("homes");
        QTest::addColumn<QString>("labels"); // time-out | interval | pings | TTL
        QTest::newRow("longest interval, reverse, no names")
            << ScanSettings{5, 2000, 5, 2001, false, true}
            << "2000 milliseconds|2000 milliseconds|5 PINGs|5";
        // Sliders already at these values report no change: the labels must still show.
        QTest::newRow("slider minimums") << ScanSettings{1, 100, 1, 1, true, false}
                                         << "100 milliseconds|0 milliseconds|1 PINGs|1";
    }
    void labelsAtOpening()
    {
        QFETCH(ScanSettings, homes);
        OptionsForm dialog(homes, {});
        QStringList labels;
        for (const char *name : {"Timeout", "InterPING_Delay", "Pings", "TTL"})
            labels << control<QLabel>(&dialog, name)->text();
        QTEST(labels.join('|'), "labels");
        QCOMPARE(control<QRadioButton>(&dialog, "Reverse_Scan")->isChecked(), homes.Reverse_Scan);
        QCOMPARE(control<QRadioButton>(&dialog, "Forward_Scan")->isChecked(), !homes.Reverse_Scan);
        QCOMPARE(control<QCheckBox>(&dialog, "DNS_Check")->isChecked(), homes.Resolve_DNS);
        // The label follows the thumb while it is dragged, before the value changes.
        QSlider *ttl = control<QSlider>(&dialog, "TTL_Slider");
        ttl->setTracking(false);
        ttl->setSliderDown(true);
        ttl->setSliderPosition(100);
        QCOMPARE(control<QLabel>(&dialog, "TTL")->text(), "100");
    }

    // Opened from the menu while a scan runs, which the dialog's own loop must keep going.
    void closing_data()
    {
        // Space presses OK or Cancel, other keys go to a slider; 0 is the close box.
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("slider"); // the interval slider, one below the interval
        QTest::addColumn<bool>("applied");
        const auto row = [](const char *name, int key, int slider, bool applied) {
            QTest::newRow(name) << key << slider << applied;
        };
        row("OK, shortest interval", Qt::Key_Space, 0, true);
        row("Enter, longest interval", Qt::Key_Return, 2000, true);
        row("Cancel button", Qt::Key_Space, 99, false);
        row("Esc", Qt::Key_Escape, 99, false);
        row("close box", 0, 99, false);
    }
    void closing()
    {
        QFETCH(int, key);
        QFETCH(int, slider);
        QFETCH(bool, applied);
        control<QLineEdit>(form, "Starting_IP")->setText("10.0.0.1");
        control<QLineEdit>(form, "Ending_IP")->setText("10.0.0.200");
        form->Scan_Button_Click();
        const auto &sent = static_cast<FakeEcho &>(form->ICMP()).sent;
        const qsizetype sentAtOpen = sent.size();
        bool scanWentOn = false;
        // Runs in the dialog's own loop, once the scan has sent on under it.
        QTimer::singleShot(0, this, [&] {
            scanWentOn = QTest::qWaitFor([&] { return sent.size() > sentAtOpen; });
            QWidget *dialog = QApplication::activeModalWidget();
            QVERIFY(qobject_cast<OptionsForm *>(dialog));
            control<QSlider>(dialog, "PINGs_Slider")->setValue(4);
            control<QSlider>(dialog, "Timeout_Slider")->setValue(3000);
            control<QSlider>(dialog, "TTL_Slider")->setValue(200);
            control<QSlider>(dialog, "InterPING_Delay_Slider")->setValue(slider);
            control<QCheckBox>(dialog, "DNS_Check")->setChecked(false);
            control<QRadioButton>(dialog, "Reverse_Scan")->setChecked(true);
            QWidget *button = control<QPushButton>(dialog, applied ? "OK_Button" : "Cancel_Button");
            if (key)
                QTest::keyClick(key == Qt::Key_Space ? button
                                                     : control<QSlider>(dialog, "TTL_Slider"),
                                Qt::Key(key));
            else
                dialog->close();
        });
        control<QAction>(form, "ScanOptionsSelection")->trigger();
        QVERIFY(scanWentOn);
        QVERIFY(!form->findChild<OptionsForm *>());
        const QList<int> expected =
            applied ? QList<int>{4, 3000, 200, slider + 1, 0, 1} : values({});
        QCOMPARE(values(form->settings()), expected);
        QCOMPARE(form->PING_Timer().interval(), expected[3]);
        QVERIFY(form->PING_Timer().isActive()); // the running scan goes on with them
        // All six are written, unchanged ones too; nothing at all without OK.
        QCOMPARE(QFile::exists(storePath()), applied);
        QCOMPARE(values(SettingsStore::loadScanSettings()), expected);
    }

    // OK when the store cannot be written: the settings apply to this run all the same, and
    // a box names the file and says why, so their loss at the next start is no surprise.
    void storeNotWritable_data()
    {
        QTest::addColumn<QString>("store");  // a file, a folder or "-" (read-only folder)
        QTest::addColumn<int>("mode");       // of the file or folder
        QTest::addColumn<QString>("reason"); // "": saved, no message
        QTest::newRow("read-only file") << "file" << 0444 << "is not writable";
        QTest::newRow("read-only folder") << "-" << 0555 << "is not writable";
        QTest::newRow("a folder in its place") << "folder" << 0755 << "is not a regular file";
        QTest::newRow("malformed, yet written") << "[ICMP\n" << 0644 << "";
    }
    void storeNotWritable()
    {
        QFETCH(QString, store);
        QFETCH(int, mode);
        QFETCH(QString, reason);
        const QString folder = QFileInfo(storePath()).path();
        QVERIFY(QDir(folder).removeRecursively() && QDir().mkpath(folder));
        const auto restore = qScopeGuard([&] {
            QFile::setPermissions(folder, QFile::Permissions(0x7755));
            QFile::setPermissions(storePath(), QFile::Permissions(0x6644));
            QDir(folder).removeRecursively();
        });
        QFile file(storePath());
        if (store == "folder")
            QVERIFY(QDir().mkdir(storePath()));
        else if (store != "-")
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(store.toUtf8()));
        file.close();
        const QString target = store == "-" ? folder : storePath();
        QVERIFY(::chmod(qPrintable(target), mode_t(mode)) == 0);

        ScanSettings applied;
        OptionsForm dialog({}, [&](const ScanSettings &edited) { return applied = edited; });
        control<QSlider>(&dialog, "TTL_Slider")->setValue(200);
        QTest::mouseClick(control<QPushButton>(&dialog, "OK_Button"), Qt::LeftButton);
        QCOMPARE(applied.Ping_TTL, 200);
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), reason.isEmpty() ? 0 : 1);
        if (reason.isEmpty()) {
            QCOMPARE(SettingsStore::loadScanSettings().Ping_TTL, 200);
            return;
        }
        QCOMPARE(shown[0].icon, MessageBox::Icon::Exclamation);
        QVERIFY2(shown[0].text.contains(QDir::toNativeSeparators(storePath())) &&
                     shown[0].text.contains(reason),
                 qPrintable(shown[0].text));
    }
};

QTEST_MAIN(TestOptionsForm)
#include "tst_options_form.moc"
