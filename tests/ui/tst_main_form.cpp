#include "fakes/FakeEcho.h"
#include "fakes/FakeLookup.h"
#include "scan/ScanEngine.h"
#include "scan/components/ResultGrid.h"
#include "ui/Controls.h"
#include "ui/MainForm.h"
#include "ui/ResultTableView.h"
#include "widgets/MessageBox.h"

#include <QAction>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

class TestMainForm : public QObject
{
    Q_OBJECT

    MainForm *form = nullptr;
    FakeEcho *echo = nullptr;
    int programEnds = 0;
    QLineEdit *startBox = nullptr;
    QLineEdit *endBox = nullptr;
    QPushButton *scanButton = nullptr;
    ResultTableView *view = nullptr;
    QFrame *statusBar = nullptr;

    void startScan()
    {
        startBox->setText(QStringLiteral("10.0.0.1"));
        endBox->setText(QStringLiteral("10.0.0.5"));
        form->Scan_Button_Click();
    }

private Q_SLOTS:
    void initTestCase() { MessageBox::setTestMode(true); }

    void init()
    {
        auto e = std::make_unique<FakeEcho>();
        echo = e.get();
        form = new MainForm(std::move(e), std::make_unique<FakeLookup>());
        startBox = control<QLineEdit>(form, "Starting_IP");
        endBox = control<QLineEdit>(form, "Ending_IP");
        scanButton = control<QPushButton>(form, "Scan_Button");
        view = control<ResultTableView>(form, "TableView");
        statusBar = control<QFrame>(form, "StatusBar");
        programEnds = 0;
        form->setProgramEnd([this] { ++programEnds; });
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form));
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form));
    }
    void cleanup()
    {
        delete form;
        QVERIFY(MessageBox::takeShown().isEmpty());
    }

    void keyFilter_data()
    {
        QTest::addColumn<bool>("inFirst");
        QTest::addColumn<char>("typed");
        QTest::addColumn<bool>("kept");
        // Both boxes share the filter; the start box gets every row, the end box a few.
        QTest::newRow("slash") << true << '/' << true;
        QTest::newRow("at sign (64)") << true << '@' << true;
        QTest::newRow("A (65)") << true << 'A' << false;
        QTest::newRow("grave (96)") << true << '`' << false;
        QTest::newRow("brace (123)") << true << '{' << true;
        QTest::newRow("end box: z (122)") << false << 'z' << false;
    }
    void keyFilter()
    {
        QFETCH(bool, inFirst);
        QFETCH(char, typed);
        QLineEdit *box = inFirst ? startBox : endBox;
        box->setFocus();
        QTest::keyClick(box, typed);
        QTEST(!box->text().isEmpty(), "kept");
    }

    void enterMovesFocusThenScans_data()
    {
        QTest::addColumn<int>("key"); // pressed on the focused button, running and idle
        QTest::newRow("space") << int(Qt::Key_Space);
        QTest::newRow("return") << int(Qt::Key_Return);
        QTest::newRow("keypad enter") << int(Qt::Key_Enter);
    }
    void enterMovesFocusThenScans()
    {
        QFETCH(int, key);
        startBox->setFocus();
        QTest::keyClicks(startBox, QStringLiteral("10.0.0.1"));
        QTest::keyClick(startBox, Qt::Key_Return);
        QTRY_VERIFY(endBox->hasFocus());
        QVERIFY(!form->engine().isRunning());
        QTest::keyClicks(endBox, QStringLiteral("10.0.0.2"));
        QTest::keyClick(endBox, Qt::Key_Return);
        QVERIFY(form->engine().isRunning());
        QCOMPARE(scanButton->text(), QStringLiteral("STOP"));
        QVERIFY(scanButton->font().bold());
        QVERIFY(!endBox->isEnabled());
        QTRY_VERIFY(scanButton->hasFocus());
        QTest::keyClick(scanButton, Qt::Key(key)); // the focused button stops it
        QVERIFY(!form->engine().isRunning());
        QCOMPARE(scanButton->text(), QStringLiteral("Scan"));
        QTRY_VERIFY(startBox->hasFocus());
        QCOMPARE(startBox->selectedText(), QStringLiteral("10.0.0.1"));
        scanButton->setFocus();
        QTest::keyClick(scanButton, Qt::Key(key)); // and starts the next one
        QVERIFY(form->engine().isRunning());
    }

    // What the boxes hold at the click; a block or dash range in the starting box with an
    // empty ending box is written out into both boxes and scanned.
    void startFromTypedRange_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("end");
        QTest::addColumn<QString>("refusal"); // empty: the scan starts
        QTest::addColumn<QString>("scanStart");
        QTest::addColumn<QString>("scanEnd");
        const QString badStart = QStringLiteral("The starting address is not a valid IP address !");
        const QString badEnd = QStringLiteral("The ending address is not a valid IP address !");
        const auto row = [](const char *name, const char *start, const char *end,
                            const QString &refusal, const char *scanStart, const char *scanEnd) {
            QTest::newRow(name) << QString(start) << QString(end) << refusal << QString(scanStart)
                                << QString(scanEnd);
        };
        row("reversed", "10.0.0.6", "10.0.0.5",
            "You starting address is greater than your ending address !", "10.0.0.6", "10.0.0.5");
        row("block, empty end", "10.0.0.9/30", "", {}, "10.0.0.8", "10.0.0.11");
        row("dash, blank end", "10.0.0.1-10.0.0.4", " ", {}, "10.0.0.1", "10.0.0.4");
        row("block with an end scans from its address", "10.0.0.5/24", "10.0.0.9", {},
            "10.0.0.5/24", "10.0.0.9");
        row("single address, empty end", "10.0.0.1", "", badEnd, "10.0.0.1", "");
        row("reversed dash, empty end", "10.0.0.9-10.0.0.1", "", badStart, "10.0.0.9-10.0.0.1", "");
        row("bad prefix, empty end", "10.0.0.0/33", "", badEnd, "10.0.0.0/33", "");
    }
    void startFromTypedRange()
    {
        QFETCH(QString, start);
        QFETCH(QString, end);
        QFETCH(QString, refusal);
        QFETCH(QString, scanStart);
        QFETCH(QString, scanEnd);
        startBox->setText(start);
        endBox->setText(end);
        form->Scan_Button_Click();
        QCOMPARE(startBox->text(), scanStart);
        QCOMPARE(endBox->text(), refusal.isEmpty() ? scanEnd : end);
        const auto shown = MessageBox::takeShown();
        QCOMPARE(form->engine().isRunning(), refusal.isEmpty());
        if (refusal.isEmpty()) {
            QVERIFY(shown.isEmpty());
            QCOMPARE(echo->sent.value(0).address, scanStart.section(u'/', 0, 0));
            return;
        }
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].title + u'|' + shown[0].text, "Vantrel|" + refusal);
        QCOMPARE(shown[0].icon, MessageBox::Icon::Exclamation);
        QVERIFY(statusBar->isHidden());
        QVERIFY(!control<QAction>(form, "ExportSelection")->isEnabled());
    }

    // The first scan grows the window and enables the entries that need a table, for good.
    void firstScanGrowsWindowOnce()
    {
        const auto entries = [this] {
            QString enabled;
            for (const char *name : {"ExportSelection", "PrintSelection", "PrintPreviewSelection"})
                enabled += control<QAction>(form, name)->isEnabled() ? 'E' : '.';
            return enabled + (control<QAction>(form, "ClearSelection")->isVisible() ? 'C' : '.');
        };
        QVERIFY(statusBar->isHidden());
        QCOMPARE(entries(), "....");
        const int outer = form->frameGeometry().height();
        startScan();
        QTRY_COMPARE(form->frameGeometry().height(), 3 * outer);
        QVERIFY(statusBar->isVisible());
        QVERIFY(view->height() > 0);
        form->Scan_Button_Click();
        form->Table().setRows(1);
        QCOMPARE(entries(), "EEE.");
        startScan();
        QCOMPARE(form->frameGeometry().height(), 3 * outer);
    }

    void resizeKeepsLayoutRules()
    {
        startScan();
        form->resize(900, 600);
        QTRY_COMPARE(form->width(), 900);
        const QWidget *client = form->centralWidget();
        const int margin = view->x();
        QCOMPARE(view->width(), client->width() - 2 * margin);
        // The button keeps a margin of two table margins to the right edge.
        QCOMPARE(scanButton->x() + scanButton->width(), client->width() - 2 * margin);
        // Column 2 takes the rest of the viewport, also once rows bring a vertical scroll bar.
        for (int i = 1; i <= 40; ++i)
            echo->reply(QStringLiteral("1:10.0.0.%1;1").arg(i), 0);
        form->resize(900, 250);
        QTRY_VERIFY(view->verticalScrollBar()->isVisible());
        const QHeaderView *columns = view->horizontalHeader();
        QVERIFY(qAbs(columns->length() - view->viewport()->width()) <= 2);
        QVERIFY(!view->horizontalScrollBar()->isVisible());
        QCOMPARE(statusBar->geometry().bottom(), client->height() - 1);
    }

    void minimizedCaptions()
    {
        form->showMinimized();
        QTRY_COMPARE(form->windowTitle(), QStringLiteral("Vantrel"));
        form->showNormal();
        startScan();
        echo->reply(QStringLiteral("1:10.0.0.1;1"), 0);
        form->showMinimized();
        QTRY_COMPARE(form->windowTitle(), QStringLiteral("Vantrel : 1"));
        form->showNormal();
        QTRY_COMPARE(form->windowTitle(), QStringLiteral("Vantrel"));
    }

    void closeWithWorkOutstandingWaits_data()
    {
        QTest::addColumn<int>("endsOnTick"); // of the exit timer; 0: at once
        QTest::newRow("idle") << 0;
        QTest::newRow("controls finish") << 1;
        QTest::newRow("controls never finish") << 11;
    }
    void closeWithWorkOutstandingWaits()
    {
        QFETCH(int, endsOnTick);
        if (endsOnTick == 0) {
            QVERIFY(form->close() && !form->isVisible() && !form->Exit_Timer().isActive());
            return;
        }
        startScan();
        QVERIFY(!form->close() && !form->isVisible() && !form->PING_Timer().isActive());
        QCOMPARE(echo->cancels, 1);
        QVERIFY(form->Exit_Timer().isActive());
        // Counted after the window's own handler: the tick on which the program ends.
        int ticks = 0;
        connect(&form->Exit_Timer(), &QTimer::timeout, this, [&] { ++ticks; });
        form->Exit_Timer().setInterval(5);
        if (endsOnTick == 1)
            echo->pending = 0;
        QTRY_COMPARE(programEnds, 1);
        // Finished controls end it on the next tick; others get ten ticks, no more.
        QCOMPARE(ticks, endsOnTick);
        QVERIFY(!form->Exit_Timer().isActive());
    }
};

QTEST_MAIN(TestMainForm)
#include "tst_main_form.moc"
