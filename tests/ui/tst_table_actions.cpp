#include "fakes/FakeEcho.h"
#include "fakes/FakeLookup.h"
#include "scan/ScanEngine.h"
#include "scan/components/ResultGrid.h"
#include "ui/Controls.h"
#include "ui/MainForm.h"
#include "ui/ResultTableView.h"
#include "ui/TableActions.h"
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
        QTest::addColumn<bool>("opens");
        QTest::newRow("right click on a data row") << "row" << true;
        QTest::newRow("left click on a data row") << "left" << false;
        QTest::newRow("right click below the last row") << "below" << false;
        QTest::newRow("right click on the header") << "header" << false;
    }
    void popupOnlyOnRightClickOverDataRow()
    {
        QFETCH(QString, where);
        QFETCH(bool, opens);
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
        row("ping, a lookup answer", "ping", "answer", 1, "10.0.0.1");
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
            control<QAction>(form, "PingPopup")->trigger();
            QCOMPARE(echo->sent.isEmpty() ? QString() : echo->sent.first().address, outcome);
            MessageBox::takeShown();
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

    void pingReportsTheOutcome_data()
    {
        QTest::addColumn<int>("errorNumber");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("icon");
        QTest::newRow("answered") << 0 << "10.0.0.2 responded in 7 milliseconds"
                                  << int(MessageBox::Icon::Information);
        QTest::newRow("timed out")
            << 1 << "Error # 1\nRequest timed out" << int(MessageBox::Icon::Exclamation);
    }
    void pingReportsTheOutcome()
    {
        QFETCH(int, errorNumber);
        QFETCH(QString, text);
        QFETCH(int, icon);
        echo->errorNumber = errorNumber;
        echo->roundTrip = 7;
        echo->sent.clear();
        rightClickCell(2, 2); // any column: the address comes from column 0
        control<QAction>(form, "PingPopup")->trigger();
        QCOMPARE(echo->sent.size(), 1);
        QCOMPARE(echo->sent[0].address, QStringLiteral("10.0.0.2"));
        QCOMPARE(echo->sent[0].tag, QStringLiteral("Interactive"));
        QVERIFY(!echo->sent[0].async);
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].title, QStringLiteral("PING 10.0.0.2"));
        QCOMPARE(shown[0].text, text);
        QCOMPARE(int(shown[0].icon), icon);
        QCOMPARE(form->cursor().shape(), Qt::WaitCursor); // the scan's hourglass stays
    }

    void telnetAndBrowseGetArgumentLists_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("telnet") << "x-terminal-emulator"
                                << "10.0.0.2" << QStringList{"-e", "telnet", "10.0.0.2"};
        QTest::newRow("browse") << "lumtrace"
                                << "10.0.0.2" << QStringList{"10.0.0.2", "255.255.255.255"};
        QTest::newRow("no shell") << "lumtrace"
                                  << "10.0.0.2;touch x $(id)"
                                  << QStringList{"10.0.0.2;touch x $(id)", "255.255.255.255"};
    }
    void telnetAndBrowseGetArgumentLists()
    {
        QFETCH(QString, program);
        QFETCH(QString, address);
        QFETCH(QStringList, expected);
        QTemporaryDir dir;
        writeRecorder(dir.path(), program);
        qputenv("PATH", dir.path().toUtf8() + ':' + savedPath);
        form->Table().setRow(2);
        form->Table().setCol(0);
        form->Table().setText(address);
        rightClickCell(2, 1);
        (program == u"lumtrace" ? control<QAction>(form, "BrowsePopup")
                                : control<QAction>(form, "TelnetPopup"))
            ->trigger();
        QCOMPARE(recorded(dir.path() + u'/' + program), expected);
    }

    void browseWithoutCompanionSaysWhereToGetIt()
    {
        form->Scan_Button_Click(); // idle: the pointer is the default arrow
        QTemporaryDir empty;
        qputenv("PATH", empty.path().toUtf8());
        rightClickCell(1, 0);
        control<QAction>(form, "BrowsePopup")->trigger();
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
