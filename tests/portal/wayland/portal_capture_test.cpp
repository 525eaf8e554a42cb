// Screen capture through xdg-desktop-portal on the private Wayland test
// desktop: the stock frontend between us and the fake backend, a real
// PipeWire stream of a known test picture, real encoded files.

#include "platform/linux/portal/portal_screen_capture.h"
#include "capture/capture_choices.h"
#include "core/serial_queue.h"
#include "recording/video_writer.h"
#include "shots/area_selector.h"
#include "shots/screenshot.h"
#include "shots/selection_view.h"
#include "tests/support/media_probe.h"
#include "tests/support/qt_wait.h"
#include "tests/support/stderr_capture.h"
#include "tests/support/task_outcome.h"
#include "platform/linux/linux_platform.h"

#include <QDBusInterface>
#include <QDBusReply>
#include <QDir>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <qcoro/qcorotask.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

namespace {

// The desktop's permission as the program keeps it between recordings.
struct KeptToken final : RestoreTokenKeeper {
    QString restoreToken() const override { return token; }
    void keepRestoreToken(const QString& kept) override { token = kept; }
    QString token;
};

QDBusInterface fakePortal()
{
    return QDBusInterface(QStringLiteral("org.freedesktop.impl.portal.desktop.korvalatest"),
                          QStringLiteral("/org/korvala/FakePortal"), QStringLiteral("org.korvala.FakePortal"),
                          QDBusConnection::sessionBus());
}

// What the frontend passed on to the backend for the named request.
QVariantMap lastRequest(const QString& name)
{
    auto portal = fakePortal();
    const QDBusReply<QVariantMap> requests = portal.call(QStringLiteral("Requests"));
    const QVariant request = requests.value().value(name);
    if (request.canConvert<QDBusArgument>())
        return qdbus_cast<QVariantMap>(request.value<QDBusArgument>());
    return request.toMap();
}

// The fake's screenshot: red and green count the column and row, blue the
// 256-pixel tile.
QRgb knownPixel(int x, int y)
{
    return qRgb(x % 256, y % 256, (x / 256 + (y / 256) * 8) % 256);
}

// The colour bars of the test picture, left to right.
const QRgb topBars[] = {qRgb(191, 191, 191), qRgb(191, 191, 0), qRgb(0, 191, 191), qRgb(0, 191, 0),
                        qRgb(191, 0, 191),   qRgb(191, 0, 0),   qRgb(0, 0, 191)};

// Whether a decoded colour is the bar's: its full channels bright, its empty
// ones dark (the encoder shifts levels and smears colour a little).
bool sameBar(QRgb decoded, QRgb bar)
{
    const auto matches = [](int channel, int expected) { return expected > 0 ? channel >= 128 : channel <= 96; };
    return matches(qRed(decoded), qRed(bar)) && matches(qGreen(decoded), qGreen(bar))
           && matches(qBlue(decoded), qBlue(bar));
}

// The first picture of a video, decoded by the ffmpeg program.
QImage firstFrame(const QString& video, const QString& folder)
{
    const QString png = QDir(folder).filePath(QStringLiteral("first.png"));
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"),
                                            QStringLiteral("-i"), video, QStringLiteral("-frames:v"),
                                            QStringLiteral("1"), png});
    ffmpeg.waitForFinished(30000);
    return QImage(png);
}

class VideoOutput final : public StreamOutput {
public:
    explicit VideoOutput(VideoWriter& writer) : writer_(writer) {}
    void didOutputSampleBuffer(const SampleBuffer& sample, StreamOutputType type) override
    {
        if (type != StreamOutputType::Screen || sample.image.isNull())
            return;
        {
            std::lock_guard lock(mutex_);
            lastTime_ = sample.presentationTime;
            size_ = sample.image.size();
        }
        ++frames;
        writer_.append({sample.image, sample.presentationTime});
    }
    double lastTime()
    {
        std::lock_guard lock(mutex_);
        return lastTime_;
    }
    std::atomic<int> frames{0};

private:
    VideoWriter& writer_;
    std::mutex mutex_;
    double lastTime_ = 0;
    QSize size_;
};

