// The editor and the sign-in window on the test X server's window manager:
// they come to the virtual desktop in use, as the user would see it.

#include "platform/linux/desktop/desktop_workspace.h"
#include "service/sign_in_window.h"
#include "shots/shot_preview_window.h"

#include "tests/shots/pictures.h"
#include "tests/support/event_loop_process.h"
#include "tests/support/qt_wait.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

namespace {

QString desktopOf(QWidget* window)
{
    const QString line = QString::fromUtf8(
        runWithEventLoop("xprop", {"-id", QString::number(window->winId()), "_NET_WM_DESKTOP"}));
    return line.section(u'=', 1).trimmed();
}

void switchTo(const char* desktop)
{
    runWithEventLoop("xdotool", {"set_desktop", desktop});
}

} // namespace

TEST(DesktopSwitching, TheEditorFollowsAndTheSignInWindowComesWhenAskedFor)
{
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    DesktopWorkspace workspace;
    SystemClock clock;
    ShotPreviewWindow editor(workspace, clock);
    editor.show(pictures::gradient(800, 500), [](QImage, Screenshot::Destination) {});
    ASSERT_TRUE(waitUntil([&] { return editor.window() && desktopOf(editor.window()) == "0"; }, 10000));
    SignInWindow signIn(workspace);
    signIn.show({});
    ASSERT_TRUE(waitUntil([&] { return desktopOf(signIn.window()) == "0"; }, 10000));

    switchTo("2");
    EXPECT_TRUE(waitUntil([&] { return desktopOf(editor.window()) == "2"; }, 10000)) << "the editor came along";
    EXPECT_EQ(desktopOf(signIn.window()), "0") << "the sign-in window waits where it was";
    // "Войти…" on the new desktop brings it there.
    signIn.show({});
    EXPECT_TRUE(waitUntil([&] { return desktopOf(signIn.window()) == "2"; }, 10000));
    switchTo("0");
}
