#include "output/print/PrintPreviewForm.h"
#include "ui/Controls.h"

#include "fakes/SmallDisk.h"
#include "output/print/PrintEngine.h"
#include "scan/components/ResultGrid.h"
#include "widgets/MessageBox.h"

#include <QDir>
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

    QWidget *main = nullptr;
    ResultGrid table;
    PrintEngine *engine = nullptr;
    PrintPreviewForm *form = nullptr;
    QList<QPushButton *> buttons; // Prev, Next, Zoom Out and Zoom In

    // A report of the caption row and this many empty rows (each a line, like an address).
    bool open(int rows)
    {
        main = new QWidget;
        table.setCols(3);
        table.setRows(1 + rows);
        PrintPreviewForm::Preview(main, "10.0.0.1", "10.0.0.9", table);
        if (!(form = PrintPreviewForm::instance()))
            return false;
        engine = control<PrintEngine>(form, "vsPrint");
        buttons = {control<QPushButton>(form, "PrevPageButton"),
                   control<QPushButton>(form, "NextPageButton"),
                   control<QPushButton>(form, "ZoomOutButton"),
                   control<QPushButton>(form, "ZoomInButton")};
        return QTest::qWaitForWindowExposed(form);
    }
    // The status panels, then the buttons as P, N, - and + when enabled, else as dots.
    QString state() const
    {
        QString text = form->Panel("Zoom")->text() + " / " + form->Panel("Page")->text() + " / ";
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

    void pressUntilDisabled_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("button");  // in buttons: Prev, Next, Zoom Out, Zoom In
        QTest::addColumn<QString>("end"); // %1: the page total
        QTest::newRow("caption row only") << 0 << 1 << "Zoom 100% / Page 1 / ..-+";
        QTest::newRow("several pages") << 200 << 0 << "Zoom 100% / Page 1 / .N-+";
        QTest::newRow("to the last page") << 200 << 1 << "Zoom 100% / Page %1 / P.-+";
        QTest::newRow("out to 50") << 5 << 2 << "Zoom 50% / Page 1 / ...+";
        QTest::newRow("in to 200") << 5 << 3 << "Zoom 200% / Page 1 / ..-.";
    }
    void pressUntilDisabled()
    {
        QFETCH(int, rows);
        QFETCH(int, button);
        QFETCH(QString, end);
        QVERIFY(open(rows));
        for (int presses = 0; buttons[button]->isEnabled() && presses < 30; ++presses)
            QTest::mouseClick(buttons[button], Qt::LeftButton);
        QCOMPARE(state(), end.replace("%1", QString::number(engine->PageTotal())));
    }

    // Resized below its bars the page view keeps its place; Esc unloads the window.
    void resizeThenEscape()
    {
        QVERIFY(open(5));
        const QRect before = engine->geometry();
        const QFrame *status = control<QFrame>(form, "StatusBar");
        form->resize(form->width(),
                     status->height() + control<QFrame>(form, "Toolbar")->height() - 5);
        QCOMPARE(engine->geometry(), before);
        form->resize(form->width(), 400);
        QCOMPARE(engine->geometry().bottom(), status->geometry().top() - 1);
        const QPointer<PrintPreviewForm> closing = form;
        QTest::keyClick(buttons[3], Qt::Key_Escape);
        QTRY_VERIFY(!closing); // unloaded, not just hidden
    }

    void printFromPreviewKeepsPlace()
    {
        QVERIFY(open(200));
        QTest::mouseClick(buttons[1], Qt::LeftButton);
        QTest::mouseClick(buttons[2], Qt::LeftButton);
        QTemporaryDir dir;
        PrintEngine::setNextPrinterSetup([&dir](QPrinter &printer) {
            printer.setOutputFileName(dir.filePath("job.pdf"));
            return true;
        });
        QTest::mouseClick(control<QPushButton>(form, "PrintButton"), Qt::LeftButton);
        QProcess text;
        text.start("pdftotext", {dir.filePath("job.pdf"), "-"});
        QVERIFY(text.waitForFinished());
        QCOMPARE(text.readAllStandardOutput().count('\f'), engine->PageTotal());
        QVERIFY(form->isVisible());
        QCOMPARE(state(), "Zoom 95% / Page 2 / PN-+");
    }

    void printOverPdfOnFullDisk()
    {
        QVERIFY(open(200));
        QTemporaryDir dir;
        const QString why = SmallDisk::mount(dir.path(), 512 * 1024);
        if (!why.isEmpty())
            QSKIP(qPrintable(why));
        const auto unmount = qScopeGuard([&] { SmallDisk::unmount(dir.path()); });
        const QString path = dir.filePath("report.pdf");
        const auto printTo = [&] {
            PrintEngine::setNextPrinterSetup([&](QPrinter &printer) {
                printer.setOutputFileName(path);
                return true;
            });
            return engine->PrintAllPages();
        };
        const auto contents = [&] {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        QVERIFY(printTo());
        const QByteArray old = contents();
        QVERIFY(old.startsWith("%PDF") && SmallDisk::fill(dir.path(), 0));
        QVERIFY(!printTo());
        const auto shown = MessageBox::takeShown();
        QVERIFY(shown.size() == 1 && shown[0].text.contains(QDir::toNativeSeparators(path)) &&
                shown[0].text.contains("No space left"));
        QCOMPARE(contents(), old);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"report.pdf"});
    }
};

QTEST_MAIN(TestPrintPreview)
#include "tst_print_preview.moc"
