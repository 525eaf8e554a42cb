// What the test desktop's sound server tells of record streams: another
// program's with its name, a monitor's and our own told apart, and the
// watching carried on across a restart of the server.

#include "platform/audio_input.h"
#include "platform/call_streams.h"
#include "platform/linux/linux_platform.h"
#include "tests/support/qt_wait.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QProcess>

#include <gtest/gtest.h>

#include <map>

namespace {

class PulseCallStreamsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        streams->watch({[this](const CallStreams::Stream& stream) { open[stream.id] = stream; },
                        [this](uint32_t id) { open.erase(id); }});
    }

    void TearDown() override
    {
        streams->unwatch();
        for (QProcess* process : {&caller, &listener}) {
            process->kill();
            process->waitForFinished();
        }
    }

    static void startParec(QProcess& process, const QStringList& arguments)
    {
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start("parec", QStringList {"--raw"} + arguments);
        ASSERT_TRUE(process.waitForStarted());
    }
    void startCaller() { startParec(caller, {"--client-name=Созвон"}); }

    // The open stream that `matches`, if any.
    const CallStreams::Stream* find(const std::function<bool(const CallStreams::Stream&)>& matches)
    {
        for (const auto& [id, stream] : open) {
            if (matches(stream))
                return &stream;
        }
        return nullptr;
    }
    // A reader of the speakers' monitor, as a level meter or a recorder of
    // the desktop's sound would be; not the test desktop's own reader, which
    // other tests may have moved elsewhere.
    void startListener() { startParec(listener, {"--client-name=Динамики", "-d", "speakers.monitor"}); }

    const CallStreams::Stream* callerStream()
    {
        return find([](const CallStreams::Stream& stream) { return stream.application == "Созвон"; });
    }

    std::unique_ptr<CallStreams> streams = LinuxPlatform::callStreams();
    std::map<uint32_t, CallStreams::Stream> open;
    QProcess caller;
    QProcess listener;
};

} // namespace

TEST_F(PulseCallStreamsTest, ProgramsMonitorsAndOurOwnStreamsAcrossARestartOfTheServer)
{
    startListener();
    const auto listening = [](const CallStreams::Stream& stream) { return stream.application == "Динамики"; };
    ASSERT_TRUE(waitUntil([&] { return find(listening); }, 10000));
    EXPECT_TRUE(find(listening)->monitor);

    startCaller();
    ASSERT_TRUE(waitUntil([&] { return callerStream(); }, 10000));
    // parec is another name of pacat.
    EXPECT_EQ(callerStream()->binary, QFileInfo(QStandardPaths::findExecutable("parec")).canonicalFilePath().section('/', -1));
    EXPECT_FALSE(callerStream()->monitor);
    EXPECT_FALSE(callerStream()->own);

    const auto microphone = LinuxPlatform::microphoneInput();
    const AudioFormat format = microphone->inputFormat();
    microphone->installTap(1024, format, [](const PcmBuffer&) {});
    microphone->start();
    const auto ours = [](const CallStreams::Stream& stream) { return stream.own; };
    ASSERT_TRUE(waitUntil([&] { return find(ours); }, 10000)) << "our microphone is told as our own";
    EXPECT_TRUE(callerStream() && find(listening)) << "each stream is told apart";
    microphone->stop();
    microphone->removeTap();
    EXPECT_TRUE(waitUntil([&] { return !find(ours); }, 10000));

    caller.terminate();
    ASSERT_TRUE(caller.waitForFinished(5000));
    EXPECT_TRUE(waitUntil([&] { return !callerStream(); }, 10000)) << "a closed stream is told";

    // The server dies with its streams and comes back.
    startCaller();
    ASSERT_TRUE(waitUntil([&] { return callerStream(); }, 10000));
    QFile pid(qEnvironmentVariable("KORVALA_TESTENV") + "/pulse.pid");
    ASSERT_TRUE(pid.open(QIODevice::ReadOnly));
    QProcess::execute("kill", {"-KILL", QString::fromUtf8(pid.readAll()).trimmed()});
    EXPECT_TRUE(waitUntil([&] { return open.empty(); }, 10000)) << "the server's streams went with it";
    caller.waitForFinished(5000);
    QProcess::execute(TESTENV_SCRIPTS "/pulse-up.sh", {qEnvironmentVariable("KORVALA_TESTENV")});
    startCaller();
    EXPECT_TRUE(waitUntil([&] { return callerStream(); }, 15000)) << "watched again once the server is back";
}
