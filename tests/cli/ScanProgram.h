#pragma once

#include <QProcess>

// Runs vantrel-scan as a user would: its own process, no display, and a platform plugin
// name that cannot load, so a program that needed one would fail.
struct ScanProgram
{
    int exitCode = -1; // also for a crash or a run that did not end
    QByteArray out, err;

    // `runner` is a command that runs the program, such as setpriv with its options.
    static void start(QProcess &process, const QStringList &arguments,
                      const QStringList &runner = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("no-such-platform"));
        process.setProcessEnvironment(env);
        const QStringList command = runner + QStringList{QStringLiteral(VANTREL_SCAN_PROGRAM)};
        process.start(command.first(), command.mid(1) + arguments);
    }

    // Arguments as one line of words, as typed at a shell; standard output goes to
    // `stdoutFile` if given.
    static ScanProgram run(const QString &arguments, const QString &stdoutFile = {},
                           const QStringList &runner = {})
    {
        QProcess process;
        process.setStandardOutputFile(stdoutFile); // an empty name keeps it for reading
        start(process, arguments.split(u' ', Qt::SkipEmptyParts), runner);
        const bool ended =
            process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit;
        return {ended ? process.exitCode() : -1, process.readAllStandardOutput(),
                process.readAllStandardError()};
    }
};
