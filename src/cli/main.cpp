#include "app/SettingsStore.h"
#include "app/Version.h"
#include "cli/ScanOptions.h"
#include "cli/ScanRun.h"

#include <QCoreApplication>
#include <QFile>

#include <csignal>
#include <cstdio>
#include <unistd.h>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    // A reader that goes away (a closed pipe) shows as EPIPE on the next write, so that the
    // scan can stop and the history keep it before the program ends as SIGPIPE would end it.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QFile standardInput;
    standardInput.open(STDIN_FILENO, QIODevice::ReadOnly);
    const ScanOptions::Parsed parsed = ScanOptions::parse(
        app.arguments().mid(1), SettingsStore::loadScanSettings(), &standardInput);
    switch (parsed.outcome) {
    case ScanOptions::Outcome::Help:
        std::fputs(ScanOptions::helpText().toLocal8Bit().constData(), stdout);
        return std::fflush(stdout) == 0 ? 0 : ScanRun::OutputFailed;
    case ScanOptions::Outcome::Version:
        std::printf("vantrel-scan (%s) %s\n", qPrintable(Version::fileDescription()),
                    qPrintable(Version::text()));
        return std::fflush(stdout) == 0 ? 0 : ScanRun::OutputFailed;
    case ScanOptions::Outcome::Refused:
        ScanRun::message(parsed.error + u"\nTry 'vantrel-scan --help'."_s);
        return ScanRun::BadUsage;
    case ScanOptions::Outcome::Run:
        break;
    }
    return ScanRun(parsed.options).exec();
}
