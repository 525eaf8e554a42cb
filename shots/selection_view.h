#pragma once

#include "shots/selected_area.h"

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QWidget>

#include <functional>
#include <optional>

class QScreen;

// The geometry of one overlay, free of widgets. It works in view coordinates:
// origin at the screen's bottom-left corner, y growing upward, so that every
// number here reads as the product describes it. SelectionView converts Qt's
// top-left positions to these at its event and paint boundary.
namespace SelectionGeometry {

// Areas narrower or lower than this, in points, count as a cancel.
inline constexpr double minimumSide = 8;

// The rectangle spanned by the drag's two corners.
QRectF spanned(QPointF origin, QPointF current);

// What a mouse-up at `current` yields on a view of `bounds` size: the area
// measured from the top edge, or nothing for a click or a too small area.
std::optional<SelectedArea> areaOnRelease(QPointF origin, QPointF current, QSizeF bounds, quint32 displayID,
                                          QSizeF screenSize);

// "640 × 480": each side truncated toward zero.
QString sizeLabelText(const QRectF& selection);

// The label's box for a text of `textSize`: just above the selection, or
// below it when it would not fit under the top of a view `viewHeight` high.
QRectF sizeLabelBox(const QRectF& selection, QSizeF textSize, double viewHeight);

// The hint's box for a text of `textSize`, centred on a view of `viewSize`.
QRectF hintBox(QSizeF textSize, QSizeF viewSize);

// A view rectangle in Qt's top-left coordinates of a view `viewHeight` high.
QRectF toTopLeft(const QRectF& rect, double viewHeight);
// A Qt position in view coordinates.
QPointF fromTopLeft(QPointF point, double viewHeight);

} // namespace SelectionGeometry

// One overlay window covering one screen: it dims the screen, lets the user
// drag out a rectangle and reports it through onDone.
class SelectionView final : public QWidget {
    Q_OBJECT
public:
    using Done = std::function<void(std::optional<SelectedArea>)>;

    // `backdrop` is the screen's picture for desktops that cannot show what
    // lies beneath a translucent window; null where they can.
    SelectionView(QScreen* screen, quint32 displayID, Done onDone, QImage backdrop = {});

    QRect screenFrame() const { return screenFrame_; }
    quint32 displayID() const { return displayID_; }
    // Takes the keyboard so that Escape arrives even though the window
    // manager never focuses the overlay; retries until the window is mapped.
    void takeKeyboard();
    void releaseKeyboardIfTaken();
    bool holdsKeyboard() const { return keyboardTaken_; }

    static QString hintText();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QPointF viewPoint(QPointF position) const;
    void drawSizeLabel(QPainter& painter, const QRectF& selection);
    void drawHint(QPainter& painter);

    const QRect screenFrame_;
    const quint32 displayID_;
    const Done onDone_;
    const QImage backdrop_;
    std::optional<QPointF> origin_;
    std::optional<QPointF> current_;
    bool keyboardTaken_ = false;
    int keyboardAttempts_ = 0;
};
