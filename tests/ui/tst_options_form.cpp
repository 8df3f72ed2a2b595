#include "app/ScanSettings.h"
#include "app/SettingsStore.h"
#include "app/Version.h"
#include "fakes/FakeEcho.h"
#include "fakes/FakeLookup.h"
#include "scan/ScanEngine.h"
#include "ui/MainForm.h"
#include "ui/MessageBox.h"
#include "ui/OptionsForm.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSlider>
#include <QStandardPaths>
#include <QTest>

class TestOptionsForm : public QObject
{
    Q_OBJECT

    MainForm *form = nullptr;
    FakeEcho *echo = nullptr;
    QString storePath;

    OptionsForm *openDialog()
    {
        auto *dialog = new OptionsForm(*form, form);
        dialog->open();
        return dialog;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        MessageBox::setTestMode(true);
        storePath = SettingsStore::fileName(Version::fileDescription());
    }
    void init()
    {
        QFile::remove(storePath);
        auto e = std::make_unique<FakeEcho>();
        echo = e.get();
        form = new MainForm(std::move(e), std::make_unique<FakeLookup>());
        form->setProgramEnd([] {});
        form->applySettings(ScanSettings{});
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form));
    }
    void cleanup() { delete form; }

    void labelsAtOpening_data()
    {
        QTest::addColumn<QList<int>>("homes"); // time-out, interval, pings, TTL
        QTest::addColumn<QStringList>("labels");
        QTest::newRow("defaults") << QList<int>{2000, 250, 2, 32}
                                  << QStringList{"2000 milliseconds", "249 milliseconds", "2 PINGs",
                                                 "32"};
        QTest::newRow("longest delay")
            << QList<int>{2000, 2001, 5, 5}
            << QStringList{"2000 milliseconds", "2000 milliseconds", "5 PINGs", "5"};
        // Sliders already at these values report no change: the labels must still show.
        QTest::newRow("slider minimums")
            << QList<int>{100, 1, 1, 1}
            << QStringList{"100 milliseconds", "0 milliseconds", "1 PINGs", "1"};
        QTest::newRow("out of range clamped")
            << QList<int>{50, 5000, 9, 300}
            << QStringList{"100 milliseconds", "2000 milliseconds", "5 PINGs", "255"};
    }
    void labelsAtOpening()
    {
        QFETCH(QList<int>, homes);
        QFETCH(QStringList, labels);
        ScanSettings s;
        s.Ping_Timeout = homes[0];
        s.Inter_Ping_Delay = homes[1];
        s.Pings_per_Node = std::int16_t(homes[2]);
        s.Ping_TTL = homes[3];
        form->applySettings(s);
        std::unique_ptr<OptionsForm> dialog(openDialog());
        QCOMPARE(dialog->windowTitle(), "Scan Options");
        QCOMPARE((QStringList{dialog->Timeout->text(), dialog->InterPING_Delay->text(),
                              dialog->Pings->text(), dialog->TTL->text()}),
                 labels);
        QVERIFY(dialog->Forward_Scan->isChecked());
        QVERIFY(!dialog->Reverse_Scan->isChecked());
        QVERIFY(dialog->DNS_Check->isChecked());
    }

    void delayOffset_data()
    {
        QTest::addColumn<int>("slider");
        QTest::newRow("shortest") << 0;
        QTest::newRow("longest") << 2000;
    }
    void delayOffset()
    {
        QFETCH(int, slider);
        std::unique_ptr<OptionsForm> dialog(openDialog());
        dialog->InterPING_Delay_Slider->setValue(slider);
        dialog->OK_Button->click();
        QCOMPARE(form->PING_Timer().interval(), slider + 1);
        QSettings store(storePath, QSettings::IniFormat);
        QCOMPARE(store.allKeys().size(), 6); // unchanged ones are written too
        QCOMPARE(store.value("ICMP/Inter PING Delay").toInt(), slider + 1);
        dialog.reset(openDialog());
        QCOMPARE(dialog->InterPING_Delay->text(), QString::number(slider) + " milliseconds");
    }

    void labelFollowsDraggedThumb()
    {
        std::unique_ptr<OptionsForm> dialog(openDialog());
        QSlider *slider = dialog->TTL_Slider;
        slider->setTracking(false); // the drag then reports only the thumb, not the value
        slider->setSliderDown(true);
        slider->setSliderPosition(100);
        QCOMPARE(slider->value(), 32);
        QCOMPARE(dialog->TTL->text(), "100");
    }

    void okAppliesToRunningScan()
    {
        form->Starting_IP->setText("10.0.0.1");
        form->Ending_IP->setText("10.0.0.200");
        form->Scan_Button_Click();
        // The dialog's own loop must keep the scan going.
        qsizetype sentWhileOpen = 0;
        bool wasModal = false;
        QTimer::singleShot(600, this, [&] {
            sentWhileOpen = echo->sent.size();
            auto *dialog = form->findChild<OptionsForm *>();
            wasModal = dialog->isModal();
            dialog->InterPING_Delay_Slider->setValue(9);
            dialog->Timeout_Slider->setValue(3000);
            dialog->PINGs_Slider->setValue(4);
            dialog->TTL_Slider->setValue(64);
            dialog->Reverse_Scan->setChecked(true);
            dialog->DNS_Check->setChecked(false);
            dialog->OK_Button->click();
        });
        QCOMPARE(OptionsForm::showFor(*form), int(QDialog::Accepted));
        QVERIFY(wasModal);
        QVERIFY(sentWhileOpen > 1);
        QCOMPARE(form->engine().Inter_Ping_Delay(), 10);
        QCOMPARE(form->PING_Timer().interval(), 10);
        QVERIFY(form->PING_Timer().isActive());
        QCOMPARE(echo->EchoTimeout(), 3000);
        QCOMPARE(echo->EchoTTL(), 64);
        QCOMPARE(form->engine().Pings_per_Node, 4);
        QVERIFY(form->engine().Reverse_Scan);
        QVERIFY(!form->engine().Resolve_DNS);
        const ScanSettings stored = SettingsStore::loadScanSettings();
        QCOMPARE(stored.Inter_Ping_Delay, 10);
        QCOMPARE(stored.Reverse_Scan, true);
        // Ten-millisecond ticks now: the rest of the range goes out quickly.
        QTRY_VERIFY_WITH_TIMEOUT(!form->engine().isRunning(), 5000);
    }

    void closing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("applied");
        QTest::newRow("OK button") << "ok" << true;
        QTest::newRow("Enter on a slider") << "enter slider" << true;
        QTest::newRow("Enter on an option button") << "enter option" << true;
        QTest::newRow("Cancel button") << "cancel" << false;
        QTest::newRow("Esc") << "escape" << false;
        QTest::newRow("close box") << "close" << false;
    }
    void closing()
    {
        QFETCH(QString, how);
        QFETCH(bool, applied);
        std::unique_ptr<OptionsForm> dialog(openDialog());
        QSignalSpy finished(dialog.get(), &QDialog::finished);
        dialog->Timeout_Slider->setValue(4000);
        dialog->InterPING_Delay_Slider->setValue(99);
        dialog->PINGs_Slider->setValue(5);
        dialog->TTL_Slider->setValue(200);
        dialog->Reverse_Scan->setChecked(true);
        if (how == "ok")
            dialog->OK_Button->click();
        else if (how == "enter slider")
            QTest::keyClick(dialog->TTL_Slider, Qt::Key_Return);
        else if (how == "enter option")
            QTest::keyClick(dialog->Reverse_Scan, Qt::Key_Enter);
        else if (how == "cancel")
            dialog->Cancel_Button->click();
        else if (how == "escape")
            QTest::keyClick(dialog->TTL_Slider, Qt::Key_Escape);
        else
            dialog->close();
        QCOMPARE(finished.size(), 1);
        QCOMPARE(dialog->result(), applied ? QDialog::Accepted : QDialog::Rejected);
        const ScanSettings now = form->settings();
        QCOMPARE(now.Ping_TTL, applied ? 200 : 32);
        QCOMPARE(now.Inter_Ping_Delay, applied ? 100 : 250);
        QCOMPARE(now.Reverse_Scan, applied);
        QCOMPARE(QFile::exists(storePath), applied);
    }
};

QTEST_MAIN(TestOptionsForm)
#include "tst_options_form.moc"
