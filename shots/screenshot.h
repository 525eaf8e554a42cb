#pragma once

#include "core/clock.h"
#include "core/described_error.h"
#include "shots/selected_area.h"

#include <QDateTime>
#include <QImage>
#include <QString>

#include <qcoro/qcorotask.h>

#include <functional>
#include <optional>

// Taking a still image of a display, cutting out the selected area, and
// delivering the picture as a PNG file or on the clipboard. Pictures are
// QImages in device pixels.
class Screenshot {
public:
    Screenshot() = delete;

    enum class Destination { file, clipboard, link };

    class Failure final : public DescribedError {
    public:
        enum class Kind { writeFailed, captureFailed };

        static Failure writeFailed(const QString& message) { return Failure(Kind::writeFailed, message); }
        static Failure captureFailed() { return Failure(Kind::captureFailed, {}); }

        Kind kind() const { return kind_; }
        QString message() const { return message_; }
        QString description() const override;
        QString debugName() const override;

    private:
        Failure(Kind kind, QString message) : kind_(kind), message_(std::move(message)) {}
        Kind kind_;
        QString message_;
    };

    // The selected area of its display, cut as `crop` would cut it out of
    // the whole display's picture, or nothing when it could not be taken.
    using Capture = std::function<QCoro::Task<std::optional<QImage>>(const SelectedArea& area)>;

    // The area's picture; one more try 150 ms after a failed one (a capture
    // right after the overlays close may find the display busy). Throws
    // Failure::captureFailed when both fail.
    static QCoro::Task<QImage> take(const SelectedArea& area, Capture capture, Clock& clock);

    // Where the selected area lies in a picture of its whole display that is
    // `whole` pixels: scaled by the picture's width over the screen's,
    // widened to whole pixels and clipped to the picture; nothing when under
    // one pixel either way.
    static std::optional<QRect> crop(QSize whole, const SelectedArea& area);

    // "skrinshot-2025-03-03-140509.png" for a picture taken at that moment.
    static QString fileName(const QDateTime& moment);

    // The picture encoded as PNG. Throws Failure::writeFailed when it cannot
    // be encoded (a null picture).
    static QByteArray pngData(const QImage& image);

    // Writes the picture as a PNG into `directory` (created when missing),
    // named for the moment it was `taken`, and returns the file's path. A
    // file of the same name is replaced only by a complete new one. Throws
    // Failure::writeFailed.
    static QString save(const QImage& image, const QString& directory, const QDateTime& taken);

    // Puts the picture on the clipboard, one point per pixel. It stays there
    // while Korvala runs, which it does after the editor closes.
    static void copyToClipboard(const QImage& image);
};
