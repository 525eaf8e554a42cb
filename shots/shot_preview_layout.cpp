#include "shots/shot_preview_layout.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace ShotPreviewLayout {

Sizes sizes(QSize pixels, std::optional<double> visibleHeight)
{
    Sizes s;
    const double w = pixels.width();
    const double h = pixels.height();
    s.maxH = visibleHeight ? *visibleHeight - 64 - 56 : 680;
    s.maxH = std::max(s.maxH, 360.0);

    const double aspect = h / std::max(w, 1.0);
    const double halfW = std::min(w * 0.5, 960.0);
    // An empty picture has no aspect to fit; it is shown at half width.
    const double fitW = aspect > 0 ? s.maxH / aspect : halfW;
    s.imageWidth = (aspect > 1.6 || fitW >= halfW) ? halfW : fitW;
    s.imageHeight = aspect * s.imageWidth;
    s.shownHeight = std::max(std::min(s.maxH, s.imageHeight), 320.0);
    // 480 points at least, as far as the screen has room: on a low screen
    // (a laptop at scale 2) the window would otherwise reach past its edge.
    s.shown = std::max(s.shownHeight, std::min(480.0, s.maxH));
    s.contentWidth = s.imageWidth < 960 ? std::max(s.imageWidth + 52, 720.0) : 1012;
    s.scrolls = s.shown < s.imageHeight;
    return s;
}

QRectF scrollFrame(const Sizes& s)
{
    const double height = std::min(s.shown, s.imageHeight);
    const double x = std::max((s.contentWidth - stripWidth - s.imageWidth) / 2, 0.0) + stripWidth;
    const double y = std::max((s.shown - height) / 2, 0.0) + barHeight;
    return {x, y, s.imageWidth, height};
}

QString sizeLabel(QSize pixels, double imageWidth)
{
    const QChar times(0x00D7);
    QString text = QString::number(pixels.width()) + ' ' + times + ' ' + QString::number(pixels.height());
    const double zoom = imageWidth / (pixels.width() * 0.5);
    if (std::isfinite(zoom) && std::abs(zoom - 1) >= 0.02)
        text += QStringLiteral("  ·  ") + QString::number(std::lround(zoom * 100)) + '%';
    return text;
}

Strip strip(double shown)
{
    Strip strip;
    double y = (shown + 348) * 0.5 - 36 - 6;
    for (QRectF& tool : strip.tools) {
        tool = QRectF(8, y, 36, 36);
        y -= 40;
    }
    strip.firstSeparator = QRectF(8, y + 30, 36, 1);
    strip.colorWell = QRectF(8, y - 12, 36, 36);
    y -= 52;
    strip.weightWell = QRectF(8, y, 36, 36);
    y -= 40;
    strip.secondSeparator = QRectF(8, y + 30, 36, 1);
    strip.undo = QRectF(8, y - 12, 36, 36);
    return strip;
}

std::array<Delivery, 3> deliveries(double c)
{
    return {{
        {QStringLiteral("Сохранить в файл"), QRectF(c - 520, 16, 156, 32),
         QStringLiteral("Сохранить в папку с записями (Ctrl+S)")},
        {QStringLiteral("Копировать"), QRectF(c - 356, 16, 140, 32),
         QStringLiteral("Положить снимок в буфер обмена (Ctrl+C)")},
        {QStringLiteral("Поделиться ссылкой"), QRectF(c - 208, 16, 192, 32),
         QStringLiteral("Отправить на сервер, ссылку — в буфер и в браузер (⏎)")},
    }};
}

QRectF colorChoiceFrame(int i)
{
    return {double(i % 4) * 34 + 6, 80 - 6 - double(i / 4 + 1) * 34, 34, 34};
}

QRectF weightChoiceFrame(int i)
{
    return {6, 182 - 6 - double(i + 1) * 34, 34, 34};
}

} // namespace ShotPreviewLayout
