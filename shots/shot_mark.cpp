#include "shots/shot_mark.h"

#include <algorithm>
#include <cmath>

QRectF ShotMark::span() const
{
    return QRectF(std::min(from.x(), to.x()), std::min(from.y(), to.y()),
                  std::abs(to.x() - from.x()), std::abs(to.y() - from.y()));
}

bool ShotMark::isLargeEnough() const
{
    if (tool == ShotTool::pen)
        return path.size() >= 3;
    return std::abs(to.x() - from.x()) >= 4 || std::abs(to.y() - from.y()) >= 4;
}
