#include "app/CommandLine.h"
#include "scan/components/AresLookup.h"
#include "scan/components/DeviceNameLookup.h"
#include "scan/components/IcmpEcho.h"
#include "scan/components/NeighbourTable.h"
#include "startup/Startup.h"
#include "ui/MainForm.h"
#include "ui/SplashForm.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // --help and --version are answered before QApplication, which needs a display.
    const auto early = CommandLine::parse(CommandLine::arguments(argc, argv));
    if (early.action == CommandLine::Action::Help || early.action == CommandLine::Action::Version) {
        CommandLine::report(early);
        return early.exitCode;
    }
    QApplication app(argc, argv);
    if (const auto outcome = CommandLine::parse(QApplication::arguments());
        outcome.action != CommandLine::Action::Run) {
        CommandLine::report(outcome);
        return outcome.exitCode;
    }
    QApplication::setWindowIcon(SplashForm::programIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral("vantrel"));
    // Hosts without a DNS name are asked for their own (mDNS, then NetBIOS).
    const auto form =
        Globals::Main(std::make_unique<IcmpEcho>(),
                      std::make_unique<DeviceNameLookup>(std::make_unique<AresLookup>()));
    form->setNeighbours(std::make_unique<NeighbourTable>());
    return app.exec();
}
