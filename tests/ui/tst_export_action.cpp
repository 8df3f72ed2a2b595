#include "scan/components/ResultGrid.h"
#include "ui/ExportAction.h"
#include "ui/MessageBox.h"
#include "ui/SaveFileDialog.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

namespace {

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

class TestExportAction : public QObject
{
    Q_OBJECT

    QTemporaryDir *dir = nullptr;
    QWidget *window = nullptr;
    ResultGrid *table = nullptr;

    QString path(const QString &name) const { return dir->filePath(name); }
    void run() { ExportAction::run(window, *table, QStringLiteral("10.0.0.1"), QString()); }

private Q_SLOTS:
    void initTestCase()
    {
        MessageBox::setTestMode(true);
        SaveFileDialog::setTestMode(true);
    }
    void init()
    {
        dir = new QTemporaryDir;
        window = new QWidget;
        table = new ResultGrid;
        table->setRows(3);
        table->setRow(1);
        table->setText(QStringLiteral("10.0.0.1"));
        table->setRow(2);
        table->setText(QStringLiteral("10.0.0.2"));
    }
    void cleanup()
    {
        QCOMPARE(window->cursor().shape(), Qt::ArrowCursor); // hourglass gone on every path
        delete table;
        delete window;
        delete dir;
        QVERIFY(MessageBox::takeShown().isEmpty());
    }

    void savedName_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("written");
        QTest::addColumn<bool>("existing"); // a longer file of that name is there already
        QTest::newRow("typed without extension") << "subnet"
                                                 << "subnet.txt" << false;
        QTest::newRow("csv kept") << "subnet.csv"
                                  << "subnet.csv" << false;
        QTest::newRow("other extension kept") << "subnet.log"
                                              << "subnet.log" << false;
        QTest::newRow("existing file replaced whole") << "subnet.csv"
                                                      << "subnet.csv" << true;
    }
    void savedName()
    {
        QFETCH(QString, typed);
        QFETCH(QString, written);
        QFETCH(bool, existing);
        QFile old(path(written));
        if (existing)
            QVERIFY(old.open(QIODevice::WriteOnly) && old.write(QByteArray(9999, 'x')) == 9999);
        old.close();
        SaveFileDialog::setNextFileName(path(typed));
        run();
        const QByteArray data = contents(path(written));
        QVERIFY(data.startsWith("# Scan from 10.0.0.1 to \r\n") && data.size() < 200);
        QVERIFY(data.endsWith("# \r\n10.0.0.1,,\r\n10.0.0.2,,\r\n"));
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files), QStringList{written});
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, "Exported 2 records to " + written);
        QCOMPARE(shown[0].title, "Vantrel");
        QCOMPARE(shown[0].icon, MessageBox::Icon::None);
        QCOMPARE(shown[0].buttons, QMessageBox::Ok);
    }

    void cancel()
    {
        SaveFileDialog::setNextFileName(QString());
        run();
        QVERIFY(QDir(dir->path()).isEmpty());
    }

    void unwritableTarget_data()
    {
        QTest::addColumn<QString>("kept");   // an existing file that must stay as it was
        QTest::addColumn<QString>("target"); // under the temporary folder
        QTest::newRow("missing folder") << QString() << "missing/subnet.csv";
        QTest::newRow("folder is a regular file") << "plain"
                                                  << "plain/subnet.csv";
        // Root may write anywhere, but no one may create the temporary file beside a name
        // of the longest length allowed.
        const QString longest = QString(251, u'n') + ".csv";
        QTest::newRow("existing file, no room for its replacement") << longest << longest;
    }
    void unwritableTarget()
    {
        QFETCH(QString, kept);
        QFETCH(QString, target);
        const QByteArray original = "# old export\r\n10.9.9.9,1 ms,\r\n";
        if (!kept.isEmpty()) {
            QFile file(path(kept));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(original);
        }
        SaveFileDialog::setNextFileName(path(target));
        run();
        const auto shown = MessageBox::takeShown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].icon, MessageBox::Icon::Exclamation);
        QCOMPARE(shown[0].title, "Vantrel");
        QVERIFY2(shown[0].text.contains(QDir::toNativeSeparators(path(target))) &&
                     !shown[0].text.contains("Unknown error"),
                 qPrintable(shown[0].text));
        QCOMPARE(QDir(dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 kept.isEmpty() ? QStringList() : QStringList{kept});
        if (!kept.isEmpty())
            QCOMPARE(contents(path(kept)), original);
    }
};

QTEST_MAIN(TestExportAction)
#include "tst_export_action.moc"