class CountingDelegate final : public StreamDelegate {
public:
    void didStopWithError(const QString&) override { ++stops; }
    std::atomic<int> stops{0};
};

class PortalCapture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        auto portal = fakePortal();
        portal.call(QStringLiteral("SetAnswer"), 0u);
        portal.call(QStringLiteral("ForgetRequests"));
        tokens = std::make_shared<KeptToken>();
        capture = std::make_shared<PortalScreenCapture>(QDBusConnection::sessionBus(), tokens);
    }
    void TearDown() override
    {
        auto portal = fakePortal();
        portal.call(QStringLiteral("SetAnswer"), 0u);
        portal.call(QStringLiteral("SetStreamSize"), 1920, 1080);
    }

    static StreamConfiguration videoConfiguration()
    {
        StreamConfiguration configuration;
        configuration.width = 960;
        configuration.height = 540;
        configuration.minimumFrameInterval = 0.1;
        configuration.showsCursor = true;
        configuration.capturesAudio = true;
        return configuration;
    }

    QTemporaryDir folder;
    std::shared_ptr<KeptToken> tokens;
    std::shared_ptr<PortalScreenCapture> capture;
};

// The area of its display, the way the program captures it for a screenshot.
Screenshot::Capture areaCapture(std::shared_ptr<ScreenCapture> capture, Clock& clock)
{
    return [capture, &clock](const SelectedArea& area) {
        return CaptureChoices::capture(capture, clock, CaptureTarget::display(area.displayID), std::nullopt,
                                       [area](QSize whole) { return Screenshot::crop(whole, area); });
    };
}

} // namespace

TEST_F(PortalCapture, AnAreaDrawnOnTheSecondScreenIsCutFromThatScreenInTheDesktopsScreenshot)
{
    SystemClock clock;
    // Two screens of 960 × 540 points at two pixels a point (the test's Qt
    // platform), side by side in one screenshot of the whole desktop.
    const auto screens = QGuiApplication::screens();
    ASSERT_EQ(screens.size(), 2);
    ASSERT_EQ(screens[1]->geometry(), QRect(960, 0, 960, 540));
    fakePortal().call(QStringLiteral("SetStreamSize"), 3840, 1080);

    // The capture and the numbering the program itself uses on this session.
    const auto session = LinuxPlatform::screenCaptureForSession(tokens);
    AreaSelector selector(nullptr, [session](const QScreen* screen) { return session->displayNumber(screen); });
    std::optional<SelectedArea> area;
    selector.begin([&area](std::optional<SelectedArea> drawn) { area = drawn; });
    ASSERT_EQ(selector.windows().size(), 2);
    SelectionView* second = selector.windows()[1];
    ASSERT_EQ(second->geometry(), screens[1]->geometry());
    QTest::mousePress(second, Qt::LeftButton, {}, QPoint(100, 50));
    QTest::mouseMove(second, QPoint(251, 131));
    QTest::mouseRelease(second, Qt::LeftButton, {}, QPoint(251, 131));
    ASSERT_TRUE(waitUntil([&area] { return area.has_value(); }));

    const auto shot = runTask<Screenshot::Failure>(Screenshot::take(*area, areaCapture(session, clock), clock));
    ASSERT_FALSE(shot.error) << "display " << area->displayID << ": " << shot.error->description().toStdString();
    EXPECT_FALSE(lastRequest(QStringLiteral("screenshot")).value(QStringLiteral("interactive")).toBool());
    // The portal's file is not left behind among the user's files.
    EXPECT_TRUE(QDir(qEnvironmentVariable("XDG_RUNTIME_DIR"))
                    .entryList({QStringLiteral("fake-screenshot-*.png")}, QDir::Files)
                    .isEmpty());

    // The second screen at its own pixels, cut to the area.
    const auto cut = shot.value;
    ASSERT_EQ(cut->size(), QSize(302, 162));
    bool same = true;
    for (int y = 0; y < cut->height() && same; ++y)
        for (int x = 0; x < cut->width() && same; ++x)
            same = cut->pixel(x, y) == knownPixel(1920 + 200 + x, 100 + y);
    EXPECT_TRUE(same) << "the cut-out is the desktop's pixels under the drawn area, unscaled";
}

