#pragma once

#include <QPaintDevice>

#include <cmath>

// Window designs are measured in twips, 1/1440 inch (15 twips a pixel at 96 dots per inch).
namespace Twips {

inline constexpr int PerInch = 1440;

inline int toPixels(const QPaintDevice &device, int twips)
{
    return static_cast<int>(
        std::lround(static_cast<double>(twips) * device.logicalDpiX() / PerInch));
}

inline int fromPixels(const QPaintDevice &device, int pixels)
{
    const int dpi = device.logicalDpiX() > 0 ? device.logicalDpiX() : 96;
    return static_cast<int>(std::lround(static_cast<double>(pixels) * PerInch / dpi));
}

} // namespace Twips
