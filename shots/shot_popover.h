#pragma once

#include "shots/shot_preview_parts.h"

#include <QImage>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <functional>
#include <vector>

class QWidget;

// What the popover of one well of the tool strip offers: round choices in a
// box of `size` points, their frames measured from its bottom left.
struct ShotChoices {
    struct Choice {
        QImage picture;
        QString toolTip;
        QRectF frame;
    };
    // The choices' object names are this followed by their index.
    QString name;
    QSizeF size;
    std::vector<Choice> choices;

    // The eight colours of the colour well and the five line weights of the
    // weight well.
    static ShotChoices colors(const ShotAppearance& look);
    static ShotChoices weights(const ShotAppearance& look);
};

// Shows `choices` in a popover beside `well`'s right edge, centred on its
// middle; `chosen` gets the index of the choice clicked. Like a transient
// popover it closes on a click elsewhere, and it deletes itself when closed.
QWidget* openShotPopover(const ShotChoices& choices, StripButton* well, std::function<void(int)> chosen);
