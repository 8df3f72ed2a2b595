#include "widgets/Contrast.h"

#include <algorithm>
#include <cmath>

namespace {

double linear(double channel)
{
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

QColor mixed(const QColor &from, const QColor &to, double share)
{
    const auto channel = [share](int a, int b) {
        return int(std::lround(a + (b - a) * share));
    };
    return QColor(channel(from.red(), to.red()), channel(from.green(), to.green()),
                  channel(from.blue(), to.blue()));
}

} // namespace

double Contrast::luminance(const QColor &color)
{
    const QColor rgb = color.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) +
           0.0722 * linear(rgb.blueF());
}

double Contrast::ratio(const QColor &a, const QColor &b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor Contrast::readable(const QColor &preferred, const QColor &background, double minimum)
{
    const QColor start = preferred.toRgb();
    if (ratio(start, background) >= minimum)
        return start;
    // Towards whichever end the background leaves more room to.
    const QColor end = ratio(Qt::white, background) >= ratio(Qt::black, background)
                           ? QColor(Qt::white)
                           : QColor(Qt::black);
    // The ratio grows with the share mixed in: halve the interval down to a step of 1/256.
    double low = 0;
    double high = 1;
    while (high - low > 1.0 / 256) {
        const double middle = (low + high) / 2;
        (ratio(mixed(start, end, middle), background) >= minimum ? high : low) = middle;
    }
    return mixed(start, end, high);
}
