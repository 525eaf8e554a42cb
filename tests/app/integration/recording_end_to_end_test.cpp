// A meeting recorded from the command line to the transcript on the whole
// test desktop: the program under a window manager with PulseAudio and a
// session bus, the stand-in service on 127.0.0.1, driven only through
// `korvala COMMAND` as a shortcut or a status bar would drive it.

#include "tests/app/integration/korvala_session.h"
#include "tests/support/dev_service.h"
#include "tests/support/event_loop_process.h"
#include "tests/support/media_probe.h"

#include <QDir>
#include <QtEndian>
#include <QFile>

namespace {

// The file part of a multipart/form-data body.
QByteArray uploadedFile(const DevServiceProcess::Request& request)
{
    const int named = request.body.indexOf("name=\"file\"");
    if (named < 0)
        return {};
    const int start = request.body.indexOf("\r\n\r\n", named) + 4;
    const QByteArray type = request.header("Content-Type").value_or(QByteArray());
    const QByteArray boundary = "\r\n--" + type.mid(type.indexOf("boundary=") + 9).replace("\"", "");
    const int end = request.body.indexOf(boundary, start);
    return start < 4 || end < 0 ? QByteArray() : request.body.mid(start, end - start);
}

class RecordingEndToEndTest : public KorvalaSessionTest {
protected:
    void SetUp() override
    {
        KorvalaSessionTest::SetUp();
        ASSERT_TRUE(service.started());
        // Signed in, the consent warning already acknowledged.
        settings->setValue("token", service.demoToken());
        settings->setValue("baseURL", service.baseURL().toString());
        settings->setValue("warnedAboutConsent", true);
        // A 1000 Hz tone into the speakers, as a call's other side.
        tone = QString::fromUtf8(
            runWithEventLoop("pactl", {"load-module", "module-sine", "sink=speakers", "frequency=1000"}).trimmed());
        startKorvala();
    }

    void TearDown() override
    {
        KorvalaSessionTest::TearDown();
        runWithEventLoop("pactl", {"unload-module", tone});
    }

    QString recordingsFolder() const
    {
        QDir documents(home.filePath("Documents"));
        const QStringList found = documents.entryList({"Корвала*"}, QDir::Dirs);
        return found.isEmpty() ? QString() : documents.filePath(found.first());
    }

    DevServiceProcess service {{"--polls", "1"}};
    QString tone;
};

// The top-level boxes of an MPEG-4 file: a finished one has no "moof".
QList<QByteArray> topLevelBoxes(const QString& path)
{
    QFile file(path);
    QList<QByteArray> boxes;
    if (!file.open(QIODevice::ReadOnly))
        return boxes;
    for (qint64 at = 0; at + 8 <= file.size();) {
        file.seek(at);
        const QByteArray header = file.read(16);
        quint64 size = qFromBigEndian<quint32>(header.constData());
        if (size == 1 && header.size() == 16)
            size = qFromBigEndian<quint64>(header.constData() + 8);
        boxes << header.mid(4, 4);
        if (size < 8)
            break;
        at += qint64(size);
    }
    return boxes;
}

} // namespace

TEST_F(RecordingEndToEndTest, EndingTheSessionFinishesTheTracksAndSendsNothing)
{
    ASSERT_EQ(korvala({"record-audio"}).exitCode, 0);
    ASSERT_TRUE(waitUntil([&] { return status() >= "Идёт аудиозапись — 00:07"; }, 30000)) << status().toStdString();
    app.terminate(); // as a logout does
    ASSERT_TRUE(app.waitForFinished(15000)) << "the program ends by itself";
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);

    const QDir folder(recordingsFolder());
    const QStringList tracks = folder.entryList({"vstrecha-*.m4a"}, QDir::Files, QDir::Name);
    ASSERT_EQ(tracks.size(), 2) << tracks.join(' ').toStdString();
    for (const QString& track : tracks) {
        const QList<QByteArray> boxes = topLevelBoxes(folder.filePath(track));
        EXPECT_TRUE(boxes.contains("moov") && !boxes.contains("moof")) << track.toStdString();
        EXPECT_GT(probeAudio(folder.filePath(track)).duration, 6.5) << track.toStdString();
    }
    EXPECT_GT(toneAmplitude(probeAudio(folder.filePath(tracks.last())).samples, 44100, 1000), 0.05)
        << "the others' track holds their tone";
    for (const auto& request : service.requests())
        EXPECT_FALSE(request.body.contains("name=\"file\"")) << "nothing is sent when the session ends";
}

