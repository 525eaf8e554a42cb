#pragma once

#include <QColor>
#include <QPainter>
#include <QRect>
#include <QWidget>

// A window the window manager leaves alone, in solid colours that survive a
// 24-bit framebuffer exactly: red left half, blue right half, a green corner.
class PatternWindow final : public QWidget {
public:
    explicit PatternWindow(const QRect& geometry)
        : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint)
    {
        setGeometry(geometry);
        show();
    }
    static QRgb expected(int x, int y, int width)
    {
        if (x < 10 && y < 10)
            return qRgb(0, 255, 0);
        return x < width / 2 ? qRgb(255, 0, 0) : qRgb(0, 0, 255);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(0, 0, width() / 2, height(), QColor(255, 0, 0));
        painter.fillRect(width() / 2, 0, width() - width() / 2, height(), QColor(0, 0, 255));
        painter.fillRect(0, 0, 10, 10, QColor(0, 255, 0));
    }
};
