#pragma once

#include "shots/shot_color.h"
#include "shots/shot_tool.h"
#include "shots/shot_weight.h"

#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>

// One annotation. Points are canvas coordinates: points of the shown image,
// origin at its bottom-left corner, y growing upward.
struct ShotMark {
    ShotTool tool = ShotTool::arrow;
    QPointF from;   // press point; for text, the bottom-left of the text's line
    QPointF to;     // current or release point; (0, 0) for text
    QString text;   // the text of a text mark; empty otherwise
    ShotWeight weight = ShotWeight::normal;
    ShotColor color = ShotColor::red;
    QList<QPointF> path; // the pen's sampled points; empty for other tools

    // The rectangle spanned by `from` and `to` (boxes and blurs).
    QRectF span() const;
    // Whether a finished drag is big enough to keep: a pen needs three
    // samples, everything else a move of 4 points along either axis.
    bool isLargeEnough() const;

    bool operator==(const ShotMark&) const = default;
};
