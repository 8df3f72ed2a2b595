// The main window with scripted echo and lookup components: typing and starting a scan, the
// window through a scan, closing with work outstanding, the table with its row menu while
// the scan goes on writing into it, and the history's mark of new addresses and its late
// rows after STOP. The comparison window is tried on real scans (tst_net_scan_cli).
#include "app/GeneralDate.h"
#include "fakes/FakeEcho.h"
#include "fakes/FakeLookup.h"
#include "history/ScanRecorder.h"
#include "output/CsvExport.h"
#include "output/ReportLayout.h"
#include "scan/ScanEngine.h"
#include "scan/components/ResultGrid.h"
#include "ui/Controls.h"
#include "ui/MainForm.h"
#include "ui/ResultTableView.h"
#include "widgets/MessageBox.h"

#include <QAction>
#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

// What the export writes (at a fixed time) and the report's first page shows.
static std::pair<QByteArray, QImage> exportAndReport(const ResultGrid &table)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    CsvExport::write(buffer, table, "10.0.0.1", "10.0.0.6",
                     QDateTime(QDate(2026, 1, 1), QTime(12, 0)), QLocale::c());
    ReportLayout report;
    report.begin("Scan", QString());
    report.addGrid(table);
    report.end();
    QImage page(600, 850, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter painter(&page);
    painter.scale(600.0 / report.pageSize().width(), 850.0 / report.pageSize().height());
    report.paintPage(painter, 1);
    painter.end();
    return {buffer.data(), page};
}

class TestMainForm : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    MainForm *form = nullptr;
    FakeEcho *echo = nullptr;
    FakeLookup *lookup = nullptr;
    QLineEdit *startBox = nullptr;
    QLineEdit *endBox = nullptr;
    QPushButton *scanButton = nullptr;
    ResultTableView *view = nullptr;
    const QByteArray savedPath = qgetenv("PATH");

    // A new main window, shown and active, in place of the old one.
    bool newForm()
    {
        delete form;
        form = new MainForm(std::make_unique<FakeEcho>(), std::make_unique<FakeLookup>());
        echo = static_cast<FakeEcho *>(&form->ICMP());
        lookup = static_cast<FakeLookup *>(&form->DNS());
        startBox = control<QLineEdit>(form, "Starting_IP");
        endBox = control<QLineEdit>(form, "Ending_IP");
        scanButton = control<QPushButton>(form, "Scan_Button");
        view = control<ResultTableView>(form, "TableView");
        form->show();
        form->activateWindow();
        return QTest::qWaitForWindowActive(form);
    }
    void startScan(const QString &from = "10.0.0.1", const QString &to = "10.0.0.5")
    {
        startBox->setText(from);
        endBox->setText(to);
        form->Scan_Button_Click();
    }
    // A scan of 10.0.0.1-3 whose three replies listed three rows.
    void listThreeRows()
    {
        startScan("10.0.0.1", "10.0.0.3");
        form->engine().PING_Timer_Timer();
        form->engine().PING_Timer_Timer();
        for (int i = 1; i <= 3; ++i)
            echo->reply(QStringLiteral("1:10.0.0.%1;1").arg(i), 0, std::int16_t(10 + i));
        QCOMPARE(form->Table().Rows(), 4);
    }
    // The addresses listed, in table order.
    QString listed() const
    {
        QStringList addresses;
        for (qsizetype row = 1; row < form->Table().Rows(); ++row)
            addresses << form->Table().cellText(row, 0);
        return addresses.join(u' ');
    }
    // Scans 10.0.0.1-6, one echo each; the addresses in `names` answer and are named so.
    void scan(const QHash<QString, QString> &names)
    {
        form->engine().Pings_per_Node = 1;
        form->engine().setInter_Ping_Delay(1);
        startScan("10.0.0.1", "10.0.0.6");
        while (form->engine().isRunning()) {
            QVERIFY(QTest::qWaitFor([&] {
                return !echo->sent.isEmpty() || !lookup->started.isEmpty() ||
                       !form->engine().isRunning();
            }));
            while (!echo->sent.isEmpty()) {
                const FakeEcho::Sent s = echo->sent.takeFirst();
                echo->reply(s.tag, names.contains(s.address) ? 0 : 11010);
            }
            while (!lookup->started.isEmpty())
                lookup->answer(0, names.value(lookup->started.first().address));
        }
    }
    // The new-address mark of table row `row` (from 1), in one role.
    QVariant mark(int row, int role) const
    {
        return form->Table().data(form->Table().index(row - 1, 0), role);
    }
    // Where on the screen the click was.
    QPoint rightClickCell(int dataRow, int col)
    {
        const QPoint centre = view->visualRect(form->Table().index(dataRow - 1, col)).center();
        QTest::mouseClick(view->viewport(), Qt::RightButton, {}, centre);
        return view->viewport()->mapToGlobal(centre);
    }

