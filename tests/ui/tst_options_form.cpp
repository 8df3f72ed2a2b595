// The options dialog: its labels at opening, its ways of closing while a scan runs, and
// OK when the settings cannot be stored.
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

    static QString storePath() { return SettingsStore::fileName("Vantrel"); }
    static QList<int> values(const ScanSettings &s)
    {
        return {s.Pings_per_Node, s.Ping_Timeout, s.Ping_TTL,   s.Inter_Ping_Delay,
                s.Resolve_DNS,    s.Reverse_Scan, s.listArpOnly};
    }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        MessageBox::setTestMode(true);
    }
    void cleanup() { QVERIFY(MessageBox::takeShown().isEmpty()); }

    // Opened from the menu while a scan runs, which the dialog's own loop must keep going.
    // It opens on the settings in force, here the sliders' minimums, which report no change:
    // the labels must still show. OK applies the settings to this run even where the store
    // cannot be written; a box then names the file and says why, so that their loss at the
    // next start is no surprise.
    void closing_data()
    {
        // Space presses OK or Cancel, other keys go to a slider; 0 is the close box.
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("slider"); // the interval slider, one below the interval
        QTest::addColumn<bool>("applied");
        QTest::addColumn<bool>("writable"); // the store's folder
        QTest::newRow("OK, shortest interval") << int(Qt::Key_Space) << 0 << true << true;
        QTest::newRow("Enter, longest interval, store not writable")
            << int(Qt::Key_Return) << 2000 << true << false;
        QTest::newRow("Cancel button") << int(Qt::Key_Space) << 99 << false << true;
        QTest::newRow("Esc") << int(Qt::Key_Escape) << 99 << false << true;
        QTest::newRow("close box") << 0 << 99 << false << true;
    }
    void closing()
    {
        QFETCH(int, key);
        QFETCH(int, slider);
        QFETCH(bool, applied);
        QFETCH(bool, writable);
        // A malformed line in the store is no reason to refuse a save.
        const QString folder = QFileInfo(storePath()).path();
        QFile store(storePath());
        QVERIFY(QDir().mkpath(folder) && store.open(QIODevice::WriteOnly) &&
                store.write("[ICMP\n"));
        store.close();
        QVERIFY(::chmod(qPrintable(folder), writable ? 0755 : 0555) == 0);
        const auto restore = qScopeGuard([&] { ::chmod(qPrintable(folder), 0755); });
        MainForm form(std::make_unique<FakeEcho>(), std::make_unique<FakeLookup>());
        const auto &sent = static_cast<FakeEcho &>(form.ICMP()).sent;
        const ScanSettings minimums{1, 100, 1, 1, false, true};
        form.applySettings(minimums);
        control<QLineEdit>(&form, "Starting_IP")->setText("10.0.0.0/16");
        form.Scan_Button_Click();
        const qsizetype sentAtOpen = sent.size();
        bool scanWentOn = false;
        QString labels;
        // Runs in the dialog's own loop, once the scan has sent on under it.
        QTimer::singleShot(0, this, [&] {
            scanWentOn = QTest::qWaitFor([&] { return sent.size() > sentAtOpen; });
            QWidget *dialog = QApplication::activeModalWidget();
            QVERIFY(qobject_cast<OptionsForm *>(dialog));
            for (const char *name : {"Timeout", "InterPING_Delay", "Pings", "TTL"})
                labels += control<QLabel>(dialog, name)->text() + u'|';
            labels += control<QRadioButton>(dialog, "Reverse_Scan")->isChecked() ? "R" : "F";
            labels += control<QCheckBox>(dialog, "DNS_Check")->isChecked() ? "N" : "-";
            labels += control<QCheckBox>(dialog, "ARP_Check")->isChecked() ? "A" : "-";
            QSlider *ttl = control<QSlider>(dialog, "TTL_Slider");
            ttl->setValue(200);
            control<QSlider>(dialog, "PINGs_Slider")->setValue(4);
            control<QSlider>(dialog, "Timeout_Slider")->setValue(3000);
            control<QSlider>(dialog, "InterPING_Delay_Slider")->setValue(slider);
            control<QCheckBox>(dialog, "DNS_Check")->setChecked(true);
            control<QCheckBox>(dialog, "ARP_Check")->setChecked(true);
            control<QRadioButton>(dialog, "Forward_Scan")->setChecked(true);
            QWidget *button = control<QPushButton>(dialog, applied ? "OK_Button" : "Cancel_Button");
            if (key)
                QTest::keyClick(key == Qt::Key_Space ? button : ttl, Qt::Key(key));
            else
                dialog->close();
        });
        control<QAction>(&form, "ScanOptionsSelection")->trigger();
        QVERIFY(scanWentOn);
        QCOMPARE(labels, "100 milliseconds|0 milliseconds|1 PINGs|1|R--");
        QVERIFY(!form.findChild<OptionsForm *>());
        const QList<int> expected =
            applied ? QList<int>{4, 3000, 200, slider + 1, 1, 0, 1} : values(minimums);
        QCOMPARE(values(form.settings()), expected);
        QCOMPARE(form.PING_Timer().interval(), expected[3]);
        QVERIFY(form.PING_Timer().isActive()); // the running scan goes on with them
        // All are written, unchanged ones too; nothing at all without OK.
        const bool saved = applied && writable;
        QCOMPARE(values(SettingsStore::loadScanSettings()), saved ? expected : values({}));
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), applied && !writable ? 1 : 0);
        if (!shown.isEmpty())
            QVERIFY2(shown[0].icon == MessageBox::Icon::Exclamation &&
                         shown[0].text.contains(QDir::toNativeSeparators(storePath())) &&
                         shown[0].text.contains("is not writable"),
                     qPrintable(shown[0].text));
    }
};

QTEST_MAIN(TestOptionsForm)
#include "tst_options_form.moc"
