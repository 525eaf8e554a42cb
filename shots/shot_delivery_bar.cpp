#include "shots/shot_delivery_bar.h"

#include "core/flipped.h"
#include "shots/shot_preview_layout.h"
#include "shots/shot_preview_parts.h"

#include <QFont>
#include <QLabel>
#include <QPushButton>

namespace Layout = ShotPreviewLayout;

QWidget* buildDeliveryBar(QWidget* parent, QSize pixels, double imageWidth, double width,
                          std::function<void(Screenshot::Destination)> chosen)
{
    auto* bar = new TonedView(TonedView::Tone::chrome, parent);
    auto* size = new QLabel(Layout::sizeLabel(pixels, imageWidth), bar);
    size->setObjectName(QStringLiteral("sizeLabel"));
    QFont font = size->font();
    font.setPixelSize(11);
    size->setFont(font);
    followAppearance(size, QPalette::WindowText, &ShotAppearance::tertiaryLabel);
    size->setGeometry(flipped(QRectF(20, 24, 160, 16), Layout::barHeight).toRect());

    const Screenshot::Destination destinations[] = {Screenshot::Destination::file, Screenshot::Destination::clipboard,
                                                     Screenshot::Destination::link};
    const auto deliveries = Layout::deliveries(width);
    for (int i = 0; i < 3; ++i) {
        auto* button = new QPushButton(deliveries[i].title, bar);
        button->setToolTip(deliveries[i].toolTip);
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoDefault(false);
        button->setGeometry(flipped(deliveries[i].frame, Layout::barHeight).toRect());
        const Screenshot::Destination destination = destinations[i];
        QObject::connect(button, &QPushButton::clicked, bar, [chosen, destination] { chosen(destination); });
    }
    return bar;
}
