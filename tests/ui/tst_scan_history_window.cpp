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

namespace {

// The grid as the export writes it, at a fixed time.
QByteArray exported(const ResultGrid &table)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    CsvExport::write(buffer, table, QStringLiteral("10.0.0.1"), QStringLiteral("10.0.0.6"),
                     QDateTime(QDate(2026, 1, 1), QTime(12, 0)), QLocale::c());
    return buffer.data();
}

QImage reportPage(const ResultGrid &table)
{
    ReportLayout report;
    report.begin(QStringLiteral("Scan"), QString());
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
            made->openHistory(dir->filePath(QStringLiteral("history.sqlite")));
        return made;
    }

    // Scans 10.0.0.1-6; the addresses in `names` answer and are named so.
    void scan(const QHash<QString, QString> &names)
    {
        control<QLineEdit>(form, "Starting_IP")->setText(QStringLiteral("10.0.0.1"));
        control<QLineEdit>(form, "Ending_IP")->setText(QStringLiteral("10.0.0.6"));
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
        return QStringLiteral("not listed");
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
        QVERIFY(mark(QStringLiteral("10.0.0.1"), Qt::DecorationRole).isNull());
        const QDateTime firstStart = form->history()->currentScan().started;

        scan({{"10.0.0.1", "a"}, {"10.0.0.3", "x"}, {"10.0.0.4", "d"}});
        QCOMPARE(form->Table().Rows(), 4);
        QVERIFY(mark(QStringLiteral("10.0.0.4"), Qt::DecorationRole).value<QIcon>().isNull() ==
                false);
        QCOMPARE(mark(QStringLiteral("10.0.0.4"), Qt::ToolTipRole).toString(),
                 QStringLiteral("New since ") + CsvExport::generalDate(firstStart));
        for (const char *old : {"10.0.0.1", "10.0.0.3"}) {
            QVERIFY(mark(QString::fromLatin1(old), Qt::DecorationRole).isNull());
            QVERIFY(mark(QString::fromLatin1(old), Qt::ToolTipRole).isNull());
        }

        QVERIFY(control<QAction>(form, "CompareSelection")->isEnabled());
        control<QAction>(form, "CompareSelection")->trigger();
        CompareForm *compare = form->compareForm();
        QVERIFY(compare && compare->isVisible());
        QCOMPARE(compare->Counts->text(), QStringLiteral("New: 1    Gone: 1    Renamed: 1"));
        QCOMPARE(compare->ChangeList->model()->rowCount(), 3);

        const QString csv = dir->filePath(QStringLiteral("changes.csv"));
        SaveFileDialog::setNextFileName(csv);
        compare->Export_Button_Click();
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, QStringLiteral("Exported 3 changes to changes.csv"));
        QFile file(csv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().split('\n').mid(4),
                 QList<QByteArray>(
                     {"new,10.0.0.4,,d\r", "gone,10.0.0.2,b,\r", "renamed,10.0.0.3,c,x\r", ""}));
    }

    void exportAndReportUnchangedByTheMark()
    {
        const QHash<QString, QString> first = {{"10.0.0.2", "b"}};
        const QHash<QString, QString> second = {{"10.0.0.2", "b"}, {"10.0.0.5", "e, f"}};
        scan(first);
        scan(second);
        QVERIFY(!mark(QStringLiteral("10.0.0.5"), Qt::DecorationRole).isNull());
        const QByteArray withHistory = exported(form->Table());
        const QImage reportWith = reportPage(form->Table());

        delete form;
        form = makeForm(false);
        scan(second);
        QVERIFY(mark(QStringLiteral("10.0.0.5"), Qt::DecorationRole).isNull());
        QCOMPARE(exported(form->Table()), withHistory);
        QCOMPARE(reportPage(form->Table()), reportWith);
    }

    void rowsAfterStopJoinTheRecord()
    {
        form->engine().setInter_Ping_Delay(20);
        control<QLineEdit>(form, "Starting_IP")->setText(QStringLiteral("10.0.0.1"));
        control<QLineEdit>(form, "Ending_IP")->setText(QStringLiteral("10.0.0.200"));
        form->Scan_Button_Click();
        QTRY_VERIFY(echo->sent.size() >= 2);
        const QList<FakeEcho::Sent> sent = std::exchange(echo->sent, {});
        echo->reply(sent[0].tag, 0);
        form->Scan_Button_Click(); // STOP
        QVERIFY(!form->engine().isRunning());
        const qint64 id = form->history()->recordedId();
        QVERIFY(id > 0);

        echo->reply(sent[1].tag, 0);
        lookup->answer(1, QStringLiteral("late-two"));
        lookup->answer(0, QStringLiteral("late-one"));
        form->history()->setLateInterval(1);
        form->history()->scanEnded(false); // a second end changes nothing
        form->history()->flushLate();

        ScanHistory reader;
        QVERIFY(reader.open(dir->filePath(QStringLiteral("history.sqlite"))).ok);
        const std::optional<ScanRecord> kept = reader.load(id);
        QVERIFY(kept);
        QVERIFY(!kept->completed);
        QCOMPARE(kept->rows.size(), 2);
        QCOMPARE(kept->rows[0].address, sent[0].address);
        QCOMPARE(kept->rows[0].name, QStringLiteral("late-one"));
        QCOMPARE(kept->rows[1].address, sent[1].address);
        QCOMPARE(kept->rows[1].name, QStringLiteral("late-two"));
    }

    // A history that another program spoils between two scans is reported once; scans go on
    // without it.
    void historyFailingMidRunIsReportedOnce()
    {
        scan({{"10.0.0.1", "a"}});
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "other");
            db.setDatabaseName(dir->filePath(QStringLiteral("history.sqlite")));
            QVERIFY(db.open());
            QVERIFY(QSqlQuery(db).exec(QStringLiteral("DROP TABLE scan_rows")));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("other"));
        scan({{"10.0.0.1", "a"}});
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].icon, MessageBox::Icon::Exclamation);
        QVERIFY2(shown[0].text.startsWith(QStringLiteral("Could not write the scan history")),
                 qPrintable(shown[0].text));
        scan({{"10.0.0.2", "b"}});
        QCOMPARE(form->Table().Rows(), 2);
        QCOMPARE(form->Table().cellText(1, 2), QStringLiteral("b"));
        QVERIFY(!control<QAction>(form, "CompareSelection")->isEnabled());
        QVERIFY(mark(QStringLiteral("10.0.0.2"), Qt::DecorationRole).isNull());
    }
};

QTEST_MAIN(TestScanHistoryWindow)
#include "tst_scan_history_window.moc"
