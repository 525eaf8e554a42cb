#include "shots/shot_tool_strip.h"

#include "core/flipped.h"
#include "shots/shot_preview_layout.h"

namespace {

const char* const toolTips[] = {"Стрелка", "Карандаш", "Рамка", "Замазка", "Текст"};

} // namespace

ShotToolStrip ShotToolStrip::build(QWidget* parent, double shown)
{
    ShotToolStrip strip;
    strip.view = new TonedView(TonedView::Tone::chrome, parent);
    const ShotPreviewLayout::Strip frames = ShotPreviewLayout::strip(shown);
    const auto place = [&](QWidget* widget, const QRectF& frame) {
        widget->setGeometry(flipped(frame, shown).toRect());
    };
    const auto button = [&](const QString& toolTip, const QRectF& frame) {
        auto* made = new StripButton(strip.view);
        made->setToolTip(toolTip);
        place(made, frame);
        return made;
    };

    for (ShotTool tool : allShotTools) {
        const int tag = int(tool);
        StripButton* made = button(QString::fromUtf8(toolTips[tag]), frames.tools[tag]);
        made->setTemplate(toolIcon(tool, 18));
        made->setAccessibleName(made->toolTip());
        strip.tools.append(made);
    }
    place(separatorLine(strip.view), frames.firstSeparator);
    strip.colorWell = button(QStringLiteral("Цвет пометок"), frames.colorWell);
    strip.weightWell = button(QStringLiteral("Толщина линий"), frames.weightWell);
    place(separatorLine(strip.view), frames.secondSeparator);
    strip.undo = button(QStringLiteral("Убрать последнюю пометку (Ctrl+Z)"), frames.undo);
    strip.undo->setTemplate(undoIcon(18));
    strip.undo->setAccessibleName(strip.undo->toolTip());
    return strip;
}
