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
#include "tests/portal/test_picture_source.h"
#include "tests/support/stderr_capture.h"
#include "tests/support/task_outcome.h"
#include "platform/linux/linux_platform.h"

#include <QDBusInterface>
#include <QDBusReply>
#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <qcoro/qcorotask.h>

#include <gtest/gtest.h>

#include <atomic>

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

// Whether a decoded colour is the test picture's bar: its full channels
// bright, its empty ones dark (the encoder shifts levels and smears colour a little).
::testing::AssertionResult sameBar(QRgb decoded, int bar)
{
    const QRgb expected = TestPictureSource::bars[bar];
    const auto matches = [](int channel, int full) { return full > 0 ? channel >= 128 : channel <= 96; };
    if (matches(qRed(decoded), qRed(expected)) && matches(qGreen(decoded), qGreen(expected))
        && matches(qBlue(decoded), qBlue(expected)))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "bar " << bar << " is " << QColor(decoded).name().toStdString();
}

// The first picture of a video, decoded by the ffmpeg program.
QImage firstFrame(const QString& video)
{
    const QString png = video + ".png";
    QProcess::execute("ffmpeg", {"-v", "error", "-y", "-i", video, "-frames:v", "1", png});
    return QImage(png);
}

class VideoOutput final : public StreamOutput {
public:
    explicit VideoOutput(VideoWriter& writer) : writer_(writer) {}
    void didOutputSampleBuffer(const SampleBuffer& sample, StreamOutputType type) override
    {
        if (type != StreamOutputType::Screen || sample.image.isNull())
            return;
        ++frames;
        writer_.append({sample.image, sample.presentationTime});
    }
    std::atomic<int> frames{0};

private:
    VideoWriter& writer_;
};

class CountingDelegate final : public StreamDelegate {
public:
    void didStopWithError(const QString&) override { ++stops; }
    std::atomic<int> stops{0};
};

// A stream of the portal's picture into a 960 × 540 video, started.
struct Recording {
    Recording(ScreenCapture& capture, const ContentFilter& filter, const QString& path,
              std::shared_ptr<StreamDelegate> delegate = nullptr)
        : writer(path, 960, 540, LinuxPlatform::videoMedia())
    {
        StreamConfiguration configuration;
        configuration.width = 960;
        configuration.height = 540;
        configuration.minimumFrameInterval = 0.1;
        configuration.showsCursor = true;
        configuration.capturesAudio = true;
        stream = capture.makeStream(filter, configuration, std::move(delegate));
        EXPECT_FALSE(stream->addStreamOutput(frames, StreamOutputType::Screen, &queue));
        EXPECT_FALSE(QCoro::waitFor(stream->startCapture()));
    }
    // Stops once `count` frames came; the written file.
    std::optional<QString> finishAfter(int count)
    {
        EXPECT_TRUE(waitUntil([&] { return frames->frames >= count; }, 20000));
        QCoro::waitFor(stream->stopCapture());
        queue.sync([] {});
        delivered = frames->frames;
        return QCoro::waitFor(writer.finish());
    }

    VideoWriter writer;
    std::shared_ptr<VideoOutput> frames = std::make_shared<VideoOutput>(writer);
    SerialQueue queue{"test.screen"};
    std::unique_ptr<Stream> stream;
    int delivered = 0;
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
            same = cut->pixel(x, y) == TestPictureSource::screenshotPixel(1920 + 200 + x, 100 + y);
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

    auto stream = capture->makeStream(ContentFilter::ofDisplay({}, {}), StreamConfiguration(), nullptr);
    const auto failed = QCoro::waitFor(stream->startCapture());
    ASSERT_TRUE(failed);
    EXPECT_EQ(*failed, Stream::denied) << "the recorder turns this into its own denial text";
}

