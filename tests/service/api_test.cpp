#include "service/api.h"

#include "tests/support/dev_service.h"
#include "tests/support/task_outcome.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;
using Kind = Api::Failure::Kind;

namespace {

template <typename T>
TaskOutcome<T, Api::Failure> run(QCoro::Task<T> task)
{
    return runTask<Api::Failure>(std::move(task));
}

// A file of `bytes` in `dir`, as a recorded track.
QString writeTrack(const QTemporaryDir& dir, const QByteArray& bytes)
{
    QFile track(dir.filePath("a.m4a"));
    EXPECT_TRUE(track.open(QIODevice::WriteOnly));
    track.write(bytes);
    return track.fileName();
}

class ApiTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(service.started()); }

    Api api(std::optional<QString> token = std::nullopt) const { return Api(service.baseURL(), std::move(token)); }

    DevServiceProcess service;
};

// ---- headers -----------------------------------------------------------------

TEST_F(ApiTest, CommonHeadersAndTheBearerToken)
{
    const QString savedVersion = QCoreApplication::applicationVersion();
    service.script("GET", "/api/v1/versions/check", 200, R"({"status":"ok"})");

    QCoreApplication::setApplicationVersion("");
    run(api().checkVersion());
    QCoreApplication::setApplicationVersion("2.3.4");
    run(api("secret").checkVersion());
    QCoreApplication::setApplicationVersion(savedVersion);

    const auto requests = service.requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const auto& request : requests) {
        EXPECT_EQ(request.header("Accept"), "application/json");
        EXPECT_EQ(request.header("X-App-Platform"), "macos");
        EXPECT_EQ(request.header("X-Device-Model"), QSysInfo::prettyProductName().toUtf8());
    }
    EXPECT_EQ(requests[0].header("X-App-Version"), "0");
    EXPECT_FALSE(requests[0].header("Authorization"));
    EXPECT_EQ(requests[1].header("X-App-Version"), "2.3.4");
    EXPECT_EQ(requests[1].header("Authorization"), "Bearer secret");
}

// The request as built, before a server could trim the blank at the end.
TEST(ApiRequest, AnEmptyTokenKeepsTheBlankAfterBearer)
{
    const QNetworkRequest request = Api(QUrl("https://example.org"), QString()).authorizedRequest("a", "GET");
    EXPECT_EQ(request.rawHeader("Authorization"), "Bearer ");
}

// ---- status mapping ----------------------------------------------------------

struct StatusCase {
    int status;
    QByteArray body;
    std::optional<Kind> kind; // none: success
    QString description;
};

TEST_F(ApiTest, StatusesMapToBodiesOrFailures)
{
    const std::vector<StatusCase> cases{
        {200, "", std::nullopt, ""},
        {204, "", std::nullopt, ""},
        {299, "whatever", std::nullopt, ""},
        {401, R"({"message":"Токен отозван"})", Kind::badCredentials, "Не подошли почта или пароль."},
        {401, "", Kind::badCredentials, "Не подошли почта или пароль."},
        {429, R"({"message":"Лимит на месяц исчерпан"})", Kind::planLimit, "Лимит на месяц исчерпан"},
        {429, "<html>Too many</html>", Kind::planLimit, "Закончился месячный лимит расшифровки."},
        {429, R"({"message":null})", Kind::planLimit, "Закончился месячный лимит расшифровки."},
        {403, R"({"message":"Доступ закрыт"})", Kind::rejected, "Доступ закрыт"},
        {403, R"({"message":""})", Kind::rejected, ""},
        {403, R"({"message":null})", Kind::rejected, "Сервер отказал (403)."},
        {404, R"({"error":"no"})", Kind::rejected, "Сервер отказал (404)."},
        {500, R"({"message":7})", Kind::rejected, "Сервер отказал (500)."},
        {500, R"(["message"])", Kind::rejected, "Сервер отказал (500)."},
        {502, "Bad Gateway", Kind::rejected, "Сервер отказал (502)."},
    };
    for (const StatusCase& c : cases) {
        SCOPED_TRACE(c.status);
        SCOPED_TRACE(c.body.toStdString());
        service.script("GET", "/api/v1/probe", c.status, c.body);
        const Api client = api();
        const auto outcome = run(client.perform(client.authorizedRequest("probe", "GET")));
        if (!c.kind) {
            ASSERT_TRUE(outcome.value);
            EXPECT_EQ(*outcome.value, c.body);
            continue;
        }
        ASSERT_TRUE(outcome.error);
        EXPECT_EQ(outcome.error->kind(), *c.kind);
        EXPECT_EQ(outcome.error->description(), c.description);
    }
}

