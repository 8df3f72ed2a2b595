#pragma once

#include <QColor>

// Text must stand out from what it is drawn on, whatever palette the desktop hands us:
// luminance and contrast ratio as the web's accessibility guidelines define them, and a
// colour of the wanted hue that reaches a given ratio.
namespace Contrast {

// 4.5:1 is what the guidelines ask of normal-sized text.
inline constexpr double TextMinimum = 4.5;

double luminance(const QColor &color);
double ratio(const QColor &a, const QColor &b);

// `preferred` where it stands out from `background` by `minimum`; otherwise `preferred`
// mixed with white (on a dark background) or black (on a light one), just enough to.
QColor readable(const QColor &preferred, const QColor &background, double minimum = TextMinimum);

} // namespace Contrast
