// Proves the Wayland test desktop is up (the frontend offers both portals
// from the fake backend, PipeWire answers), so that a later failure is about
// the capture code, not the set-up.

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QProcess>

#include <gtest/gtest.h>

TEST(PortalEnvironment, TheFrontendOffersScreenCastAndScreenshotFromTheFakeBackend)
{
    ASSERT_TRUE(qEnvironmentVariableIsEmpty("DISPLAY"));
    QDBusInterface properties(QStringLiteral("org.freedesktop.portal.Desktop"),
                              QStringLiteral("/org/freedesktop/portal/desktop"),
                              QStringLiteral("org.freedesktop.DBus.Properties"), QDBusConnection::sessionBus());
    const QDBusReply<QDBusVariant> sourceTypes =
        properties.call(QStringLiteral("Get"), QStringLiteral("org.freedesktop.portal.ScreenCast"),
                        QStringLiteral("AvailableSourceTypes"));
    ASSERT_TRUE(sourceTypes.isValid()) << sourceTypes.error().message().toStdString();
    EXPECT_EQ(sourceTypes.value().variant().toUInt(), 3u);
    const QDBusReply<QDBusVariant> screenshot = properties.call(
        QStringLiteral("Get"), QStringLiteral("org.freedesktop.portal.Screenshot"), QStringLiteral("version"));
    EXPECT_TRUE(screenshot.isValid()) << screenshot.error().message().toStdString();

    QProcess info;
    info.start(QStringLiteral("pw-cli"), {QStringLiteral("info"), QStringLiteral("0")});
    ASSERT_TRUE(info.waitForFinished(10000));
    EXPECT_EQ(info.exitCode(), 0);
}
