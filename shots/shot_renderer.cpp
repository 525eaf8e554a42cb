#include "shots/shot_renderer.h"

#include "shots/shot_arrow.h"
#include "shots/shot_shadow.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPaintDevice>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

QList<ShotBlurCell> blurCells(QRectF span, QSizeF bounds, QSize pixels)
{
    QList<ShotBlurCell> cells;
    if (span.width() < 2 || span.height() < 2)
        return cells;
    const double block = std::max(bounds.width() / 100, 6.0);
    const double k = pixels.width() / std::max(bounds.width(), 1.0);
    // QRectF's top/bottom are plain min/max y here: the span is y up.
    for (double y = span.top(); y < span.bottom(); y += block) {
        for (double x = span.left(); x < span.right(); x += block) {
            const QRectF cell(x, y, std::min(block, span.right() - x), std::min(block, span.bottom() - y));
            const QPointF mid = cell.center();
            cells.append({cell, QPoint(int(k * mid.x()), int(k * (bounds.height() - mid.y())))});
        }
    }
    return cells;
}

QFont ShotRenderer::textFont(double size, const QPaintDevice& device)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    // Point sizes go through the device's resolution; ask for the size that
    // comes out as `size` units, fractions included.
    font.setPointSizeF(size * 72.0 / device.logicalDpiY());
    font.setWeight(QFont::DemiBold);
    return font;
}

void ShotRenderer::draw(QPainter& painter, const ShotMark& mark) const
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    switch (mark.tool) {
    case ShotTool::arrow: drawArrow(painter, mark); break;
    case ShotTool::pen: drawPen(painter, mark); break;
    case ShotTool::box: drawBox(painter, mark); break;
    case ShotTool::blur: drawBlur(painter, mark); break;
    case ShotTool::text: drawText(painter, mark); break;
    }
    painter.restore();
}

void ShotRenderer::drawArrow(QPainter& painter, const ShotMark& mark) const
{
    const double unit = arrowUnit(mark.weight);
    const QPainterPath outline = ShotArrow::path(mark.from, mark.to, unit);
    // Right and down by 0.3 unit: y grows upward on the canvas.
    drawShadow(painter, outline, QPointF(0.3 * unit, -0.3 * unit), 0.8 * unit, QColor(0, 0, 0, 115));
    painter.fillPath(outline, color(mark.color));
}

void ShotRenderer::drawPen(QPainter& painter, const ShotMark& mark) const
{
    if (mark.path.size() < 2)
        return;
    QPainterPath line(mark.path.first());
    for (qsizetype i = 1; i < mark.path.size(); ++i)
        line.lineTo(mark.path[i]);
    painter.strokePath(line, QPen(color(mark.color), lineWidth(mark.weight), Qt::SolidLine, Qt::RoundCap,
                                  Qt::RoundJoin));
}

void ShotRenderer::drawBox(QPainter& painter, const ShotMark& mark) const
{
    painter.setPen(QPen(color(mark.color), lineWidth(mark.weight), Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(mark.span());
}

void ShotRenderer::drawText(QPainter& painter, const ShotMark& mark) const
{
    if (mark.text.isEmpty())
        return;
    const QFont font = textFont(textSize(mark.weight), *painter.device());
    // `from` is the bottom-left of the text's line, so the baseline sits one
    // descent above it. Text must not be drawn mirrored: flip back locally.
    painter.translate(mark.from);
    painter.scale(1, -1);
    painter.setFont(font);
    painter.setPen(color(mark.color));
    painter.drawText(QPointF(0, -QFontMetricsF(font, painter.device()).descent()), mark.text);
}

void ShotRenderer::drawBlur(QPainter& painter, const ShotMark& mark) const
{
    // Cells are tiled edge to edge; antialiased edges would let the
    // screenshot show through the seams between them.
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QRect pixels = bitmap_.rect();
    for (const ShotBlurCell& cell : blurCells(mark.span(), bounds_, bitmap_.size())) {
        if (!pixels.contains(cell.sample))
            continue;
        painter.fillRect(cell.rect, bitmap_.pixelColor(cell.sample));
    }
}
