#pragma once

#include <array>

// The annotation tools, in the order of the editor's tool buttons.
enum class ShotTool {
    arrow, // a filled, tapered arrow from the press point to the release point
    pen,   // a free-hand polyline through the sampled pointer positions
    box,   // a stroked rectangle spanned by the press and release points
    blur,  // a pixelated rectangle spanned by the press and release points
    text,  // one line of text at the click point
};

inline constexpr std::array<ShotTool, 5> allShotTools{
    ShotTool::arrow, ShotTool::pen, ShotTool::box, ShotTool::blur, ShotTool::text,
};
