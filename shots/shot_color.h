#pragma once

#include <QColor>

#include <array>

// The eight ink colours offered by the editor, in the order of its palette.
enum class ShotColor { red, orange, yellow, green, blue, purple, white, black };

inline constexpr std::array<ShotColor, 8> allShotColors{
    ShotColor::red,  ShotColor::orange, ShotColor::yellow, ShotColor::green,
    ShotColor::blue, ShotColor::purple, ShotColor::white,  ShotColor::black,
};

// The opaque sRGB colour a mark of this colour is drawn with.
QColor color(ShotColor color);