// A server inside the test on another port of 127.0.0.1: another origin for
// redirects, and answers the stand-in cannot give. It keeps the raw target
// of every request.
class LocalServer {
public:
    // `routes` come before the answer every other request gets.
    explicit LocalServer(const std::function<void(httplib::Server&)>& routes = {})
    {
        if (routes)
            routes(server);
        const auto keep = [this](const httplib::Request& request, httplib::Response& response) {
            const std::lock_guard lock(mutex);
            seen.push_back(request.target);
            response.set_content(R"({"status":"ok","data":{"id":1,"status":"ready"}})", "application/json");
        };
        server.Get(".*", keep);
        server.Post(".*", keep);
        port = server.bind_to_any_port("127.0.0.1");
        // Bound and listening already: connections wait in the backlog.
        thread = std::thread([this] { server.listen_after_bind(); });
    }
    ~LocalServer()
    {
        server.stop();
        thread.join();
    }

    QUrl url(const QString& path = "/") const { return QUrl(QString("http://127.0.0.1:%1%2").arg(port).arg(path)); }
    std::vector<std::string> targets()
    {
        const std::lock_guard lock(mutex);
        return seen;
    }

    httplib::Server server;
    int port = 0;
    std::thread thread;
    std::mutex mutex;
    std::vector<std::string> seen;
};

TEST_F(ApiTest, RedirectsWithinTheOriginAreFollowedWithTheirBody)
{
    QUrl target = service.baseURL();
    target.setPath("/api/v1/moved");
    service.script("GET", "/api/v1/probe", {DevServiceProcess::Answer{.status = 302, .location = target.toEncoded()}});
    service.script("GET", "/api/v1/moved", 200, "here");
    const Api client = api();
    EXPECT_EQ(run(client.perform(client.authorizedRequest("probe", "GET"))).value, "here");

    service.clearRequests();
    service.script("POST", "/api/v1/login", {DevServiceProcess::Answer{.status = 307, .location = "/api/v1/again"}});
    service.script("POST", "/api/v1/again", 200, R"({"token":"t"})");
    EXPECT_EQ(run(client.signIn("a@b", "secret")).value, "t");
    const auto requests = service.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].path, "/api/v1/again");
    EXPECT_EQ(requests[1].body, requests[0].body);
}

TEST_F(ApiTest, ARedirectToAnotherOriginIsARefusalAndSendsItNothing)
{
    LocalServer other;
    QTemporaryDir dir;
    const QString track = writeTrack(dir, "recording");
    // Also "localhost" for 127.0.0.1 and the stand-in's own host on another port.
    QUrl otherName = service.baseURL();
    otherName.setHost("localhost");
    service.script("GET", "/api/v1/subscription", {DevServiceProcess::Answer{.status = 302, .location = other.url().toEncoded()}});
    service.script("POST", "/api/v1/login", {DevServiceProcess::Answer{.status = 307, .location = other.url().toEncoded()}});
    service.script("POST", "/api/v1/rasshifrovka", {DevServiceProcess::Answer{.status = 308, .location = other.url().toEncoded()}});
    service.script("GET", "/api/v1/versions/check", {DevServiceProcess::Answer{.status = 301, .location = otherName.toEncoded()}});

    const Api client = api("secret");
    const std::vector<std::pair<std::optional<Api::Failure>, int>> outcomes{
        {run(client.speechLimit()).error, 302},
        {run(client.signIn("a@b", "password")).error, 307},
        {run(client.upload(track)).error, 308},
        {run(client.checkVersion()).error, 301},
    };
    for (const auto& [failure, status] : outcomes) {
        SCOPED_TRACE(status);
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->kind(), Kind::rejected);
        EXPECT_TRUE(failure->description().contains(QString::number(status))) << failure->description().toStdString();
    }
    EXPECT_EQ(service.requests().size(), 4u);
    EXPECT_TRUE(other.targets().empty());
}

