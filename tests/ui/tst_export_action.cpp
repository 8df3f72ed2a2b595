// The export as the user meets it, on real files: the name typed in the save dialog, a full
// disk on a small file system of its own, and targets that must not be replaced.
#include "fakes/SmallDisk.h"
#include "scan/components/ResultGrid.h"
#include "ui/ExportAction.h"
#include "widgets/MessageBox.h"
#include "widgets/SaveFileDialog.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

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
        QTest::addColumn<QString>("old");     // what stands at the target before: "" none
        QTest::addColumn<QString>("outcome"); // the .txt file written, or why it is refused
        const auto row = [](const char *name, const char *typed, const char *old,
                            const char *outcome) {
            QTest::newRow(name) << QString(typed) << QString(old) << QString(outcome);
        };
        row("cancel is silent", "", "", "");
        row("typed without extension, old file replaced whole", "subnet", "file", "subnet.txt");
        row("missing folder", "missing/subnet.csv", "", "No such file");
        // A buffered file meets a full disk only when its buffer is written out.
        row("full disk", "subnet.csv", "full disk", "No space left");
        // Refused by the mode bits and the file type, also for root.
        row("read-only file", "subnet.csv", "read-only", "is not writable");
        row("device node", "subnet.csv", "device", "is not a regular file");
    }
    void exportTo()
    {
        QFETCH(QString, typed);
        QFETCH(QString, old);
        QFETCH(QString, outcome);
        const QString written = outcome.endsWith(u".txt") ? outcome : QString();
        QTemporaryDir dir;
        const bool small = old == u"full disk";
        const int rows = small ? 100 : 2; // 100 lines need more than the 4 KB left
        if (const QString why = small ? SmallDisk::mount(dir.path(), 64 * 1024) : QString();
            !why.isEmpty())
            QSKIP(qPrintable(why));
        // Harmless where nothing was mounted.
        const auto unmount = qScopeGuard([&] { SmallDisk::unmount(dir.path()); });
        const QString target = dir.filePath(written.isEmpty() ? typed : written);
        const QByteArray original(9999, 'x');
        if (old == u"device") {
            if (::geteuid() != 0)
                QSKIP("making a device node needs root");
            QCOMPARE(::mknod(qPrintable(target), S_IFCHR | 0666, makedev(1, 7)), 0);
        } else if (!old.isEmpty()) {
            QFile oldFile(target);
            QVERIFY(oldFile.open(QIODevice::WriteOnly) && oldFile.write(original));
            oldFile.close();
            QVERIFY(old != u"read-only" ||
                    oldFile.setPermissions(QFile::ReadOwner | QFile::ReadOther));
        }
        QVERIFY(!small || SmallDisk::fill(dir.path(), 4096));
        const auto entries = [&] {
            return QDir(dir.path())
                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
        };
        const QStringList before = entries();

        const QStringList cells{"10.0.0.1", "1 ms", "a-rather-long-host-name.example.test"};
        const QByteArray line = cells.join(',').toUtf8() + "\r\n";
        ResultGrid table;
        table.setRows(rows + 1);
        for (int cell = 0; cell < rows * 3; ++cell) {
            table.setRow(cell / 3 + 1);
            table.setCol(cell % 3);
            table.setText(cells[cell % 3]);
        }
        QWidget window;
        SaveFileDialog::setNextFileName(typed.isEmpty() ? QString() : dir.filePath(typed));
        ExportAction::run(&window, table, QStringLiteral("10.0.0.1"), QString());
        QCOMPARE(window.cursor().shape(), Qt::ArrowCursor); // the hourglass goes on every path
        // Whatever happened, no temporary file is left behind.
        QCOMPARE(entries(), before);
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), typed.isEmpty() ? 0 : 1);
        if (typed.isEmpty())
            return;
        QFile file(target);
        const QByteArray data =
            old != u"device" && file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        if (!written.isEmpty()) {
            QCOMPARE(shown[0].icon, MessageBox::Icon::None);
            QCOMPARE(shown[0].text, QString("Exported %1 records to %2").arg(rows).arg(written));
            QVERIFY(data.startsWith("# Scan from 10.0.0.1 to \r\n") &&
                    data.endsWith("# \r\n" + line.repeated(rows)));
            return;
        }
        // Says why, names the target and leaves the old one as it was.
        QCOMPARE(shown[0].icon, MessageBox::Icon::Exclamation);
        QVERIFY2(shown[0].text.contains(QDir::toNativeSeparators(target)) &&
                     shown[0].text.contains(outcome),
                 qPrintable(shown[0].text));
        QVERIFY(old.isEmpty() || old == u"device" || data == original);
    }

    // The next export's dialog opens where the last one saved, from the settings store, so
    // also after a restart.
    void nextExportOpensInLastFolder()
    {
        QTemporaryDir dir;
        ResultGrid table;
        QWidget window;
        SaveFileDialog::takeRequests();
        SaveFileDialog::setNextFileName(dir.filePath("first.csv"));
        ExportAction::run(&window, table, QString(), QString());
        ExportAction::run(&window, table, QString(), QString()); // cancelled
        const auto requests = SaveFileDialog::takeRequests();
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests[1].folder + u'/' + requests[1].name, dir.filePath("Vantrel.csv"));
        QCOMPARE(MessageBox::takeShown().size(), 1);
    }
};

QTEST_MAIN(TestExportAction)
#include "tst_export_action.moc"
