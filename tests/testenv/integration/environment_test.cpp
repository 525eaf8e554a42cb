// Proves that each piece of the private test desktop is up, so that a failure
// in a later integration test is about the code under test, not the set-up.

#include "tests/support/qt_wait.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QGuiApplication>
#include <QProcess>
#include <QWidget>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

QByteArray run(const QString& program, const QStringList& arguments, int timeoutMs = 10000)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(timeoutMs);
    return process.readAllStandardOutput();
}

} // namespace

TEST(TestEnvironment, AWindowAppearsOnTheDisplayUnderTheWindowManager)
{
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    QWidget window;
    window.setWindowTitle("korvala-testenv-window");
    window.resize(320, 200);
    window.show();

    QByteArray found;
    EXPECT_TRUE(waitUntil([&] {
        found = run("xdotool", {"search", "--onlyvisible", "--name", "korvala-testenv-window"}).trimmed();
        return !found.isEmpty();
    }));
    EXPECT_EQ(found.toULongLong(), window.winId());
    // The window manager lists it as a client.
    EXPECT_TRUE(run("xprop", {"-root", "_NET_CLIENT_LIST"}).contains(QByteArray::number(window.winId(), 16)));
}

TEST(TestEnvironment, AToneIntoTheSpeakersIsHeardOnTheirMonitor)
{
    const QByteArray module = run("pactl", {"load-module", "module-sine", "sink=speakers", "frequency=1000"}).trimmed();
    ASSERT_FALSE(module.isEmpty());

    QProcess recorder;
    recorder.start("parec", {"--raw", "--format=float32le", "--rate=48000", "--channels=1", "--latency-msec=20",
                             "-d", "speakers.monitor"});
    ASSERT_TRUE(recorder.waitForStarted());
    QByteArray pcm;
    const int wanted = 48000 * 4 * 2; // two seconds, of which the last one is measured
    waitUntil([&] {
        pcm += recorder.readAllStandardOutput();
        return pcm.size() >= wanted;
    }, 10000);
    recorder.kill();
    recorder.waitForFinished();
    run("pactl", {"unload-module", QString::fromLatin1(module)});
    ASSERT_GE(pcm.size(), wanted);

    const auto* samples = reinterpret_cast<const float*>(pcm.constData()) + 48000;
    int crossings = 0;
    float peak = 0;
    for (int i = 1; i < 48000; ++i) {
        if ((samples[i - 1] < 0) != (samples[i] < 0))
            ++crossings;
        peak = std::max(peak, std::abs(samples[i]));
    }
    EXPECT_GT(peak, 0.05f);
    EXPECT_NEAR(crossings / 2.0, 1000.0, 20.0) << "zero crossings count the tone's frequency";
}

TEST(TestEnvironment, TheFakeMicrophoneIsTheDefaultSource)
{
    EXPECT_EQ(run("pactl", {"get-default-source"}).trimmed(), "microphone");
    EXPECT_EQ(run("pactl", {"get-default-sink"}).trimmed(), "speakers");
}

TEST(TestEnvironment, ANameCanBeOwnedOnThePrivateSessionBus)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(bus.isConnected());
    EXPECT_TRUE(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS").contains(qEnvironmentVariable("KORVALA_TESTENV")));
    ASSERT_TRUE(bus.registerService("app.korvala.TestEnvironment"));
    EXPECT_TRUE(bus.interface()->isServiceRegistered("app.korvala.TestEnvironment"));
    bus.unregisterService("app.korvala.TestEnvironment");
}
