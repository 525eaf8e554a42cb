// The picker on the test X server: real windows of another program as tiles,
// and the window following the user to another virtual desktop.

#include "capture/capture_picker_window.h"
#include "platform/linux/desktop/desktop_workspace.h"

#include "tests/capture/integration/test_windows.h"
#include "tests/support/qt_wait.h"
#include "platform/linux/linux_platform.h"

#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

QString desktopOf(QWidget* window)
{
    const QString line = run("xprop", {"-id", QString::number(window->winId()), "_NET_WM_DESKTOP"});
    return line.section(u'=', 1).trimmed();
}

class CapturePickerOnX11Test : public ::testing::Test {
protected:
    void showGrid()
    {
        picker.show(QStringLiteral("Что записывать"), [this](CaptureTarget target) { picked.push_back(target); });
        ASSERT_TRUE(waitUntil([&] { return picker.view() == CapturePickerWindow::View::grid; }, 15000));
    }

    // The service is made before any window of the picker, as the program
    // makes it at its start.
    std::shared_ptr<ScreenCapture> capture = LinuxPlatform::screenCaptureForSession(nullptr);
    DesktopWorkspace workspace;
    SystemClock clock;
    CapturePickerWindow picker {workspace, CapturePickerWindow::Sources::of(capture, clock)};
    std::vector<CaptureTarget> picked;
};

} // namespace

TEST_F(CapturePickerOnX11Test, ShowsTheDesktopsWindowsAsTilesWithTheirPictures)
{
    const QStringList colours = {"#e01010", "#1030d0", "#10b030"};
    TestWindows windows({"Красное окно|#e01010|40|20|520|240", "Синее окно|#1030d0|680|20|480|240",
                         "Зелёное окно|#10b030|1300|20|560|240"});
    ASSERT_TRUE(windows.started());
    showGrid();

    for (int index = 0; index < colours.size(); ++index) {
        const QString id = QStringLiteral("window-%1").arg(windows.id(index));
        ASSERT_TRUE(picker.tiles().count(id)) << qPrintable(id);
        const TileView* tile = picker.tiles().at(id);
        ASSERT_TRUE(tile->preview()->image());
        EXPECT_FALSE(tile->preview()->isIcon());
        const QImage& thumbnail = *tile->preview()->image();
        EXPECT_EQ(thumbnail.width(), 480);
        const QColor middle = thumbnail.pixelColor(thumbnail.width() / 2, thumbnail.height() / 2);
        const QColor colour(colours[index]);
        EXPECT_NEAR(middle.red(), colour.red(), 8);
        EXPECT_NEAR(middle.green(), colour.green(), 8);
        EXPECT_NEAR(middle.blue(), colour.blue(), 8);
    }
    EXPECT_TRUE(std::any_of(picker.tiles().begin(), picker.tiles().end(),
                            [](const auto& tile) { return tile.first.startsWith("display-"); }));

    // A click on the red tile picks it and hides the picker.
    const TileView* red = picker.tiles().at(QStringLiteral("window-%1").arg(windows.id(0)));
    const QPoint onTile = red->mapToGlobal(QPoint(120, 80));
    run("xdotool", {"mousemove", QString::number(onTile.x()), QString::number(onTile.y()), "click", "1"});
    ASSERT_TRUE(waitUntil([&] { return !picked.empty(); }));
    EXPECT_EQ(picked[0], CaptureTarget::window(windows.id(0)));
    EXPECT_FALSE(picker.window()->isVisible());
}

TEST_F(CapturePickerOnX11Test, FollowsTheUserToAnotherDesktopAndReloads)
{
    TestWindows windows({"Окно для записи|#e0a010|100|20|500|240"});
    ASSERT_TRUE(windows.started());
    showGrid();
    ASSERT_TRUE(waitUntil([&] { return desktopOf(picker.window()) == "0"; }));
    const quint64 before = picker.generation();
    const QWidget* grid = picker.content();

    run("xdotool", {"set_desktop", "2"});
    EXPECT_TRUE(waitUntil([&] { return picker.generation() > before; }));
    EXPECT_TRUE(waitUntil([&] { return desktopOf(picker.window()) == "2"; }));
    EXPECT_TRUE(waitUntil([&] { return picker.content() != grid && picker.view() == CapturePickerWindow::View::grid; },
                          15000));

    // Hidden, it stays where it is.
    picker.window()->close();
    const quint64 closed = picker.generation();
    run("xdotool", {"set_desktop", "0"});
    waitUntil([] { return false; }, 500);
    EXPECT_EQ(picker.generation(), closed);
}

TEST_F(CapturePickerOnX11Test, ItsOwnWindowIsInNoDisplayThumbnail)
{
    const QColor beneath("#c03080");
    TestWindows windows({"Под выбором|#c03080|0|0|1920|1080"});
    ASSERT_TRUE(windows.started());
    showGrid();

    const auto display = std::find_if(picker.tiles().begin(), picker.tiles().end(),
                                      [](const auto& tile) { return tile.first.startsWith("display-"); });
    ASSERT_NE(display, picker.tiles().end());
    ASSERT_TRUE(display->second->preview()->image());
    const QImage& thumbnail = *display->second->preview()->image();
    // The other program's window covers the whole screen, so every pixel
    // away from the screen's edges (the window manager's border) is its.
    int foreign = 0;
    for (int y = 2; y < thumbnail.height() - 2; ++y) {
        for (int x = 2; x < thumbnail.width() - 2; ++x) {
            const QColor pixel = thumbnail.pixelColor(x, y);
            foreign += std::abs(pixel.red() - beneath.red()) + std::abs(pixel.green() - beneath.green())
                               + std::abs(pixel.blue() - beneath.blue()) > 24;
        }
    }
    EXPECT_EQ(foreign, 0) << "pixels of the picker in the display's thumbnail";
}
