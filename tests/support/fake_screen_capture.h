#pragma once

#include "platform/screen_capture.h"

#include <QImage>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// A screen-capture service whose content, still images and stream frames a
// test sets, and which records what it was asked for.
class FakeScreenCapture final : public ScreenCapture {
public:
    struct StillRequest {
        ContentFilter filter;
        StreamConfiguration configuration;
    };

    // Nothing: the content cannot be listed.
    std::optional<ShareableContent> content;
    // What a still image request answers; nothing by default.
    std::function<std::optional<QImage>(const StillRequest&)> still;
    // Frames a started stream hands to its screen outputs at once.
    std::vector<QImage> streamFrames;
    bool streamStarts = true;
    // A stream with a picture answers Stream::denied, as when the desktop's
    // chooser is cancelled; a stream of sound alone still starts.
    bool refusesPictures = false;
    // Whether the desktop picks what a stream shows, as a portal's does.
    bool desktopPicks = false;

    // What a made stream was given and what was attached to it.
    struct StreamRecord {
        ContentFilter filter;
        StreamConfiguration configuration;
        std::shared_ptr<StreamDelegate> delegate;
        std::vector<std::pair<StreamOutputType, std::shared_ptr<StreamOutput>>> outputs;
        bool running = false;
    };
    std::vector<std::shared_ptr<StreamRecord>> streams;
    // Awaited inside a stream's start once it runs, before it answers, as a
    // desktop's chooser holds a start whose sound already flows.
    std::function<QCoro::Task<void>()> startWaits;
    // Run inside a stream's start and stop, before they answer.
    std::function<void()> onStreamStart;
    std::function<void()> onStreamStop;

    // Hands `buffer` to the audio outputs of every running stream, on the
    // calling thread, as the sound thread of a real stream does.
    void deliverAudio(const PcmBuffer& buffer);
    // The last stream ends by itself with `description`.
    void stopBySelf(const QString& description);

    int listings = 0;
    std::vector<StillRequest> stillRequests;
    int streamsStarted = 0;
    int streamsStopped = 0;

    QCoro::Task<std::optional<ShareableContent>> shareableContent() override;
    QCoro::Task<std::optional<QImage>> captureImage(ContentFilter filter, StreamConfiguration configuration) override;
    std::unique_ptr<Stream> makeStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                                       std::shared_ptr<StreamDelegate> delegate) override;
    bool desktopPicksContent() const override { return desktopPicks; }
    // Screens are numbered from 1 in Qt's order, as the portal does.
    quint32 displayNumber(const QScreen* screen) const override;
};

// Builders for content in tests.
ShareableDisplay fakeDisplay(uint32_t id, int width, int height, double x = 0);
ShareableApplication fakeApplication(const QString& name, qint64 pid, const QString& bundleID = {});
ShareableWindow fakeWindow(uint32_t id, const std::optional<QString>& title,
                           const std::optional<ShareableApplication>& owner, QRectF frame = QRectF(0, 0, 800, 600),
                           int layer = 0);
