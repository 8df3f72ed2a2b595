#pragma once

#include <QRect>
#include <QSize>
#include <QString>

class QWidget;

// Windows that fit the screen they are on, and windows that come back where the user left
// them. Sizes are the windows' inner sizes, in the widgets' own (device-independent) pixels.
namespace WindowPlacement {

// What windows may cover on the screen of `window` (the primary screen before it is shown).
QRect availableArea(const QWidget *window);
// The room the window system's frame takes around the inner area: the real one once shown,
// else an estimate from the font (title bar and borders).
QSize frameAllowance(const QWidget *window);
// The largest inner size `window` may have so that it and its frame fit `availableArea`.
QSize largestInnerSize(const QWidget *window);

// Resizes `window` to `wanted`, or as much of it as fits the screen; a shown window is also
// moved wholly onto its screen's available area.
void fitOnScreen(QWidget *window, QSize wanted);
// Moves a shown window wholly onto its screen's available area, shrinking it where needed.
void keepOnScreen(QWidget *window);

// The window's place, size and state, kept in the settings store under `name` (a
// top-level window's geometry as Qt saves it, as base64 text). restore() puts it back onto
// a screen that is there now; false when nothing usable was kept.
void remember(const QWidget *window, const QString &name);
bool restore(QWidget *window, const QString &name);

} // namespace WindowPlacement
