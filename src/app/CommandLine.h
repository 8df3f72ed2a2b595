#pragma once

#include <QString>
#include <QStringList>

// The window program's command line. It takes no settings (those live in the settings
// store); it answers --help and --version and refuses anything else it does not know. Qt's
// own options (-platform, -style ...) are taken out by QApplication before the second look.
namespace CommandLine {

enum class Action
{
    Run,
    Help,
    Version,
    Refuse
};

struct Outcome
{
    Action action = Action::Run;
    // Help and version text for standard output, or the refusal for standard error.
    QString text;
    int exitCode = 0;
};

Outcome parse(const QStringList &arguments);

// The arguments as typed, for a look before QApplication exists.
QStringList arguments(int argc, char *argv[]);

// Prints the outcome's text where it belongs.
void report(const Outcome &outcome);

} // namespace CommandLine
