#include "shots/shot_popover.h"

#include "core/flipped.h"
#include "shots/shot_color.h"
#include "shots/shot_preview_layout.h"
#include "shots/shot_weight.h"

namespace Layout = ShotPreviewLayout;

namespace {

const char* const colorTips[] = {"Красный", "Оранжевый", "Жёлтый", "Зелёный",
                                 "Синий", "Фиолетовый", "Белый", "Чёрный"};
const char* const weightTips[] = {"Волосок", "Тонко", "Обычно", "Толсто", "Очень толсто"};

} // namespace

ShotChoices ShotChoices::colors(const ShotAppearance& look)
{
    ShotChoices colors{QStringLiteral("color"), Layout::colorPopoverSize, {}};
    for (int i = 0; i < int(allShotColors.size()); ++i) {
        colors.choices.push_back({wellImage(26, color(allShotColors[i]), std::nullopt, false, look),
                                  QString::fromUtf8(colorTips[i]), Layout::colorChoiceFrame(i)});
    }
    return colors;
}

ShotChoices ShotChoices::weights(const ShotAppearance& look)
{
    ShotChoices weights{QStringLiteral("weight"), Layout::weightPopoverSize, {}};
    for (int i = 0; i < int(allShotWeights.size()); ++i) {
        weights.choices.push_back({wellImage(26, Qt::white, lineWidth(allShotWeights[i]), false, look),
                                   QString::fromUtf8(weightTips[i]), Layout::weightChoiceFrame(i)});
    }
    return weights;
}

QWidget* openShotPopover(const ShotChoices& choices, StripButton* well, std::function<void(int)> chosen)
{
    // A popup closes itself on a click elsewhere, as a transient popover does.
    auto* popup = new TonedView(TonedView::Tone::chrome, well->window());
    popup->setWindowFlags(Qt::Popup | Qt::FramelessWindowHint);
    popup->setAttribute(Qt::WA_DeleteOnClose);
    popup->setObjectName(QStringLiteral("popover"));
    auto* content = new QWidget(popup);
    content->setFixedSize(choices.size.toSize());
    content->move(0, 0);
    for (int i = 0; i < int(choices.choices.size()); ++i) {
        const ShotChoices::Choice& each = choices.choices[i];
        auto* choice = new StripButton(content);
        choice->setObjectName(choices.name + QString::number(i));
        choice->setPicture(each.picture);
        choice->setToolTip(each.toolTip);
        choice->setGeometry(flipped(each.frame, choices.size.height()).toRect());
        QObject::connect(choice, &StripButton::clicked, popup, [chosen, i] { chosen(i); });
    }
    popup->setFixedSize(content->size());
    // Beside the well's right edge, centred on its middle.
    const QPoint anchor = well->mapToGlobal(QPoint(well->width(), well->height() / 2));
    popup->move(anchor + QPoint(4, -popup->height() / 2));
    popup->show();
    return popup;
}
