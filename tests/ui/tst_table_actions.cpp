#include "fakes/FakeEcho.h"
#include "fakes/FakeLookup.h"
#include "scan/ScanEngine.h"
#include "scan/components/ResultGrid.h"
#include "ui/Controls.h"
#include "ui/MainForm.h"
#include "ui/ResultTableView.h"
#include "widgets/MessageBox.h"

#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>

class TestTableActions : public QObject
{
    Q_OBJECT

    MainForm *form = nullptr;
    FakeEcho *echo = nullptr;
    ResultTableView *view = nullptr;
    QMenu *popup = nullptr;
    QByteArray savedPath;

    // A scan of 10.0.0.1-3 whose three replies listed three rows.
    void listThreeRows()
    {
        control<QLineEdit>(form, "Starting_IP")->setText(QStringLiteral("10.0.0.1"));
        control<QLineEdit>(form, "Ending_IP")->setText(QStringLiteral("10.0.0.3"));
        form->Scan_Button_Click();
        form->engine().PING_Timer_Timer();
        form->engine().PING_Timer_Timer();
        for (int i = 1; i <= 3; ++i)
            echo->reply(QStringLiteral("1:10.0.0.%1;1").arg(i), 0, std::int16_t(10 + i));
    }
    QPoint cellCentre(int dataRow, int col) const
    {
        return view->visualRect(form->Table().index(dataRow - 1, col)).center();
    }
    void rightClickCell(int dataRow, int col)
    {
        QTest::mouseClick(view->viewport(), Qt::RightButton, {}, cellCentre(dataRow, col));
    }
    // A stand-in program on PATH that writes its arguments, one a line, to FILE.
    static void writeRecorder(const QString &dir, const QString &name)
    {
        QFile script(dir + u'/' + name);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.args\"\n");
        script.close();
        script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
    }
    static QStringList recorded(const QString &program)
    {
        QFile args(program + QStringLiteral(".args"));
        if (!QTest::qWaitFor([&] { return args.exists() && args.size() > 0; }, 5000))
            return {};
        args.open(QIODevice::ReadOnly);
        return QString::fromUtf8(args.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }

private Q_SLOTS:
    void initTestCase()
    {
        MessageBox::setTestMode(true);
        savedPath = qgetenv("PATH");
    }
    void init()
    {
        auto e = std::make_unique<FakeEcho>();
        echo = e.get();
        form = new MainForm(std::move(e), std::make_unique<FakeLookup>());
        form->engine().Resolve_DNS = false;
        view = control<ResultTableView>(form, "TableView");
        popup = control<QMenu>(form, "TablePopup");
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form));
        listThreeRows();
        QCOMPARE(form->Table().Rows(), 4);
    }
    void cleanup()
    {
        popup->hide();
        delete form;
        qputenv("PATH", savedPath);
        QVERIFY(MessageBox::takeShown().isEmpty());
    }

    void popupOnlyOnRightClickOverDataRow_data()
    {
        QTest::addColumn<QString>("where");
        QTest::newRow("right click on a data row") << "row";
        QTest::newRow("left click on a data row") << "left";
        QTest::newRow("right click below the last row") << "below";
        QTest::newRow("right click on the header") << "header";
    }
    void popupOnlyOnRightClickOverDataRow()
    {
        QFETCH(QString, where);
        const bool opens = where == u"row";
        form->Table().setRow(3);
        form->Table().setCol(2);
        if (where == u"row")
            rightClickCell(2, 1);
        else if (where == u"left")
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cellCentre(2, 1));
        else if (where == u"below")
            QTest::mouseClick(view->viewport(), Qt::RightButton, {},
                              QPoint(5, view->viewport()->height() - 3));
        else
            QTest::mouseClick(view->horizontalHeader()->viewport(), Qt::RightButton, {},
                              QPoint(5, 5));
        QCOMPARE(popup->isVisible(), opens);
        QCOMPARE(form->Table().Row(), opens ? 2 : 3);
        QCOMPARE(form->Table().Col(), opens ? 1 : 2);
    }

    // The scan writes into the grid while the menu is up; each action still acts on the
    // clicked cell's row, or on nothing once that row is gone.
    void actionsHitTheClickedRow_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<int>("clickedRow");
        QTest::addColumn<QString>("outcome");
        const QString rest = QStringLiteral("10.0.0.2 10.0.0.3 10.0.0.4");
        const auto row = [](const char *name, const char *action, const char *meanwhile,
                            int clickedRow, const QString &outcome) {
            QTest::newRow(name) << QString(action) << QString(meanwhile) << clickedRow << outcome;
        };
        row("copy, a reply", "copy", "reply", 1, "11 ms");
        row("delete, a lookup answer", "delete", "answer", 1, rest);
        // Any column: the address comes from column 0; the scan's hourglass stays.
        row("ping, a lookup answer", "ping", "answer", 1,
            "10.0.0.1|PING 10.0.0.1|10.0.0.1 responded in 7 milliseconds");
        row("ping times out", "ping fails", "reply", 2,
            "10.0.0.2|PING 10.0.0.2|Error # 1\nRequest timed out");
        row("copy, row deleted", "copy", "gone", 1, "before");
        row("ping, row deleted", "ping", "gone", 1, "");
        row("delete, a row above deleted", "delete", "gone", 2, "10.0.0.3");
    }
    void actionsHitTheClickedRow()
    {
        QFETCH(QString, action);
        QFETCH(QString, meanwhile);
        QFETCH(int, clickedRow);
        QFETCH(QString, outcome);
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        form->engine().Resolve_DNS = true;
        echo->sent.clear();
        echo->roundTrip = 7;
        rightClickCell(clickedRow, 1);
        QVERIFY(popup->isVisible());
        if (meanwhile == u"gone") {
            form->Table().RemoveItem(1);
        } else {
            echo->reply(QStringLiteral("1:10.0.0.4;1"), 0, 14);
            if (meanwhile == u"answer")
                static_cast<FakeLookup &>(form->DNS()).answer(0, QStringLiteral("four.example"));
        }
        if (action == u"copy") {
            control<QAction>(form, "CopyPopup")->trigger();
            QCOMPARE(QGuiApplication::clipboard()->text(), outcome);
        } else if (action == u"delete") {
            control<QAction>(form, "DeletePopup")->trigger();
            QStringList left;
            for (qsizetype row = 1; row < form->Table().Rows(); ++row)
                left << form->Table().cellText(row, 0);
            QCOMPARE(left.join(u' '), outcome);
        } else {
            echo->errorNumber = action.endsWith(u"fails") ? 1 : 0;
            control<QAction>(form, "PingPopup")->trigger();
            QString seen; // the address sent, then each box's title and text
            for (const auto &sent : std::as_const(echo->sent)) {
                QVERIFY(sent.tag == u"Interactive" && !sent.async);
                seen += sent.address;
            }
            for (const auto &box : MessageBox::takeShown()) {
                seen += u'|' + box.title + u'|' + box.text;
                QCOMPARE(box.icon, echo->errorNumber ? MessageBox::Icon::Exclamation
                                                     : MessageBox::Icon::Information);
            }
            QCOMPARE(seen, outcome);
            QCOMPARE(form->cursor().shape(), Qt::WaitCursor);
        }
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
        rightClickCell(1, 0);
        (clear ? control<QAction>(form, "ClearSelection") : control<QAction>(form, "DeletePopup"))
            ->trigger();
        const qsizetype left = clear ? 1 : 3;
        QCOMPARE(form->Table().Rows(), left);
        QCOMPARE(form->Table().cellText(0, 0), QStringLiteral("IP Address"));
        QCOMPARE(control<QLabel>(form, "NodeCount")->text(),
                 QStringLiteral("3")); // untouched until a reply
        // A removed address comes back with its next reply; one still listed stays single.
        echo->reply(QStringLiteral("1:10.0.0.1;2"), 0, 30);
        echo->reply(QStringLiteral("1:10.0.0.3;2"), 0, 31);
        QCOMPARE(form->Table().Rows(), clear ? 3 : 4);
        QCOMPARE(form->Table().cellText(left, 0), QStringLiteral("10.0.0.1"));
    }

    // Telnet and browse hand the address over as one argument, never through a shell; an
    // idle window with no companion on PATH says where to get it.
    void telnetAndBrowse_data()
    {
        QTest::addColumn<QString>("program"); // "": none on PATH
        QTest::addColumn<QString>("address");
        QTest::addColumn<QStringList>("expected");
        const QString odd = QStringLiteral("10.0.0.2;touch x $(id)");
        QTest::newRow("telnet") << "x-terminal-emulator"
                                << "10.0.0.2" << QStringList{"-e", "telnet", "10.0.0.2"};
        QTest::newRow("browse, no shell")
            << "lumtrace" << odd << QStringList{odd, "255.255.255.255"};
        QTest::newRow("browse, not installed") << ""
                                               << "10.0.0.2" << QStringList{};
    }
    void telnetAndBrowse()
    {
        QFETCH(QString, program);
        QFETCH(QString, address);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        if (!program.isEmpty())
            writeRecorder(dir.path(), program);
        else
            form->Scan_Button_Click(); // idle: the pointer is the default arrow
        qputenv("PATH", dir.path().toUtf8() + (program.isEmpty() ? QByteArray() : ':' + savedPath));
        form->Table().setRow(2);
        form->Table().setCol(0);
        form->Table().setText(address);
        rightClickCell(2, 1);
        control<QAction>(form, program.startsWith(u'x') ? "TelnetPopup" : "BrowsePopup")->trigger();
        if (!program.isEmpty()) {
            QCOMPARE(recorded(dir.path() + u'/' + program), expected);
            return;
        }
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, QStringLiteral("Zarnholt Lumtrace is not installed\nVisit "
                                               "https://www.zarnholt.example for a copy."));
        QCOMPARE(shown[0].icon, MessageBox::Icon::Exclamation);
        QCOMPARE(form->cursor().shape(), Qt::ArrowCursor);
    }
};

QTEST_MAIN(TestTableActions)
#include "tst_table_actions.moc"
