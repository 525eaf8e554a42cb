#include "service/upload_flow.h"
#include "recording/recorder_result.h"
#include "tests/support/controller_fixture.h"

#include <QFile>

namespace {

const QString uploads = "/api/v1/rasshifrovka";
const QString limitAnswer = R"({"limits":{"speech":{"used":2,"limit":10,"left":8}}})";

QByteArray job(qint64 id, const char* status, const char* extra = "")
{
    return QStringLiteral(R"({"data":{"id":%1,"status":"%2"%3}})").arg(id).arg(status, extra).toUtf8();
}

class UploadFlowTest : public ServiceControllerTest {
protected:
    void SetUp() override
    {
        ServiceControllerTest::SetUp();
        make("secret");
        service.script("GET", "/api/v1/subscription", 200, limitAnswer.toUtf8());
    }

    // A track file of `size` bytes whose content tells it apart from others.
    QString track(const QString& name, qint64 size)
    {
        QFile file(folder.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        for (qint64 i = 0; i < size; ++i)
            file.putChar(char((i * 7 + name.size()) & 0xff));
        return file.fileName();
    }

    RecorderResult result(qint64 microphoneBytes, qint64 systemBytes)
    {
        return {track("vstrecha-mikrofon.m4a", microphoneBytes), track("vstrecha-sistema.m4a", systemBytes),
                std::nullopt, 12.5};
    }

    // Runs the event loop, the clock jumping four seconds whenever
    // something sleeps, until `done` holds.
    bool runUntil(const std::function<bool()>& done)
    {
        return waitUntil([&] {
            if (clock.pending() > 0)
                clock.advance(4);
            return done();
        }, 60'000);
    }

    // The names of the track files the service received, in order (the
    // form itself is checked byte for byte in api_test.cpp).
    static QStringList sentNames(const std::vector<DevServiceProcess::Request>& requests)
    {
        QStringList names;
        for (const auto& request : requests) {
            const qsizetype at = request.body.indexOf("filename=\"") + 10;
            if (request.method == "POST" && request.path == uploads)
                names.append(QString::fromUtf8(request.body.mid(at, request.body.indexOf('"', at) - at)));
        }
        return names;
    }
};

TEST_F(UploadFlowTest, BothTracksGoInOrderEachPolledEveryFourSeconds)
{
    service.script("POST", uploads, {{.body = job(11, "queued")}, {.body = job(12, "queued")}});
    service.script("GET", uploads + "/11", {{.body = job(11, "processing")}, {.body = job(11, "ready")}});
    service.script("GET", uploads + "/12", {{.body = job(12, "ready", R"(,"transcript":"Привет")")}});
    const RecorderResult recording = result(4000, 9000);

    const auto outcome = drive(controller->uploads().upload(recording));
    ASSERT_TRUE(outcome.value);
    EXPECT_EQ(statusLines, QStringList({"Расшифровываем микрофон…", "Расшифровываем собеседники…",
                                        "Готово — смотрите на сайте", "Осталось 8 ч из 10"}));
    EXPECT_EQ(clock.uptime(), 12.0) << "two polls of the first job and one of the second, four seconds apart";

    const auto requests = service.requests();
    QStringList route;
    for (const auto& request : requests)
        route.append(request.method + " " + request.path);
    EXPECT_EQ(route, QStringList({"POST /api/v1/rasshifrovka", "GET /api/v1/rasshifrovka/11",
                                  "GET /api/v1/rasshifrovka/11", "POST /api/v1/rasshifrovka",
                                  "GET /api/v1/rasshifrovka/12", "GET /api/v1/subscription"}));
    EXPECT_EQ(sentNames(requests), QStringList({"vstrecha-mikrofon.m4a", "vstrecha-sistema.m4a"}));
    QFile microphone(recording.microphone), system(recording.system);
    ASSERT_TRUE(microphone.open(QIODevice::ReadOnly) && system.open(QIODevice::ReadOnly));
    EXPECT_TRUE(requests[0].body.contains(microphone.readAll()));
    EXPECT_TRUE(requests[3].body.contains(system.readAll()));
    for (const auto& request : requests)
        EXPECT_EQ(request.header("Authorization"), "Bearer secret") << request.path.toStdString();
}

TEST_F(UploadFlowTest, TracksOfAtMost2048BytesAreSkippedWithAnInformationLine)
{
    service.script("POST", uploads, 200, job(21, "queued"));
    service.script("GET", uploads + "/21", 200, job(21, "ready"));

    drive(controller->uploads().upload(result(2048, 2049)));
    EXPECT_EQ(sentNames(service.requests()), QStringList{"vstrecha-sistema.m4a"}) << "only the 2049-byte track is sent";
    EXPECT_EQ(statusLines.first(), "Расшифровываем собеседники…");
    EXPECT_EQ(journal->messages(infoPriority), QStringList{"дорожка «микрофон» пуста — не отправляем"});
    EXPECT_TRUE(journal->messages(errorPriority).isEmpty()) << "a skipped track is no warning";
}

TEST_F(UploadFlowTest, NothingToSendStillEndsWithTheCompletionAndTheLimit)
{
    drive(controller->uploads().upload(result(0, 100)));
    EXPECT_EQ(statusLines, QStringList({"Готово — смотрите на сайте", "Осталось 8 ч из 10"}));
    EXPECT_EQ(journal->messages(infoPriority), QStringList({"дорожка «микрофон» пуста — не отправляем",
                                                            "дорожка «собеседники» пуста — не отправляем"}));

    statusLines.clear();
    RecorderResult missing{folder.filePath("nope-1.m4a"), QString(), folder.filePath("vstrecha-ekran.mp4"), 3};
    drive(controller->uploads().upload(missing));
    EXPECT_EQ(statusLines, QStringList({"Готово — текст на сайте, ролик в папке с записями", "Осталось 8 ч из 10"}));
    EXPECT_TRUE(requestsTo("rasshifrovka").empty());
    EXPECT_EQ(clock.uptime(), 0.0) << "nothing was polled";
}

TEST_F(UploadFlowTest, AFailedJobEndsTheRunWithItsReason)
{
    service.script("POST", uploads, 200, job(31, "queued"));
    service.script("GET", uploads + "/31", 200, job(31, "failed", R"(,"failure":"В записи нет речи")"));
    const auto outcome = drive(controller->uploads().upload(result(5000, 5000)));
    EXPECT_TRUE(outcome.value) << "a failed job is not an error";
    EXPECT_EQ(statusLines, QStringList({"Расшифровываем микрофон…", "В записи нет речи"}));
    EXPECT_EQ(requestsTo("rasshifrovka").size(), 1u) << "the second track is not sent";
    EXPECT_TRUE(requestsTo("subscription").empty()) << "nor is the limit read";

    statusLines.clear();
    service.script("GET", uploads + "/31", 200, job(31, "failed"));
    drive(controller->uploads().upload(result(5000, 5000)));
    EXPECT_EQ(statusLines.last(), "Не удалось расшифровать");
}

TEST_F(UploadFlowTest, PollingGivesUpAfter150Polls)
{
    service.script("POST", uploads, 200, job(41, "queued"));
    // Letter case matters: none of these ends the job.
    service.script("GET", uploads + "/41", {{.body = job(41, "processing")}, {.body = job(41, "Ready")},
                                            {.body = job(41, "READY")}, {.body = job(41, "Failed")}});
    const auto outcome = drive(controller->uploads().upload(result(5000, 5000)));
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->kind(), Api::Failure::Kind::network);
    EXPECT_EQ(outcome.error->description(),
              "Нет связи с сервером: расшифровка идёт дольше обычного — проверьте на сайте");
    EXPECT_EQ(requestsTo("rasshifrovka/41").size(), 150u);
    EXPECT_EQ(clock.uptime(), 600.0);
    EXPECT_EQ(requestsTo("rasshifrovka").size(), 1u) << "the second track is not tried";
    EXPECT_EQ(statusLines, QStringList{"Расшифровываем микрофон…"}) << "the recording flow reports the failure";
}

TEST_F(UploadFlowTest, ServiceFailuresEndTheRunAtOnce)
{
    service.script("POST", uploads, 200, job(61, "queued"));
    service.script("GET", uploads + "/61", {{.body = job(61, "processing")}, {.status = 500, .body = "{}"}});
    auto outcome = drive(controller->uploads().upload(result(5000, 5000)));
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->description(), "Сервер отказал (500).");
    EXPECT_EQ(requestsTo("rasshifrovka/61").size(), 2u) << "no retry";
    EXPECT_EQ(requestsTo("rasshifrovka").size(), 1u);

