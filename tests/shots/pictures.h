#pragma once

#include <QColor>
#include <QDir>
#include <QImage>
#include <QString>

// Screenshots with known content for the annotation tests.
namespace pictures {

// Every pixel of a picture up to 4096 × 4096 a different colour: red and green
// are the column and row within their block of 256, blue the block, so a
// pixel's colour says where it came from.
inline QImage gradient(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x % 256, y % 256, (x / 256) * 16 + y / 256));
    return image;
}

inline QImage plain(int width, int height, QColor color)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

// With $KORVALA_TEST_OUTPUT set, keeps `image` there as `name` for a person
// to look at; otherwise does nothing. A tool, not a check.
inline void keep(const QImage& image, const QString& name)
{
    const QString folder = qEnvironmentVariable("KORVALA_TEST_OUTPUT");
    if (!folder.isEmpty() && QDir().mkpath(folder))
        image.save(QDir(folder).filePath(name));
}

} // namespace pictures
