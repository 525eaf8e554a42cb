#include "capture/capture_choices.h"

#include "tests/shots/pictures.h"
#include "tests/support/fake_screen_capture.h"
#include "tests/support/manual_clock.h"
#include "tests/support/qt_wait.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <qcoro/qcorotask.h>

namespace {

class CaptureChoicesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake->still = [](const FakeScreenCapture::StillRequest& r) {
            return std::optional<QImage>(pictures::plain(r.configuration.width, r.configuration.height, Qt::red));
        };
    }

    static QStringList windowIds(const CaptureChoices& choices)
    {
        QStringList ids;
        for (const auto& item : choices.windows)
            ids << item.id;
        return ids;
    }

    std::shared_ptr<FakeScreenCapture> fake = std::make_shared<FakeScreenCapture>();
    const qint64 ownPid = QCoreApplication::applicationPid();
    // Where a stream is waited for, it waits in real time.
    SystemClock clock;
};

} // namespace

TEST_F(CaptureChoicesTest, OnlyOrdinaryTitledLargeEnoughWindowsOfOtherApplicationsAreOffered)
{
    const auto editor = fakeApplication("Editor", 500);
    const auto own = fakeApplication("Korvala", ownPid);
    const auto sameBundle = fakeApplication("Korvala", 501, "app.korvala.Korvala");
    ShareableContent content;
    content.windows = {
        fakeWindow(1, QString("Отчёт"), editor),
        fakeWindow(2, QString("Узкое"), editor, QRectF(0, 0, 199, 600)),
        fakeWindow(3, QString("Низкое"), editor, QRectF(0, 0, 600, 199.5)),
        fakeWindow(4, std::nullopt, editor),
        fakeWindow(5, QString(""), editor),
        fakeWindow(6, QString("Своё"), own),
        fakeWindow(7, QString("Панель"), editor, QRectF(0, 0, 800, 600), 3),
        fakeWindow(8, QString("VCL Impl frame"), editor),
        fakeWindow(9, QString("Без владельца"), std::nullopt),
        fakeWindow(10, QString("Квадрат"), editor, QRectF(0, 0, 200, 200)),
        fakeWindow(11, QString("Другой экземпляр"), sameBundle),
        fakeWindow(12, QString("Окно VCL Impl"), editor),
    };
    const auto choices = CaptureChoices::choices(content, {ownPid, QStringLiteral("app.korvala.Korvala")});
    EXPECT_EQ(windowIds(choices), (QStringList{"window-10", "window-12", "window-1"}));
    const auto& item = choices.windows[2];
    EXPECT_EQ(item.title, "Отчёт");
    EXPECT_EQ(item.target, CaptureTarget::window(1));
    EXPECT_EQ(item.subtitle, "Editor");

    // Without a bundle identifier of its own only the process is compared.
    const auto anonymous = CaptureChoices::choices(content, {ownPid, std::nullopt});
    EXPECT_TRUE(windowIds(anonymous).contains("window-11"));
}

TEST_F(CaptureChoicesTest, WindowsAreSortedByApplicationThenTitleIgnoringCaseAndKeepTiesInOrder)
{
    const auto gamma = fakeApplication("Gamma", 10);
    const auto beta = fakeApplication("beta", 11);
    const auto alpha = fakeApplication("Альфа", 12);
    ShareableContent content;
    content.windows = {
        fakeWindow(1, QString("b"), gamma),  fakeWindow(2, QString("z"), beta),  fakeWindow(3, QString("A"), gamma),
        fakeWindow(4, QString("same"), beta), fakeWindow(5, QString("Same"), beta), fakeWindow(6, QString("я"), alpha),
    };
    // "same" and "Same" are equal ignoring case: they keep the listed order.
    EXPECT_EQ(windowIds(CaptureChoices::choices(content, {})),
              (QStringList{"window-4", "window-5", "window-2", "window-3", "window-1", "window-6"}));
}

TEST_F(CaptureChoicesTest, TheSubtitleIsTheLongerOfTheNameAndTheEntryId)
{
    auto application = fakeApplication("Firefox", 1, "firefox-esr.desktop");
    EXPECT_EQ(CaptureChoices::windowSubtitle(application), "Firefox") << "no entry found: the name as it is";
    application.bundlePath = "/usr/share/applications/firefox-esr.desktop";
    EXPECT_EQ(CaptureChoices::windowSubtitle(application), "firefox-esr");
    application.applicationName = "Веб-браузер Firefox";
    EXPECT_EQ(CaptureChoices::windowSubtitle(application), "Веб-браузер Firefox");
}

