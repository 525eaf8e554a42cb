#include "shots/screenshot.h"

#include "core/clock.h"

#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QImageWriter>
#include <QSaveFile>

#include <cmath>

QString Screenshot::Failure::description() const
{
    switch (kind_) {
    case Kind::writeFailed:
        return QString::fromUtf8("Снимок сделан, но не сохранился: ") + message_;
    case Kind::captureFailed:
        return QString::fromUtf8("Не удалось снять экран. Проверьте доступ к записи экрана в настройках.");
    }
    return {};
}

QString Screenshot::Failure::debugName() const
{
    return kind_ == Kind::writeFailed ? "Screenshot.Failure.writeFailed" : "Screenshot.Failure.captureFailed";
}

QCoro::Task<QImage> Screenshot::take(const SelectedArea& area, Capture capture, Clock& clock)
{
    std::optional<QImage> image = co_await capture(area);
    if (!image || image->isNull()) {
        co_await clock.sleep(0.15);
        image = co_await capture(area);
    }
    if (!image || image->isNull())
        throw Failure::captureFailed();
    image->setDevicePixelRatio(1);
    co_return *image;
}

std::optional<QRect> Screenshot::crop(QSize whole, const SelectedArea& area)
{
    if (whole.isEmpty())
        return std::nullopt;
    // Only the width sets the scale: the picture is the whole display, so its
    // width over the screen's width in points is pixels per point.
    const double scale = whole.width() / std::max(area.screenSize.width(), 1.0);
    const QRectF scaled(area.rect.x() * scale, area.rect.y() * scale, area.rect.width() * scale,
                        area.rect.height() * scale);
    // The smallest rectangle of whole pixels that holds the scaled one.
    const double left = std::floor(scaled.left());
    const double top = std::floor(scaled.top());
    const double right = std::ceil(scaled.x() + scaled.width());
    const double bottom = std::ceil(scaled.y() + scaled.height());
    if (right - left < 1 || bottom - top < 1)
        return std::nullopt;

    const QRectF clipped = QRectF(left, top, right - left, bottom - top).intersected(QRectF(QPoint(0, 0), whole));
    if (clipped.width() < 1 || clipped.height() < 1)
        return std::nullopt;
    return clipped.toRect();
}

QString Screenshot::fileName(const QDateTime& moment)
{
    return "skrinshot-" + moment.toString("yyyy-MM-dd-HHmmss") + ".png";
}

namespace {

QString writeProblem(const QSaveFile& file)
{
    const QString name = QDir::toNativeSeparators(file.fileName());
    switch (file.error()) {
    case QFileDevice::PermissionsError:
        return QString::fromUtf8("нет прав на запись в «%1»").arg(name);
    case QFileDevice::ResourceError:
        return QString::fromUtf8("не хватает места на диске для «%1»").arg(name);
    case QFileDevice::OpenError:
        return QString::fromUtf8("не удалось открыть «%1» для записи").arg(name);
    default:
        return QString::fromUtf8("не удалось записать «%1»").arg(name);
    }
}

} // namespace

QByteArray Screenshot::pngData(const QImage& image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (image.isNull() || !writer.write(image) || png.isEmpty())
        throw Failure::writeFailed(QString::fromUtf8("не удалось собрать png"));
    return png;
}

QString Screenshot::save(const QImage& image, const QString& directory, const QDateTime& taken)
{
    const QByteArray png = pngData(image);

    const QString path = QDir(directory).filePath(fileName(taken));
    if (!QDir().mkpath(directory))
        throw Failure::writeFailed(
            QString::fromUtf8("не удалось создать папку «%1»").arg(QDir::toNativeSeparators(directory)));

    // QSaveFile writes beside the target and renames over it on commit, so a
    // shot taken in the same second as the last one never leaves half a file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw Failure::writeFailed(writeProblem(file));
    if (file.write(png) != png.size() || !file.commit()) {
        const QString problem = writeProblem(file);
        file.cancelWriting();
        throw Failure::writeFailed(problem);
    }
    return path;
}

void Screenshot::copyToClipboard(const QImage& image)
{
    QImage picture = image;
    picture.setDevicePixelRatio(1);
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setImage(picture);
}
