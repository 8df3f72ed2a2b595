// The main window with scripted echo and lookup components: typing and starting a scan, the
// window through a scan, closing with work outstanding and coming back where it was, the
// table with its row menu while the scan goes on writing into it, by mouse and keyboard,
// sorted, with several rows selected and narrowed by the find box, its colours under light
// and dark palettes, the history's mark of new addresses and its late rows after STOP, and the
// comparison window while a scan runs. The comparison window is tried on real scans too
// (tst_net_scan_cli).
#include "app/GeneralDate.h"
#include "app/SettingsStore.h"
#include "fakes/FakeEcho.h"
#include "fakes/FakeLookup.h"
#include "history/ScanRecorder.h"
#include "output/CsvExport.h"
#include "output/print/PrintEngine.h"
#include "output/print/ReportLayout.h"
#include "scan/ScanEngine.h"
#include "scan/components/ResultGrid.h"
#include "ui/CompareForm.h"
#include "ui/Controls.h"
#include "ui/MainForm.h"
#include "ui/ResultTableView.h"
#include "ui/SplashForm.h"
#include "widgets/Contrast.h"
#include "widgets/MessageBox.h"
#include "widgets/SaveFileDialog.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

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

// How far the text inside `rect` stands out: its most distinct pixel against the most
// common one, the background.
static double textContrast(const QImage &image, const QRect &rect)
{
    QHash<QRgb, int> counts;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            ++counts[image.pixel(x, y)];
    const QRgb background =
        std::max_element(counts.keyValueBegin(), counts.keyValueEnd(), [](auto a, auto b) {
            return a.second < b.second;
        })->first;
    double best = 1;
    for (auto it = counts.keyBegin(); it != counts.keyEnd(); ++it)
        best = std::max(best, Contrast::ratio(QColor(*it), QColor(background)));
    return best;
}

// The addresses of a text (a file, a PDF's text), in the order they appear.
static QString addressesIn(const QString &text)
{
    QStringList found;
    for (const auto &match : QRegularExpression(R"(\b\d+\.0\.0\.\d+\b)").globalMatch(text))
        found << match.captured();
    return found.join(u' ');
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
    // A row as the engine writes it: the row first, then its cells with their colours.
    void addRow(const QString &address, const QString &time, const QString &name)
    {
        ResultGrid &table = form->Table();
        table.setRows(table.Rows() + 1);
        table.setRow(table.Rows() - 1);
        const QString texts[] = {address, time, name};
        for (int col = 0; col < 3; ++col) {
            table.setCol(col);
            const bool failed = col == 1 && !time.endsWith(u" ms");
            const bool resolving = col == 2 && name == u" resolving ...";
            using Kind = ResultGrid::Kind;
            table.setCellKind(failed      ? Kind::Failure
                              : resolving ? Kind::Resolving
                              : col == 1  ? Kind::Time
                              : col == 2  ? Kind::Name
                                          : Kind::Plain);
            table.setText(texts[col]);
        }
    }
    void clickHeader(int column)
    {
        QHeaderView *header = view->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(column) + 5, 5));
    }
    void pressKey(int key, Qt::KeyboardModifiers modifiers = {})
    {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), modifiers);
    }
    // The addresses listed, in table order, or (`asShown`) as the view sorts and filters them.
    QString listed(bool asShown = false) const
    {
        const QAbstractItemModel *shown = view->model();
        QStringList addresses;
        for (qsizetype row = 0; row < (asShown ? shown->rowCount() : form->Table().Rows() - 1);
             ++row)
            addresses << (asShown ? shown->index(int(row), 0).data().toString()
                                  : form->Table().cellText(row + 1, 0));
        return addresses.join(u' ');
    }
    // Scans 10.0.0.1-6, one echo each; the addresses in `names` answer and are named so.
    // `midway` runs once the first three have their outcome.
    void scan(const QHash<QString, QString> &names, const std::function<void()> &midway = {})
    {
        int replied = 0;
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
                while (!lookup->started.isEmpty())
                    lookup->answer(0, names.value(lookup->started.first().address));
                if (++replied == 3 && midway)
                    midway();
            }
        }
    }
    // The new-address mark of table row `row` (from 1), in one role.
    QVariant mark(int row, int role) const
    {
        return form->Table().data(form->Table().index(row - 1, 0), role);
    }
    // Where on the screen the click was.
    QPoint rightClickCell(int dataRow, int col, Qt::KeyboardModifiers modifiers = {})
    {
        const QPoint centre = view->cellRect(dataRow, col).center();
        QTest::mouseClick(view->viewport(), Qt::RightButton, modifiers, centre);
        return view->viewport()->mapToGlobal(centre);
    }

