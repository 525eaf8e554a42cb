#include "shots/shot_preview_parts.h"

#include "shots/shot_arrow.h"

#include <QEvent>
#include <QFont>
#include <QFontMetricsF>
#include <QIcon>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <functional>

ShotAppearance ShotAppearance::of(const QPalette& palette)
{
    return {palette.color(QPalette::Window).lightnessF() < palette.color(QPalette::WindowText).lightnessF()};
}

QPalette ShotAppearance::palette() const
{
    const QColor text = dark ? QColor(235, 235, 235) : QColor(Qt::black);
    QPalette palette(grey(dark ? 72 : 240), window());
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Base, field());
    palette.setColor(QPalette::AlternateBase, grey(dark ? 44 : 245));
    palette.setColor(QPalette::ToolTipBase, grey(dark ? 50 : 255));
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, secondaryLabel());
    palette.setColor(QPalette::BrightText, Qt::white);
    palette.setColor(QPalette::Highlight, QColor(10, 130, 255));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, tertiaryLabel());
    palette.setColor(QPalette::Disabled, QPalette::Text, tertiaryLabel());
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, tertiaryLabel());
    return palette;
}

TonedView::TonedView(Tone tone, QWidget* parent) : QWidget(parent), tone_(tone)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TonedView::paintEvent(QPaintEvent*)
{
    const ShotAppearance appearance = ShotAppearance::of(palette());
    QPainter(this).fillRect(rect(), tone_ == Tone::field ? appearance.field() : appearance.window());
}

void TonedView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        update();
    QWidget::changeEvent(event);
}

QWidget* separatorLine(QWidget* parent)
{
    auto* line = new QWidget(parent);
    line->setAutoFillBackground(true);
    followAppearance(line, QPalette::Window, &ShotAppearance::separator);
    return line;
}

namespace {

// Sets a role of its widget from the parent's look at every palette change.
class AppearanceFollower final : public QObject {
public:
    AppearanceFollower(QWidget* widget, QPalette::ColorRole role, QColor (ShotAppearance::*colour)() const)
        : QObject(widget), widget_(widget), role_(role), colour_(colour)
    {
        widget->installEventFilter(this);
        apply();
    }

    bool eventFilter(QObject*, QEvent* event) override
    {
        // A parent's palette reaches the widget as its own change.
        if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ParentChange)
            apply();
        return false;
    }

private:
    void apply()
    {
        const QWidget* parent = widget_->parentWidget();
        const QColor wanted = (ShotAppearance::of(parent ? parent->palette() : widget_->palette()).*colour_)();
        // Setting the role changes the palette once more; that round finds it set.
        if (widget_->palette().color(role_) == wanted)
            return;
        QPalette palette = widget_->palette();
        palette.setColor(role_, wanted);
        widget_->setPalette(palette);
    }

    QWidget* widget_;
    QPalette::ColorRole role_;
    QColor (ShotAppearance::*colour_)() const;
};

} // namespace

void followAppearance(QWidget* widget, QPalette::ColorRole role, QColor (ShotAppearance::*colour)() const)
{
    new AppearanceFollower(widget, role, colour);
}

ShotButton::ShotButton(QString title, QWidget* parent) : QWidget(parent), title_(std::move(title)) {}

void ShotButton::paintEvent(QPaintEvent*)
{
    const ShotAppearance look = ShotAppearance::of(palette());
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath outline;
    outline.addRoundedRect(r, 4, 4);
    QLinearGradient gradient(r.topLeft(), r.bottomLeft());
    gradient.setColorAt(0, look.pillTop(pressed_));
    gradient.setColorAt(1, look.pillBottom(pressed_));
    painter.fillPath(outline, gradient);
    painter.setPen(QPen(look.pillBorder(), 1));
    painter.drawPath(outline);
    // The highlight one point below the top edge.
    painter.setPen(QPen(look.pillHighlight(), 1));
    painter.drawLine(QPointF(r.left() + 4, r.top() + 1), QPointF(r.right() - 4, r.top() + 1));

    // A dashed selection square with a handle on each corner.
    const QRectF icon(r.left() + 10, r.center().y() - 7, 14, 14);
    QPen dashed(look.pillInk(), 1);
    dashed.setDashPattern({2, 2});
    painter.setPen(dashed);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(icon);
    painter.setPen(Qt::NoPen);
    painter.setBrush(look.pillInk());
    for (QPointF corner : {icon.topLeft(), icon.topRight(), icon.bottomLeft(), icon.bottomRight()})
        painter.drawRect(QRectF(corner - QPointF(1.5, 1.5), QSizeF(3, 3)));

    QFont font = this->font();
    font.setPixelSize(13);
    painter.setFont(font);
    painter.setPen(look.pillInk());
    const QFontMetricsF metrics(font);
    const double top = r.center().y() - metrics.height() / 2;
    painter.drawText(QPointF(icon.right() + 8, top + metrics.ascent()), title_);
}

void ShotButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    pressed_ = true;
    update();
}

void ShotButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !pressed_)
        return;
    pressed_ = false;
    update();
    if (rect().contains(event->position().toPoint()))
        emit clicked();
}

void ShotButton::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        update();
    QWidget::changeEvent(event);
}

StripButton::StripButton(QWidget* parent) : QAbstractButton(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::ArrowCursor);
}

void StripButton::setTemplate(QImage icon)
{
    template_ = std::move(icon);
    update();
}

void StripButton::setPicture(QImage picture)
{
    picture_ = std::move(picture);
    update();
}

void StripButton::setSelected(bool selected)
{
    selected_ = selected;
    update();
}

