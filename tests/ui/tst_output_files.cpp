// Every place that writes a file the user chose, each on the same real targets: File >
// Export, the comparison's export, printing to a PDF file and vantrel-scan -o. A full disk on
// a small file system of its own, device nodes, read-only files, links planted by another
// user in a shared sticky folder, and names as long as the file system allows.
#include "cli/ScanProgram.h"
#include "fakes/SmallDisk.h"
#include "output/print/PrintEngine.h"
#include "scan/components/ResultGrid.h"
#include "ui/CompareForm.h"
#include "ui/ExportAction.h"
#include "widgets/MessageBox.h"
#include "widgets/SaveFileDialog.h"

#include <QDir>
#include <QDirIterator>
#include <QPrinter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// The writers, as the table's rows name them: what a file of each begins with, and whether
// a save dialog adds a missing extension.
enum Writer
{
    Export,
    Comparison,
    Pdf,
    Scanner
};
struct WriterKind
{
    const char *name;
    const char *extension;
    QByteArray begins;
    bool dialog;
};
const WriterKind Writers[] = {{"export", "txt", "# Scan from 10.0.0.1 to \r\n", true},
                              {"comparison", "csv", "# Previous scan from 10.0.0.1", true},
                              {"pdf", "pdf", "%PDF", false},
                              {"vantrel-scan", "csv", "# Scan from 127.0.0.1 to", false}};

constexpr uid_t OtherUser = 1000; // owns the shared folder and the file links aim at

// Runs a command as the user and group of that number, as another person on the machine would.
bool runAs(const QString &user, const QStringList &command)
{
    return QProcess::execute(u"setpriv"_s, QStringList{u"--reuid="_s + user, u"--regid="_s + user,
                                                       u"--clear-groups"_s} +
                                               command) == 0;
}

QByteArray bytesOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A file's bytes, owner and mode, to see that it was left alone.
QString fingerprint(const QString &path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return u"none"_s;
    return u"%1 %2 %3"_s.arg(st.st_uid)
        .arg(st.st_mode, 0, 8)
        .arg(QString::fromLatin1(bytesOf(path).toHex()));
}

} // namespace

class TestOutputFiles : public QObject
{
    Q_OBJECT

    QTemporaryDir m_history; // vantrel-scan's, to see whether a run scanned

    struct Outcome
    {
        bool written = false;
        QString message; // the box's text or standard error; "" none
    };