TEST_F(PortalCapture, ADisplayRecordingIsADecodableH264VideoOfTheSharedPictureAndTheDesktopAsksOnce)
{
    for (int recording = 0; recording < 2; ++recording) {
        SCOPED_TRACE(recording);
        const QString path = folder.filePath(QString("video-%1.mp4").arg(recording));
        Recording video(*capture, ContentFilter::ofDisplay({}, {}), path);
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
        const auto written = video.finishAfter(15);
        ASSERT_TRUE(written);

        const ProbedVideo probed = probeVideo(*written);
        EXPECT_EQ(probed.codec, "h264");
        EXPECT_EQ(probed.width, 960);
        EXPECT_EQ(probed.height, 540);
        EXPECT_GE(int(probed.frameTimes.size()), 10);
        EXPECT_LE(int(probed.frameTimes.size()), video.delivered);
        // At most ten frames a second from a source that makes thirty.
        if (probed.frameTimes.size() > 2) {
            const double span = probed.frameTimes.back() - probed.frameTimes.front();
            EXPECT_LE(probed.frameTimes.size() - 1, span * 10 + 2);
        }
        const QImage first = firstFrame(*written);
        ASSERT_EQ(first.size(), QSize(960, 540));
        for (int bar = 0; bar < 7; ++bar) {
            const int x = int((bar + 0.5) * 960 / 7);
            EXPECT_TRUE(sameBar(first.pixel(x, 100), bar));
        }
    }
}

TEST_F(PortalCapture, TheDesktopsPickOffersScreensAndWindowsAndKeepsItsShapeInTheVideo)
{
    // The user picks a square window for a video of the first screen's shape.
    fakePortal().call(QStringLiteral("SetStreamSize"), 1080, 1080);
    const ShareableDisplay first{1, 1920, 1080, QRectF(0, 0, 1920, 1080)};
    Recording video(*capture, ContentFilter::ofDesktopChoice(first), folder.filePath("video.mp4"));
    EXPECT_EQ(lastRequest(QStringLiteral("select_sources")).value(QStringLiteral("types")).toUInt(), 3u)
        << "a monitor or a window";
    const auto written = video.finishAfter(5);
    ASSERT_TRUE(written);

    const QImage picture = firstFrame(*written);
    ASSERT_EQ(picture.size(), QSize(960, 540));
    for (const int x : {40, 180, 780, 920})
        EXPECT_LE(qGray(picture.pixel(x, 100)), 40) << "black beside the picture at " << x;
    // The picture's seven bars in the middle 540 columns, unstretched.
    for (int bar = 0; bar < 7; ++bar) {
        const int x = 210 + int((bar + 0.5) * 540 / 7);
        EXPECT_TRUE(sameBar(picture.pixel(x, 100), bar));
    }
}

TEST_F(PortalCapture, APictureThatEndsMidRecordingLeavesTheVideoSoFarAndDoesNotStopTheStream)
{
    auto delegate = std::make_shared<CountingDelegate>();
    Recording video(*capture, ContentFilter::ofDisplay({}, {}), folder.filePath("video.mp4"), delegate);
    ASSERT_TRUE(waitUntil([&] { return video.frames->frames >= 10; }, 20000));

    StderrCapture errors;
    fakePortal().call(QStringLiteral("EndStreams"));
    // The picture stops coming; give it time to be sure nothing more arrives.
    int before = -1;
    EXPECT_TRUE(waitUntil(
        [&] {
            const bool still = video.frames->frames == std::exchange(before, video.frames->frames);
            QThread::msleep(500);
            return still;
        },
        10000));
    const QByteArray logged = errors.take();
    EXPECT_TRUE(logged.contains("картинка экрана прервалась")) << logged.toStdString();
    EXPECT_EQ(delegate->stops, 0) << "the recording is not told to stop";

    const auto written = video.finishAfter(0);
    ASSERT_TRUE(written);
    const ProbedVideo probed = probeVideo(*written);
    EXPECT_EQ(probed.codec, "h264");
    EXPECT_GE(int(probed.frameTimes.size()), 10);
}
