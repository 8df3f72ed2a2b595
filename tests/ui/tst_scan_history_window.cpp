// The history in the main window: the mark of new addresses, the comparison window and its
// export, late rows after STOP, and a history that cannot be kept. Scripted fakes answer.
#include "fakes/FakeEcho.h"
#include "fakes/FakeLookup.h"
#include "history/ScanHistory.h"
#include "history/ScanRecorder.h"
#include "output/CsvExport.h"
#include "output/ReportLayout.h"
#include "scan/ScanEngine.h"
#include "scan/components/ResultGrid.h"
#include "ui/CompareForm.h"
#include "ui/Controls.h"
#include "ui/MainForm.h"
#include "widgets/MessageBox.h"
#include "widgets/SaveFileDialog.h"

#include <QAction>
#include <QBuffer>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// The grid as the export writes it, at a fixed time.
QByteArray exported(const ResultGrid &table)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    CsvExport::write(buffer, table, u"10.0.0.1"_s, u"10.0.0.6"_s,
                     QDateTime(QDate(2026, 1, 1), QTime(12, 0)), QLocale::c());
    return buffer.data();
}

QImage reportPage(const ResultGrid &table)
{
    ReportLayout report;
    report.begin(u"Scan"_s, QString());
    report.addGrid(table);
    report.end();
    QImage image(600, 850, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.scale(600.0 / report.pageSize().width(), 850.0 / report.pageSize().height());
    report.paintPage(painter, 1);
    return image;
}

} // namespace

class TestScanHistoryWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir *dir = nullptr;
    MainForm *form = nullptr;
    FakeEcho *echo = nullptr;
    FakeLookup *lookup = nullptr;

    MainForm *makeForm(bool history)
    {
        auto e = std::make_unique<FakeEcho>();
        auto l = std::make_unique<FakeLookup>();
        echo = e.get();
        lookup = l.get();
        auto *made = new MainForm(std::move(e), std::move(l));
        made->engine().Pings_per_Node = 1;
        made->engine().setInter_Ping_Delay(1);
        if (history)
            made->openHistory(dir->filePath(u"history.sqlite"_s));
        return made;
    }

    // Scans 10.0.0.1-6; the addresses in `names` answer and are named so.
    void scan(const QHash<QString, QString> &names)
    {
        control<QLineEdit>(form, "Starting_IP")->setText(u"10.0.0.1"_s);
        control<QLineEdit>(form, "Ending_IP")->setText(u"10.0.0.6"_s);
        form->Scan_Button_Click();
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
    QVariant mark(const QString &address, int role) const
    {
        const ResultGrid &table = form->Table();
        for (qsizetype row = 1; row < table.Rows(); ++row) {
            if (table.cellText(row, 0) == address)
                return table.data(table.index(int(row) - 1, 0), role);
        }
        return u"not listed"_s;
    }

private Q_SLOTS:
    void initTestCase()
    {
        MessageBox::setTestMode(true);
        SaveFileDialog::setTestMode(true);
    }
    void init()
    {
        dir = new QTemporaryDir;
        form = makeForm(true);
    }
    void cleanup()
    {
        delete form;
        delete dir;
        QVERIFY(MessageBox::takeShown().isEmpty());
    }

    void secondScanMarksNewAndListsChanges()
    {
        scan({{"10.0.0.1", "a"}, {"10.0.0.2", "b"}, {"10.0.0.3", "c"}});
        QVERIFY(!control<QAction>(form, "CompareSelection")->isEnabled());
        QVERIFY(mark(u"10.0.0.1"_s, Qt::DecorationRole).isNull());
        const QDateTime firstStart = form->history()->currentScan().started;

        const QHash<QString, QString> second = {
            {"10.0.0.1", "a"}, {"10.0.0.3", "x"}, {"10.0.0.4", "d, e"}};
        scan(second);
        QCOMPARE(form->Table().Rows(), 4);
        QVERIFY(!mark(u"10.0.0.4"_s, Qt::DecorationRole).value<QIcon>().isNull());
        QCOMPARE(mark(u"10.0.0.4"_s, Qt::ToolTipRole).toString(),
                 u"New since "_s + CsvExport::generalDate(firstStart));
        for (const QString &old : {u"10.0.0.1"_s, u"10.0.0.3"_s})
            QVERIFY(mark(old, Qt::DecorationRole).isNull() && mark(old, Qt::ToolTipRole).isNull());

        QVERIFY(control<QAction>(form, "CompareSelection")->isEnabled());
        control<QAction>(form, "CompareSelection")->trigger();
        CompareForm *compare = form->compareForm();
        QVERIFY(compare && compare->isVisible());
        QCOMPARE(compare->Counts->text(), u"New: 1    Gone: 1    Renamed: 1"_s);
        QCOMPARE(compare->ChangeList->model()->rowCount(), 3);

        const QString csv = dir->filePath(u"changes.csv"_s);
        SaveFileDialog::setNextFileName(csv);
        compare->Export_Button_Click();
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, u"Exported 3 changes to changes.csv"_s);
        QFile file(csv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().split('\n').mid(4),
                 QList<QByteArray>({"new,10.0.0.4,,\"d, e\"\r", "gone,10.0.0.2,b,\r",
                                    "renamed,10.0.0.3,c,x\r", ""}));

        // The mark shows in the window only: export and report are as without a history.
        const QByteArray withHistory = exported(form->Table());
        const QImage reportWith = reportPage(form->Table());
        delete form;
        form = makeForm(false);
        scan(second);
        QVERIFY(mark(u"10.0.0.4"_s, Qt::DecorationRole).isNull());
        QCOMPARE(exported(form->Table()), withHistory);
        QCOMPARE(reportPage(form->Table()), reportWith);
    }

    void rowsAfterStopJoinTheRecord()
    {
        form->engine().setInter_Ping_Delay(20);
        control<QLineEdit>(form, "Starting_IP")->setText(u"10.0.0.1"_s);
        control<QLineEdit>(form, "Ending_IP")->setText(u"10.0.0.200"_s);
        form->Scan_Button_Click();
        QTRY_VERIFY(echo->sent.size() >= 2);
        const QList<FakeEcho::Sent> sent = std::exchange(echo->sent, {});
        echo->reply(sent[0].tag, 0);
        form->Scan_Button_Click(); // STOP
        QVERIFY(!form->engine().isRunning());
        const qint64 id = form->history()->recordedId();
        QVERIFY(id > 0);

        echo->reply(sent[1].tag, 0);
        lookup->answer(1, u"late-two"_s);
        lookup->answer(0, u"late-one"_s);
        form->history()->setLateInterval(1);
        form->history()->scanEnded(false); // a second end changes nothing
        form->history()->flushLate();

        ScanHistory reader;
        QVERIFY(reader.open(dir->filePath(u"history.sqlite"_s)).ok);
        const std::optional<ScanRecord> kept = reader.load(id);
        QVERIFY(kept && !kept->completed);
        QStringList rows;
        for (const HistoryRow &row : kept->rows)
            rows << row.address + u' ' + row.name;
        QCOMPARE(rows,
                 QStringList({sent[0].address + u" late-one"_s, sent[1].address + u" late-two"_s}));
    }

    // A history that another program spoils between two scans is reported once; scans go on
    // without it.
    void historyFailingMidRunIsReportedOnce()
    {
        scan({{"10.0.0.1", "a"}});
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, "other");
            db.setDatabaseName(dir->filePath(u"history.sqlite"_s));
            QVERIFY(db.open());
            QVERIFY(QSqlQuery(db).exec(u"DROP TABLE scan_rows"_s));
        }
        QSqlDatabase::removeDatabase(u"other"_s);
        scan({{"10.0.0.1", "a"}});
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].icon, MessageBox::Icon::Exclamation);
        QVERIFY2(shown[0].text.startsWith(u"Could not write the scan history"_s),
                 qPrintable(shown[0].text));
        scan({{"10.0.0.2", "b"}});
        QCOMPARE(form->Table().Rows(), 2);
        QCOMPARE(form->Table().cellText(1, 2), u"b"_s);
        QVERIFY(!control<QAction>(form, "CompareSelection")->isEnabled());
        QVERIFY(mark(u"10.0.0.2"_s, Qt::DecorationRole).isNull());
    }
};

QTEST_MAIN(TestScanHistoryWindow)
#include "tst_scan_history_window.moc"
