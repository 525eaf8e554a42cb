// Writing a 3840 × 2160 shot as PNG with Screenshot::save, next to ImageMagick's
// convert writing the same pixels. Prints medians of a few runs and file sizes.
//   bench_screenshot_save [runs]

#include "bench/bench_support.h"
#include "shots/screenshot.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Something like a 4K desktop: a gradient wallpaper, windows with title bars,
// lines of text, toolbars and one photo-like block of noise.
QImage desktopPicture()
{
    QImage image(3840, 2160, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient wallpaper(0, 0, 3840, 2160);
    wallpaper.setColorAt(0, QColor(38, 70, 120));
    wallpaper.setColorAt(1, QColor(140, 90, 160));
    painter.fillRect(image.rect(), wallpaper);

    QRandomGenerator random(7);
    QFont font("DejaVu Sans");
    font.setPixelSize(22);
    painter.setFont(font);
    const QRect windows[] = {{120, 100, 1700, 1200}, {1900, 160, 1800, 900}, {600, 1200, 2400, 880}};
    for (const QRect& window : windows) {
        painter.fillRect(window, QColor(250, 250, 250));
        painter.fillRect(QRect(window.topLeft(), QSize(window.width(), 56)), QColor(222, 222, 226));
        painter.fillRect(QRect(window.left(), window.top() + 56, 260, window.height() - 56), QColor(238, 240, 244));
        painter.setPen(QColor(30, 30, 30));
        for (int y = window.top() + 100; y < window.bottom() - 30; y += 34) {
            QString line;
            const int words = 6 + random.bounded(10);
            for (int w = 0; w < words; ++w)
                line += QString("слово%1 ").arg(random.bounded(1000));
            painter.drawText(window.left() + 290, y, line);
        }
    }
    for (int y = 1300; y < 1700; ++y)
        for (int x = 2600; x < 3200; ++x)
            image.setPixel(x, y, qRgb(120 + random.bounded(60), 100 + random.bounded(50), 80 + random.bounded(40)));
    return image;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;

    const QImage picture = desktopPicture();
    QTemporaryDir work;

    std::vector<double> ours;
    QString saved;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        saved = Screenshot::save(picture, work.path(), QDateTime::currentDateTime());
        ours.push_back(timer.nsecsElapsed() / 1e6);
    }

    // The same pixels as raw RGB for convert.
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    QFile raw(work.filePath("picture.rgb"));
    raw.open(QIODevice::WriteOnly);
    for (int y = 0; y < rgb.height(); ++y)
        raw.write(reinterpret_cast<const char*>(rgb.constScanLine(y)), rgb.width() * 3);
    raw.close();
    const QString theirs = work.filePath("convert.png");
    std::vector<double> reference;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        QProcess::execute("convert", {"-size", "3840x2160", "-depth", "8", "rgb:" + raw.fileName(), theirs});
        reference.push_back(timer.nsecsElapsed() / 1e6);
    }

    // Ours decoded by Qt against the source; convert's against ours by
    // ImageMagick, which counts differing pixels.
    QProcess compare;
    compare.start("compare", {"-metric", "AE", saved, theirs, "null:"});
    compare.waitForFinished(120000);
    const QByteArray differing = compare.readAllStandardError().trimmed();
    const bool same = QImage(saved).convertToFormat(QImage::Format_RGB32) == picture && differing == "0";
    std::printf("pixels differing from the source: ours %s, convert's %s\n",
                QImage(saved).convertToFormat(QImage::Format_RGB32) == picture ? "0" : "some", differing.constData());
    std::printf("save 3840x2160: median %.1f ms, %lld bytes\n", median(ours), QFileInfo(saved).size());
    std::printf("convert (whole process, raw RGB in): median %.1f ms, %lld bytes\n", median(reference),
                QFileInfo(theirs).size());
    std::printf("time ratio %.2f, size ratio %.3f, same pixels: %s\n", median(ours) / median(reference),
                double(QFileInfo(saved).size()) / QFileInfo(theirs).size(), same ? "yes" : "NO");
    return same ? 0 : 1;
}
