#pragma once

#include "shots/shot_preview_parts.h"

#include <QList>

class QWidget;

// The tool strip on the editor's left, `shown` points high: the five tools,
// the colour and weight wells and undo, separated in three groups. The
// editor connects the buttons and paints the wells.
struct ShotToolStrip {
    QWidget* view = nullptr;
    QList<StripButton*> tools;
    StripButton* colorWell = nullptr;
    StripButton* weightWell = nullptr;
    StripButton* undo = nullptr;

    static ShotToolStrip build(QWidget* parent, double shown);
};
