#include "output/print/PrintPreviewForm.h"
#include "ui/Controls.h"

#include "app/SettingsStore.h"
#include "output/print/PrintEngine.h"
#include "scan/components/ResultGrid.h"
#include "widgets/MessageBox.h"

#include <QLabel>
#include <QPointer>
#include <QPrinter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

// Each test opens the preview of a report of several pages: the caption row and 200 empty
// rows of three columns, each a line like an address.
class TestPrintPreview : public QObject
{
    Q_OBJECT

    QWidget *main = nullptr;
    ResultGrid table;
    PrintPreviewForm *form = nullptr;

    QPushButton *button(const char *name) const { return control<QPushButton>(form, name); }
    void pressUntilDisabled(const char *name)
    {
        for (int presses = 0; button(name)->isEnabled() && presses < 40; ++presses)
            QTest::mouseClick(button(name), Qt::LeftButton);
    }
    // The status panels, then the buttons Prev, Next, Zoom Out and Zoom In as P, N, - and +
    // when enabled, else as dots.
    QString state() const
    {
        QString text = form->Panel("Zoom")->text() + " / " + form->Panel("Page")->text() + " / ";
        const char *names[] = {"PrevPageButton", "NextPageButton", "ZoomOutButton", "ZoomInButton"};
        for (int i = 0; i < 4; ++i)
            text += button(names[i])->isEnabled() ? "PN-+"[i] : '.';
        return text;
    }

private Q_SLOTS:
    void initTestCase()
    {
        MessageBox::setTestMode(true);
        QFile::remove(SettingsStore::fileName("Vantrel")); // no folder printed to yet
    }
    void init()
    {
        main = new QWidget;
        table.setRows(201);
        PrintPreviewForm::Preview(main, "10.0.0.1", "10.0.0.9", table);
        form = PrintPreviewForm::instance();
        QVERIFY(form && QTest::qWaitForWindowExposed(form));
    }
    void cleanup()
    {
        delete std::exchange(main, nullptr); // takes an open preview window with it
        QVERIFY(!PrintPreviewForm::instance());
        QVERIFY(MessageBox::takeShown().isEmpty());
    }

    // Each button stops at its end; Esc unloads the window.
    void browseThenEscape()
    {
        QCOMPARE(state(), "Zoom 100% / Page 1 / .N-+");
        const QString last = QString::number(control<PrintEngine>(form, "vsPrint")->PageTotal());
        pressUntilDisabled("NextPageButton");
        QCOMPARE(state(), "Zoom 100% / Page " + last + " / P.-+");
        pressUntilDisabled("ZoomOutButton");
        QCOMPARE(state(), "Zoom 50% / Page " + last + " / P..+");
        pressUntilDisabled("ZoomInButton");
        QCOMPARE(state(), "Zoom 200% / Page " + last + " / P.-.");

        const QPointer<PrintPreviewForm> closing = form;
        QTest::keyClick(button("PrevPageButton"), Qt::Key_Escape);
        QTRY_VERIFY(!closing); // unloaded, not just hidden
    }

    // Printed from the window, which stays at its page and zoom. The PDF proposed carries the
    // whole range in its name (not cut at the last dot), in the home folder at first and then
    // in the folder last printed to. (What a PDF file meets on the disk is the output files'
    // test.)
    void printFromThePreview()
    {
        PrintPreviewForm::Preview(main, "127.0.2.1", "127.0.2.5", table);
        QTest::mouseClick(button("NextPageButton"), Qt::LeftButton);
        QTest::mouseClick(button("ZoomOutButton"), Qt::LeftButton);
        QTemporaryDir dir;
        QStringList proposed;
        for (const QString &target : {dir.filePath("first.pdf"), QString()}) {
            PrintEngine::setNextPrinterSetup([&](QPrinter &printer) {
                proposed << printer.outputFileName();
                printer.setOutputFileName(target);
                return !target.isEmpty();
            });
            QTest::mouseClick(button("PrintButton"), Qt::LeftButton);
        }
        const QString name = "Vantrel from 127.0.2.1 to 127.0.2.5.pdf";
        QCOMPARE(proposed, QStringList({QDir::home().filePath(name), dir.filePath(name)}));
        QFile file(dir.filePath("first.pdf"));
        QVERIFY(file.open(QIODevice::ReadOnly) && file.read(4) == "%PDF");
        QCOMPARE(state(), "Zoom 95% / Page 2 / PN-+");
    }
};

QTEST_MAIN(TestPrintPreview)
#include "tst_print_preview.moc"
