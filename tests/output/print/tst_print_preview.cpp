#include "output/print/PrintPreviewForm.h"

#include "fakes/FakeEcho.h"
#include "fakes/FakeLookup.h"
#include "output/print/PrintEngine.h"
#include "scan/components/ResultGrid.h"
#include "ui/MainForm.h"
#include "ui/MessageBox.h"

#include <QLabel>
#include <QPointer>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestPrintPreview : public QObject
{
    Q_OBJECT

    MainForm *main = nullptr;
    PrintPreviewForm *form = nullptr;

    bool open(int rows)
    {
        main = new MainForm(std::make_unique<FakeEcho>(), std::make_unique<FakeLookup>());
        main->Table().setRows(1 + rows);
        for (int row = 1; row <= rows; ++row) {
            main->Table().setRow(row);
            main->Table().setText("10.0.0." + QString::number(row));
        }
        PrintPreviewForm::Preview(*main);
        form = PrintPreviewForm::instance();
        return form && QTest::qWaitForWindowExposed(form);
    }
    // The status panels, then the buttons Prev, Next, Zoom Out and Zoom In as P, N, - and +
    // when enabled, else as dots.
    QString state() const
    {
        QString text = form->Panel("Zoom")->text() + " / " + form->Panel("Page")->text() + " / ";
        const QPushButton *buttons[] = {form->PrevPageButton, form->NextPageButton,
                                        form->ZoomOutButton, form->ZoomInButton};
        for (int i = 0; i < 4; ++i)
            text += buttons[i]->isEnabled() ? "PN-+"[i] : '.';
        return text;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        MessageBox::setTestMode(true);
    }
    void cleanup()
    {
        delete std::exchange(main, nullptr); // takes an open preview window with it
        QVERIFY(!PrintPreviewForm::instance());
        QVERIFY(MessageBox::takeShown().isEmpty());
    }

    void paging_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("states"); // at opening | at the last page, %1
        QTest::newRow("caption row only")
            << 0 << "Zoom 100% / Page 1 / ..-+ | Zoom 100% / Page 1 / ..-+";
        QTest::newRow("several pages")
            << 200 << "Zoom 100% / Page 1 / .N-+ | Zoom 100% / Page %1 / P.-+";
    }
    void paging()
    {
        QFETCH(int, rows);
        QFETCH(QString, states);
        QVERIFY(open(rows));
        QCOMPARE(form->windowTitle(), "Vantrel Print Preview");
        const QString opened = state();
        const int total = form->vsPrint->PageTotal();
        QCOMPARE(total >= 3, rows > 0);
        for (int page = 2; page <= total; ++page)
            QTest::mouseClick(form->NextPageButton, Qt::LeftButton);
        QCOMPARE(opened + " | " + state(), states.replace("%1", QString::number(total)));
    }

    void zoomEnds_data()
    {
        QTest::addColumn<bool>("zoomIn");
        QTest::addColumn<QString>("end");
        QTest::newRow("out to 50") << false << "Zoom 50% / Page 1 / ...+";
        QTest::newRow("in to 200") << true << "Zoom 200% / Page 1 / ..-.";
    }
    void zoomEnds()
    {
        QFETCH(bool, zoomIn);
        QVERIFY(open(5));
        QPushButton *button = zoomIn ? form->ZoomInButton : form->ZoomOutButton;
        for (int presses = 0; button->isEnabled() && presses < 30; ++presses)
            QTest::mouseClick(button, Qt::LeftButton);
        QTEST(state(), "end");
    }

    void escapeCloses()
    {
        QVERIFY(open(5));
        const QPointer<PrintPreviewForm> closing = form;
        QTest::keyClick(form->ZoomInButton, Qt::Key_Escape);
        QTRY_VERIFY(!closing); // unloaded, not just hidden
    }

    void resizeBelowTheBars()
    {
        QVERIFY(open(5));
        const QRect before = form->vsPrint->geometry();
        form->resize(form->width(), form->StatusBar->height() + form->Toolbar->height() - 5);
        QCOMPARE(form->vsPrint->geometry(), before);
        form->resize(form->width(), 400);
        QCOMPARE(form->vsPrint->geometry().bottom(), form->StatusBar->geometry().top() - 1);
    }

    void printFromPreviewKeepsPlace()
    {
        QVERIFY(open(200));
        QTest::mouseClick(form->NextPageButton, Qt::LeftButton);
        QTest::mouseClick(form->ZoomOutButton, Qt::LeftButton);
        QTemporaryDir dir;
        const QString file = dir.filePath("job.pdf");
        PrintEngine::setNextPrinterSetup([file](QPrinter &printer) {
            printer.setOutputFileName(file);
            return true;
        });
        QTest::mouseClick(form->PrintButton, Qt::LeftButton);
        QProcess text;
        text.start("pdftotext", {file, "-"});
        QVERIFY(text.waitForFinished());
        QCOMPARE(text.readAllStandardOutput().count('\f'), form->vsPrint->PageTotal());
        QVERIFY(form->isVisible());
        QCOMPARE(state(), "Zoom 95% / Page 2 / PN-+");
    }
};

QTEST_MAIN(TestPrintPreview)
#include "tst_print_preview.moc"
