// Whole scans through the main window against the real echo and lookup components, inside
// the private test network (127.0.0.0/24 answers, 127.0.1.0/24 is silent, 127.0.2.0/24 is
// unreachable, dnsmasq names 127.0.0.1-200).
#include "app/ScanSettings.h"
#include "scan/ScanEngine.h"
#include "scan/components/AresLookup.h"
#include "scan/components/IcmpEcho.h"
#include "scan/components/ResultGrid.h"
#include "ui/Controls.h"
#include "ui/MainForm.h"
#include "ui/ResultTableView.h"
#include "widgets/MessageBox.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

class TestNetScan : public QObject
{
    Q_OBJECT

    MainForm *form = nullptr;

    void startScan(const QString &from, const QString &to)
    {
        control<QLineEdit>(form, "Starting_IP")->setText(from);
        control<QLineEdit>(form, "Ending_IP")->setText(to);
        form->Scan_Button_Click();
        QVERIFY(form->engine().isRunning());
    }
    QStringList column(int col) const
    {
        QStringList cells;
        for (qsizetype row = 1; row < form->Table().Rows(); ++row)
            cells << form->Table().cellText(row, col);
        return cells;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (qgetenv("VANTREL_TESTNET") != "1")
            QSKIP("needs the private test network (tests/net/testnet.sh)");
        MessageBox::setTestMode(true);
    }
    void init()
    {
        form = new MainForm(std::make_unique<IcmpEcho>(), std::make_unique<AresLookup>());
        form->applySettings(ScanSettings{.Ping_Timeout = 400, .Inter_Ping_Delay = 5});
        form->show();
    }
    void cleanup()
    {
        delete form;
        QVERIFY(MessageBox::takeShown().isEmpty());
    }

    // Forward, answering addresses are listed with their time and name, silent ones not;
    // inverted, the silent and unreachable ones in red. Completion waits for the time-outs
    // and the names: every row is complete the moment the scan ends.
    void scanLists_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<bool>("names");
        QTest::addColumn<bool>("inverted");
        QTest::addColumn<QString>("listed"); // sorted as text
        const auto row = [](const char *name, const char *from, const char *to, bool names,
                            bool inverted, const char *listed) {
            QTest::newRow(name) << QString(from) << QString(to) << names << inverted
                                << QString(listed);
        };
        row("answering, with names", "127.0.0.8", "127.0.0.11", true, false,
            "127.0.0.10 127.0.0.11 127.0.0.8 127.0.0.9");
        row("into silence, no names", "127.0.0.253", "127.0.1.2", false, false,
            "127.0.0.253 127.0.0.254 127.0.0.255");
        row("inverted, silent and unreachable", "127.0.1.254", "127.0.2.1", false, true,
            "127.0.1.254 127.0.1.255 127.0.2.0 127.0.2.1");
    }
    void scanLists()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(bool, names);
        QFETCH(bool, inverted);
        form->engine().Resolve_DNS = names;
        form->engine().Reverse_Scan = inverted;
        startScan(from, to);
        QTRY_VERIFY_WITH_TIMEOUT(!form->engine().isRunning(), 20000);
        QStringList addresses = column(0);
        addresses.sort();
        QTEST(addresses.join(u' '), "listed");
        for (qsizetype row = 1; row < form->Table().Rows(); ++row) {
            const QString address = form->Table().cellText(row, 0);
            const QString text = form->Table().cellText(row, 1);
            QVERIFY2(!text.isEmpty() && !text.contains(u',') && text.endsWith(" ms") != inverted,
                     qPrintable(text));
            QCOMPARE(form->Table().cellText(row, 2),
                     names ? "host-" + address.section(u'.', 3) + ".vantrel.test" : QString());
            QCOMPARE(form->Table().cellKind(row, 1) == ResultGrid::Kind::Failure, inverted);
        }
        QCOMPARE(control<QLabel>(form, "IP_Status")->text(), QStringLiteral("Scan Completed"));
        QCOMPARE(control<QLabel>(form, "NodeCount")->text(), QString::number(addresses.size()));
    }

    // A waiting ping of a silent address keeps the window busy for the whole time-out
    // while the scan's replies come in: none is lost, none is listed twice.
    void interactivePingDuringScanLosesNothing()
    {
        form->engine().Resolve_DNS = false;
        startScan(QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.60"));
        QTRY_VERIFY(form->Table().Rows() > 2);
        // A silent address in a row of its own, pinged from the row's menu as a user would.
        ResultGrid &table = form->Table();
        table.setRows(table.Rows() + 1);
        table.setRow(table.Rows() - 1);
        table.setCol(0);
        table.setText(QStringLiteral("127.0.1.5"));
        auto *view = control<ResultTableView>(form, "TableView");
        view->scrollToBottom();
        QTest::mouseClick(view->viewport(), Qt::RightButton, {},
                          view->cellRect(table.Rows() - 1, 1).center());
        control<QAction>(form, "PingPopup")->trigger();
        const auto box = MessageBox::takeShown().value(0);
        QCOMPARE(box.icon, MessageBox::Icon::Exclamation);
        QVERIFY2(box.text.startsWith(QStringLiteral("Error # ")) &&
                     box.text.section(u'\n', 1).size() > 0,
                 qPrintable(box.text));

        QTRY_VERIFY_WITH_TIMEOUT(!form->engine().isRunning(), 10000);
        QStringList scanned = column(0).filter(QStringLiteral("127.0.0."));
        scanned.removeDuplicates();
        QCOMPARE(scanned.size(), 60);
        QCOMPARE(table.Rows(), 1 + 60 + 1);
    }

    // Once the components are idle after a stop, nothing more can arrive.
    void stopEndsTheWalk()
    {
        form->engine().setInter_Ping_Delay(50);
        form->engine().Resolve_DNS = false;
        startScan(QStringLiteral("127.1.0.0"), QStringLiteral("127.1.0.255"));
        QTRY_VERIFY(form->Table().Rows() > 3);
        form->Scan_Button_Click();
        QVERIFY(!form->engine().isRunning());
        QTRY_VERIFY(form->ICMP().EchoesPending() == 0 && form->DNS().LookupsPending() == 0);
        const qsizetype rows = form->Table().Rows();
        QCoreApplication::processEvents();
        QCOMPARE(form->Table().Rows(), rows);
        QVERIFY(rows < 40);
    }
};

QTEST_MAIN(TestNetScan)
#include "tst_net_scan.moc"