// Nothing listable gives empty lists: the X11 tests see it from a server that is gone.
TEST_F(CaptureChoicesTest, IconsComeFromTheWindow)
{
    auto editor = fakeApplication("Editor", 500);
    editor.windowIcon = pictures::plain(32, 32, Qt::green);
    fake->content = ShareableContent{{fakeDisplay(1, 1920, 1080)},
                                     {fakeWindow(1, QString("Отчёт"), editor), fakeWindow(2, QString("Plain"), fakeApplication("Plain", 7))}, {}};
    auto listed = QCoro::waitFor(CaptureChoices::current(fake));
    ASSERT_EQ(listed.windows.size(), 2u);
    ASSERT_TRUE(listed.windows[0].icon);
    EXPECT_EQ(listed.windows[0].icon->pixelColor(16, 16), QColor(Qt::green));
    EXPECT_FALSE(listed.windows[1].icon);
    EXPECT_EQ(listed.displays.size(), 1u);
}

TEST_F(CaptureChoicesTest, OutputSizesFollowTheAspectAndStayEven)
{
    // 1512 × 982 at 480 wide is 311.7 high: 311, made even.
    const QSizeF display(1512, 982);
    EXPECT_EQ(CaptureChoices::outputSize(display, 480), QSize(480, 310));
    EXPECT_EQ(CaptureChoices::outputSize(QSizeF(640.7, 480), std::nullopt), QSize(1280, 958));
    EXPECT_EQ(CaptureChoices::outputSize(QSizeF(800, 0.8), 480), QSize(480, 2));
    EXPECT_EQ(CaptureChoices::outputSize(QSizeF(3, 3), 3), QSize(3, 2));
    EXPECT_FALSE(CaptureChoices::outputSize(display, 0));
    EXPECT_FALSE(CaptureChoices::outputSize(display, -480));
    EXPECT_FALSE(CaptureChoices::outputSize(QSizeF(0, 982), std::nullopt));
    EXPECT_FALSE(CaptureChoices::outputSize(QSizeF(0.5, 982), std::nullopt)) << "no whole point of width";
    EXPECT_FALSE(CaptureChoices::outputSize(QSizeF(10, std::numeric_limits<double>::infinity()), 480));
}

TEST_F(CaptureChoicesTest, ADisplayIsCapturedAtTwiceItsWidthWithoutTheProgramsOwnWindows)
{
    const auto own = fakeApplication("Korvala", ownPid);
    fake->content = ShareableContent{{fakeDisplay(5, 1440, 900), fakeDisplay(9, 1512, 982, 1440)},
                                     {fakeWindow(40, QString("Своё"), own), fakeWindow(41, QString("Чужое"), fakeApplication("X", 3))}, {}};

    const auto image = QCoro::waitFor(CaptureChoices::capture(fake, clock, CaptureTarget::display(9)));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), QSize(3024, 1964));
    // Only the own window is left out (the X11 tests see it in the pixels).
    ASSERT_EQ(fake->stillRequests.size(), 1u);
    EXPECT_EQ(fake->stillRequests[0].filter.excludedWindows.size(), 1u);

    const auto thumbnail = QCoro::waitFor(CaptureChoices::capture(fake, clock, CaptureTarget::display(9), 480));
    ASSERT_TRUE(thumbnail);
    EXPECT_EQ(thumbnail->size(), QSize(480, 310));
    EXPECT_EQ(fake->streamsStarted, 0) << "the still image served";

    // A part is asked of the service by the whole picture's size; a service
    // that hands back the whole picture anyway has the part cut out for it.
    const QImage whole = pictures::gradient(3024, 1964);
    fake->still = [&whole](const FakeScreenCapture::StillRequest&) { return std::optional<QImage>(whole); };
    QSize asked;
    const auto part = QCoro::waitFor(CaptureChoices::capture(fake, clock, CaptureTarget::display(9), std::nullopt,
                                                             [&asked](QSize size) {
                                                                 asked = size;
                                                                 return std::optional<QRect>(QRect(7, 9, 30, 20));
                                                             }));
    EXPECT_EQ(asked, QSize(3024, 1964));
    EXPECT_EQ(fake->stillRequests.back().configuration.region, QRect(7, 9, 30, 20));
    ASSERT_TRUE(part);
    EXPECT_EQ(*part, whole.copy(7, 9, 30, 20));
}

TEST_F(CaptureChoicesTest, WindowsAndApplicationsAreCapturedThroughTheirOwnFilters)
{
    const auto editor = fakeApplication("Editor", 500, "org.example.Editor.desktop");
    fake->content = ShareableContent{{fakeDisplay(5, 1600, 1000), fakeDisplay(9, 1512, 982, 1600)},
                                     {fakeWindow(41, QString("Отчёт"), editor, QRectF(100, 50, 640.7, 480))},
                                     {editor}};

    const auto window = QCoro::waitFor(CaptureChoices::capture(fake, clock, CaptureTarget::window(41)));
    ASSERT_TRUE(window);
    EXPECT_EQ(window->size(), QSize(1280, 958)) << "base width 640, height 480/640.7 × 1280 = 958.9";

    const auto application = QCoro::waitFor(CaptureChoices::capture(fake, clock, CaptureTarget::application("org.example.Editor.desktop"), 800));
    ASSERT_TRUE(application);
    EXPECT_EQ(application->size(), QSize(800, 500)) << "the first display's shape";
}

