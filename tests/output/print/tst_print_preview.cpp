#include "output/print/PrintPreviewForm.h"

#include "fakes/FakeEcho.h"
#include "fakes/FakeLookup.h"
#include "output/print/PrintEngine.h"
#include "scan/components/ResultGrid.h"
#include "ui/MainForm.h"
#include "ui/MessageBox.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

class TestPrintPreview : public QObject
{
    Q_OBJECT

    MainForm *main = nullptr;
    QTemporaryDir dir;

    void fill(int rows)
    {
        ResultGrid &table = main->Table();
        table.setRows(1 + rows);
        for (int row = 1; row <= rows; ++row) {
            table.setRow(row);
            table.setCol(0);
            table.setText("10.0.0." + QString::number(row));
        }
    }
    PrintPreviewForm *open(int rows)
    {
        fill(rows);
        PrintPreviewForm::Preview(*main);
        PrintPreviewForm *form = PrintPreviewForm::instance();
        return form && QTest::qWaitForWindowExposed(form) ? form : nullptr;
    }
    static QString panels(PrintPreviewForm *form)
    {
        return form->Panel("Zoom")->text() + " / " + form->Panel("Page")->text();
    }
    // Prints the next job to a PDF file and gives back its text.
    QString printed(const std::function<void()> &print)
    {
        const QString file = dir.filePath("job.pdf");
        QFile::remove(file);
        PrintEngine::setNextPrinterSetup([file](QPrinter &printer) {
            printer.setOutputFileName(file);
            return true;
        });
        print();
        QProcess text;
        text.start("pdftotext", {file, "-"});
        text.waitForFinished();
        return QString::fromUtf8(text.readAllStandardOutput());
    }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        MessageBox::setTestMode(true);
        PrintPreviewForm::setClock([] { return QDateTime(QDate(2026, 12, 5), QTime(9, 30)); });
    }
    void init()
    {
        main = new MainForm(std::make_unique<FakeEcho>(), std::make_unique<FakeLookup>());
        main->Starting_IP->setText("10.0.0.1");
        main->Ending_IP->setText("10.0.0.254");
    }
    void cleanup()
    {
        delete main; // takes an open preview window with it
        QVERIFY(!PrintPreviewForm::instance());
        QVERIFY(MessageBox::takeShown().isEmpty());
    }

    void opening_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("nextEnabled");
        QTest::newRow("caption row only") << 0 << false;
        QTest::newRow("one page") << 20 << false;
        QTest::newRow("several pages") << 200 << true;
    }
    void opening()
    {
        QFETCH(int, rows);
        PrintPreviewForm *form = open(rows);
        QVERIFY(form);
        QCOMPARE(form->windowTitle(), "Vantrel Print Preview");
        QCOMPARE(panels(form), "Zoom 100% / Page 1");
        QVERIFY(!form->PrevPageButton->isEnabled());
        QTEST(form->NextPageButton->isEnabled(), "nextEnabled");
        QVERIFY(form->ZoomInButton->isEnabled());
        QVERIFY(form->ZoomOutButton->isEnabled());
        QCOMPARE(form->PrintButton->nextInFocusChain(), form->NextPageButton);
    }

    void pagingToTheEnd()
    {
        PrintPreviewForm *form = open(200);
        QVERIFY(form);
        const int total = form->vsPrint->PageTotal();
        QVERIFY(total >= 3);
        for (int page = 2; page <= total; ++page)
            QTest::mouseClick(form->NextPageButton, Qt::LeftButton);
        QCOMPARE(form->Panel("Page")->text(), "Page " + QString::number(total));
        QVERIFY(!form->NextPageButton->isEnabled());
        QVERIFY(form->PrevPageButton->isEnabled());
        QTest::mouseClick(form->PrevPageButton, Qt::LeftButton);
        QVERIFY(form->NextPageButton->isEnabled());
    }

    void zoomEnds_data()
    {
        QTest::addColumn<bool>("zoomIn");
        QTest::addColumn<int>("presses");
        QTest::addColumn<QString>("end");
        QTest::newRow("out to 50") << false << 10 << "Zoom 50%";
        QTest::newRow("in to 200") << true << 20 << "Zoom 200%";
    }
    void zoomEnds()
    {
        QFETCH(bool, zoomIn);
        QFETCH(int, presses);
        PrintPreviewForm *form = open(5);
        QVERIFY(form);
        QPushButton *button = zoomIn ? form->ZoomInButton : form->ZoomOutButton;
        QPushButton *opposite = zoomIn ? form->ZoomOutButton : form->ZoomInButton;
        for (int i = 0; i < presses; ++i) {
            QVERIFY(button->isEnabled());
            QTest::mouseClick(button, Qt::LeftButton);
        }
        QTEST(form->Panel("Zoom")->text(), "end");
        QVERIFY(!button->isEnabled());
        QTest::mouseClick(opposite, Qt::LeftButton);
        QVERIFY(button->isEnabled());
    }

    void escapeCloses()
    {
        QPointer<PrintPreviewForm> form = open(5);
        QVERIFY(form);
        QTest::keyClick(form->ZoomInButton, Qt::Key_Escape);
        QVERIFY(!PrintPreviewForm::instance());
        QTRY_VERIFY(!form); // unloaded, not just hidden
    }

    void resizeBelowTheBars()
    {
        PrintPreviewForm *form = open(5);
        QVERIFY(form);
        const QRect before = form->vsPrint->geometry();
        form->resize(form->width(), form->StatusBar->height() + form->Toolbar->height() - 5);
        QCOMPARE(form->vsPrint->geometry(), before);
        form->resize(form->width(), 400);
        QCOMPARE(form->vsPrint->geometry().bottom(), form->StatusBar->geometry().top() - 1);
    }

    void previewAreaNotifies()
    {
        PrintPreviewForm *form = open(200);
        QVERIFY(form);
        auto wheel = [form](int delta, Qt::KeyboardModifiers modifiers) {
            QWheelEvent event(QPointF(50, 50), QPointF(50, 50), QPoint(), QPoint(0, delta),
                              Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
            QApplication::sendEvent(form->vsPrint->viewport(), &event);
        };
        wheel(120, Qt::ControlModifier);
        QCOMPARE(panels(form), "Zoom 105% / Page 1");
        QScrollBar *bar = form->vsPrint->verticalScrollBar();
        bar->setValue(bar->maximum());
        wheel(-120, Qt::NoModifier); // past the page's end
        QCOMPARE(panels(form), "Zoom 105% / Page 2");
        QVERIFY(form->PrevPageButton->isEnabled());
    }

    void printFromPreviewKeepsPlace()
    {
        PrintPreviewForm *form = open(200);
        QVERIFY(form);
        QTest::mouseClick(form->NextPageButton, Qt::LeftButton);
        QTest::mouseClick(form->ZoomOutButton, Qt::LeftButton);
        const int total = form->vsPrint->PageTotal();
        const QString text =
            printed([form] { QTest::mouseClick(form->PrintButton, Qt::LeftButton); });
        QCOMPARE(text.count('\f'), total);
        QCOMPARE(PrintPreviewForm::instance(), form);
        QVERIFY(form->isVisible());
        QCOMPARE(panels(form), "Zoom 95% / Page 2");
    }

    void printNowUnloads_data()
    {
        QTest::addColumn<bool>("previewOpen");
        QTest::newRow("no window") << false;
        QTest::newRow("open window") << true;
    }
    void printNowUnloads()
    {
        QFETCH(bool, previewOpen);
        if (previewOpen)
            QVERIFY(open(3));
        fill(200); // an open window is rebuilt with the table as it is now
        const QString text = printed([this] { PrintPreviewForm::PrintNow(*main); });
        QVERIFY(text.count('\f') > 1);
        QVERIFY(text.contains("10.0.0.200"));
        QVERIFY(!PrintPreviewForm::instance());
    }

    void printFailures_data()
    {
        QTest::addColumn<bool>("accept");
        QTest::addColumn<int>("messages");
        QTest::newRow("cancelled") << false << 0;
        QTest::newRow("refused") << true << 1;
    }
    void printFailures()
    {
        QFETCH(bool, accept);
        fill(3);
        PrintEngine::setNextPrinterSetup([accept](QPrinter &printer) {
            printer.setOutputFileName("/nonexistent-folder/report.pdf");
            return accept;
        });
        PrintPreviewForm::PrintNow(*main);
        const auto shown = MessageBox::takeShown();
        QTEST(int(shown.size()), "messages");
        for (const auto &message : shown)
            QCOMPARE(message.icon, MessageBox::Icon::Exclamation);
    }

    void previewAgainRebuilds()
    {
        PrintPreviewForm *form = open(200);
        QVERIFY(form);
        QTest::mouseClick(form->NextPageButton, Qt::LeftButton);
        QTest::mouseClick(form->ZoomInButton, Qt::LeftButton);
        const int total = form->vsPrint->PageTotal();
        fill(20); // the shown document is a snapshot ...
        QCOMPARE(form->vsPrint->PageTotal(), total);
        main->Ending_IP->setText("10.0.0.20");
        PrintPreviewForm::Preview(*main); // ... until the next build
        QCOMPARE(PrintPreviewForm::instance(), form);
        QCOMPARE(form->vsPrint->PageTotal(), 1);
        QCOMPARE(panels(form), "Zoom 100% / Page 1");
        QCOMPARE(form->vsPrint->document().header(), "Vantrel from 10.0.0.1 to 10.0.0.20");
    }
};

QTEST_MAIN(TestPrintPreview)
#include "tst_print_preview.moc"