void StripButton::setTint(std::optional<QColor> tint)
{
    tint_ = tint;
    update();
}

void StripButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (selected_) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(ShotAppearance::selectedTool());
        painter.drawRoundedRect(QRectF(rect()), 7, 7);
    }
    const QImage& shown = picture_.isNull() ? template_ : picture_;
    if (shown.isNull())
        return;
    QImage image = shown;
    if (picture_.isNull()) {
        // Keep the icon's shape, paint it in the tint.
        const QColor tint = tint_.value_or(ShotAppearance::of(palette()).secondaryLabel());
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QPainter tinter(&image);
        tinter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        tinter.fillRect(image.rect(), tint);
    }
    const QSizeF size = QSizeF(image.size()) / image.devicePixelRatio();
    painter.drawImage(QRectF(QPointF((width() - size.width()) / 2, (height() - size.height()) / 2), size), image);
}

namespace {

// `size` points square with `ratio` pixels a point; drawing in points.
QImage blank(int size, double ratio)
{
    QImage image(int(size * ratio), int(size * ratio), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    return image;
}

QImage themed(const char* name, int size, double ratio)
{
    const QIcon icon = QIcon::fromTheme(QString::fromLatin1(name));
    if (icon.isNull())
        return {};
    QImage image = icon.pixmap(QSize(size, size), ratio).toImage();
    return image.isNull() ? QImage() : image;
}

// An icon drawn on an 18-unit grid, `size` points square, for when the
// icon theme has none.
QImage drawnIcon(int size, double ratio, const std::function<void(QPainter&)>& draw)
{
    QImage image = blank(size, ratio);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const double u = size / 18.0;
    painter.scale(u, u);
    draw(painter);
    return image;
}

} // namespace

QImage wellImage(int s, QColor fill, std::optional<double> lineWidth, bool cornerMark,
                 const ShotAppearance& appearance, double ratio)
{
    QImage image = blank(s, ratio);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const double d = s - 12;
    const QRectF circle(6, 6, d, d);
    painter.setPen(Qt::NoPen);
    if (lineWidth) {
        painter.setBrush(Qt::white);
        painter.drawEllipse(circle);
        // A diagonal rising to the right (y is flipped from bottom-up).
        const double a = 6 + 0.26 * d;
        const double b = (s + d) / 2 - 0.26 * d;
        painter.setPen(QPen(ShotAppearance::weightLine(), *lineWidth, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(a, s - a), QPointF(b, s - b));
    } else {
        painter.setBrush(fill);
        painter.drawEllipse(circle);
    }
    painter.setPen(QPen(ShotAppearance::wellOutline(), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(circle);
    if (cornerMark) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(appearance.secondaryLabel());
        const QPointF corner[] = {{s - 2.0, s - 2.0}, {s - 2.0, s - 7.0}, {s - 7.0, s - 2.0}};
        painter.drawPolygon(corner, 3);
    }
    return image;
}

QImage toolIcon(ShotTool tool, int size, double ratio)
{
    if (tool == ShotTool::arrow) {
        QImage arrow = ShotArrow::icon(int(22 * ratio));
        arrow.setDevicePixelRatio(ratio);
        return arrow;
    }
    static const char* const names[] = {"", "draw-freehand", "draw-rectangle", "", "draw-text"};
    if (QImage image = themed(names[int(tool)], size, ratio); !image.isNull())
        return image;

    return drawnIcon(size, ratio, [tool](QPainter& painter) {
        QPen pen(Qt::black, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        switch (tool) {
        case ShotTool::pen: {
            QPainterPath scribble(QPointF(2.5, 12));
            scribble.cubicTo(5, 3, 8, 3, 8, 9);
            scribble.cubicTo(8, 15, 11, 15, 12.5, 8);
            scribble.cubicTo(13.5, 4, 15.5, 4, 15.5, 7);
            painter.setPen(pen);
            painter.drawPath(scribble);
            break;
        }
        case ShotTool::box:
            painter.setPen(pen);
            painter.drawRoundedRect(QRectF(2.5, 4, 13, 10), 1.5, 1.5);
            break;
        case ShotTool::blur:
            painter.setPen(Qt::NoPen);
            painter.setBrush(Qt::black);
            for (int row = 0; row < 3; ++row)
                for (int column = 0; column < 3; ++column)
                    painter.drawRoundedRect(QRectF(2.5 + column * 4.6, 2.5 + row * 4.6, 3.8, 3.8), 0.6, 0.6);
            break;
        case ShotTool::text: {
            QFont font;
            font.setPixelSize(13);
            font.setWeight(QFont::Medium);
            painter.setFont(font);
            painter.setPen(Qt::black);
            painter.drawText(QRectF(0, 0, 18, 18), Qt::AlignCenter, QStringLiteral("Aa"));
            break;
        }
        case ShotTool::arrow:
            break;
        }
    });
}

QImage undoIcon(int size, double ratio)
{
    if (QImage image = themed("edit-undo-symbolic", size, ratio); !image.isNull())
        return image;
    return drawnIcon(size, ratio, [](QPainter& painter) {
        QPainterPath turn(QPointF(5, 6));
        turn.lineTo(11, 6);
        turn.cubicTo(17, 6, 17, 15, 11, 15);
        turn.lineTo(7, 15);
        painter.setPen(QPen(Qt::black, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(turn);
        QPainterPath head(QPointF(8, 2.5));
        head.lineTo(4.5, 6);
        head.lineTo(8, 9.5);
        painter.drawPath(head);
    });
}