    service.clearRequests();
    service.script("POST", uploads, 429, {});
    outcome = drive(controller->uploads().upload(result(5000, 5000)));
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->description(), "Закончился месячный лимит расшифровки.");
    EXPECT_EQ(requestsTo("rasshifrovka").size(), 1u) << "the second track is not tried after the first throws";
    EXPECT_TRUE(requestsTo("subscription").empty());
    EXPECT_TRUE(store().waitingTracks().empty()) << "a refusal will not pass: nothing waits";
    EXPECT_EQ(clock.pending(), 0u) << "nor is anything sent again";

    service.clearRequests();
    service.script("POST", uploads, 200, R"({"data":{"id":"61","status":"queued"}})");
    outcome = drive(controller->uploads().upload(result(5000, 5000)));
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->description(), "сервер ответил неожиданным образом");
}

TEST_F(UploadFlowTest, TracksTheServerCannotTakeNowGoAgainAfterGrowingPausesEachOnce)
{
    service.script("POST", uploads, {{.status = 503}, {.status = 502}, {.status = 500}, {.status = 504},
                                     {.body = job(71, "queued")}, {.body = job(72, "queued")}});
    service.script("GET", uploads + "/71", 200, job(71, "ready"));
    service.script("GET", uploads + "/72", 200, job(72, "ready"));
    // The clock stands still while the stop's sending fails.
    const auto outcome = drive(controller->uploads().upload(result(5000, 6000)), 0);
    ASSERT_TRUE(outcome.value) << "a failure that may pass is no error";
    EXPECT_TRUE(alerts->shown.empty());
    EXPECT_EQ(statusLines.last(), "Нет связи — 2 дорожки ждут отправки");
    EXPECT_EQ(store().waitingTracks().size(), 2u);

    // Each pause: nothing is sent a second before it ends, one try when it does.
    size_t tries = 1;
    for (const double pause : {30.0, 120.0, 600.0, 1800.0}) {
        clock.advance(pause - 1);
        QCoreApplication::processEvents();
        ASSERT_EQ(requestsTo("rasshifrovka").size(), tries) << pause;
        clock.advance(1);
        ASSERT_TRUE(waitUntil([&] { return requestsTo("rasshifrovka").size() == tries + 1; })) << pause;
        ++tries;
        if (tries < 5) {
            ASSERT_TRUE(waitUntil([&] { return statusLines.last().startsWith("Нет связи"); }));
        }
    }
    ASSERT_TRUE(runUntil([&] { return statusLines.last() == "Осталось 8 ч из 10"; }));
    EXPECT_TRUE(store().waitingTracks().empty());
    clock.advance(7200);
    QCoreApplication::processEvents();
    EXPECT_EQ(sentNames(service.requests()), QStringList({"vstrecha-mikrofon.m4a", "vstrecha-mikrofon.m4a",
                                                          "vstrecha-mikrofon.m4a", "vstrecha-mikrofon.m4a",
                                                          "vstrecha-mikrofon.m4a", "vstrecha-sistema.m4a"}))
        << "each track has one job; nothing is sent after";
    EXPECT_EQ(requestsTo("rasshifrovka/71").size(), 1u);
    EXPECT_EQ(requestsTo("rasshifrovka/72").size(), 1u);
    EXPECT_TRUE(statusLines.contains("Готово — смотрите на сайте"));
}