TEST_F(PortalCapture, ARefusalInTheDesktopsDialogGivesTheDenialTextsWithoutHanging)
{
    fakePortal().call(QStringLiteral("SetAnswer"), 1u);

    SystemClock clock;
    const SelectedArea area{QRectF(0, 0, 100, 100), 1, QSizeF(960, 540)};
    const auto shot = runTask<Screenshot::Failure>(Screenshot::take(area, areaCapture(capture, clock), clock));
    ASSERT_TRUE(shot.error) << "a refused screenshot must fail";
    EXPECT_EQ(shot.error->kind(), Screenshot::Failure::Kind::captureFailed);
    EXPECT_EQ(shot.error->description(),
              QString::fromUtf8("Не удалось снять экран. Проверьте доступ к записи экрана в настройках."));

    auto stream = capture->makeStream(ContentFilter::ofDisplay({}, {}), videoConfiguration(), nullptr);
    const auto failed = QCoro::waitFor(stream->startCapture());
    ASSERT_TRUE(failed);
    EXPECT_EQ(*failed, Stream::denied) << "the recorder turns this into its own denial text";
}

TEST_F(PortalCapture, ADisplayRecordingIsADecodableH264VideoOfTheSharedPictureAndTheDesktopAsksOnce)
{
    QTemporaryDir output;
    const QString path = output.filePath(QStringLiteral("video.mp4"));
    for (int recording = 0; recording < 2; ++recording) {
        VideoWriter writer(path, 960, 540, LinuxPlatform::videoMedia());
        auto frames = std::make_shared<VideoOutput>(writer);
        SerialQueue screen("test.screen");
        auto stream = capture->makeStream(ContentFilter::ofDisplay({}, {}), videoConfiguration(), nullptr);
        ASSERT_FALSE(stream->addStreamOutput(frames, StreamOutputType::Screen, &screen));
        ASSERT_FALSE(QCoro::waitFor(stream->startCapture()));

        const QVariantMap selection = lastRequest(QStringLiteral("select_sources"));
        EXPECT_EQ(selection.value(QStringLiteral("types")).toUInt(), 1u) << "a monitor";
        EXPECT_EQ(selection.value(QStringLiteral("cursor_mode")).toUInt(), 2u) << "the pointer embedded";
        EXPECT_EQ(selection.value(QStringLiteral("persist_mode")).toUInt(), 2u);
        if (recording == 1) {
            // The second recording offers the token the first one was given,
            // and the frontend recognises it: the backend gets back what it
            // asked to keep, so a real desktop would not ask again.
            EXPECT_FALSE(tokens->token.isEmpty());
            EXPECT_TRUE(selection.contains(QStringLiteral("restore_data"))) << selection.keys().join(' ').toStdString();
        }

        EXPECT_TRUE(waitUntil([&] { return frames->frames >= 15; }, 20000));
        QCoro::waitFor(stream->stopCapture());
        screen.sync([] {});
        const int delivered = frames->frames;
        const auto written = QCoro::waitFor(writer.finish());
        ASSERT_TRUE(written);

        const ProbedVideo video = probeVideo(*written);
        EXPECT_EQ(video.codec, "h264");
        EXPECT_EQ(video.width, 960);
        EXPECT_EQ(video.height, 540);
        EXPECT_GE(int(video.frameTimes.size()), 10);
        EXPECT_LE(int(video.frameTimes.size()), delivered);
        // At most ten frames a second from a source that makes thirty.
        if (video.frameTimes.size() > 2) {
            const double span = video.frameTimes.back() - video.frameTimes.front();
            EXPECT_LE(video.frameTimes.size() - 1, span * 10 + 2);
        }
        const QImage first = firstFrame(*written, output.path());
        ASSERT_EQ(first.size(), QSize(960, 540));
        for (int bar = 0; bar < 7; ++bar) {
            const int x = int((bar + 0.5) * 960 / 7);
            EXPECT_TRUE(sameBar(first.pixel(x, 100), topBars[bar]))
                << "bar " << bar << " is " << std::hex << first.pixel(x, 100);
        }
        QFile::remove(path);
    }
}

