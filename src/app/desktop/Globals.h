#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class EchoControl;
class LookupControl;
class MainForm;
class QWidget;
struct ScanSettings;

// Shared routines of the windows: opening product web pages in the user's browser, and a
// pause that keeps the windows alive.
namespace Globals {

// The program's start-up: the splash window while the six scan settings are read from the
// user's store (or by loadSettings, when given) into their homes, then the main window,
// shown, with the given controls.
std::unique_ptr<MainForm> Main(std::unique_ptr<EchoControl> echo,
                               std::unique_ptr<LookupControl> lookup,
                               const std::function<ScanSettings()> &loadSettings = {});

// Opens address in the user's default web browser, the address being the browser's one
// argument. Failures are told to the user in a message box over owner; the caller goes on.
void Open_Web_Page(QWidget *owner, const QString &address);

// Returns after the given number of seconds; until then events are handled as usual, so
// windows repaint and react and timers fire.
void Pause_Seconds(std::int16_t seconds);

// A help-menu web entry: opens the product web site's page (a path such as "/FAQ.htm")
// with the hourglass over owner while the browser is being found and started.
void openHelpPage(QWidget *owner, const QString &page);

} // namespace Globals
