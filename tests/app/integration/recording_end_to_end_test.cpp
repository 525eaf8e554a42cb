// A meeting recorded from the command line to the transcript on the whole
// test desktop: the program under a window manager with PulseAudio and a
// session bus, the stand-in service on 127.0.0.1, driven only through
// `korvala COMMAND` as a shortcut or a status bar would drive it.

#include "core/store.h"
#include "tests/support/dev_service.h"
#include "tests/support/media_probe.h"
#include "tests/support/qt_wait.h"

#include <QDir>
#include <QtEndian>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString output(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    process.waitForFinished(20000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

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

class RecordingEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        ASSERT_TRUE(service.started());
        environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home.path());
        environment.insert("XDG_CONFIG_HOME", home.filePath(".config"));
        // Signed in, the consent warning already acknowledged.
        const auto settings = Store::openAt(home.filePath(".config/korvala/korvala.conf"));
        settings->setValue("token", service.demoToken());
        settings->setValue("baseURL", service.baseURL().toString());
        settings->setValue("warnedAboutConsent", true);
        settings->sync();

        app.setProcessEnvironment(environment);
        app.setProcessChannelMode(QProcess::ForwardedChannels);
        app.start(KORVALA_PROGRAM, {});
        ASSERT_TRUE(app.waitForStarted());
        ASSERT_TRUE(waitUntil([&] { return korvala({"status"}).first == 0; }, 20000));
    }

    void TearDown() override
    {
        if (app.state() != QProcess::NotRunning) {
            korvala({"quit"});
            if (!app.waitForFinished(5000))
                app.kill();
            app.waitForFinished();
        }
        for (const QString& module : tones)
            output("pactl", {"unload-module", module});
    }

    std::pair<int, QString> korvala(const QStringList& arguments)
    {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(KORVALA_PROGRAM, arguments);
        if (!process.waitForFinished(60000))
            process.kill();
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()).trimmed()};
    }

    QString status() { return korvala({"status"}).second; }

    // A tone of `frequency` into the speakers, as a call's other side.
    void playIntoSpeakers(int frequency)
    {
        tones << output("pactl", {"load-module", "module-sine", "sink=speakers",
                                  QStringLiteral("frequency=%1").arg(frequency)});
    }

    QString recordingsFolder() const
    {
        QDir documents(home.filePath("Documents"));
        const QStringList found = documents.entryList({"Корвала*"}, QDir::Dirs);
        return found.isEmpty() ? QString() : documents.filePath(found.first());
    }

    QTemporaryDir home;
    DevServiceProcess service {{"--polls", "1"}};
    QProcessEnvironment environment;
    QProcess app;
    QStringList tones;
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
    playIntoSpeakers(1000);
    ASSERT_EQ(korvala({"record-audio"}).first, 0);
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
    playIntoSpeakers(1000);
    const auto started = korvala({"record-audio"});
    ASSERT_EQ(started.first, 0) << started.second.toStdString();
    ASSERT_TRUE(waitUntil([&] { return status().startsWith("Идёт аудиозапись — "); }, 15000)) << status().toStdString();
    ASSERT_TRUE(waitUntil([&] { return status() >= "Идёт аудиозапись — 00:06"; }, 20000)) << status().toStdString();
    EXPECT_EQ(korvala({"menu"}).second.split('\n').value(2), "Остановить и отправить");

    service.clearRequests();
    ASSERT_EQ(korvala({"stop"}).first, 0);
    QString last;
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
    const std::vector<std::pair<const char*, double>> tracks = {{"mikrofon", 440}, {"sistema", 1000}};
    for (size_t i = 0; i < uploads.size(); ++i) {
        const QByteArray file = uploadedFile(uploads[i]);
        QTemporaryDir folder;
        const QString path = folder.filePath("track.m4a");
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(file);
        out.close();
        const ProbedAudio audio = probeAudio(path);
        ASSERT_TRUE(audio.opened) << i;
        EXPECT_EQ(audio.codec, "aac");
        EXPECT_EQ(audio.sampleRate, 44100);
        EXPECT_GT(audio.duration, 5.0);
        const QByteArray head = uploads[i].body.left(uploads[i].body.indexOf("\r\n\r\n", uploads[i].body.indexOf("name=\"file\"")));
        const auto track = std::find_if(tracks.begin(), tracks.end(), [&](const auto& t) { return head.contains(t.first); });
        ASSERT_NE(track, tracks.end()) << head.toStdString();
        const double wanted = toneAmplitude(audio.samples, audio.sampleRate, track->second);
        const double other = toneAmplitude(audio.samples, audio.sampleRate, track->second == 440 ? 1000 : 440);
        EXPECT_GT(wanted, 0.05) << track->first;
        EXPECT_GT(wanted, 4 * other) << track->first;
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
    ASSERT_TRUE(waitUntil([&] { return korvala({"targets"}).second.contains(id + "\t"); }, 10000));
    const auto video = korvala({"record-video", id});
    ASSERT_EQ(video.first, 0) << video.second.toStdString();
    ASSERT_TRUE(waitUntil([&] { return status() >= "Идёт видеозапись — 00:03"; }, 20000)) << status().toStdString();
    ASSERT_EQ(korvala({"stop"}).first, 0);
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
    playIntoSpeakers(1000);
    const auto started = korvala({"record-audio"});
    ASSERT_EQ(started.first, 0) << started.second.toStdString();
    ASSERT_TRUE(waitUntil([&] { return status() >= "Идёт аудиозапись — 00:03"; }, 20000)) << status().toStdString();
    const QUrl address = service.baseURL();
    service.stop();
    ASSERT_EQ(korvala({"stop"}).first, 0);
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
