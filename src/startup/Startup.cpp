#include "startup/Startup.h"

#include "app/ScanSettings.h"
#include "app/SettingsStore.h"
#include "scan/components/EchoControl.h"
#include "scan/components/LookupControl.h"
#include "ui/MainForm.h"
#include "ui/SplashForm.h"

#include <QCoreApplication>

std::unique_ptr<MainForm> Globals::Main(std::unique_ptr<EchoControl> echo,
                                        std::unique_ptr<LookupControl> lookup,
                                        const std::function<ScanSettings()> &loadSettings)
{
    // The drains let a key press close the splash window, or a click open the web site,
    // while start-up goes on regardless. The window system exposes a new window some time
    // after it is shown: the splash waits, a little at most, until it is on the screen.
    constexpr int SplashWaitMs = 1000;
    auto splash = std::make_unique<SplashForm>();
    splash->show();
    QCoreApplication::processEvents();
    splash->showStatus(QStringLiteral("Loading Default Settings ..."), SplashWaitMs);

    auto form = std::make_unique<MainForm>(std::move(echo), std::move(lookup));
    form->applySettings(loadSettings ? loadSettings() : SettingsStore::loadScanSettings());
    splash->clearStatus();
    form->show();
    splash.reset();
    // After the window shows, so that a message about the history has a window to sit on.
    form->openHistory();
    return form;
}
