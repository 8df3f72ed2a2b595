#include "scan/components/ResultGrid.h"
#include "ui/ExportAction.h"
#include "ui/MessageBox.h"
#include "ui/SaveFileDialog.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

class TestExportAction : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        MessageBox::setTestMode(true);
        SaveFileDialog::setTestMode(true);
    }

    void exportTo_data()
    {
        QTest::addColumn<QString>("typed");   // in the save dialog; "": Cancel
        QTest::addColumn<QString>("old");     // an existing file, longer than any export
        QTest::addColumn<QString>("written"); // "": the export is refused
        const auto row = [](const char *name, const QString &typed, const QString &old,
                            const QString &written) {
            QTest::newRow(name) << typed << old << written;
        };
        row("cancel is silent", {}, {}, {});
        row("typed without extension, old file replaced whole", "subnet", "subnet.txt",
            "subnet.txt");
        row("other extension kept", "subnet.log", {}, "subnet.log");
        row("missing folder", "missing/subnet.csv", {}, {});
        // Root may write anywhere, but no one may create the temporary file beside a name
        // of the longest length allowed.
        const QString longest = QString(251, u'n') + ".csv";
        row("no room beside the old file", longest, longest, {});
    }
    void exportTo()
    {
        QFETCH(QString, typed);
        QFETCH(QString, old);
        QFETCH(QString, written);
        QTemporaryDir dir;
        const QByteArray original(9999, 'x');
        QFile oldFile(dir.filePath(old));
        QVERIFY(old.isEmpty() || (oldFile.open(QIODevice::WriteOnly) && oldFile.write(original)));
        oldFile.close();
        ResultGrid table;
        table.setRows(3);
        QWidget window;
        SaveFileDialog::setNextFileName(typed.isEmpty() ? QString() : dir.filePath(typed));
        ExportAction::run(&window, table, QStringLiteral("10.0.0.1"), QString());
        QCOMPARE(window.cursor().shape(), Qt::ArrowCursor); // the hourglass goes on every path

        QStringList files{written.isEmpty() ? old : written};
        files.removeAll(QString());
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), files);
        QFile file(dir.filePath(files.value(0)));
        const QByteArray data = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), typed.isEmpty() ? 0 : 1);
        if (!written.isEmpty()) {
            QCOMPARE(shown[0].icon, MessageBox::Icon::None);
            QCOMPARE(shown[0].text, "Exported 2 records to " + written);
            QVERIFY(data.startsWith("# Scan from 10.0.0.1 to \r\n") &&
                    data.endsWith("# \r\n,,\r\n,,\r\n"));
        } else if (!typed.isEmpty()) {
            // Says why, names the target and leaves the old file as it was.
            QCOMPARE(shown[0].icon, MessageBox::Icon::Exclamation);
            QVERIFY2(shown[0].text.contains(QDir::toNativeSeparators(dir.filePath(typed))) &&
                         !shown[0].text.contains("Unknown error"),
                     qPrintable(shown[0].text));
            QVERIFY(old.isEmpty() || data == original);
        }
    }
};

QTEST_MAIN(TestExportAction)
#include "tst_export_action.moc"
