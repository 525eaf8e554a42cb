// The desktop's look as the stock portal frontend passes it on from the
// fake backend's Settings: the editor opens in it and follows its changes.

#include "platform/linux/desktop/desktop_workspace.h"
#include "shots/shot_preview_parts.h"
#include "shots/shot_preview_window.h"
#include "tests/shots/pictures.h"
#include "tests/support/manual_clock.h"
#include "tests/support/qt_wait.h"

#include <QDBusInterface>
#include <QDBusReply>

#include <gtest/gtest.h>

namespace {

// 0 no preference, 1 dark, 2 light.
void chooseScheme(uint scheme)
{
    QDBusInterface portal(QStringLiteral("org.freedesktop.impl.portal.desktop.korvalatest"),
                          QStringLiteral("/org/korvala/FakePortal"), QStringLiteral("org.korvala.FakePortal"),
                          QDBusConnection::sessionBus());
    const QDBusReply<void> reply = portal.call(QStringLiteral("SetColorScheme"), scheme);
    ASSERT_TRUE(reply.isValid()) << reply.error().message().toStdString();
}

int headerGrey(QWidget* window)
{
    return qGray(window->grab().toImage().pixel(2, 2));
}

} // namespace

TEST(DesktopColorScheme, TheEditorOpensInThePortalsSchemeAndFollowsItsChanges)
{
    chooseScheme(1);
    DesktopWorkspace workspace;
    ASSERT_TRUE(waitUntil([&] { return workspace.colorScheme() == Workspace::ColorScheme::dark; }));

    ManualClock clock;
    ShotPreviewWindow preview(workspace, clock);
    preview.show(pictures::gradient(1200, 800), [](QImage, Screenshot::Destination) {});
    clock.advance(ShotPreviewWindow::buildDelay);
    ASSERT_NE(preview.window(), nullptr);
    EXPECT_EQ(headerGrey(preview.window()), qGray(ShotAppearance{true}.window().rgb()));

    chooseScheme(2);
    EXPECT_TRUE(waitUntil([&] { return headerGrey(preview.window()) == qGray(ShotAppearance{false}.window().rgb()); }))
        << "the change signal reached the open editor";

    // No preference: the palette decides again.
    chooseScheme(0);
    EXPECT_TRUE(waitUntil([&] { return workspace.colorScheme() == Workspace::ColorScheme::unknown; }));
}
