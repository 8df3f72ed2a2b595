#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

// Runs vantrel-scan as a user would: its own process, no display, and a platform plugin
// name that cannot load, so a program that needed one would fail.
struct ScanProgram
{
    int exitCode = -1;
    QByteArray out, err;

    static void start(QProcess &process, const QStringList &arguments, const QString &wrapper = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("no-such-platform"));
        process.setProcessEnvironment(env);
        const QString program = QStringLiteral(VANTREL_SCAN_PROGRAM);
        if (wrapper.isEmpty()) {
            process.start(program, arguments);
        } else {
            QStringList words = wrapper.split(u' ');
            process.start(words.takeFirst(), words + QStringList{program} + arguments);
        }
    }

    // Arguments as one line of words, as typed at a shell.
    static ScanProgram run(const QString &arguments, const QString &wrapper = {},
                           const QString &stdoutFile = {})
    {
        return run(arguments.split(u' ', Qt::SkipEmptyParts), wrapper, stdoutFile);
    }
    static ScanProgram run(const QStringList &arguments, const QString &wrapper = {},
                           const QString &stdoutFile = {})
    {
        QProcess process;
        if (!stdoutFile.isEmpty())
            process.setStandardOutputFile(stdoutFile);
        start(process, arguments, wrapper);
        ScanProgram result;
        if (!process.waitForFinished(120000)) {
            process.kill();
            process.waitForFinished();
            return result;
        }
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.out = process.readAllStandardOutput();
        result.err = process.readAllStandardError();
        return result;
    }
};