TEST_F(UploadFlowTest, AWaitingTrackRefusedOrGoneLeavesTheQueue)
{
    service.script("POST", uploads, {{.status = 500}, {.status = 429}});
    const RecorderResult recording = result(5000, 6000);
    drive(controller->uploads().upload(recording), 0);
    ASSERT_EQ(store().waitingTracks().size(), 2u);
    ASSERT_TRUE(QFile::remove(recording.system));

    clock.advance(30);
    ASSERT_TRUE(waitUntil([&] { return !alerts->shown.empty(); }));
    EXPECT_EQ(alerts->shown.front().informativeText, "Закончился месячный лимит расшифровки.");
    EXPECT_TRUE(store().waitingTracks().empty());
    EXPECT_EQ(sentNames(service.requests()), QStringList({"vstrecha-mikrofon.m4a", "vstrecha-mikrofon.m4a"}))
        << "the missing file is not sent";
    EXPECT_TRUE(journal->messages(infoPriority).last().contains(recording.system));
    EXPECT_EQ(clock.pending(), 0u) << "nothing more is tried";
}

TEST_F(UploadFlowTest, TracksLeftOutOfReachWaitThroughARestartAndGoOnceTheServiceIsBack)
{
    const QUrl address = service.baseURL();
    service.stop();
    ASSERT_TRUE(drive(controller->uploads().upload(result(5000, 6000))).value);
    EXPECT_EQ(statusLines.last(), "Нет связи — 2 дорожки ждут отправки");

    // A restart while the service is still out of reach: the tracks wait on.
    const std::vector<Store::WaitingTrack> waiting = store().waitingTracks();
    make("secret", address);
    store().setWaitingTracks(waiting);
    controller->launch();
    ASSERT_TRUE(waitUntil([&] { return statusLines.contains("Нет связи — 2 дорожки ждут отправки"); }));

    DevServiceProcess back({"--port", QString::number(address.port())});
    ASSERT_TRUE(back.started());
    back.script("POST", uploads, {{.body = job(81, "queued")}, {.body = job(82, "queued")}});
    back.script("GET", uploads + "/81", 200, job(81, "ready"));
    back.script("GET", uploads + "/82", 200, job(82, "ready"));
    ASSERT_TRUE(runUntil([&] { return statusLines.last() == "Готово — смотрите на сайте"; }));
    clock.advance(7200);
    QCoreApplication::processEvents();
    EXPECT_EQ(sentNames(back.requests()), QStringList({"vstrecha-mikrofon.m4a", "vstrecha-sistema.m4a"}));
    EXPECT_TRUE(store().waitingTracks().empty());
}

TEST_F(UploadFlowTest, TheTranscriptsPageIsUnderTheBaseUrl)
{
    controller->uploads().openSite();
    QUrl expected = service.baseURL();
    expected.setPath("/rasshifrovka");
    EXPECT_EQ(workspace->openedUrls, std::vector<QUrl>{expected}) << "no token or anything else is added";

    QUrl withPath = service.baseURL();
    withPath.setPath("/korvala");
    make("secret", withPath);
    controller->uploads().openSite();
    expected.setPath("/korvala/rasshifrovka");
    EXPECT_EQ(workspace->openedUrls, std::vector<QUrl>{expected});
    EXPECT_TRUE(service.requests().empty()) << "the site is the browser's to load";
}

} // namespace
