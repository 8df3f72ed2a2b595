#include "widgets/WebLauncher.h"

#include "app/Version.h"
#include "widgets/MessageBox.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <optional>

namespace {

// A desktop helper that hangs must not hang the program with it.
constexpr int QueryTimeoutMs = 5000;
// Desktop entries are a few kilobytes; anything far bigger is not one.
constexpr qint64 MaxEntrySize = 256 * 1024;
constexpr qint64 MaxAnswerLength = 1024;

struct Launch
{
    QString program;
    QStringList arguments;
};

// Runs a helper found on PATH and gives the first line of its answer, or "" when it is
// missing, fails or takes too long. Timers and sockets go on meanwhile; user input waits,
// so no second launch can start inside this one.
QString askDesktop(const QString &tool, const QStringList &arguments)
{
    const QString program = QStandardPaths::findExecutable(tool);
    if (program.isEmpty())
        return {};
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(QueryTimeoutMs, &loop, &QEventLoop::quit);
    process.start();
    // A helper that cannot start has already reported so; a quit before exec() would be lost.
    if (process.state() != QProcess::NotRunning)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    // Still running means it hung: the destructor kills it.
    if (process.state() != QProcess::NotRunning || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(process.readLine(MaxAnswerLength)).trimmed();
}

bool isMimeType(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9.+_-]+/[A-Za-z0-9.+_-]+$"));
    return pattern.match(text).hasMatch();
}

// A plain file name: an answer naming a path elsewhere is not taken.
bool isDesktopEntryId(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9._-]+\\.desktop$"));
    return pattern.match(text).hasMatch();
}

// A command line made into a launch with the address as one argument of its own: the
// tokens in addressCodes stand for it, other field codes ("%i", "%c") are dropped, and the
// address goes last when no token stands for it.
std::optional<Launch> launchFor(const QString &command, const QString &address,
                                const QStringList &addressCodes)
{
    QStringList tokens = QProcess::splitCommand(command);
    if (tokens.isEmpty())
        return std::nullopt;
    Launch launch{QStandardPaths::findExecutable(tokens.takeFirst()), {}};
    if (launch.program.isEmpty())
        return std::nullopt;
    bool placed = false;
    for (const QString &token : std::as_const(tokens)) {
        if (addressCodes.contains(token)) {
            if (!placed)
                launch.arguments.append(address);
            placed = true;
        } else if (token.size() != 2 || !token.startsWith(u'%')) {
            launch.arguments.append(token);
        }
    }
    if (!placed)
        launch.arguments.append(address);
    return launch;
}

// $BROWSER: the user's own choice for this session, a colon-separated list of commands.
std::optional<Launch> browserOfEnvironment(const QString &address)
{
    const QStringList commands = qEnvironmentVariable("BROWSER").split(u':', Qt::SkipEmptyParts);
    for (const QString &command : commands) {
        if (auto launch = launchFor(command, address, {QStringLiteral("%s")}))
            return launch;
    }
    return std::nullopt;
}

// The desktop's program for web pages, as the name of its desktop entry: first the one
// that opens a document like our probe, then the handler of web addresses, then the
// desktop's default browser setting.
QString browserEntryOfDesktop()
{
    // Private and removed on every way out of here: nobody can plant or read it.
    QTemporaryFile probe(QDir::tempPath() + QStringLiteral("/vantrel-probe-XXXXXX.htm"));
    const QByteArray page = QByteArrayLiteral("<!DOCTYPE html>\r\n<html></html>\r\n");
    QString probeType;
    if (probe.open() && probe.write(page) == page.size() && probe.flush()) {
        probeType =
            askDesktop(QStringLiteral("xdg-mime"),
                       {QStringLiteral("query"), QStringLiteral("filetype"), probe.fileName()})
                .section(u';', 0, 0)
                .trimmed();
    }
    const QString mime = QStringLiteral("xdg-mime");
    const QString query = QStringLiteral("query");
    const QString byDefault = QStringLiteral("default");
    QList<QStringList> questions;
    // A sniffer that calls the probe anything but a web page would lead to an editor.
    if (isMimeType(probeType) && probeType.contains(QStringLiteral("html")))
        questions.append(QStringList{mime, query, byDefault, probeType});
    questions.append(QStringList{mime, query, byDefault, QStringLiteral("x-scheme-handler/https")});
    questions.append(QStringList{QStringLiteral("xdg-settings"), QStringLiteral("get"),
                                 QStringLiteral("default-web-browser")});
    for (QStringList &question : questions) {
        const QString tool = question.takeFirst();
        const QString entry = askDesktop(tool, question).section(u';', 0, 0).trimmed();
        if (isDesktopEntryId(entry))
            return entry;
    }
    return {};
}

std::optional<Launch> launchOfEntry(const QString &entryId, const QString &address)
{
    const QString path = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, entryId);
    if (path.isEmpty())
        return std::nullopt;
    QFile file(path);
    if (file.size() > MaxEntrySize || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'['))
            inMainGroup = line == QStringLiteral("[Desktop Entry]");
        else if (inMainGroup && line.section(u'=', 0, 0).trimmed() == QStringLiteral("Exec"))
            return launchFor(line.section(u'=', 1), address,
                             {QStringLiteral("%u"), QStringLiteral("%U"), QStringLiteral("%f"),
                              QStringLiteral("%F")});
    }
    return std::nullopt;
}

std::optional<Launch> findBrowser(const QString &address)
{
    if (auto launch = browserOfEnvironment(address))
        return launch;
    const QString entry = browserEntryOfDesktop();
    if (!entry.isEmpty()) {
        if (auto launch = launchOfEntry(entry, address))
            return launch;
    }
    // xdg-open hands the address on to whatever the desktop has chosen.
    return launchFor(QStringLiteral("xdg-open"), address, {});
}

std::function<void(std::int16_t)> &pauseSeam()
{
    static std::function<void(std::int16_t)> pause;
    return pause;
}

bool startDetached(const Launch &launch)
{
    QProcess process;
    process.setProgram(launch.program);
    process.setArguments(launch.arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return process.startDetached();
}

} // namespace

void Globals::Open_Web_Page(QWidget *owner, const QString &address)
{
    const std::optional<Launch> browser = findBrowser(address);
    if (!browser) {
        MessageBox::show(owner, QStringLiteral("Could not find default Browser"),
                         MessageBox::Icon::Exclamation, QMessageBox::Ok,
                         QStringLiteral("Browser Not Found"));
    } else if (!startDetached(*browser)) {
        MessageBox::show(owner, QStringLiteral("Web Page not Opened"),
                         MessageBox::Icon::Exclamation, QMessageBox::Ok,
                         QStringLiteral("URL Failed"));
    }
}

void Globals::Pause_Seconds(std::int16_t seconds)
{
    if (pauseSeam()) {
        pauseSeam()(seconds);
        return;
    }
    if (seconds <= 0)
        return;
    QEventLoop loop;
    QTimer::singleShot(std::chrono::milliseconds(seconds * 1000), Qt::PreciseTimer, &loop,
                       &QEventLoop::quit);
    loop.exec();
}

void Globals::openHelpPage(QWidget *owner, const QString &page)
{
    const QPointer<QWidget> window(owner);
    if (window)
        window->setCursor(Qt::WaitCursor);
    Open_Web_Page(owner, Version::webSite() + page);
    if (window)
        window->unsetCursor();
}

void Globals::setPause(std::function<void(std::int16_t)> pause)
{
    pauseSeam() = std::move(pause);
}