    // Writes a small table, its comparison or its report to `path` the way a user does.
    Outcome write(Writer writer, const QString &path)
    {
        ResultGrid table;
        table.setRows(3);
        for (int cell = 0; cell < 6; ++cell) {
            table.setRow(cell / 3 + 1);
            table.setCol(cell % 3);
            table.setText(QStringList{"10.0.0.1", "1 ms", "host.example.test"}[cell % 3]);
        }
        QWidget window;
        Outcome outcome;
        if (writer == Scanner) {
            const ScanProgram run = ScanProgram::run(u"-n -c 1 -o %1 127.0.0.1"_s.arg(path));
            return {run.exitCode == 0, QString::fromLocal8Bit(run.err)};
        }
        SaveFileDialog::setNextFileName(path);
        if (writer == Export) {
            ExportAction::run(&window, table, u"10.0.0.1"_s, QString());
        } else if (writer == Comparison) {
            CompareForm form(&window);
            ScanRecord then;
            then.firstAddress = u"10.0.0.1"_s;
            then.lastAddress = u"10.0.0.9"_s;
            ScanRecord now = then;
            now.rows = {{u"10.0.0.1"_s, u"1 ms"_s, u"host.example.test"_s}};
            form.showChanges(then, now);
            form.Export_Button_Click();
        } else {
            PrintEngine engine(&window);
            engine.BeginDocument();
            engine.RenderGrid(table);
            engine.EndDocument();
            PrintEngine::setNextPrinterSetup([&](QPrinter &printer) {
                printer.setOutputFormat(QPrinter::PdfFormat);
                printer.setOutputFileName(path);
                return true;
            });
            outcome.written = engine.PrintAllPages();
        }
        const auto shown = MessageBox::takeShown();
        if (!shown.isEmpty()) {
            outcome.message = shown[0].text;
            outcome.written = shown[0].icon == MessageBox::Icon::None;
        }
        return outcome;
    }

private Q_SLOTS:
    void initTestCase()
    {
        MessageBox::setTestMode(true);
        SaveFileDialog::setTestMode(true);
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_history.path()));
    }

    void writers_data()
    {
        QTest::addColumn<int>("writer");
        QTest::addColumn<QString>("typed");   // the name chosen, in the folder; "" cancel
        QTest::addColumn<QString>("setup");   // what stands there before
        QTest::addColumn<QString>("lands");   // the file written, or that must stay as it was
        QTest::addColumn<QString>("outcome"); // "written", or part of why it is refused
        const QString longName(255 - 4, u'n');
        for (int w = Export; w <= Scanner; ++w) {
            const WriterKind &kind = Writers[w];
            const QString name = u"out."_s + kind.extension;
            const auto row = [&](const char *what, const QString &typed, const char *setup,
                                 const QString &lands, const QString &outcome) {
                QTest::addRow("%s: %s", kind.name, what)
                    << w << typed << QString(setup) << lands << outcome;
            };
            if (kind.dialog) {
                row("cancel is silent", {}, "", {}, {});
                row("typed without extension", u"out"_s, "old file", name, u"written"_s);
            }
            row("old file replaced whole", name, "old file", name, u"written"_s);
            row("name as long as a name can be", longName + u'.' + kind.extension, "", {},
                u"written"_s);
            row("missing folder", u"missing/"_s + name, "", {}, u"No such file"_s);
            // A buffered file meets a full disk only when its buffer is written out.
            row("full disk", name, "full disk", name, u"No space left"_s);
            // Refused by the mode bits and the file type, also for root; the scanner writes
            // to a device as it is (this one is always full).
            row("read-only file", name, "read-only", name, u"is not writable"_s);
            row("device node", name, "device", {},
                w == Scanner ? u"No space left"_s : u"is not a regular file"_s);
            // The shared folder belongs to the other user; links there are followed only
            // when they are ours or the folder owner's, and never to make a file.
            const QString shared = u"shared/"_s + name;
            row("link planted by nobody", shared, "nobody's link", u"victim"_s,
                u"is a link that another user made in the shared folder"_s);
            row("dangling link planted by nobody", shared, "nobody's dangling link",
                u"made-by-link"_s, u"is a link that another user made in the shared folder"_s);
            row("folder link planted by nobody", u"shared/folder/"_s + name, "nobody's folder link",
                name, u"is a link that another user made in the shared folder"_s);
            row("own link in the shared folder", shared, "own link", u"linked"_s, u"written"_s);
            row("folder owner's link", shared, "folder owner's link", u"linked"_s, u"written"_s);
            row("own dangling link", name, "own dangling link", u"made-by-link"_s,
                u"which does not exist; no file is made through a link"_s);
            row("another user's file in the shared folder", shared, "nobody's file", shared,
                u"belongs to another user in the shared folder"_s);
        }
    }
    void writers()
    {
        QFETCH(int, writer);
        QFETCH(QString, typed);
        QFETCH(QString, setup);
        QFETCH(QString, lands);
        QFETCH(QString, outcome);
        if (::geteuid() != 0)
            QSKIP("other users' files, device nodes and small disks need root");
        QTemporaryDir dir;
        if (setup == u"full disk") {
            if (const QString why = SmallDisk::mount(dir.path(), 64 * 1024); !why.isEmpty())
                QSKIP(qPrintable(why));
        }
        const auto unmount = qScopeGuard([&] { SmallDisk::unmount(dir.path()); });
        const auto path = [&](const QString &name) {
            return dir.filePath(name);
        };
        const QByteArray original(9999, 'x');
        const auto own = [&](const QString &name, uid_t owner, mode_t mode) {
            const QByteArray native = QFile::encodeName(path(name));
            return ::chown(native.constData(), owner, owner) == 0 &&
                   ::chmod(native.constData(), mode) == 0;
        };
        const auto make = [&](const QString &name, const QByteArray &bytes, uid_t owner = 0,
                              mode_t mode = 0644) {
            QFile file(path(name));
            return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() &&
                   own(name, owner, mode);
        };
        // Others must reach the shared folder; the other user's file is theirs alone.
        QVERIFY(own({}, 0, 0755) && QDir(dir.path()).mkdir(u"shared"_s) &&
                own(u"shared"_s, OtherUser, 01777));
        QVERIFY(make(u"victim"_s, "the other user's own\n", OtherUser, 0600));
        QVERIFY(make(u"linked"_s, original));
        // Who makes the link, by the set-up's name.
        const QHash<QString, QString> linkMaker{{u"nobody's link"_s, u"65534"_s},
                                                {u"nobody's dangling link"_s, u"65534"_s},
                                                {u"own link"_s, u"0"_s},
                                                {u"own dangling link"_s, u"0"_s},
                                                {u"folder owner's link"_s, u"1000"_s}};
        if (setup == u"old file" || setup == u"full disk" || setup == u"read-only")
            QVERIFY(make(lands, original, 0, setup == u"read-only" ? 0444 : 0644));
        else if (setup == u"device")
            QCOMPARE(
                ::mknod(QFile::encodeName(path(typed)).constData(), S_IFCHR | 0666, makedev(1, 7)),
                0);
        else if (linkMaker.contains(setup))
            QVERIFY(runAs(linkMaker[setup], {u"ln"_s, u"-s"_s, path(lands), path(typed)}));
        else if (setup == u"nobody's folder link")
            QVERIFY(make(lands, "the other user's own\n", OtherUser, 0600) &&
                    runAs(u"65534"_s, {u"ln"_s, u"-s"_s, dir.path(), path(u"shared/folder"_s)}));
        else if (setup == u"nobody's file")
            QVERIFY(runAs(u"65534"_s, {u"cp"_s, path(u"linked"_s), path(typed)}));
        QVERIFY(setup != u"full disk" || SmallDisk::fill(dir.path(), 0));
        const auto entries = [&] {
            QStringList names;
            for (QDirIterator it(dir.path(),
                                 QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System |
                                     QDir::Hidden,
                                 QDirIterator::Subdirectories);
                 it.hasNext();)
                names << it.next();
            names.sort();
            return names;
        };
        const QStringList before = entries();
        const QString kept = lands.isEmpty() ? QString() : fingerprint(path(lands));
        const bool historyBefore = !QDir(m_history.path()).isEmpty();

        const Outcome got = write(Writer(writer), typed.isEmpty() ? QString() : path(typed));
        const bool written = outcome == u"written";
        QVERIFY2(got.written == written, qPrintable(got.message));
        // A target that cannot be written is found before the scan, which is recorded; only
        // a full disk (or device) shows when the rows are written.
        if (writer == Scanner)
            QCOMPARE(!QDir(m_history.path()).isEmpty(),
                     historyBefore || written || outcome.startsWith(u"No space"));
        // Whatever happened, no temporary file is left behind.
        const QString file = path(lands.isEmpty() ? typed : lands);
        QStringList after = entries();
        if (written && !before.contains(file))
            after.removeOne(file);
        QCOMPARE(after, before);
        if (typed.isEmpty()) {
            QCOMPARE(got.message, QString());
        } else if (!written) {
            // Says why, names the target and leaves whatever stood there as it was.
            QVERIFY2(got.message.contains(outcome) &&
                         got.message.contains(QDir::toNativeSeparators(path(typed))),
                     qPrintable(got.message));
            QVERIFY(lands.isEmpty() || fingerprint(path(lands)) == kept);
        } else {
            QVERIFY2(bytesOf(file).startsWith(Writers[writer].begins), qPrintable(file));
            QVERIFY(!setup.contains(u"link") || QFileInfo(path(typed)).isSymLink());
            QVERIFY(writer != Export || got.message.startsWith(u"Exported 2 records to "_s));
        }
    }

    // The writers above are all there are: nothing else in the program opens a file to
    // write but AtomicFile, and the scanner's output to standard output or a device. The
    // print engine only proposes a name to the print dialog; it prints through AtomicFile.
    void noOtherWriters()
    {
        static const QRegularExpression writes(
            u"QSaveFile|WriteOnly|ReadWrite|O_WRONLY|O_RDWR|fopen|ofstream|setOutputFileName"_s);
        const QDir sources(QStringLiteral(VANTREL_SOURCE_DIR));
        QStringList found;
        for (QDirIterator it(sources.path(), {u"*.cpp"_s, u"*.h"_s}, QDir::Files,
                             QDirIterator::Subdirectories);
             it.hasNext();) {
            const QString file = it.next();
            if (QString::fromUtf8(bytesOf(file)).contains(writes))
                found << sources.relativeFilePath(file);
        }
        found.sort();
        QCOMPARE(found,
                 (QStringList{u"cli/OutputTarget.cpp"_s, u"output/print/PrintEngine.cpp"_s}));
    }

    // The next export's dialog opens where the last one saved, from the settings store, so
    // also after a restart.
    void nextExportOpensInLastFolder()
    {
        QTemporaryDir dir;
        ResultGrid table;
        QWidget window;
        SaveFileDialog::setTestMode(true); // no name left over from the writers above
        SaveFileDialog::setNextFileName(dir.filePath("first.csv"));
        ExportAction::run(&window, table, QString(), QString());
        ExportAction::run(&window, table, QString(), QString()); // cancelled
        const auto requests = SaveFileDialog::takeRequests();
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests[1].folder + u'/' + requests[1].name, dir.filePath("Vantrel.csv"));
        QCOMPARE(MessageBox::takeShown().size(), 1);
    }
};

QTEST_MAIN(TestOutputFiles)
#include "tst_output_files.moc"