TEST_F(ApiTest, TheBaseUrlPathIsKeptAsWritten)
{
    LocalServer server;
    const QByteArray cyrillic = QUrl::toPercentEncoding("ключи");
    const std::vector<std::pair<QString, std::string>> cases{
        {"/k%20v", "/k%20v/api/v1/versions/check"},
        {"/k%20v/", "/k%20v/api/v1/versions/check"},
        {"/ключи", "/" + cyrillic.toStdString() + "/api/v1/versions/check"},
        {"/" + QString::fromLatin1(cyrillic) + "/", "/" + cyrillic.toStdString() + "/api/v1/versions/check"},
        {"/x", "/x/api/v1/versions/check"},
        {"", "/api/v1/versions/check"},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].first.toStdString());
        const QUrl base(server.url().toString(QUrl::RemovePath) + cases[i].first);
        EXPECT_TRUE(run(Api(base, std::nullopt).checkVersion()).value);
        ASSERT_EQ(server.targets().size(), i + 1);
        EXPECT_EQ(server.targets().back(), cases[i].second);
    }
}

TEST(ApiAnswers, AnOversizedAnswerIsUnexpectedAndATricklingOneMeetsTheDeadline)
{
    const std::string big(Api::maximumAnswerSize + 1, ' ');
    std::atomic<bool> stopping = false;
    LocalServer server([&](httplib::Server& routes) {
        routes.Get("/sized/api/v1/versions/check", [&](const httplib::Request&, httplib::Response& response) {
            response.set_content(big, "application/json");
        });
        routes.Get("/chunked/api/v1/versions/check", [&](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider("application/json", [&](size_t, httplib::DataSink& sink) {
                return sink.write(big.data(), 65536);
            });
        });
        routes.Get("/slow/api/v1/versions/check", [&](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider("application/json", [&](size_t, httplib::DataSink& sink) {
                std::this_thread::sleep_for(20ms);
                return !stopping && sink.write(" ", 1);
            });
        });
    });
    for (const char* path : {"/sized", "/chunked"}) {
        SCOPED_TRACE(path);
        const auto outcome = run(Api(server.url(path), std::nullopt).checkVersion());
        ASSERT_TRUE(outcome.error);
        EXPECT_EQ(outcome.error->kind(), Kind::rejected);
        EXPECT_EQ(outcome.error->description(), Api::unexpectedAnswer);
    }

    Api slow(server.url("/slow"), std::nullopt);
    slow.callDeadline = 300ms;
    const auto late = run(slow.checkVersion());
    stopping = true;
    ASSERT_TRUE(late.error);
    EXPECT_EQ(late.error->kind(), Kind::network);
}

TEST_F(ApiTest, TransportFailuresAreNetworkFailuresDescribedInRussian)
{
    // A server that answers something other than HTTP.
    QTcpServer garbage;
    ASSERT_TRUE(garbage.listen(QHostAddress::LocalHost));
    QObject::connect(&garbage, &QTcpServer::newConnection, [&] {
        QTcpSocket* socket = garbage.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
            socket->write("SSH-2.0-OpenSSH\r\n\x01\x02\r\n\r\n");
            socket->disconnectFromHost();
        });
    });
    // A port that was free a moment ago refuses the connection.
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    QUrl closed = service.baseURL();
    closed.setPort(probe.serverPort());
    probe.close();
    service.script("GET", "/api/v1/versions/check", {DevServiceProcess::Answer{.status = 200, .body = R"({"status":"ok"})", .delay = 1s}});
    Api slow = api();
    slow.transferTimeout = 200ms;

    const std::vector<std::pair<std::optional<Api::Failure>, QString>> outcomes{
        {run(Api(closed, std::nullopt).checkVersion()).error, "Нет связи с сервером: сервер не принимает соединения"},
        {run(slow.checkVersion()).error, "Нет связи с сервером: сервер не ответил вовремя"},
        {run(Api(QUrl(QString("http://127.0.0.1:%1/").arg(garbage.serverPort())), std::nullopt).checkVersion()).error, {}},
        {run(Api(QUrl("gopher://127.0.0.1/"), std::nullopt).checkVersion()).error, {}},
        {run(Api(QUrl("http://[::1"), std::nullopt).checkVersion()).error, {}},
    };
    for (const auto& [failure, description] : outcomes) {
        SCOPED_TRACE(description.toStdString());
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->kind(), Kind::network);
        const QString told = failure->description();
        EXPECT_FALSE(told.contains(QRegularExpression("[A-Za-z]"))) << told.toStdString();
        EXPECT_TRUE(description.isEmpty() || told == description) << told.toStdString();
    }
}

