#pragma once

#include "shots/shot_canvas.h"

#include <QLineEdit>
#include <QTest>

#include <initializer_list>

// Lays marks on a canvas the way a user does, with points given in canvas
// coordinates (y up) and turned into widget positions by the canvas itself.
namespace driver {

inline QPoint at(const ShotCanvas& canvas, QPointF canvasPoint)
{
    return canvas.widgetPoint(canvasPoint).toPoint();
}

inline void press(ShotCanvas& canvas, QPointF point)
{
    QTest::mousePress(&canvas, Qt::LeftButton, Qt::NoModifier, at(canvas, point));
}

inline void move(ShotCanvas& canvas, QPointF point)
{
    QTest::mouseMove(&canvas, at(canvas, point));
}

inline void release(ShotCanvas& canvas, QPointF point)
{
    QTest::mouseRelease(&canvas, Qt::LeftButton, Qt::NoModifier, at(canvas, point));
}

// Press, one drag sample per point after the first, release at the last.
inline void stroke(ShotCanvas& canvas, std::initializer_list<QPointF> points)
{
    const QPointF* point = points.begin();
    press(canvas, *point);
    for (++point; point != points.end(); ++point)
        move(canvas, *point);
    release(canvas, *(points.end() - 1));
}

inline void drag(ShotCanvas& canvas, ShotTool tool, QPointF from, QPointF to,
                 ShotWeight weight = ShotWeight::normal, ShotColor color = ShotColor::red)
{
    canvas.setTool(tool);
    canvas.setWeight(weight);
    canvas.setColor(color);
    stroke(canvas, {from, to});
}

// Types any text, Cyrillic included (QTest::keyClicks knows only ASCII).
inline void typeText(QWidget* field, const QString& text)
{
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// Clicks with the text tool, types and presses Return.
inline void type(ShotCanvas& canvas, QPointF point, const QString& text,
                 ShotWeight weight = ShotWeight::normal, ShotColor color = ShotColor::black)
{
    canvas.setTool(ShotTool::text);
    canvas.setWeight(weight);
    canvas.setColor(color);
    QTest::mouseClick(&canvas, Qt::LeftButton, Qt::NoModifier, at(canvas, point));
    typeText(canvas.editor(), text);
    QTest::keyClick(canvas.editor(), Qt::Key_Return);
}

} // namespace driver
