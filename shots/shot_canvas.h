#pragma once

#include "shots/shot_mark.h"

#include <QImage>
#include <QLineEdit>
#include <QList>
#include <QPointer>
#include <QTransform>
#include <QWidget>

#include <optional>

// The drawing surface of the screenshot editor. It shows the captured bitmap
// scaled to the widget's size (the owner resizes it to the shown size), lets
// the user lay marks over it with the current tool, colour and weight, and
// renders the picture with all marks at the bitmap's full pixel size.
//
// Marks are kept in canvas coordinates: points of the shown image, origin at
// its bottom-left corner, y up. canvasToDevice() is the one place where they
// meet Qt's top-left, y-down coordinates.
class ShotCanvas : public QWidget {
    Q_OBJECT

public:
    // Starts at the bitmap's pixel size, with the arrow tool, red and normal.
    explicit ShotCanvas(QImage bitmap, QWidget* parent = nullptr);

    const QImage& bitmap() const { return bitmap_; }

    // Apply to marks started afterwards; for text, to the text committed
    // afterwards (an open field keeps the colour it opened with).
    ShotTool tool() const { return tool_; }
    void setTool(ShotTool tool) { tool_ = tool; }
    ShotWeight weight() const { return weight_; }
    void setWeight(ShotWeight weight) { weight_ = weight; }
    ShotColor color() const { return color_; }
    void setColor(ShotColor color) { color_ = color; }

    // Committed marks, oldest first.
    const QList<ShotMark>& marks() const { return marks_; }
    // The mark being dragged out, if any.
    const std::optional<ShotMark>& draft() const { return draft_; }
    // The open one-line text field, if any.
    QLineEdit* editor() const { return editor_; }

    // Removes the newest committed mark, if any; a drag in progress and an
    // open text field stay.
    void undo();
    // Closes the open text field; its trimmed text, if not empty, becomes a
    // text mark in the current weight and colour.
    void commitText();
    // The screenshot with every committed mark at its full pixel size: all
    // sizes scale by pixel width / shown width. Commits an open text field
    // first; the draft is left out. Should the picture not be made, the
    // unannotated screenshot.
    QImage flattened();

    // The canvas point under a widget position, and back.
    QPointF canvasPoint(QPointF widgetPosition) const;
    QPointF widgetPoint(QPointF canvasPoint) const;
    // Maps canvas coordinates onto a device showing the canvas `scale` times
    // larger, `deviceHeight` units high.
    static QTransform canvasToDevice(double scale, double deviceHeight);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void startTyping(QPointF point);
    void append(ShotMark mark);
    void forgetCommittedLayer();
    const QImage& committedLayer();

    const QImage bitmap_;
    ShotTool tool_ = ShotTool::arrow;
    ShotWeight weight_ = ShotWeight::normal;
    ShotColor color_ = ShotColor::red;
    QList<ShotMark> marks_;
    std::optional<ShotMark> draft_;
    QPointer<QLineEdit> editor_;
    QPointF editorOrigin_;

    // On screen the bitmap scaled to the shown size, and that with the
    // committed marks, are kept between repaints: a drag redraws only the draft.
    QImage shownBitmap_;
    QImage committedLayer_;
};