TEST_F(PortalCapture, TheDesktopsPickOffersScreensAndWindowsAndKeepsItsShapeInTheVideo)
{
    // The user picks a square window for a video of the first screen's shape.
    fakePortal().call(QStringLiteral("SetStreamSize"), 1080, 1080);
    QTemporaryDir output;
    VideoWriter writer(output.filePath(QStringLiteral("video.mp4")), 960, 540, LinuxPlatform::videoMedia());
    auto frames = std::make_shared<VideoOutput>(writer);
    SerialQueue screen("test.screen");
    const ShareableDisplay first{1, 1920, 1080, QRectF(0, 0, 1920, 1080)};
    auto stream = capture->makeStream(ContentFilter::ofDesktopChoice(first), videoConfiguration(), nullptr);
    ASSERT_FALSE(stream->addStreamOutput(frames, StreamOutputType::Screen, &screen));
    ASSERT_FALSE(QCoro::waitFor(stream->startCapture()));
    EXPECT_EQ(lastRequest(QStringLiteral("select_sources")).value(QStringLiteral("types")).toUInt(), 3u)
        << "a monitor or a window";
    EXPECT_TRUE(waitUntil([&] { return frames->frames >= 5; }, 20000));
    QCoro::waitFor(stream->stopCapture());
    screen.sync([] {});
    const auto written = QCoro::waitFor(writer.finish());
    ASSERT_TRUE(written);

    const QImage picture = firstFrame(*written, output.path());
    ASSERT_EQ(picture.size(), QSize(960, 540));
    for (const int x : {40, 180, 780, 920})
        EXPECT_LE(qGray(picture.pixel(x, 100)), 40) << "black beside the picture at " << x;
    // The picture's seven bars in the middle 540 columns, unstretched.
    for (int bar = 0; bar < 7; ++bar) {
        const int x = 210 + int((bar + 0.5) * 540 / 7);
        EXPECT_TRUE(sameBar(picture.pixel(x, 100), topBars[bar]))
            << "bar " << bar << " is " << std::hex << picture.pixel(x, 100);
    }
}

TEST_F(PortalCapture, APictureThatEndsMidRecordingLeavesTheVideoSoFarAndDoesNotStopTheStream)
{
    QTemporaryDir output;
    VideoWriter writer(output.filePath(QStringLiteral("video.mp4")), 960, 540, LinuxPlatform::videoMedia());
    auto frames = std::make_shared<VideoOutput>(writer);
    auto delegate = std::make_shared<CountingDelegate>();
    SerialQueue screen("test.screen");
    auto stream = capture->makeStream(ContentFilter::ofDisplay({}, {}), videoConfiguration(), delegate);
    ASSERT_FALSE(stream->addStreamOutput(frames, StreamOutputType::Screen, &screen));
    ASSERT_FALSE(QCoro::waitFor(stream->startCapture()));
    ASSERT_TRUE(waitUntil([&] { return frames->frames >= 10; }, 20000));

    StderrCapture errors;
    fakePortal().call(QStringLiteral("EndStreams"));
    QByteArray logged;
    EXPECT_TRUE(waitUntil([&] { return frames->lastTime() > 0; }));
    // The picture stops coming; give it time to be sure nothing more arrives.
    int before = -1;
    EXPECT_TRUE(waitUntil(
        [&] {
            const int now = frames->frames;
            const bool still = now == before;
            before = now;
            QThread::msleep(500);
            return still;
        },
        10000));
    logged = errors.take();
    EXPECT_TRUE(logged.contains("картинка экрана прервалась")) << logged.toStdString();
    EXPECT_EQ(delegate->stops, 0) << "the recording is not told to stop";

    QCoro::waitFor(stream->stopCapture());
    screen.sync([] {});
    const auto written = QCoro::waitFor(writer.finish());
    ASSERT_TRUE(written);
    const ProbedVideo video = probeVideo(*written);
    EXPECT_EQ(video.codec, "h264");
    EXPECT_GE(int(video.frameTimes.size()), 10);
}
