#include "shots/screenshot.h"

#include "tests/shots/pictures.h"
#include "tests/support/manual_clock.h"
#include "tests/support/qt_wait.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

// Awaits take inside a coroutine of our own, which keeps the failure: waiting
// on a task that threw blocks in QCoro 0.8's waitFor.
QCoro::Task<void> takeReportingFailure(SelectedArea area, Screenshot::Capture capture, Clock& clock, QString* failure)
{
    try {
        co_await Screenshot::take(area, std::move(capture), clock);
    } catch (const Screenshot::Failure& error) {
        *failure = error.description();
    }
}

class ScreenshotClock : public ::testing::Test {
protected:
    ManualClock clock {QDateTime(QDate(2025, 3, 3), QTime(14, 5, 9))};
};

} // namespace

TEST(ScreenshotCrop, ScalesByImageWidthOverScreenWidthWidensToWholePixelsAndClipsToTheImage)
{
    const QSize display(1920, 1080), half(480, 270); // two and one half pixels per point of 960 × 540
    const struct {
        QSize image;
        QRectF area;
        std::optional<QRect> cut;
        const char* why;
        QSizeF screen = QSizeF(960, 540);
    } cases[] = {
        {display, {30, 40, 100, 50}, QRect(60, 80, 200, 100), "scaled"},
        {display, {10.3, 0, 100, 50}, QRect(20, 0, 201, 100), "pixel 20.6 to 220.6"},
        {display, {0, 0, 10, 10}, QRect(0, 0, 20, 20), "the screen's height is not consulted", {960, 1}},
        {QSize(30, 20), {0.1, 0, 0.5, 0.5}, QRect(3, 0, 15, 15), "a screen width of 0 counts as 1", {0, 0}},
        {half, {10, 10, 0, 4}, std::nullopt, "no width"},
        {half, {10.2, 10, 0.5, 4}, QRect(5, 5, 1, 2), "a quarter pixel still touches one whole pixel"},
        {display, {-10, 500, 100, 100}, QRect(0, 1000, 180, 80), "clipped to the image"},
        {display, {2000, 0, 50, 50}, std::nullopt, "wholly off the image"},
        {QSize(), {0, 0, 50, 50}, std::nullopt, "no image"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Screenshot::crop(c.image, {c.area, 1, c.screen}), c.cut) << c.why;
}

TEST_F(ScreenshotClock, TakeRetriesOnceAfter150MillisecondsThenFails)
{
    int calls = 0;
    SelectedArea asked;
    auto flaky = [&](const SelectedArea& area) -> QCoro::Task<std::optional<QImage>> {
        asked = area;
        if (++calls == 1)
            co_return std::nullopt;
        co_return pictures::gradient(4, 4);
    };
    const SelectedArea wanted{QRectF(1, 2, 30, 40), 42, QSizeF(960, 540)};
    auto task = Screenshot::take(wanted, flaky, clock);
    EXPECT_EQ(calls, 1);
    clock.advance(0.149);
    EXPECT_EQ(calls, 1);
    clock.advance(0.001);
    EXPECT_EQ(calls, 2);
    const QImage image = QCoro::waitFor(task);
    EXPECT_EQ(image.size(), QSize(4, 4));
    EXPECT_EQ(asked, wanted);

    calls = 0;
    auto never = [&](const SelectedArea&) -> QCoro::Task<std::optional<QImage>> {
        ++calls;
        co_return std::nullopt;
    };
    QString failure;
    auto failing = takeReportingFailure(wanted, never, clock, &failure);
    EXPECT_EQ(calls, 1);
    clock.advance(0.15);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(failure, "Не удалось снять экран. Проверьте доступ к записи экрана в настройках.");
    clock.advance(1);
    EXPECT_EQ(calls, 2) << "exactly one retry";
}

TEST_F(ScreenshotClock, SaveNamesByTheMomentCreatesTheFolderAndReplacesWithinASecond)
{
    QTemporaryDir root;
    const QString folder = root.filePath("нет/ещё");
    const QImage first = pictures::gradient(64, 48);
    const QString path = Screenshot::save(first, folder, clock.now());
    EXPECT_EQ(path, QDir(folder).filePath("skrinshot-2025-03-03-140509.png"));
    EXPECT_EQ(QImage(path, "png").convertToFormat(QImage::Format_RGB32), first);

    clock.advance(0.5);
    const QImage second = pictures::gradient(10, 10);
    EXPECT_EQ(Screenshot::save(second, folder, clock.now()), path);
    EXPECT_EQ(QImage(path, "png").convertToFormat(QImage::Format_RGB32), second);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{"skrinshot-2025-03-03-140509.png"})
        << "no temporary file is left behind";
}

TEST_F(ScreenshotClock, SaveFailuresKeepTheOldFileAndSayWhyInRussian)
{
    try {
        Screenshot::save(QImage(), QDir::tempPath(), clock.now());
        FAIL();
    } catch (const Screenshot::Failure& failure) {
        EXPECT_EQ(failure.description(), "Снимок сделан, но не сохранился: не удалось собрать png");
    }

    QTemporaryDir root;
    QFile blocker(root.filePath("файл"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    try {
        Screenshot::save(pictures::gradient(8, 8), root.filePath("файл/снимки"), clock.now());
        FAIL() << "a folder cannot be made inside a file";
    } catch (const Screenshot::Failure& failure) {
        EXPECT_EQ(failure.kind(), Screenshot::Failure::Kind::writeFailed);
        EXPECT_TRUE(failure.description().startsWith("Снимок сделан, но не сохранился: не удалось создать папку"))
            << failure.description().toStdString();
    }

    if (geteuid() != 0) {
        const QString path = Screenshot::save(pictures::gradient(8, 8), root.path(), clock.now());
        chmod(root.path().toLocal8Bit().constData(), 0500);
        EXPECT_THROW(Screenshot::save(pictures::gradient(9, 9), root.path(), clock.now()), Screenshot::Failure);
        chmod(root.path().toLocal8Bit().constData(), 0700);
        EXPECT_EQ(QImage(path).size(), QSize(8, 8)) << "the earlier shot is intact";
    }
}

TEST(ScreenshotClipboard, HoldsTheImageOnePointPerPixel)
{
    QImage shot = pictures::gradient(40, 30);
    shot.setDevicePixelRatio(2);
    Screenshot::copyToClipboard(shot);
    const QImage held = QGuiApplication::clipboard()->image();
    EXPECT_EQ(held.size(), QSize(40, 30));
    EXPECT_EQ(held.devicePixelRatio(), 1.0);
    EXPECT_EQ(held.convertToFormat(QImage::Format_RGB32), shot.convertToFormat(QImage::Format_RGB32));
}
