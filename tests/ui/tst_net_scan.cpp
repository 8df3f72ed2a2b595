// Whole scans through the main window against the real echo and lookup components, inside
// the private test network (127.0.0.0/24 answers, 127.0.1.0/24 is silent, 127.0.2.0/24 is
// unreachable, dnsmasq names 127.0.0.1-200).
#include "app/ScanSettings.h"
#include "scan/ScanEngine.h"
#include "scan/components/AresLookup.h"
#include "scan/components/EchoControl.h"
#include "scan/components/IcmpEcho.h"
#include "scan/components/LookupControl.h"
#include "scan/components/ResultGrid.h"
#include "ui/Controls.h"
#include "ui/MainForm.h"
#include "ui/ResultTableView.h"
#include "ui/TableActions.h"
#include "widgets/MessageBox.h"

#include <QColor>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSet>
#include <QTest>

class TestNetScan : public QObject
{
    Q_OBJECT

    MainForm *form = nullptr;
    QLineEdit *startBox = nullptr;
    QLineEdit *endBox = nullptr;
    ResultTableView *view = nullptr;

    void scan(const QString &from, const QString &to, int timeoutMs = 20000)
    {
        startBox->setText(from);
        endBox->setText(to);
        form->Scan_Button_Click();
        QVERIFY(form->engine().isRunning());
        QTRY_VERIFY_WITH_TIMEOUT(!form->engine().isRunning(), timeoutMs);
    }
    // Right-clicks the row, as a user would, and pings it from the menu.
    void pingRow(qsizetype row)
    {
        const QModelIndex index = form->Table().index(int(row - 1), 1);
        view->scrollTo(index);
        QTest::mouseClick(view->viewport(), Qt::RightButton, {}, view->visualRect(index).center());
        control<QMenu>(form, "TablePopup")->hide();
        form->tableActions().PingPopup_Click();
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
        startBox = control<QLineEdit>(form, "Starting_IP");
        endBox = control<QLineEdit>(form, "Ending_IP");
        view = control<ResultTableView>(form, "TableView");
        ScanSettings settings;
        settings.Inter_Ping_Delay = 5;
        settings.Ping_Timeout = 400;
        settings.Pings_per_Node = 2;
        form->applySettings(settings);
        form->show();
    }
    void cleanup()
    {
        delete form;
        QVERIFY(MessageBox::takeShown().isEmpty());
    }

    // Forward, answering addresses are listed with their time and name, silent ones not;
    // inverted, the silent and unreachable ones in red. Completion waits for the time-outs:
    // every row is there the moment the scan ends.
    void scanLists_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<bool>("names");
        QTest::addColumn<bool>("inverted");
        QTest::addColumn<QStringList>("listed");
        QStringList answering;
        for (int i = 2; i <= 11; ++i)
            answering << "127.0.0." + QString::number(i);
        QTest::newRow("answering, with names") << "127.0.0.2"
                                               << "127.0.0.11" << true << false << answering;
        QTest::newRow("into silence, no names")
            << "127.0.0.253"
            << "127.0.1.2" << false << false
            << QStringList{"127.0.0.253", "127.0.0.254", "127.0.0.255"};
        QTest::newRow("inverted, silent and unreachable")
            << "127.0.1.254"
            << "127.0.2.1" << false << true
            << QStringList{"127.0.1.254", "127.0.1.255", "127.0.2.0", "127.0.2.1"};
    }
    void scanLists()
    {
        QFETCH(bool, names);
        QFETCH(bool, inverted);
        QFETCH(QStringList, listed);
        form->engine().Resolve_DNS = names;
        form->engine().Reverse_Scan = inverted;
        QFETCH(QString, from);
        QFETCH(QString, to);
        scan(from, to);
        QTRY_VERIFY(!column(2).contains(QStringLiteral(" resolving ...")));
        QStringList addresses = column(0);
        QCOMPARE(addresses.size(), listed.size());
        QCOMPARE(QSet<QString>(addresses.begin(), addresses.end()),
                 QSet<QString>(listed.begin(), listed.end()));
        for (qsizetype row = 1; row < form->Table().Rows(); ++row) {
            const QString address = form->Table().cellText(row, 0);
            const QString text = form->Table().cellText(row, 1);
            QVERIFY2(!text.isEmpty() && !text.contains(u',') && text.endsWith(" ms") != inverted,
                     qPrintable(text));
            QCOMPARE(form->Table().cellText(row, 2),
                     names ? "host-" + address.section(u'.', 3) + ".vantrel.test" : QString());
            form->Table().setRow(row);
            form->Table().setCol(1);
            QCOMPARE(form->Table().CellForeColor() == QColor(255, 0, 0), inverted);
        }
        QCOMPARE(control<QLabel>(form, "IP_Status")->text(), QStringLiteral("Scan Completed"));
        QCOMPARE(control<QLabel>(form, "NodeCount")->text(), QString::number(listed.size()));
    }

    void interactivePingDuringScanLosesNothing()
    {
        form->engine().Resolve_DNS = false;
        startBox->setText(QStringLiteral("127.0.0.1"));
        endBox->setText(QStringLiteral("127.0.0.60"));
        form->Scan_Button_Click();
        QTRY_VERIFY(form->Table().Rows() > 2);
        ResultGrid &table = form->Table();

        const QString answering = table.cellText(1, 0);
        pingRow(1);
        auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].title, QStringLiteral("PING ") + answering);
        QVERIFY2(shown[0].text.startsWith(answering + QStringLiteral(" responded in ")),
                 qPrintable(shown[0].text));

        // A silent address keeps the waiting send busy for the whole time-out while the
        // scan's replies come in.
        table.setRows(table.Rows() + 1);
        table.setRow(table.Rows() - 1);
        table.setCol(0);
        table.setText(QStringLiteral("127.0.1.5"));
        pingRow(table.Rows() - 1);
        shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].icon, MessageBox::Icon::Exclamation);
        QVERIFY2(shown[0].text.startsWith(QStringLiteral("Error # ")) &&
                     shown[0].text.section(u'\n', 1).size() > 0,
                 qPrintable(shown[0].text));

        QTRY_VERIFY_WITH_TIMEOUT(!form->engine().isRunning(), 10000);
        QStringList scanned = column(0).filter(QStringLiteral("127.0.0."));
        QCOMPARE(scanned.size(), 60);
        scanned.removeDuplicates();
        QCOMPARE(scanned.size(), 60);
    }

    void stopEndsTheWalk()
    {
        form->engine().setInter_Ping_Delay(50);
        form->engine().Resolve_DNS = false;
        startBox->setText(QStringLiteral("127.1.0.0"));
        endBox->setText(QStringLiteral("127.1.0.255"));
        form->Scan_Button_Click();
        QTRY_VERIFY(form->Table().Rows() > 3);
        form->Scan_Button_Click();
        QVERIFY(!form->engine().isRunning());
        QVERIFY(!form->PING_Timer().isActive());
        // Once the components are idle nothing more can arrive.
        QTRY_VERIFY(form->ICMP().EchoesPending() == 0 && form->DNS().LookupsPending() == 0);
        const qsizetype rows = form->Table().Rows();
        QCoreApplication::processEvents();
        QCOMPARE(form->Table().Rows(), rows);
        QVERIFY(rows < 40);
    }
};

QTEST_MAIN(TestNetScan)
#include "tst_net_scan.moc"
