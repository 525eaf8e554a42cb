#include "shots/shot_color.h"

#include <cmath>

namespace {

// Components are given as fractions; each one lands on the nearest 8-bit
// level, which is what an 8-bit picture can hold.
QColor srgb(double red, double green, double blue)
{
    const auto level = [](double c) { return int(std::lround(c * 255.0)); };
    return QColor(level(red), level(green), level(blue));
}

} // namespace

QColor color(ShotColor color)
{
    switch (color) {
    case ShotColor::red: return srgb(0.90, 0.16, 0.16);
    case ShotColor::orange: return srgb(0.96, 0.51, 0.09);
    case ShotColor::yellow: return srgb(0.98, 0.80, 0.08);
    case ShotColor::green: return srgb(0.13, 0.70, 0.33);
    case ShotColor::blue: return srgb(0.11, 0.47, 0.94);
    case ShotColor::purple: return srgb(0.58, 0.25, 0.88);
    case ShotColor::white: return srgb(1.00, 1.00, 1.00);
    case ShotColor::black: return srgb(0.09, 0.09, 0.11);
    }
    return srgb(0.90, 0.16, 0.16);
}