TEST_F(CaptureChoicesTest, TargetsThatAreGoneOrHaveNoPictureGiveNothing)
{
    fake->content = ShareableContent{{fakeDisplay(5, 1600, 1000)},
                                     {fakeWindow(41, QString("Пустое"), fakeApplication("A", 1), QRectF(0, 0, 0, 300))}, {}};

    EXPECT_FALSE(QCoro::waitFor(CaptureChoices::capture(fake, clock, CaptureTarget::audioOnly())));
    EXPECT_EQ(fake->listings, 0);
    EXPECT_FALSE(QCoro::waitFor(CaptureChoices::capture(fake, clock, CaptureTarget::window(77))));
    EXPECT_FALSE(QCoro::waitFor(CaptureChoices::capture(fake, clock, CaptureTarget::window(41))));
    EXPECT_FALSE(QCoro::waitFor(CaptureChoices::capture(fake, clock, CaptureTarget::display(6))));
    EXPECT_FALSE(QCoro::waitFor(CaptureChoices::capture(fake, clock, CaptureTarget::application("gone.desktop"))));
    EXPECT_FALSE(QCoro::waitFor(CaptureChoices::capture(fake, clock, CaptureTarget::display(5), 0)));
    EXPECT_TRUE(fake->stillRequests.empty());

    fake->content.reset();
    EXPECT_FALSE(QCoro::waitFor(CaptureChoices::capture(fake, clock, CaptureTarget::display(5))));
}

TEST_F(CaptureChoicesTest, AFailedStillFallsBackToTheFirstFrameOfAShortStream)
{
    fake->content = ShareableContent{{fakeDisplay(5, 1600, 1000)}, {}, {}};
    fake->still = nullptr;
    fake->streamFrames = {pictures::plain(480, 300, Qt::blue), pictures::plain(480, 300, Qt::yellow)};

    const auto image = QCoro::waitFor(CaptureChoices::capture(fake, clock, CaptureTarget::display(5), 480));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixelColor(0, 0), QColor(Qt::blue)) << "the first frame is kept";
    EXPECT_EQ(fake->stillRequests.size(), 1u);
    EXPECT_EQ(fake->streamsStarted, 1);
    EXPECT_EQ(fake->streamsStopped, 1);

    fake->streamStarts = false;
    EXPECT_FALSE(QCoro::waitFor(CaptureChoices::capture(fake, clock, CaptureTarget::display(5), 480)));
    EXPECT_EQ(fake->streamsStopped, 1) << "a stream that did not start is not stopped";

    // A desktop that picks what streams show would ask the user instead.
    fake->streamStarts = true;
    fake->desktopPicks = true;
    EXPECT_FALSE(QCoro::waitFor(CaptureChoices::capture(fake, clock, CaptureTarget::display(5), 480)));
    EXPECT_EQ(fake->streams.size(), 2u) << "no stream for a refused still";
}

TEST_F(CaptureChoicesTest, AStreamWithoutFramesIsGivenUpAfterTwentyShortWaits)
{
    ManualClock clock;
    auto task = CaptureChoices::frameFromStream(fake, clock, ContentFilter::ofDisplay(fakeDisplay(5, 1600, 1000), {}),
                                                StreamConfiguration{});
    int waits = 0;
    while (!task.isReady() && waits < 100) {
        ASSERT_EQ(clock.pending(), 1u);
        clock.advance(0.02);
        ++waits;
    }
    EXPECT_EQ(waits, 20);
    EXPECT_FALSE(QCoro::waitFor(std::move(task)));
    EXPECT_EQ(fake->streamsStopped, 1);
}

TEST(FrameGrabber, KeepsOnlyTheFirstScreenFrameThatHasAPicture)
{
    FrameGrabber grabber;
    QImage red(2, 2, QImage::Format_RGB32);
    red.fill(Qt::red);
    QImage green = red.copy();
    green.fill(Qt::green);

    grabber.didOutputSampleBuffer(SampleBuffer{StreamOutputType::Audio, red, 0}, StreamOutputType::Audio);
    grabber.didOutputSampleBuffer(SampleBuffer{StreamOutputType::Screen, QImage(), 0}, StreamOutputType::Screen);
    EXPECT_FALSE(grabber.stored());
    grabber.didOutputSampleBuffer(SampleBuffer{StreamOutputType::Screen, green, 0}, StreamOutputType::Screen);
    grabber.didOutputSampleBuffer(SampleBuffer{StreamOutputType::Screen, red, 1}, StreamOutputType::Screen);
    ASSERT_TRUE(grabber.stored());
    EXPECT_EQ(grabber.stored()->pixelColor(0, 0), QColor(Qt::green));
}