private Q_SLOTS:
    void initTestCase()
    {
        MessageBox::setTestMode(true);
        SaveFileDialog::setTestMode(true);
    }
    void init()
    {
        // Each test starts without a remembered window or folder.
        QFile::remove(SettingsStore::fileName(QStringLiteral("Vantrel")));
        QVERIFY(newForm());
    }
    void cleanup()
    {
        delete std::exchange(form, nullptr);
        qputenv("PATH", savedPath);
        QApplication::setPalette(QPalette());
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
        startScan(start, end);
        const QString refusal = MessageBox::takeShown().value(0).text;
        QTEST(startBox->text() + u'|' + endBox->text() + u'|' + refusal, "outcome");
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
    // action still acts on the clicked cell's row, or on nothing once that row is gone. With
    // a second row Ctrl+clicked, Copy and Delete take both rows, Ping only the clicked one.
    void actionsHitTheClickedRow_data()
    {
        QTest::addColumn<QString>("action"); // the menu entry's object name
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<int>("clickedRow");
        QTest::addColumn<int>("alsoSelected"); // a row Ctrl+clicked before; 0: none
        QTest::addColumn<QString>("outcome");
        const auto row = [](const char *name, const char *action, const char *meanwhile,
                            int clickedRow, int alsoSelected, const QString &outcome) {
            QTest::newRow(name) << QString(action) << QString(meanwhile) << clickedRow
                                << alsoSelected << outcome;
        };
        row("copy, a reply", "CopyPopup", "reply", 1, 0, "11 ms");
        row("delete, a lookup answer", "DeletePopup", "answer", 1, 0, "10.0.0.2 10.0.0.3 10.0.0.4");
        // Any column: the address comes from column 0; the scan's hourglass stays.
        row("ping, a lookup answer", "PingPopup", "answer", 1, 0,
            "10.0.0.1|PING 10.0.0.1|10.0.0.1 responded in 7 milliseconds");
        // Where the companion program is missing, a box says where to get it.
        row("browse, not installed", "BrowsePopup", "reply", 1, 0,
            "Zarnholt Lumtrace is not installed\nVisit "
            "https://www.zarnholt.example for a copy.");
        row("telnet, no terminal program", "TelnetPopup", "reply", 1, 0,
            "x-terminal-emulator is not installed\nTelnet needs a terminal program to run in.");
        row("copy, row deleted", "CopyPopup", "gone", 1, 0, "before");
        row("ping, row deleted", "PingPopup", "gone", 1, 0, "");
        row("delete, a row above deleted", "DeletePopup", "gone", 2, 0, "10.0.0.3");
        row("copy, two rows selected", "CopyPopup", "reply", 3, 1,
            "10.0.0.1\t11 ms\t resolving ...\t\t\n10.0.0.3\t13 ms\t resolving ...\t\t\n");
        row("delete, two rows selected", "DeletePopup", "reply", 3, 1, "10.0.0.2 10.0.0.4");
        row("ping, two rows selected", "PingPopup", "reply", 3, 1,
            "10.0.0.3|PING 10.0.0.3|10.0.0.3 responded in 7 milliseconds");
    }
    void actionsHitTheClickedRow()
    {
        QFETCH(QString, action);
        QFETCH(QString, meanwhile);
        QFETCH(int, clickedRow);
        QFETCH(int, alsoSelected);
        listThreeRows();
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        form->engine().Resolve_DNS = true;
        echo->sent.clear();
        echo->roundTrip = 7;
        const QMenu *popup = control<QMenu>(form, "TablePopup");
        const QRect lastRow = view->cellRect(3, 1);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, lastRow.center());
        QTest::mouseClick(view->viewport(), Qt::RightButton, {},
                          lastRow.bottomLeft() + QPoint(5, 20));
        QTest::mouseClick(view->horizontalHeader()->viewport(), Qt::RightButton, {}, QPoint(5, 5));
        QVERIFY(!popup->isVisible());
        if (alsoSelected) {
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                              view->cellRect(alsoSelected, 0).center());
            QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier,
                              view->cellRect(clickedRow, 0).center());
        }
        const QPoint clicked = rightClickCell(clickedRow, 1);
        QCOMPARE(view->selectedTableRows().size(), alsoSelected ? 2 : 1);
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
        } else if (action == u"BrowsePopup" || action == u"TelnetPopup") {
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
        QTEST(seen, "outcome");
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

    // The table is reached by Tab; the Menu key and Shift+F10 open the row menu at the
    // current row, whose entries then act on that row (each entry's own work is the mouse
    // menu's test); Delete deletes the selected rows and the copy key copies them as
    // tab-separated lines.
    void keyboardReachesTheRows_data()
    {
        QTest::addColumn<int>("extend"); // rows added by Shift+Down after Down; -1: no key
        QTest::addColumn<QKeyCombination>("key");
        QTest::addColumn<int>("entry"); // the menu entry's access key, if the key opens it
        QTest::addColumn<QString>("outcome");
        QTest::newRow("menu key, copy")
            << 0 << QKeyCombination(Qt::Key_Menu) << int(Qt::Key_C) << "10.0.0.2";
        QTest::newRow("shift+F10, delete") << 0 << QKeyCombination(Qt::ShiftModifier, Qt::Key_F10)
                                           << int(Qt::Key_D) << "10.0.0.1 10.0.0.3";
        QTest::newRow("delete key, the current row without a selection")
            << -1 << QKeyCombination(Qt::Key_Delete) << 0 << "10.0.0.2 10.0.0.3";
        QTest::newRow("delete key, two rows")
            << 1 << QKeyCombination(Qt::Key_Delete) << 0 << "10.0.0.1";
        QTest::newRow("copy key, two rows")
            << 1 << QKeyCombination(Qt::ControlModifier, Qt::Key_C) << 0
            << "10.0.0.2\t12 ms\t resolving ...\t\t\n10.0.0.3\t13 ms\t resolving ...\t\t\n";
    }
    void keyboardReachesTheRows()
    {
        QFETCH(int, extend);
        QFETCH(QKeyCombination, key);
        QFETCH(int, entry);
        listThreeRows();
        QTRY_VERIFY(scanButton->hasFocus());
        pressKey(Qt::Key_Tab);
        QVERIFY(view->hasFocus());
        if (extend >= 0)
            pressKey(Qt::Key_Down);
        for (int i = 0; i < extend; ++i)
            pressKey(Qt::Key_Down, Qt::ShiftModifier);
        pressKey(key.key(), key.keyboardModifiers());
        auto *popup = control<QMenu>(form, "TablePopup");
        QCOMPARE(popup->isVisible(), entry != 0);
        if (entry != 0) {
            const QPoint cell = view->viewport()->mapToGlobal(view->cellRect(2, 0).bottomLeft());
            QVERIFY((popup->pos() - cell).manhattanLength() <= 2);
            QTest::keyClick(popup, Qt::Key(entry));
        }
        QTEST(key.key() == Qt::Key_Delete || entry == Qt::Key_D
                  ? listed()
                  : QGuiApplication::clipboard()->text(),
              "outcome");
    }

    // Sorted by a header click, new rows take their sorted place, and the export and the
    // printed report follow the order shown; the next scan lists in arrival order again.
    void sortByColumn_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("clicks");
        QTest::addColumn<QString>("order");
        QTest::newRow("addresses by value")
            << 0 << 1 << "9.0.0.1 10.0.0.9 10.0.0.10 10.0.0.50 10.0.0.100";
        QTest::newRow("addresses, second click reverses")
            << 0 << 2 << "10.0.0.100 10.0.0.50 10.0.0.10 10.0.0.9 9.0.0.1";
        QTest::newRow("times, failures after them")
            << 1 << 1 << "10.0.0.100 10.0.0.50 10.0.0.10 9.0.0.1 10.0.0.9";
        QTest::newRow("times reversed, failures still after them")
            << 1 << 2 << "9.0.0.1 10.0.0.10 10.0.0.50 10.0.0.100 10.0.0.9";
        QTest::newRow("names ignoring case, then resolving, then none")
            << 2 << 1 << "10.0.0.100 10.0.0.10 10.0.0.50 10.0.0.9 9.0.0.1";
        QTest::newRow("third click, arrival order")
            << 0 << 3 << "10.0.0.10 10.0.0.9 10.0.0.100 9.0.0.1 10.0.0.50";
    }
    void sortByColumn()
    {
        QFETCH(int, column);
        QFETCH(int, clicks);
        QFETCH(QString, order);
        listThreeRows(); // the scan's own rows go; these stand in for any scan's
        form->Table().setRows(1);
        new QAbstractItemModelTester(view->model(),
                                     QAbstractItemModelTester::FailureReportingMode::QtTest, form);
        addRow("10.0.0.10", "12 ms", "beta");
        addRow("10.0.0.9", "Request timed out", " resolving ...");
        addRow("10.0.0.100", "3 ms", "Alpha");
        addRow("9.0.0.1", "100 ms", "");
        for (int i = 0; i < clicks; ++i)
            clickHeader(column);
        addRow("10.0.0.50", "5 ms", "gamma");
        QCOMPARE(listed(true), order);
        QCOMPARE(view->horizontalHeader()->sortIndicatorSection(), clicks < 3 ? column : -1);

        const QString csv = dir.filePath("sorted.csv");
        SaveFileDialog::setNextFileName(csv);
        form->ExportSelection_Click();
        QFile file(csv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(addressesIn(QString::fromUtf8(file.readAll()).section(u'\n', 4)), order);
        QCOMPARE(MessageBox::takeShown().size(), 1);
        const QString pdf = dir.filePath("sorted.pdf");
        PrintEngine::setNextPrinterSetup([&](QPrinter &printer) {
            printer.setOutputFileName(pdf);
            return true;
        });
        form->PrintSelection_Click();
        QProcess text;
        text.start("pdftotext", {pdf, "-"});
        QVERIFY(text.waitForFinished());
        // Below the title, which names the range.
        QCOMPARE(addressesIn(QString::fromUtf8(text.readAllStandardOutput()).section(u'\n', 1)),
                 order);

        form->Scan_Button_Click(); // STOP
        startScan("10.0.0.1", "10.0.0.3");
        QCOMPARE(view->horizontalHeader()->sortIndicatorSection(), -1);
        echo->reply(QStringLiteral("2:10.0.0.3;1"), 0);
        echo->reply(QStringLiteral("2:10.0.0.1;1"), 0);
        QCOMPARE(listed(true), "10.0.0.3 10.0.0.1");
    }

    // Ctrl+F opens the find box; rows without its text (case ignored) are hidden, while the
    // count goes on counting them; Esc clears and closes it.
    void findHidesOtherRows()
    {
        listThreeRows();
        lookup->answer(0, QStringLiteral("Printer.lab"));
        lookup->answer(0, QStringLiteral("desk.lab"));
        auto *findBox = control<QLineEdit>(form, "FindBox");
        QVERIFY(findBox->isHidden());
        pressKey(Qt::Key_F, Qt::ControlModifier);
        QVERIFY(findBox->isVisible() && findBox->hasFocus());
        QVERIFY(findBox->geometry().bottom() < view->y());
        QTest::keyClicks(findBox, QStringLiteral("PRINTER"));
        QTRY_COMPARE(listed(true), "10.0.0.1");
        QTest::keyClick(findBox, Qt::Key_Backspace);
        QTest::keyClicks(findBox, QStringLiteral("x"));
        QTRY_COMPARE(listed(true), "");
        echo->reply(QStringLiteral("1:10.0.0.4;1"), 0);
        QCOMPARE(control<QLabel>(form, "NodeCount")->text(), QStringLiteral("4"));
        QTest::keyClick(findBox, Qt::Key_Escape);
        QVERIFY(findBox->isHidden() && view->hasFocus());
        QCOMPARE(listed(true), "10.0.0.1 10.0.0.2 10.0.0.3 10.0.0.4");
    }

    // Every cell's text stands out from the table at 4.5:1 or more, under a light palette and
    // under a dark one; so does the About box's button.
    void readableInEveryPalette_data()
    {
        QTest::addColumn<QPalette>("palette");
        QTest::newRow("light") << QApplication::style()->standardPalette();
        QPalette dark;
        const std::pair<QPalette::ColorRole, QColor> colours[] = {
            {QPalette::Window, QColor(49, 54, 59)},
            {QPalette::WindowText, QColor(252, 252, 252)},
            {QPalette::Base, QColor(35, 38, 41)},
            {QPalette::AlternateBase, QColor(38, 41, 44)},
            {QPalette::Text, QColor(252, 252, 252)},
            {QPalette::Button, QColor(49, 54, 59)},
            {QPalette::ButtonText, QColor(252, 252, 252)},
            {QPalette::Highlight, QColor(61, 174, 233)},
            {QPalette::HighlightedText, QColor(252, 252, 252)}};
        for (const auto &[role, colour] : colours)
            dark.setColor(role, colour);
        QTest::newRow("dark") << dark;
    }
    void readableInEveryPalette()
    {
        QFETCH(QPalette, palette);
        QApplication::setPalette(palette);
        listThreeRows();
        form->Table().setRows(1);
        addRow("10.0.0.1", "12 ms", "name.example");
        addRow("10.0.0.2", "Request timed out", " resolving ...");
        view->clearSelection();
        view->setCurrentIndex({});
        const QImage image = view->viewport()->grab().toImage();
        for (int row = 1; row <= 2; ++row) {
            for (int col = 0; col < 3; ++col) {
                const double contrast =
                    textContrast(image, view->cellRect(row, col).adjusted(2, 2, -2, -2));
                QVERIFY2(contrast >= 4.5, qPrintable(QStringLiteral("%1 at %2")
                                                         .arg(form->Table().cellText(row, col))
                                                         .arg(contrast)));
            }
        }
        const QPointer<SplashForm> about = SplashForm::showAbout(form);
        QVERIFY(about);
        auto *ok = control<QPushButton>(about, "OK_Button");
        const QSize text = ok->fontMetrics().size(0, ok->text());
        const QRect caption(QPoint(0, 0), text);
        QVERIFY2(textContrast(ok->grab().toImage(),
                              caption.translated(ok->rect().center() - caption.center())) >= 4.5,
                 "the About box's OK");
        about->close();
    }

    // Closed, the window comes back at its place and width, and grows on the first scan to
    // the height it had; a place off every screen is brought back onto one.
    void windowComesBackWhereLeft_data()
    {
        QTest::addColumn<QPoint>("place");
        QTest::newRow("on the screen") << QPoint(40, 30);
        QTest::newRow("off every screen") << QPoint(5000, 4000);
    }
    void windowComesBackWhereLeft()
    {
        QFETCH(QPoint, place);
        startScan();
        form->Scan_Button_Click();
        echo->pending = 0; // idle: the close goes ahead at once
        form->resize(520, 300);
        form->move(place);
        QTRY_COMPARE(form->pos(), place);
        QVERIFY(form->close());
        QVERIFY(newForm());
        const QRect screen = form->screen()->availableGeometry();
        QVERIFY(screen.contains(form->frameGeometry()));
        if (screen.contains(QRect(place, QSize(520, 300))))
            QCOMPARE(form->pos(), place);
        QCOMPARE(form->width(), 520);
        QVERIFY(form->height() < 300);
        startScan();
        QTRY_COMPARE(form->height(), 300);
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
        // Drawn for scaled screens too.
        QCOMPARE(mark(2, Qt::DecorationRole).value<QIcon>().pixmap(QSize(16, 16), 2).size(),
                 QSize(32, 32));
        QCOMPARE(mark(2, Qt::ToolTipRole).toString(),
                 QStringLiteral("New since ") + generalDate(firstStart));
        QVERIFY(mark(1, Qt::DecorationRole).isNull() && mark(1, Qt::ToolTipRole).isNull());

        const auto withHistory = exportAndReport(form->Table());
        QVERIFY(newForm());
        scan(second);
        QVERIFY(mark(2, Qt::DecorationRole).isNull());
        QVERIFY(exportAndReport(form->Table()) == withHistory);
    }

    // The comparison names its mode and words the kinds for it. Opened while the scan runs,
    // it compares the addresses that have their outcome and says so; it is brought up to date
    // when the scan ends, and its export says the same.
    void comparisonWindow_data()
    {
        QTest::addColumn<bool>("inverted");
        QTest::addColumn<QStringList>("midway"); // the mode, the part compared, the counts
        QTest::addColumn<QString>("atEnd");
        QTest::addColumn<QString>("exported");
        const QString part =
            u"This scan is still running: so far 3 of 6 addresses compared, up to 10.0.0.3."_s;
        QTest::newRow("normal") << false
                                << QStringList{u"Mode: normal scan (the hosts that answered)"_s,
                                               part, u"New: 1    Gone: 1    Renamed: 1"_s}
                                << u"New: 2    Gone: 2    Renamed: 1"_s << u"new,10.0.0.3,,c"_s;
        QTest::newRow("inverted")
            << true
            << QStringList{u"Mode: inverted scan (the addresses that did not answer)"_s, part,
                           u"Silent: 1    Answering: 1    Renamed: 0"_s}
            << u"Silent: 2    Answering: 2    Renamed: 0"_s << u"silent,10.0.0.2,,"_s;
    }
    void comparisonWindow()
    {
        QFETCH(bool, inverted);
        QFETCH(QStringList, midway);
        QFETCH(QString, exported);
        QVERIFY(form->openHistory(dir.filePath(QTest::currentDataTag() + u".sqlite"_s)));
        form->engine().Reverse_Scan = inverted;
        scan({{"10.0.0.1", "a"}, {"10.0.0.2", "b"}, {"10.0.0.5", "e"}});
        QStringList shown;
        scan({{"10.0.0.1", "a2"}, {"10.0.0.3", "c"}, {"10.0.0.6", "f"}}, [&] {
            control<QAction>(form, "CompareSelection")->trigger();
            shown = form->compareForm()->Header->text().split(u'\n').mid(2);
            shown << form->compareForm()->Counts->text();
        });
        QCOMPARE(shown, midway);
        QVERIFY(!form->compareForm()->Header->text().contains(u"running"_s));
        QTEST(form->compareForm()->Counts->text(), "atEnd");
        const QString file = dir.filePath(QTest::currentDataTag() + u".csv"_s);
        SaveFileDialog::setNextFileName(file);
        form->compareForm()->Export_Button_Click();
        QVERIFY(!MessageBox::takeShown().isEmpty());
        QFile csv(file);
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(csv.readAll());
        QVERIFY2(text.contains(u"\r\n# "_s + midway[0] + u"\r\n"_s) &&
                     text.contains(u"\r\n"_s + exported + u"\r\n"_s),
                 qPrintable(text));
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
