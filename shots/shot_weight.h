#pragma once

#include <array>

// The five line weights. Each selects three sizes in canvas points.
enum class ShotWeight { hairline, thin, normal, thick, heavy };

inline constexpr std::array<ShotWeight, 5> allShotWeights{
    ShotWeight::hairline, ShotWeight::thin, ShotWeight::normal, ShotWeight::thick, ShotWeight::heavy,
};

// The unit an arrow's outline is measured in (its head is 12 units long).
double arrowUnit(ShotWeight weight);
// The stroke width of pen and box marks.
double lineWidth(ShotWeight weight);
// The font size of text marks and of the open text field.
double textSize(ShotWeight weight);
