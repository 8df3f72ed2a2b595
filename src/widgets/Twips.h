#pragma once

#include "scan/components/Twips.h"

#include <QFontMetricsF>
#include <QWidget>

#include <algorithm>
#include <cmath>

// Window designs are measured in twips, 1/1440 inch (15 twips a pixel at 96 dots per inch),
// for an 8-point sans serif whose characters are 6 pixels wide on average and 13 pixels
// high at 96 dots per inch. A wider or taller font scales the whole layout by one factor,
// as the window system's own scaling would, so captions keep their room and nothing moves
// onto its neighbour; a smaller one leaves the design as it is.
namespace Twips {

inline constexpr double DesignCharWidth = 6.0;   // pixels at 96 dots per inch
inline constexpr double DesignCharHeight = 13.0; // pixels at 96 dots per inch

// The layout scale of the window that holds widget, from that window's font.
inline double layoutScale(const QWidget &widget)
{
    const QWidget *window = widget.window();
    const QFontMetricsF metrics(window->font(), window);
    const double perDesignPixel = window->logicalDpiY() > 0 ? window->logicalDpiY() / 96.0 : 1.0;
    const double averageWidth =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                 "abcdefghijklmnopqrstuvwxyz")) /
        52.0;
    return std::max({1.0, averageWidth / (DesignCharWidth * perDesignPixel),
                     metrics.height() / (DesignCharHeight * perDesignPixel)});
}

inline double pixelsPerTwip(const QWidget &widget)
{
    const int dpi = widget.logicalDpiX() > 0 ? widget.logicalDpiX() : 96;
    return dpi * layoutScale(widget) / PerInch;
}

inline int toPixels(const QWidget &widget, int twips)
{
    return static_cast<int>(std::lround(twips * pixelsPerTwip(widget)));
}

inline int fromPixels(const QWidget &widget, int pixels)
{
    return static_cast<int>(std::lround(pixels / pixelsPerTwip(widget)));
}

// Places widget at a design rectangle given in twips, at the layout scale of scaleOf's window.
inline void place(const QWidget &scaleOf, QWidget *widget, int left, int top, int width, int height)
{
    widget->setGeometry(toPixels(scaleOf, left), toPixels(scaleOf, top),
                        toPixels(scaleOf, std::max(0, width)),
                        toPixels(scaleOf, std::max(0, height)));
}

} // namespace Twips
