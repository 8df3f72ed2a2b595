#pragma once

#include <QString>

#include <cstdint>
#include <functional>

class QWidget;

// Shared routines of the windows: opening product web pages in the user's browser (found
// from the session and the desktop's settings), and a pause that keeps the windows alive.
namespace Globals {

// Opens address in the user's default web browser, the address being the browser's one
// argument. Failures are told to the user in a message box over owner; the caller goes on.
void Open_Web_Page(QWidget *owner, const QString &address);

// Returns after the given number of seconds; until then events are handled as usual, so
// windows repaint and react and timers fire.
void Pause_Seconds(std::int16_t seconds);

// Test seam: Pause_Seconds hands its seconds to `pause` instead of waiting; empty restores
// the real pause.
void setPause(std::function<void(std::int16_t)> pause);

// A help-menu web entry: opens the product web site's page (a path such as "/FAQ.htm")
// with the hourglass over owner while the browser is being found and started.
void openHelpPage(QWidget *owner, const QString &page);

} // namespace Globals
