#include "app/tray_icon.h"

#include <QFile>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

QIcon trayIcon(const QString& imagePath)
{
    QImage image;
    if (QFile::exists(imagePath) && image.load(imagePath) && !image.isNull())
        return QIcon(QPixmap::fromImage(image));

    // A tray icon has no title on Linux, so the stand-in circle is drawn as
    // the picture: dark with a light rim, readable on light and dark panels.
    QPixmap circle(64, 64);
    circle.fill(Qt::transparent);
    QPainter painter(&circle);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QFont font = painter.font();
    font.setPixelSize(56);
    painter.setFont(font);
    QPainterPath glyph;
    glyph.addText(0, 0, font, QString(QChar(0x25CF)));
    const QRectF bounds = glyph.boundingRect();
    glyph.translate(32 - bounds.center().x(), 32 - bounds.center().y());
    painter.setPen(QPen(QColor(240, 240, 240), 4));
    painter.setBrush(QColor(32, 32, 32));
    painter.drawPath(glyph);
    painter.end();
    return QIcon(circle);
}
