#pragma once

#include "capture/capture_target.h"
#include "core/clock.h"
#include "platform/screen_capture.h"

#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// Receives the frames of a short capture stream and keeps the first one.
// Called on the stream's queue while its owner polls from the main thread.
class FrameGrabber final : public StreamOutput {
public:
    void didOutputSampleBuffer(const SampleBuffer& sample, StreamOutputType type) override;
    std::optional<QImage> stored() const;

private:
    mutable std::mutex lock;
    std::optional<QImage> stored_;
};

// The displays and windows worth offering as capture targets, and still
// images of any target. Nothing here fails loudly: what cannot be listed or
// captured comes back empty.
struct CaptureChoices {
    struct Item {
        QString id;
        QString title;
        QString subtitle;
        CaptureTarget target;
        std::optional<QImage> preview;
        std::optional<QImage> icon;
    };

    std::vector<Item> displays;
    std::vector<Item> windows;

    // Title prefixes of auxiliary windows that other toolkits create.
    static const QStringList toolkitInternals;

    static QCoro::Task<CaptureChoices> current(std::shared_ptr<ScreenCapture> service);
    static std::vector<ShareableWindow> ownWindows(const ShareableContent& content);
    // `display` less this program's windows: those listed in `content` and
    // any it opens later.
    static ContentFilter withoutOwnWindows(const ShareableDisplay& display, const ShareableContent& content);
    // The content filter that shows `target`: a display without our own
    // windows; an application's windows on the display of its first visible
    // window (else the first display); one window; the desktop's pick, sized
    // as the first display. Nothing when the display, the application or the
    // window is gone, nor for an audio-only target.
    static std::optional<ContentFilter> filter(const CaptureTarget& target, const ShareableContent& content);
    // An image of the target, `width` pixels wide (twice the target's width
    // in points when not given), its height following the target's aspect.
    // Where no still can be had, one frame of a stream, waited for on `clock`.
    // With `part`, only the part of that image that it picks, given the
    // whole image's size; nothing when it picks none.
    using Part = std::function<std::optional<QRect>(QSize whole)>;
    static QCoro::Task<std::optional<QImage>> capture(std::shared_ptr<ScreenCapture> service, Clock& clock,
                                                      CaptureTarget target, std::optional<int> width = std::nullopt,
                                                      Part part = {});
    // One frame of a short stream, waiting about 0.4 seconds at most.
    static QCoro::Task<std::optional<QImage>> frameFromStream(std::shared_ptr<ScreenCapture> service, Clock& clock,
                                                              ContentFilter filter, StreamConfiguration config);

    // The pure parts of current() and capture().
    struct Process {
        qint64 processID = 0;
        std::optional<QString> bundleIdentifier;
    };
    static Process thisProcess();
    // Icons are left empty; current() fills them on the main thread.
    static CaptureChoices choices(const ShareableContent& content, const Process& process);
    static QString windowSubtitle(const ShareableApplication& application);
    // The image size for a target of `size` points: `width` wide (twice the
    // whole points of the target's width when not given), the height
    // following the target's shape, truncated and made even (2 at least).
    // Nothing when no sensible image can be made.
    static std::optional<QSize> outputSize(QSizeF size, std::optional<int> width);
};
