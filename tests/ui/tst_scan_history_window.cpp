// The history in the main window: the mark of new addresses and late rows after STOP.
// Scripted fakes answer; the comparison window is tried on real scans (tst_net_scan_cli).
#include "fakes/FakeEcho.h"
#include "fakes/FakeLookup.h"
#include "history/ScanRecorder.h"
#include "output/CsvExport.h"
#include "output/ReportLayout.h"
#include "scan/ScanEngine.h"
#include "scan/components/ResultGrid.h"
#include "ui/Controls.h"
#include "ui/MainForm.h"
#include "widgets/MessageBox.h"

#include <QAction>
#include <QBuffer>
#include <QIcon>
#include <QLineEdit>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// What the export writes (at a fixed time) and the report's first page shows.
static std::pair<QByteArray, QImage> exportAndReport(const ResultGrid &table)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    CsvExport::write(buffer, table, u"10.0.0.1"_s, u"10.0.0.6"_s,
                     QDateTime(QDate(2026, 1, 1), QTime(12, 0)), QLocale::c());
    ReportLayout report;
    report.begin(u"Scan"_s, QString());
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

class TestScanHistoryWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<MainForm> form;
    FakeEcho *echo = nullptr;
    FakeLookup *lookup = nullptr;

    void makeForm(bool history)
    {
        form.reset();
        form = std::make_unique<MainForm>(std::make_unique<FakeEcho>(),
                                          std::make_unique<FakeLookup>());
        echo = static_cast<FakeEcho *>(&form->ICMP());
        lookup = static_cast<FakeLookup *>(&form->DNS());
        form->engine().Pings_per_Node = 1;
        form->engine().setInter_Ping_Delay(1);
        if (history)
            form->openHistory(dir.filePath(u"history.sqlite"_s));
    }

    void startScan(const QString &last)
    {
        control<QLineEdit>(form.get(), "Starting_IP")->setText(u"10.0.0.1"_s);
        control<QLineEdit>(form.get(), "Ending_IP")->setText(last);
        form->Scan_Button_Click();
    }

    // Scans 10.0.0.1-6; the addresses in `names` answer and are named so.
    void scan(const QHash<QString, QString> &names)
    {
        startScan(u"10.0.0.6"_s);
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

private Q_SLOTS:
    void initTestCase() { MessageBox::setTestMode(true); }
    void init() { makeForm(true); }
    void cleanup()
    {
        form.reset();
        QVERIFY(MessageBox::takeShown().isEmpty());
    }

    // A second scan marks its new addresses in the window only: export and report are as
    // without a history.
    void secondScanMarksNewAddresses()
    {
        QAction *compareAction = control<QAction>(form.get(), "CompareSelection");
        scan({{"10.0.0.1", "a"}, {"10.0.0.2", "b"}});
        QVERIFY(!compareAction->isEnabled());
        QVERIFY(mark(1, Qt::DecorationRole).isNull());
        const QDateTime firstStart = form->history()->currentScan().started;

        const QHash<QString, QString> second = {{"10.0.0.1", "a"}, {"10.0.0.3", "c"}};
        scan(second);
        QVERIFY(compareAction->isEnabled());
        QCOMPARE(form->Table().cellText(2, 0), u"10.0.0.3"_s);
        QVERIFY(!mark(2, Qt::DecorationRole).value<QIcon>().isNull());
        QCOMPARE(mark(2, Qt::ToolTipRole).toString(),
                 u"New since "_s + CsvExport::generalDate(firstStart));
        QVERIFY(mark(1, Qt::DecorationRole).isNull() && mark(1, Qt::ToolTipRole).isNull());

        const auto withHistory = exportAndReport(form->Table());
        makeForm(false);
        scan(second);
        QVERIFY(mark(2, Qt::DecorationRole).isNull());
        QVERIFY(exportAndReport(form->Table()) == withHistory);
    }

    // Replies and names that come after STOP join the record of the stopped scan.
    void rowsAfterStopJoinTheRecord()
    {
        form->engine().setInter_Ping_Delay(20);
        startScan(u"10.0.0.200"_s);
        QTRY_VERIFY(echo->sent.size() >= 2);
        const QList<FakeEcho::Sent> sent = std::exchange(echo->sent, {});
        echo->reply(sent[0].tag, 0);
        form->Scan_Button_Click(); // STOP
        QVERIFY(!form->engine().isRunning());
        const qint64 id = form->history()->recordedId();

        echo->reply(sent[1].tag, 0);
        lookup->answer(1, u"late-two"_s);
        lookup->answer(0, u"late-one"_s);
        form->history()->setLateInterval(1);
        form->history()->scanEnded(false); // a second end changes nothing
        form->history()->flushLate();

        ScanHistory reader;
        QVERIFY(reader.open(dir.filePath(u"history.sqlite"_s)).ok);
        const std::optional<ScanRecord> kept = reader.load(id);
        QVERIFY(kept && !kept->completed);
        QStringList rows;
        for (const HistoryRow &row : kept->rows)
            rows << row.address + u' ' + row.name;
        QCOMPARE(rows,
                 QStringList({sent[0].address + u" late-one"_s, sent[1].address + u" late-two"_s}));
    }
};

QTEST_MAIN(TestScanHistoryWindow)
#include "tst_scan_history_window.moc"