// ---- what each call makes of an answer ---------------------------------------

// The other calls' undecodable answers are their flows' tests': a sign-in
// refused, a limit or an update offer left out.
TEST_F(ApiTest, UndecodableRecordsAndSharedShotsAreUnexpected)
{
    for (const QByteArray& bad : {QByteArray(), QByteArray("not json"), QByteArray("[]"), QByteArray(R"({"x":1})")}) {
        SCOPED_TRACE(bad.toStdString());
        service.script("GET", "/api/v1/rasshifrovka/1", 200, bad);
        service.script("POST", "/api/v1/snimki", 200, bad);
        const Api client = api("t");
        for (const auto& failure : {run(client.recording(1)).error, run(client.shareShot("p")).error}) {
            ASSERT_TRUE(failure);
            EXPECT_EQ(failure->kind(), Kind::rejected);
            EXPECT_EQ(failure->description(), Api::unexpectedAnswer);
        }
    }
}

// ---- the two forms, byte for byte as the server got them --------------------

QByteArray boundaryOf(const DevServiceProcess::Request& request)
{
    const QByteArray type = request.header("Content-Type").value_or("");
    const QByteArray prefix = "multipart/form-data; boundary=";
    EXPECT_TRUE(type.startsWith(prefix)) << type.toStdString();
    const QByteArray boundary = type.mid(prefix.size());
    EXPECT_TRUE(QRegularExpression("^Boundary-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$")
                    .match(QString::fromLatin1(boundary))
                    .hasMatch())
        << boundary.toStdString();
    return boundary;
}

TEST_F(ApiTest, TheTrackAndTheShotGoAsOneFormPartEachUnderItsOwnBoundary)
{
    QTemporaryDir dir;
    const QByteArray audio("\x01\x02\x03", 3);
    const QByteArray png("\x89PNG\r\n\x1a\n\0\0data", 14);
    service.script("POST", "/api/v1/rasshifrovka", 201, R"({"data":{"id":9,"status":"processing"},"meta":{}})");
    service.script("POST", "/api/v1/snimki", 200,
                   R"({"data":{"link":"https://s/1","image":"https://s/1.png","days":"7 дней"}})");

    const auto job = run(api("t").upload(writeTrack(dir, audio)));
    ASSERT_TRUE(job.value);
    EXPECT_EQ(job.value->id, 9);
    EXPECT_EQ(job.value->status, "processing");
    const auto shot = run(api("t").shareShot(png));
    ASSERT_TRUE(shot.value);
    EXPECT_EQ(shot.value->link, "https://s/1");
    EXPECT_EQ(shot.value->image, "https://s/1.png");
    EXPECT_EQ(shot.value->days, "7 дней");
    run(api("t").shareShot(png));

    const auto requests = service.requests();
    ASSERT_EQ(requests.size(), 3u);
    const QByteArray parts[] = {"filename=\"a.m4a\"\r\nContent-Type: audio/mp4\r\n\r\n" + audio,
                                "filename=\"shot.png\"\r\nContent-Type: image/png\r\n\r\n" + png};
    for (int i = 0; i < 2; ++i) {
        const QByteArray boundary = boundaryOf(requests[i]);
        EXPECT_EQ(requests[i].body, "--" + boundary + "\r\nContent-Disposition: form-data; name=\"file\"; " + parts[i]
                                        + "\r\n--" + boundary + "--\r\n");
    }
    EXPECT_NE(boundaryOf(requests[1]), boundaryOf(requests[2]));
}

TEST_F(ApiTest, AnUnreadableTrackSendsNothing)
{
    const auto outcome = run(api("t").upload("/nonexistent/folder/a.m4a"));
    EXPECT_FALSE(outcome.value);
    EXPECT_FALSE(outcome.error);
    ASSERT_TRUE(outcome.other);
    try {
        std::rethrow_exception(outcome.other);
    } catch (const Api::ReadError& error) {
        EXPECT_TRUE(error.description().startsWith("Не удалось прочитать запись a.m4a: "));
    }
    EXPECT_TRUE(service.requests().empty());
}

} // namespace