TEST_F(RecordingEndToEndTest, AudioGoesToTheServiceAndVideoStaysInTheFolder)
{
    const auto started = korvala({"record-audio"});
    ASSERT_EQ(started.exitCode, 0) << started.out.toStdString();
    QString last;
    ASSERT_TRUE(waitUntil([&] { return (last = status()).startsWith("Идёт аудиозапись — ") && last >= "Идёт аудиозапись — 00:06"; },
                          30000)) << last.toStdString();
    EXPECT_EQ(korvala({"menu"}).out.split('\n').value(2), "Остановить и отправить");

    service.clearRequests();
    ASSERT_EQ(korvala({"stop"}).exitCode, 0);
    ASSERT_TRUE(waitUntil([&] { return (last = status()).startsWith("Осталось"); }, 60000)) << last.toStdString();

    std::vector<DevServiceProcess::Request> uploads;
    int polls = 0;
    for (const auto& request : service.requests()) {
        if (request.method == "POST" && request.body.contains("name=\"file\""))
            uploads.push_back(request);
        if (request.method == "GET" && request.path.startsWith("/api/v1/rasshifrovka/"))
            ++polls;
    }
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_GE(polls, 2);
    for (const DevServiceProcess::Request& upload : uploads) {
        QTemporaryDir folder;
        QFile out(folder.filePath("track.m4a"));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(uploadedFile(upload));
        out.close();
        const ProbedAudio audio = probeAudio(out.fileName());
        ASSERT_TRUE(audio.opened);
        EXPECT_EQ(audio.codec, "aac");
        EXPECT_EQ(audio.sampleRate, 44100);
        EXPECT_GT(audio.duration, 5.0);
        // The test microphone plays 440 Hz, the speakers 1000 Hz: each track holds its own.
        const bool microphone = upload.body.left(upload.body.indexOf("\r\n\r\n", upload.body.indexOf("name=\"file\"")))
                                    .contains("mikrofon");
        const double wanted = toneAmplitude(audio.samples, audio.sampleRate, microphone ? 440 : 1000);
        EXPECT_GT(wanted, 0.05) << microphone;
        EXPECT_GT(wanted, 4 * toneAmplitude(audio.samples, audio.sampleRate, microphone ? 1000 : 440)) << microphone;
    }

    // A video of a test window, started without the picker.
    QProcess window;
    window.start(QStringLiteral(CAPTURE_TEST_WINDOWS), {"Созвон|#2060d0|200|150|640|400"});
    QString id;
    ASSERT_TRUE(waitUntil([&] {
        window.waitForReadyRead(50);
        const QStringList words = QString::fromUtf8(window.readAllStandardOutput()).split(' ');
        if (words.size() == 3)
            id = "window-" + words[2].trimmed();
        return !id.isEmpty();
    }, 10000));
    ASSERT_TRUE(waitUntil([&] { return korvala({"targets"}).out.contains(id + "\t"); }, 10000));
    const auto video = korvala({"record-video", id});
    ASSERT_EQ(video.exitCode, 0) << video.out.toStdString();
    ASSERT_TRUE(waitUntil([&] { return status() >= "Идёт видеозапись — 00:03"; }, 20000)) << status().toStdString();
    ASSERT_EQ(korvala({"stop"}).exitCode, 0);
    ASSERT_TRUE(waitUntil([&] { return status().startsWith("Осталось"); }, 60000)) << status().toStdString();
    window.kill();
    window.waitForFinished();

    const QStringList videos = QDir(recordingsFolder()).entryList({"*-ekran.mp4"}, QDir::Files);
    ASSERT_EQ(videos.size(), 1) << recordingsFolder().toStdString();
    const ProbedVideo decoded = probeVideo(QDir(recordingsFolder()).filePath(videos.first()));
    ASSERT_TRUE(decoded.opened);
    EXPECT_EQ(decoded.codec, "h264");
    EXPECT_GT(decoded.frameTimes.size(), 10u);
}

TEST_F(RecordingEndToEndTest, TracksTheServiceCouldNotTakeAtTheStopGoByThemselvesOnceItIsBack)
{
    const auto started = korvala({"record-audio"});
    ASSERT_EQ(started.exitCode, 0) << started.out.toStdString();
    ASSERT_TRUE(waitUntil([&] { return status() >= "Идёт аудиозапись — 00:03"; }, 20000)) << status().toStdString();
    const QUrl address = service.baseURL();
    service.stop();
    ASSERT_EQ(korvala({"stop"}).exitCode, 0);
    ASSERT_TRUE(waitUntil([&] { return status() == "Нет связи — 2 дорожки ждут отправки"; }, 60000))
        << status().toStdString();

    // Back on the same address; the program tries again on its own.
    DevServiceProcess back({"--polls", "1", "--port", QString::number(address.port())});
    ASSERT_TRUE(back.started());
    QString last;
    ASSERT_TRUE(waitUntil([&] { return (last = status()).startsWith("Осталось"); }, 90000)) << last.toStdString();
    QStringList sent;
    for (const auto& request : back.requests()) {
        if (request.method == "POST" && request.body.contains("name=\"file\""))
            sent.append(QString::fromUtf8(request.body.mid(request.body.indexOf("filename="), 60)));
    }
    ASSERT_EQ(sent.size(), 2) << sent.join(' ').toStdString();
    EXPECT_TRUE(sent[0].contains("mikrofon") && sent[1].contains("sistema")) << sent.join(' ').toStdString();
}
