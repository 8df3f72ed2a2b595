#include "app/SettingsStore.h"
#include "app/Version.h"
#include "cli/ScanOptions.h"
#include "cli/ScanRun.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    // A reader that went away (a closed pipe) is a write failure with a message, not a
    // silent death.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    const ScanOptions::Parsed parsed =
        ScanOptions::parse(app.arguments().mid(1), SettingsStore::loadScanSettings());
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
