#pragma once

#include "core/pcm_buffer.h"

#include <QImage>
#include <QRect>
#include <QRectF>
#include <QString>

#include <qcoro/qcorotask.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class QScreen;
class SerialQueue;

// What can be captured on this desktop: displays, windows and the
// applications that own them. Geometry is in points (device pixels divided
// by the screen's device-pixel ratio).
struct ShareableDisplay {
    uint32_t displayID = 0;
    int width = 0;
    int height = 0;
    QRectF frame;
};

struct ShareableApplication {
    QString bundleIdentifier;
    QString applicationName;
    qint64 processID = 0;
    // The installed file that describes the application (a desktop entry),
    // when one was found.
    std::optional<QString> bundlePath;
    // The icon the application's description names (a theme name or a path).
    QString iconName;
    // The icon the application gave its window, when it gave one.
    QImage windowIcon;
};

struct ShareableWindow {
    uint32_t windowID = 0;
    QRectF frame;
    std::optional<QString> title;
    // 0 for ordinary application windows.
    int windowLayer = 0;
    std::optional<ShareableApplication> owningApplication;
    bool isOnScreen = false;
};

struct ShareableContent {
    std::vector<ShareableDisplay> displays;
    // Front to back.
    std::vector<ShareableWindow> windows;
    std::vector<ShareableApplication> applications;
};

// What a still image or a stream shows.
struct ContentFilter {
    enum class Kind {
        // A display, less the excluded windows.
        Display,
        // A display, showing only the windows of the included applications.
        Applications,
        // One window, wherever it is.
        Window,
        // Whatever screen or window the user picks in the desktop's own
        // dialog when the stream starts; `display` gives the picture's size.
        DesktopChoice,
    };
    Kind kind = Kind::Display;
    ShareableDisplay display;
    std::vector<ShareableWindow> excludedWindows;
    // A display leaves out every window of this process too, also those
    // that open after the filter was made (an alert during a recording) and
    // those no window list shows (notices, menus).
    bool excludesCurrentProcessWindows = false;
    std::vector<ShareableApplication> includedApplications;
    ShareableWindow window;

    static ContentFilter ofDisplay(const ShareableDisplay& display, std::vector<ShareableWindow> excluding);
    static ContentFilter ofApplications(const ShareableDisplay& display, std::vector<ShareableApplication> including);
    static ContentFilter ofWindow(const ShareableWindow& window);
    static ContentFilter ofDesktopChoice(const ShareableDisplay& display);

    // The captured area in points: the display's or the window's size at
    // origin 0.
    QRectF contentRect() const;
};

// How a still image or a stream is produced. The output image is exactly
// width × height pixels.
struct StreamConfiguration {
    int width = 1920;
    int height = 1080;
    // Seconds between frames at most.
    double minimumFrameInterval = 1.0 / 60.0;
    // Still images only: just this part of the width × height picture, in
    // its pixels. The still is then the part's size and matches those pixels
    // of the whole picture, while only the part of the screen is read.
    std::optional<QRect> region;
    // Still images and thumbnails leave the pointer out unless asked.
    bool showsCursor = false;
    bool capturesAudio = false;
    bool excludesCurrentProcessAudio = false;
};

enum class StreamOutputType {
    Screen,
    Audio,
};

// One delivery of a stream. A screen sample may carry no image (a status-only
// sample). An audio sample points at planar PCM that belongs to the stream and
// is valid only while the output's call runs: whoever keeps it copies it.
struct SampleBuffer {
    StreamOutputType type = StreamOutputType::Screen;
    QImage image;
    // Seconds on the stream's monotonic clock.
    double presentationTime = 0;
    const PcmBuffer* audio = nullptr;
};

// The PCM view of an audio sample, without copying; nothing when the sample
// carries no usable audio.
const PcmBuffer* asPcmBuffer(const SampleBuffer& sample);

// Receives the samples of one type, on the queue it was added with.
class StreamOutput {
public:
    virtual ~StreamOutput() = default;
    virtual void didOutputSampleBuffer(const SampleBuffer& sample, StreamOutputType type) = 0;
};

// Told when a stream stops by itself; called on a thread of the stream.
class StreamDelegate {
public:
    virtual ~StreamDelegate() = default;
    virtual void didStopWithError(const QString& description) = 0;
    // The audio stopped coming for a reason that may pass (the sound server
    // restarting, no output device), with a short Russian reason; nullopt
    // once it comes again. The stream goes on meanwhile.
    virtual void didChangeAudioTrouble(const std::optional<QString>& trouble) { (void)trouble; }
};

// A running capture of one filter. Created stopped; the outputs must be added
// before starting. The queues an output was added with must outlive the
// stream's stop. Audio outputs are called on the stream's own audio thread
// (labelled ".system") rather than on a queue, so that a buffer reaches its
// writer without an extra copy; their queue may be null. A stream whose
// configuration does not capture audio refuses audio outputs.
class Stream {
public:
    virtual ~Stream() = default;

    // Returns the reason when the output cannot be added.
    virtual std::optional<QString> addStreamOutput(std::shared_ptr<StreamOutput> output, StreamOutputType type,
                                                   SerialQueue* queue) = 0;
    // Returns the reason when the capture could not start, `denied` when the
    // user or the desktop did not allow it. A stream without a screen output
    // reads no pictures at all.
    virtual QCoro::Task<std::optional<QString>> startCapture() = 0;
    static inline const QString denied = QStringLiteral("screen capture denied");
    // After it returns no output is called any more (work already handed to
    // their queues still runs there).
    virtual QCoro::Task<std::optional<QString>> stopCapture() = 0;
};

// The desktop's screen-capture service. Every operation may be awaited from
// the main thread: the work happens elsewhere, and a service that cannot be
// reached answers with nothing instead of blocking.
class ScreenCapture {
public:
    virtual ~ScreenCapture() = default;

    // Displays, all windows (also those not on screen) and their
    // applications; nothing when the desktop cannot be listed.
    virtual QCoro::Task<std::optional<ShareableContent>> shareableContent() = 0;
    // One still image; nothing when it cannot be taken.
    virtual QCoro::Task<std::optional<QImage>> captureImage(ContentFilter filter, StreamConfiguration configuration) = 0;
    virtual std::unique_ptr<Stream> makeStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                                               std::shared_ptr<StreamDelegate> delegate) = 0;
    // Whether the desktop, not the filter, decides what a stream shows: the
    // user picks a screen or a window in the desktop's own dialog (a Wayland
    // portal). Windows cannot be listed then, nor one screen named.
    virtual bool desktopPicksContent() const { return false; }
    // The number this service gives the display that `screen` shows, so
    // that an area drawn on that screen is captured from the same display.
    virtual quint32 displayNumber(const QScreen* screen) const = 0;
    // Whether translucent windows show what lies beneath them; without a
    // compositing manager they show their own pixels over black.
    virtual bool desktopComposites() const { return true; }
};
