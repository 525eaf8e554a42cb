#include "shots/shot_canvas.h"

#include "shots/shot_renderer.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>

#include <algorithm>
#include <functional>
#include <utility>

namespace {

// The one-line field of the text tool. Return belongs to it: it commits the
// text and goes no further, so the window's own Return shortcut stays quiet.
class TextField : public QLineEdit {
public:
    TextField(QWidget* parent, std::function<void()> onReturn)
        : QLineEdit(parent), onReturn_(std::move(onReturn))
    {
    }

protected:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::ShortcutOverride && isReturn(static_cast<QKeyEvent*>(event))) {
            event->accept();
            return true;
        }
        return QLineEdit::event(event);
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        if (isReturn(event)) {
            event->accept();
            onReturn_();
            return;
        }
        QLineEdit::keyPressEvent(event);
    }

private:
    static bool isReturn(const QKeyEvent* event)
    {
        return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    }

    std::function<void()> onReturn_;
};

} // namespace

ShotCanvas::ShotCanvas(QImage bitmap, QWidget* parent) : QWidget(parent), bitmap_(std::move(bitmap))
{
    setFocusPolicy(Qt::ClickFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(bitmap_.size());
}

QTransform ShotCanvas::canvasToDevice(double scale, double deviceHeight)
{
    return QTransform(scale, 0, 0, -scale, 0, deviceHeight);
}

QPointF ShotCanvas::canvasPoint(QPointF widgetPosition) const
{
    return canvasToDevice(1, height()).inverted().map(widgetPosition);
}

QPointF ShotCanvas::widgetPoint(QPointF canvasPoint) const
{
    return canvasToDevice(1, height()).map(canvasPoint);
}

void ShotCanvas::undo()
{
    if (marks_.isEmpty())
        return;
    marks_.removeLast();
    forgetCommittedLayer();
}

void ShotCanvas::commitText()
{
    if (!editor_)
        return;
    const QString text = editor_->text().trimmed();
    if (!text.isEmpty())
        append(ShotMark{ShotTool::text, editorOrigin_, QPointF(0, 0), text, weight_, color_, {}});
    // The field may be the one calling (its Return): let it finish first.
    QLineEdit* field = editor_;
    editor_ = nullptr;
    field->hide();
    field->deleteLater();
    setFocus();
    update();
}

QImage ShotCanvas::flattened()
{
    commitText();
    QImage picture(bitmap_.size(), QImage::Format_ARGB32_Premultiplied);
    if (picture.isNull())
        return bitmap_;
    QPainter painter;
    if (!painter.begin(&picture))
        return bitmap_;
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(picture.rect(), bitmap_);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);

    const double scale = bitmap_.width() / std::max(double(width()), 1.0);
    painter.setWorldTransform(canvasToDevice(scale, bitmap_.height()));
    const ShotRenderer renderer(bitmap_, size());
    for (const ShotMark& mark : marks_)
        renderer.draw(painter, mark);
    painter.end();
    return picture;
}

void ShotCanvas::startTyping(QPointF point)
{
    const double size = textSize(weight_);
    auto* field = new TextField(this, [this] { commitText(); });
    field->setFont(ShotRenderer::textFont(size, *field));
    QPalette palette = field->palette();
    palette.setColor(QPalette::Text, ::color(color_));
    palette.setColor(QPalette::Base, Qt::transparent);
    field->setPalette(palette);
    field->setFrame(false);
    field->setAutoFillBackground(false);
    field->setPlaceholderText(QStringLiteral("Текст"));
    // The field's frame in canvas coordinates is (x, y − 4, 260, size + 10).
    const QPointF topLeft = widgetPoint(QPointF(point.x(), point.y() - 4 + size + 10));
    field->setGeometry(QRectF(topLeft, QSizeF(260, size + 10)).toRect());
    field->show();
    field->setFocus();
    editor_ = field;
    editorOrigin_ = point;
}

void ShotCanvas::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    const QPointF point = canvasPoint(event->position());
    commitText();
    if (tool_ == ShotTool::text) {
        startTyping(point);
        return;
    }
    draft_ = ShotMark{tool_, point, point, QString(), weight_, color_, {}};
    if (tool_ == ShotTool::pen)
        draft_->path.append(point);
}

void ShotCanvas::mouseMoveEvent(QMouseEvent* event)
{
    if (!draft_)
        return QWidget::mouseMoveEvent(event);
    const QPointF point = canvasPoint(event->position());
    draft_->to = point;
    if (draft_->tool == ShotTool::pen)
        draft_->path.append(point);
    update();
}

void ShotCanvas::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !draft_)
        return QWidget::mouseReleaseEvent(event);
    ShotMark mark = std::move(*draft_);
    draft_.reset();
    if (mark.isLargeEnough())
        append(std::move(mark));
    update();
}

void ShotCanvas::append(ShotMark mark)
{
    marks_.append(std::move(mark));
    // The newest mark goes on top of all the others, so the kept layer only
    // needs it drawn over; undo is what makes the layer start again.
    if (!committedLayer_.isNull()) {
        QPainter painter(&committedLayer_);
        painter.setWorldTransform(canvasToDevice(1, height()));
        ShotRenderer(bitmap_, size()).draw(painter, marks_.last());
    }
    update();
}

void ShotCanvas::forgetCommittedLayer()
{
    committedLayer_ = QImage();
    update();
}

void ShotCanvas::resizeEvent(QResizeEvent* event)
{
    shownBitmap_ = QImage();
    committedLayer_ = QImage();
    QWidget::resizeEvent(event);
}

const QImage& ShotCanvas::committedLayer()
{
    const double ratio = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * ratio).toSize();
    if (shownBitmap_.size() != pixels) {
        shownBitmap_ = bitmap_.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                           .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        shownBitmap_.setDevicePixelRatio(ratio);
        committedLayer_ = QImage();
    }
    if (committedLayer_.isNull()) {
        committedLayer_ = shownBitmap_.copy();
        committedLayer_.setDevicePixelRatio(ratio);
        QPainter painter(&committedLayer_);
        painter.setWorldTransform(canvasToDevice(1, height()));
        const ShotRenderer renderer(bitmap_, size());
        for (const ShotMark& mark : marks_)
            renderer.draw(painter, mark);
    }
    return committedLayer_;
}

void ShotCanvas::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawImage(QPointF(0, 0), committedLayer());
    if (draft_) {
        painter.setWorldTransform(canvasToDevice(1, height()));
        ShotRenderer(bitmap_, size()).draw(painter, *draft_);
    }
}
