#include "shots/selection_view.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <cmath>

namespace SelectionGeometry {

QRectF spanned(QPointF origin, QPointF current)
{
    return QRectF(std::min(origin.x(), current.x()), std::min(origin.y(), current.y()),
                  std::abs(origin.x() - current.x()), std::abs(origin.y() - current.y()));
}

std::optional<SelectedArea> areaOnRelease(QPointF origin, QPointF current, QSizeF bounds, quint32 displayID,
                                          QSizeF screenSize)
{
    const QRectF selection = spanned(origin, current);
    if (selection.width() < minimumSide || selection.height() < minimumSide)
        return std::nullopt;
    return SelectedArea{toTopLeft(selection, bounds.height()), displayID, screenSize};
}

QString sizeLabelText(const QRectF& selection)
{
    return QString("%1 × %2")
        .arg(static_cast<long long>(std::trunc(selection.width())))
        .arg(static_cast<long long>(std::trunc(selection.height())));
}

QRectF sizeLabelBox(const QRectF& selection, QSizeF textSize, double viewHeight)
{
    double y = selection.y() + selection.height() + 6;
    if (viewHeight < y + textSize.height() + 12)
        y = selection.y() - textSize.height() - 18;
    return QRectF(selection.x(), y, textSize.width() + 12, textSize.height() + 6);
}

QRectF hintBox(QSizeF textSize, QSizeF viewSize)
{
    return QRectF((viewSize.width() - textSize.width()) / 2 - 12, viewSize.height() / 2 - textSize.height(),
                  textSize.width() + 24, textSize.height() + 12);
}

QRectF toTopLeft(const QRectF& rect, double viewHeight)
{
    return QRectF(rect.x(), viewHeight - (rect.y() + rect.height()), rect.width(), rect.height());
}

QPointF fromTopLeft(QPointF point, double viewHeight)
{
    return QPointF(point.x(), viewHeight - point.y());
}

} // namespace SelectionGeometry

namespace {

QFont uiFont(int pixelSize)
{
    QFont font = QApplication::font();
    font.setPixelSize(pixelSize);
    font.setWeight(QFont::Medium);
    return font;
}

QSizeF textSize(const QFont& font, const QString& text)
{
    const QFontMetricsF metrics(font);
    return QSizeF(metrics.horizontalAdvance(text), metrics.height());
}

} // namespace

SelectionView::SelectionView(QScreen* screen, quint32 displayID, Done onDone, QImage backdrop)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                           | Qt::X11BypassWindowManagerHint | Qt::NoDropShadowWindowHint)
    , screenFrame_(screen->geometry())
    , displayID_(displayID)
    , onDone_(std::move(onDone))
    , backdrop_(std::move(backdrop))
{
    if (backdrop_.isNull())
        setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::CrossCursor);
    setWindowTitle(QString::fromUtf8("Korvala — выбор области"));
    createWinId();
    windowHandle()->setScreen(screen);
    setGeometry(screenFrame_);
}

QString SelectionView::hintText()
{
    return QString::fromUtf8("Обведите область · Esc — отмена");
}

void SelectionView::takeKeyboard()
{
    if (keyboardTaken_ || !windowHandle())
        return;
    keyboardTaken_ = windowHandle()->setKeyboardGrabEnabled(true);
    // An override-redirect window can be grabbed only once the server has
    // mapped it, which happens a round trip after show().
    if (!keyboardTaken_ && ++keyboardAttempts_ < 100)
        QTimer::singleShot(20, this, [this] {
            if (isVisible())
                takeKeyboard();
        });
}

void SelectionView::releaseKeyboardIfTaken()
{
    if (keyboardTaken_ && windowHandle())
        windowHandle()->setKeyboardGrabEnabled(false);
    keyboardTaken_ = false;
}

QPointF SelectionView::viewPoint(QPointF position) const
{
    return SelectionGeometry::fromTopLeft(position, height());
}

void SelectionView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    origin_ = current_ = viewPoint(event->position());
    update();
}

void SelectionView::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton) || !origin_)
        return;
    current_ = viewPoint(event->position());
    update();
}

void SelectionView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    std::optional<SelectedArea> area;
    if (origin_ && current_)
        area = SelectionGeometry::areaOnRelease(*origin_, *current_, size(), displayID_, screenFrame_.size());
    onDone_(area);
}

void SelectionView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape)
        onDone_(std::nullopt);
}

void SelectionView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (!backdrop_.isNull())
        painter.drawImage(rect(), backdrop_);
    else {
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(rect(), Qt::transparent);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
    painter.fillRect(rect(), QColor(0, 0, 0, qRound(0.35 * 255)));

    if (!origin_ || !current_) {
        drawHint(painter);
        return;
    }
    const QRectF selection = SelectionGeometry::spanned(*origin_, *current_);
    const QRectF hole = SelectionGeometry::toTopLeft(selection, height());
    if (!backdrop_.isNull()) {
        const double scale = double(backdrop_.width()) / std::max(width(), 1);
        painter.drawImage(hole, backdrop_,
                          QRectF(hole.x() * scale, hole.y() * scale, hole.width() * scale, hole.height() * scale));
    } else {
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.fillRect(hole, Qt::transparent);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(hole);
    drawSizeLabel(painter, selection);
}

void SelectionView::drawSizeLabel(QPainter& painter, const QRectF& selection)
{
    // Qt 6.4 cannot ask a font for tabular digits; the desktop's UI fonts
    // (DejaVu Sans, Cantarell, Noto Sans) draw their digits at one width.
    const QFont font = uiFont(12);
    const QString text = SelectionGeometry::sizeLabelText(selection);
    const QSizeF size = textSize(font, text);
    const QRectF box = SelectionGeometry::sizeLabelBox(selection, size, height());

    QPainterPath path;
    path.addRoundedRect(SelectionGeometry::toTopLeft(box, height()), 4, 4);
    painter.setPen(Qt::NoPen);
    painter.fillPath(path, QColor(0, 0, 0, qRound(0.75 * 255)));
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(SelectionGeometry::toTopLeft(QRectF(box.x() + 6, box.y() + 3, size.width(), size.height()),
                                                  height()),
                     Qt::AlignLeft | Qt::AlignVCenter, text);
}

void SelectionView::drawHint(QPainter& painter)
{
    const QFont font = uiFont(14);
    const QString text = hintText();
    const QSizeF size = textSize(font, text);
    const QRectF box = SelectionGeometry::hintBox(size, this->size());

    QPainterPath path;
    path.addRoundedRect(SelectionGeometry::toTopLeft(box, height()), 6, 6);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.fillPath(path, QColor(0, 0, 0, qRound(0.6 * 255)));
    painter.setFont(font);
    painter.setPen(QColor(255, 255, 255, qRound(0.9 * 255)));
    painter.drawText(SelectionGeometry::toTopLeft(QRectF(box.x() + 12, box.y() + 6, size.width(), size.height()),
                                                  height()),
                     Qt::AlignLeft | Qt::AlignVCenter, text);
}