private Q_SLOTS:
    void initTestCase() { MessageBox::setTestMode(true); }
    void init() { QVERIFY(newForm()); }
    void cleanup()
    {
        delete std::exchange(form, nullptr);
        qputenv("PATH", savedPath);
        QVERIFY(MessageBox::takeShown().isEmpty());
    }

    void enterMovesFocusThenScans_data()
    {
        QTest::addColumn<int>("key"); // pressed on the focused button, running and idle
        QTest::newRow("return") << int(Qt::Key_Return);
        QTest::newRow("keypad enter") << int(Qt::Key_Enter);
    }
    void enterMovesFocusThenScans()
    {
        QFETCH(int, key);
        // Both boxes drop letters (the codes 65 to 122) as they are typed.
        startBox->setFocus();
        QTest::keyClicks(startBox, QStringLiteral("A10.0.0.1z"));
        QTest::keyClick(startBox, Qt::Key_Return);
        QTRY_VERIFY(endBox->hasFocus());
        QVERIFY(!form->engine().isRunning());
        QTest::keyClicks(endBox, QStringLiteral("z10.0.0.2A"));
        QTest::keyClick(endBox, Qt::Key_Return);
        QVERIFY(form->engine().isRunning());
        QCOMPARE(scanButton->text(), QStringLiteral("STOP"));
        QVERIFY(scanButton->font().bold() && !endBox->isEnabled());
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

    // What the boxes hold after the click, then the refusal if any: a block or dash range in
    // the starting box with an empty ending box is written out into both and scanned.
    void startFromTypedRange_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("end");
        QTest::addColumn<QString>("outcome");
        const auto row = [](const char *name, const char *start, const char *end,
                            const char *outcome) {
            QTest::newRow(name) << QString(start) << QString(end) << QString(outcome);
        };
        row("block, empty end", "10.0.0.9/30", "", "10.0.0.8|10.0.0.11|");
        row("dash, blank end", "10.0.0.1-10.0.0.4", " ", "10.0.0.1|10.0.0.4|");
        row("block with an end scans from its address", "10.0.0.5/24", "10.0.0.9",
            "10.0.0.5/24|10.0.0.9|");
        row("single address, empty end", "10.0.0.1", "",
            "10.0.0.1||The ending address is not a valid IP address !");
        row("reversed dash, empty end", "10.0.0.9-10.0.0.1", "",
            "10.0.0.9-10.0.0.1||The starting address is not a valid IP address !");
    }
    void startFromTypedRange()
    {
        QFETCH(QString, start);
        QFETCH(QString, end);
        QFETCH(QString, outcome);
        startScan(start, end);
        const QString refusal = MessageBox::takeShown().value(0).text;
        QCOMPARE(startBox->text() + u'|' + endBox->text() + u'|' + refusal, outcome);
        QCOMPARE(form->engine().isRunning(), refusal.isEmpty());
        QCOMPARE(echo->sent.value(0).address,
                 refusal.isEmpty() ? startBox->text().section(u'/', 0, 0) : QString());
    }

    // A refused start leaves the window as it was. The first scan grows it and enables the
    // entries that need a table, for good; resized, the layout keeps its rules; minimized,
    // the caption counts the nodes.
    void windowThroughScans()
    {
        const auto entries = [this] {
            QString enabled;
            for (const char *name : {"ExportSelection", "PrintSelection", "PrintPreviewSelection"})
                enabled += control<QAction>(form, name)->isEnabled() ? 'E' : '.';
            return enabled + (control<QAction>(form, "ClearSelection")->isVisible() ? 'C' : '.');
        };
        const QFrame *statusBar = control<QFrame>(form, "StatusBar");
        const int outer = form->frameGeometry().height();
        startScan("10.0.0.6", "10.0.0.5");
        const auto refusal = MessageBox::takeShown().value(0);
        QCOMPARE(refusal.title + u'|' + refusal.text,
                 "Vantrel|You starting address is greater than your ending address !");
        QCOMPARE(refusal.icon, MessageBox::Icon::Exclamation);
        QVERIFY(statusBar->isHidden());
        QCOMPARE(entries(), "....");
        startScan();
        QTRY_COMPARE(form->frameGeometry().height(), 3 * outer);
        QVERIFY(statusBar->isVisible() && view->height() > 0);
        // Column widths are kept in twips both ways, also across a clear, which resets the
        // model; a sweep's rows are painted once, at its end.
        ResultGrid &table = form->Table();
        QHeaderView *header = view->horizontalHeader();
        table.setColWidth(0, 2880);
        header->resizeSection(1, 137); // what a drag of the border does
        QCOMPARE(table.ColWidth(1), view->pixelsToTwips(137));
        form->Scan_Button_Click();
        table.setRows(1);
        QCOMPARE(header->sectionSize(0), view->twipsToPixels(2880));
        QCOMPARE(header->sectionSize(1), 137);
        table.setRedraw(false);
        QVERIFY(!view->updatesEnabled());
        table.setRedraw(true);
        QCOMPARE(entries(), "EEE.");
        startScan();
        QCOMPARE(form->frameGeometry().height(), 3 * outer);

        form->resize(900, 600);
        QTRY_COMPARE(form->width(), 900);
        const QWidget *client = form->centralWidget();
        const int margin = view->x();
        QCOMPARE(view->width(), client->width() - 2 * margin);
        // The button keeps a margin of two table margins to the right edge.
        QCOMPARE(scanButton->x() + scanButton->width(), client->width() - 2 * margin);
        // Column 2 takes the rest of the viewport, also once rows bring a vertical scroll bar.
        for (int i = 1; i <= 40; ++i) // replies to the second scan
            echo->reply(QStringLiteral("2:10.0.0.%1;1").arg(i), 0);
        form->resize(900, 250);
        QTRY_VERIFY(view->verticalScrollBar()->isVisible());
        QVERIFY(qAbs(header->length() - view->viewport()->width()) <= 2);
        QVERIFY(!view->horizontalScrollBar()->isVisible());
        QCOMPARE(statusBar->geometry().bottom(), client->height() - 1);

        form->showMinimized();
        QTRY_COMPARE(form->windowTitle(), QStringLiteral("Vantrel : 40"));
        form->showNormal();
        QTRY_COMPARE(form->windowTitle(), QStringLiteral("Vantrel"));
    }

    void closeWithWorkOutstandingWaits_data()
    {
        QTest::addColumn<int>("endsOnTick"); // of the exit timer
        QTest::newRow("controls finish") << 1;
        QTest::newRow("controls never finish") << 11;
    }
    void closeWithWorkOutstandingWaits()
    {
        QFETCH(int, endsOnTick);
        int programEnds = 0;
        form->setProgramEnd([&] { ++programEnds; });
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

    // The menu opens on a right press over a data row only, at the pointer, and makes the
    // clicked cell the current one. The scan writes into the grid while the menu is up; each
    // action still acts on the clicked cell's row, or on nothing once that row is gone.
    void actionsHitTheClickedRow_data()
    {
        QTest::addColumn<QString>("action"); // the menu entry's object name
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<int>("clickedRow");
        QTest::addColumn<QString>("outcome");
        const auto row = [](const char *name, const char *action, const char *meanwhile,
                            int clickedRow, const QString &outcome) {
            QTest::newRow(name) << QString(action) << QString(meanwhile) << clickedRow << outcome;
        };
        row("copy, a reply", "CopyPopup", "reply", 1, "11 ms");
        row("delete, a lookup answer", "DeletePopup", "answer", 1, "10.0.0.2 10.0.0.3 10.0.0.4");
        // Any column: the address comes from column 0; the scan's hourglass stays.
        row("ping, a lookup answer", "PingPopup", "answer", 1,
            "10.0.0.1|PING 10.0.0.1|10.0.0.1 responded in 7 milliseconds");
        // Where the companion program is missing, a box says where to get it.
        row("browse, not installed", "BrowsePopup", "reply", 1,
            "Zarnholt Lumtrace is not installed\nVisit "
            "https://www.zarnholt.example for a copy.");
        row("copy, row deleted", "CopyPopup", "gone", 1, "before");
        row("ping, row deleted", "PingPopup", "gone", 1, "");
        row("delete, a row above deleted", "DeletePopup", "gone", 2, "10.0.0.3");
    }
    void actionsHitTheClickedRow()
    {
        QFETCH(QString, action);
        QFETCH(QString, meanwhile);
        QFETCH(int, clickedRow);
        QFETCH(QString, outcome);
        listThreeRows();
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        form->engine().Resolve_DNS = true;
        echo->sent.clear();
        echo->roundTrip = 7;
        const QMenu *popup = control<QMenu>(form, "TablePopup");
        const QRect lastRow = view->visualRect(form->Table().index(2, 1));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, lastRow.center());
        QTest::mouseClick(view->viewport(), Qt::RightButton, {},
                          lastRow.bottomLeft() + QPoint(5, 20));
        QTest::mouseClick(view->horizontalHeader()->viewport(), Qt::RightButton, {}, QPoint(5, 5));
        QVERIFY(!popup->isVisible());
        const QPoint clicked = rightClickCell(clickedRow, 1);
        QVERIFY(popup->isVisible() && (popup->pos() - clicked).manhattanLength() <= 2);
        QCOMPARE(form->Table().Row(), clickedRow);
        QCOMPARE(form->Table().Col(), 1);
        if (meanwhile == u"gone") {
            form->Table().RemoveItem(1);
        } else {
            echo->reply(QStringLiteral("1:10.0.0.4;1"), 0, 14);
            if (meanwhile == u"answer")
                lookup->answer(0, QStringLiteral("four.example"));
        }
        qputenv("PATH",
                "/nonexistent"); // the companion program is never found here
        control<QAction>(form, qPrintable(action))->trigger();
        QString seen;
        if (action == u"CopyPopup") {
            seen = QGuiApplication::clipboard()->text();
        } else if (action == u"DeletePopup") {
            seen = listed();
        } else if (action == u"BrowsePopup") {
            seen = MessageBox::takeShown().value(0).text;
        } else { // the address sent, then each box's title and text
            for (const auto &sent : std::as_const(echo->sent)) {
                QVERIFY(sent.tag == u"Interactive" && !sent.async);
                seen += sent.address;
            }
            for (const auto &box : MessageBox::takeShown()) {
                seen += u'|' + box.title + u'|' + box.text;
                QCOMPARE(box.icon, MessageBox::Icon::Information);
            }
            QCOMPARE(form->cursor().shape(), Qt::WaitCursor);
        }
        QCOMPARE(seen, outcome);
    }

    void removalsKeepLaterRepliesInStep_data()
    {
        QTest::addColumn<bool>("clear");
        QTest::newRow("delete the first row") << false;
        QTest::newRow("clear the list") << true;
    }
    void removalsKeepLaterRepliesInStep()
    {
        QFETCH(bool, clear);
        listThreeRows();
        rightClickCell(1, 0);
        control<QAction>(form, clear ? "ClearSelection" : "DeletePopup")->trigger();
        QCOMPARE(form->Table().cellText(0, 0), QStringLiteral("IP Address"));
        QCOMPARE(listed(), clear ? "" : "10.0.0.2 10.0.0.3");
        // The count stays until a reply; a removed address comes back with its next reply,
        // one still listed stays single.
        QCOMPARE(control<QLabel>(form, "NodeCount")->text(), QStringLiteral("3"));
        echo->reply(QStringLiteral("1:10.0.0.1;2"), 0, 30);
        echo->reply(QStringLiteral("1:10.0.0.3;2"), 0, 31);
        QCOMPARE(listed(), clear ? "10.0.0.1 10.0.0.3" : "10.0.0.2 10.0.0.3 10.0.0.1");
    }

    // A second scan marks its new addresses in the window only: export and report are as
    // without a history.
    void secondScanMarksNewAddresses()
    {
        QAction *compareAction = control<QAction>(form, "CompareSelection");
        QVERIFY(form->openHistory(dir.filePath("marks.sqlite")));
        scan({{"10.0.0.1", "a"}, {"10.0.0.2", "b"}});
        QVERIFY(!compareAction->isEnabled());
        QVERIFY(mark(1, Qt::DecorationRole).isNull());
        const QDateTime firstStart = form->history()->currentScan().started;

        const QHash<QString, QString> second = {{"10.0.0.1", "a"}, {"10.0.0.3", "c"}};
        scan(second);
        QVERIFY(compareAction->isEnabled());
        QCOMPARE(form->Table().cellText(2, 0), QStringLiteral("10.0.0.3"));
        QVERIFY(!mark(2, Qt::DecorationRole).value<QIcon>().isNull());
        QCOMPARE(mark(2, Qt::ToolTipRole).toString(),
                 QStringLiteral("New since ") + generalDate(firstStart));
        QVERIFY(mark(1, Qt::DecorationRole).isNull() && mark(1, Qt::ToolTipRole).isNull());

        const auto withHistory = exportAndReport(form->Table());
        QVERIFY(newForm());
        scan(second);
        QVERIFY(mark(2, Qt::DecorationRole).isNull());
        QVERIFY(exportAndReport(form->Table()) == withHistory);
    }

    // Replies and names that come after STOP join the record of the stopped scan.
    void rowsAfterStopJoinTheRecord()
    {
        QVERIFY(form->openHistory(dir.filePath("late.sqlite")));
        form->engine().Pings_per_Node = 1;
        form->engine().setInter_Ping_Delay(20);
        startScan("10.0.0.1", "10.0.0.200");
        QTRY_VERIFY(echo->sent.size() >= 2);
        const QList<FakeEcho::Sent> sent = std::exchange(echo->sent, {});
        echo->reply(sent[0].tag, 0);
        form->Scan_Button_Click(); // STOP
        QVERIFY(!form->engine().isRunning());
        const qint64 id = form->history()->recordedId();

        echo->reply(sent[1].tag, 0);
        lookup->answer(1, QStringLiteral("late-two"));
        lookup->answer(0, QStringLiteral("late-one"));
        form->history()->setLateInterval(1);
        form->history()->scanEnded(false); // a second end changes nothing
        form->history()->flushLate();

        ScanHistory reader;
        QVERIFY(reader.open(dir.filePath("late.sqlite")).ok);
        const std::optional<ScanRecord> kept = reader.load(id);
        QVERIFY(kept && !kept->completed);
        QStringList rows;
        for (const HistoryRow &row : kept->rows)
            rows << row.address + u' ' + row.name;
        QCOMPARE(rows, QStringList({sent[0].address + QStringLiteral(" late-one"),
                                    sent[1].address + QStringLiteral(" late-two")}));
    }
};

QTEST_MAIN(TestMainForm)
#include "tst_main_form.moc"
