#include "service/api.h"

#include "tests/support/dev_service.h"
#include "tests/support/task_outcome.h"

#include <QFile>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// The stand-in's own behaviour, seen through the client: what someone trying
// Korvala without the real service gets, and what the flows are tested against.
namespace {

using Kind = Api::Failure::Kind;

template <typename T>
TaskOutcome<T, Api::Failure> run(QCoro::Task<T> task)
{
    return runTask<Api::Failure>(std::move(task));
}

QString writeTrack(const QTemporaryDir& dir, const QString& name, const QByteArray& content)
{
    QFile file(dir.filePath(name));
    file.open(QIODevice::WriteOnly);
    file.write(content);
    return file.fileName();
}

// An .m4a begins with its "ftyp" box; 30 000 bytes stand for ten seconds.
QByteArray fakeM4a(int size)
{
    QByteArray bytes("\0\0\0\x18" "ftypM4A ", 12);
    bytes.append(QByteArray(size - bytes.size(), '\x55'));
    return bytes;
}

class DevServiceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(service.started()); }
    Api signedIn()
    {
        const auto token = run(Api(service.baseURL(), std::nullopt).signIn("demo@korvala.local", "demo"));
        EXPECT_TRUE(token.value);
        return Api(service.baseURL(), token.value);
    }

    QTemporaryDir dir;
    DevServiceProcess service;
};

TEST_F(DevServiceTest, SignInWithTheDemoAccountOnly)
{
    const Api anonymous(service.baseURL(), std::nullopt);
    EXPECT_EQ(run(anonymous.signIn("demo@korvala.local", "wrong")).error->kind(), Kind::badCredentials);
    EXPECT_EQ(run(anonymous.speechLimit()).error->kind(), Kind::badCredentials);
    EXPECT_EQ(run(Api(service.baseURL(), "made-up").recording(1)).error->kind(), Kind::badCredentials);

    const auto limit = run(signedIn().speechLimit());
    ASSERT_TRUE(limit.value && *limit.value);
    EXPECT_EQ((*limit.value)->limit, 10);
    EXPECT_EQ((*limit.value)->left, 10);
}

TEST_F(DevServiceTest, AnUploadBecomesAJobThatFinishesAfterAFewPollsReadyOrFailed)
{
    const Api api = signedIn();
    const auto job = run(api.upload(writeTrack(dir, "vstrecha-mikrofon.m4a", fakeM4a(30'000))));
    ASSERT_TRUE(job.value);
    EXPECT_EQ(job.value->status, "processing");

    std::vector<QString> statuses;
    std::optional<Api::Recording> last;
    for (int poll = 0; poll < 3; ++poll) {
        last = run(api.recording(job.value->id)).value;
        ASSERT_TRUE(last);
        statuses.push_back(last->status);
    }
    EXPECT_EQ(statuses, (std::vector<QString>{"processing", "processing", "ready"}));
    EXPECT_EQ(last->durationSec, 10);
    ASSERT_TRUE(last->transcript && last->minutes);
    EXPECT_TRUE(last->transcript->contains("vstrecha-mikrofon.m4a"));
    EXPECT_FALSE(last->minutes->tasks.empty());

    // The monthly limit counts started hours.
    EXPECT_EQ((*run(api.speechLimit()).value)->left, 9);
    // The transcripts and recordings are the demo account's, for its browser alone.
    const QString audio = "/audio/" + QString::number(job.value->id);
    for (const QString& path : {QString("/rasshifrovka"), audio})
        EXPECT_THROW(service.call("GET", path), std::runtime_error) << path.toStdString();
    EXPECT_FALSE(service.signInBrowser("demo@korvala.local", "wrong"));
    ASSERT_TRUE(service.signInBrowser());
    const QByteArray page = service.call("GET", "/rasshifrovka");
    EXPECT_TRUE(page.contains("vstrecha-mikrofon.m4a"));
    EXPECT_TRUE(page.contains("готово"));
    EXPECT_EQ(service.call("GET", audio), fakeM4a(30'000));

    EXPECT_EQ(run(api.recording(job.value->id + 1)).error->description(), "Нет такой расшифровки");

    // Something that is not audio fails to transcribe.
    const auto notAudio = run(api.upload(writeTrack(dir, "notes.m4a", "just some text")));
    ASSERT_TRUE(notAudio.value);
    for (int poll = 0; poll < 3; ++poll)
        last = run(api.recording(notAudio.value->id)).value;
    ASSERT_TRUE(last);
    EXPECT_EQ(last->status, "failed");
    EXPECT_TRUE(last->failure);
}

TEST_F(DevServiceTest, ASharedShotIsServedAtItsLink)
{
    const QByteArray png = QByteArray("\x89PNG\r\n\x1a\n", 8) + "pixels";
    const auto shot = run(signedIn().shareShot(png));
    ASSERT_TRUE(shot.value);
    EXPECT_EQ(shot.value->days, "7 дней");
    const QUrl link(shot.value->link);
    EXPECT_EQ(link.host(), "127.0.0.1");
    EXPECT_TRUE(service.call("GET", link.path()).contains("<img"));
    EXPECT_EQ(service.call("GET", QUrl(shot.value->image).path()), png);

    const auto notPng = run(signedIn().shareShot("GIF89a"));
    ASSERT_TRUE(notPng.error);
    EXPECT_EQ(notPng.error->kind(), Kind::rejected);
}

TEST_F(DevServiceTest, AnswersOnlyRequestsAddressedToItsOwnNames)
{
    // The status line of the answer to a request whose Host header is `host`.
    const auto statusFor = [&](const QByteArray& host) {
        QTcpSocket socket;
        socket.connectToHost("127.0.0.1", quint16(service.baseURL().port()));
        EXPECT_TRUE(socket.waitForConnected(10'000));
        socket.write("GET /download HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n");
        QByteArray answer;
        while (!answer.contains("\r\n") && socket.waitForReadyRead(10'000))
            answer += socket.readAll();
        return answer.left(answer.indexOf("\r\n"));
    };
    const QByteArray port = ":" + QByteArray::number(service.baseURL().port());
    for (const QByteArray& ours : {"127.0.0.1" + port, "localhost" + port, "[::1]" + port})
        EXPECT_EQ(statusFor(ours), "HTTP/1.1 200 OK") << ours.toStdString();
    for (const QByteArray& other : {"rebound.example" + port, QByteArray("127.0.0.1"), "127.0.0.1:1" + port})
        EXPECT_TRUE(statusFor(other).startsWith("HTTP/1.1 421")) << other.toStdString();
}

TEST(DevServiceOptions, UpdateOfferAndAnExhaustedLimit)
{
    DevServiceProcess service({"--update", "required", "--hours", "1"});
    ASSERT_TRUE(service.started());
    const Api api(service.baseURL(), service.demoToken());

    const auto check = run(api.checkVersion());
    ASSERT_TRUE(check.value);
    EXPECT_EQ(check.value->status, "required");
    EXPECT_TRUE(check.value->title && check.value->message && check.value->remindAfterDays);
    ASSERT_TRUE(check.value->updateUrl);
    EXPECT_TRUE(service.call("GET", QUrl(*check.value->updateUrl).path()).contains("Обновление"));

    QTemporaryDir dir;
    const QString track = writeTrack(dir, "a.m4a", fakeM4a(9'000));
    EXPECT_TRUE(run(api.upload(track)).value);
    const auto refused = run(api.upload(track));
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->kind(), Kind::planLimit);
    EXPECT_EQ((*run(api.speechLimit()).value)->left, 0);
}

} // namespace
