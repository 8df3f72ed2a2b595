// Two real scans of the private test network with the lab changed in between: one host
// whose route is removed, one whose route comes back, and one renamed in the hosts file.
// The comparison window must list exactly those three changes.
#include "app/ScanSettings.h"
#include "history/ScanComparison.h"
#include "history/ScanRecorder.h"
#include "scan/ScanEngine.h"
#include "scan/components/AresLookup.h"
#include "scan/components/IcmpEcho.h"
#include "scan/components/ResultGrid.h"
#include "ui/CompareForm.h"
#include "ui/Controls.h"
#include "ui/MainForm.h"
#include "widgets/MessageBox.h"

#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using Change = ScanComparison::Change;
using Kind = ScanComparison::Kind;

class TestNetScanHistory : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QByteArray originalHosts;

    static bool ip(const QString &arguments)
    {
        return QProcess::execute(QStringLiteral("ip"), arguments.split(u' ')) == 0;
    }
    static bool writeHosts(const QByteArray &text)
    {
        QFile hosts(QStringLiteral("/etc/hosts"));
        return hosts.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               hosts.write(text) == text.size();
    }
    static qsizetype listed(MainForm &form)
    {
        QStringList rows;
        for (qsizetype row = 1; row < form.Table().Rows(); ++row)
            rows << form.Table().cellText(row, 0) + u' ' + form.Table().cellText(row, 2);
        return rows.size();
    }
    static void scan(MainForm &form)
    {
        control<QLineEdit>(&form, "Starting_IP")->setText(QStringLiteral("127.0.0.15"));
        control<QLineEdit>(&form, "Ending_IP")->setText(QStringLiteral("127.0.0.22"));
        form.Scan_Button_Click();
        QVERIFY(form.engine().isRunning());
        QTRY_VERIFY_WITH_TIMEOUT(!form.engine().isRunning(), 20000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (qgetenv("VANTREL_TESTNET") != "1")
            QSKIP("needs the private test network (tests/net/testnet.sh)");
        MessageBox::setTestMode(true);
        QFile hosts(QStringLiteral("/etc/hosts"));
        QVERIFY(hosts.open(QIODevice::ReadOnly));
        originalHosts = hosts.readAll();
    }
    void cleanupTestCase()
    {
        if (qgetenv("VANTREL_TESTNET") != "1")
            return;
        ip(QStringLiteral("route del unreachable 127.0.0.16/32 table local"));
        writeHosts(originalHosts);
    }

    void changesBetweenTwoScansAreListed()
    {
        // 127.0.0.18 starts out without a route; the first scan does not list it.
        QVERIFY(ip(QStringLiteral("route add unreachable 127.0.0.18/32 table local")));
        MainForm form(std::make_unique<IcmpEcho>(), std::make_unique<AresLookup>());
        ScanSettings settings;
        settings.Inter_Ping_Delay = 5;
        settings.Ping_Timeout = 400;
        form.applySettings(settings);
        QVERIFY(form.openHistory(dir.filePath(QStringLiteral("history.sqlite"))));
        form.show();

        scan(form);
        // Eight addresses, one without a route; the last reply may come just after the end.
        QTRY_COMPARE(listed(form), 7);
        QVERIFY(!control<QAction>(&form, "CompareSelection")->isEnabled());

        QVERIFY(ip(QStringLiteral("route del unreachable 127.0.0.18/32 table local")));
        QVERIFY(ip(QStringLiteral("route add unreachable 127.0.0.16/32 table local")));
        QVERIFY(
            writeHosts(QByteArray(originalHosts).replace("hostsfile-twenty", "renamed-twenty")));
        scan(form);
        // Eight addresses, one without a route; the last reply may come just after the end.
        QTRY_COMPARE(listed(form), 7);

        QVERIFY(control<QAction>(&form, "CompareSelection")->isEnabled());
        control<QAction>(&form, "CompareSelection")->trigger();
        QVERIFY(form.compareForm());
        const QList<Change> expected = {
            {Kind::New, QStringLiteral("127.0.0.18"), {}, QStringLiteral("host-18.vantrel.test")},
            {Kind::Gone, QStringLiteral("127.0.0.16"), QStringLiteral("host-16.vantrel.test"), {}},
            {Kind::Renamed, QStringLiteral("127.0.0.20"),
             QStringLiteral("hostsfile-twenty.vantrel.test"),
             QStringLiteral("renamed-twenty.vantrel.test")}};
        QCOMPARE(form.compareForm()->changes(), expected);
        QVERIFY(MessageBox::takeShown().isEmpty());
    }
};

QTEST_MAIN(TestNetScanHistory)
#include "tst_net_scan_history.moc"
