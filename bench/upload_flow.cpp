// The whole upload flow (UploadFlow::upload) against the stand-in
// service, with the four-second polling pauses taken out through the clock.
// For each run it prints what the service received: the requests per job
// and the bytes of each upload body next to the track's size, the form's
// overhead beside the overhead our form should have, and for reference the
// body that `curl -F file=@track` sends for the same track.
//   bench_upload_flow [polls until ready]
#include "app/menu_bar_controller.h"
#include "service/upload_flow.h"
#include "core/clock.h"
#include "platform/linux/desktop/desktop_workspace.h"
#include "platform/linux/desktop/message_box_alerts.h"
#include "recording/recorder_result.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>

#include <qcoro/qcoronetworkreply.h>

#include <cstdio>
#include <map>

namespace {

// Real time for the dates, no time at all for the pauses: it only counts them.
class InstantClock final : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
    double uptime() const override { return slept; }
    QCoro::Task<void> sleep(double seconds) override
    {
        ++sleeps;
        slept += seconds;
        co_return;
    }
    void after(double, QObject* context, std::function<void()> work) override
    {
        QMetaObject::invokeMethod(context ? context : QCoreApplication::instance(), std::move(work), Qt::QueuedConnection);
    }

    int sleeps = 0;
    double slept = 0;
};

struct Received {
    QString method;
    QString path;
    QByteArray body;
};

QByteArray call(const QUrl& base, const QByteArray& method, const QString& path)
{
    QNetworkAccessManager manager;
    QUrl url = base;
    url.setPath(path);
    QNetworkRequest request(url);
    // The request log of a big upload compresses far beyond what Qt accepts
    // from a compressed answer; take it as it is.
    request.setRawHeader("Accept-Encoding", "identity");
    QNetworkReply* reply = manager.sendCustomRequest(request, method);
    QCoro::waitFor(qCoro(reply).waitForFinished());
    const QByteArray answer = reply->readAll();
    if (reply->error() != QNetworkReply::NoError)
        std::fprintf(stderr, "%s %s: %s\n", method.constData(), qPrintable(path), qPrintable(reply->errorString()));
    delete reply;
    return answer;
}

std::vector<Received> received(const QUrl& base)
{
    std::vector<Received> result;
    const QByteArray list = call(base, "GET", "/_devservice/requests");
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(list, &error);
    if (document.isNull())
        std::fprintf(stderr, "request list of %lld bytes: %s\n", qint64(list.size()), qPrintable(error.errorString()));
    for (const QJsonValue& item : document.array()) {
        const QJsonObject request = item.toObject();
        result.push_back({request.value("method").toString(), request.value("path").toString(),
                          QByteArray::fromBase64(request.value("body").toString().toLatin1())});
    }
    call(base, "DELETE", "/_devservice/requests");
    return result;
}

// A left-justified column of twelve characters, however many bytes they take.
const char* column(const char* text)
{
    static QByteArray kept;
    kept = QString::fromUtf8(text).leftJustified(12).toUtf8();
    return kept.constData();
}

QString writeTrack(const QString& path, qint64 size)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    QByteArray content(size, '\0');
    for (qint64 i = 0; i < size; ++i)
        content[i] = char((i * 131 + 17) & 0xff);
    // The stand-in transcribes only what looks like an .m4a file.
    content.replace(4, 4, "ftyp");
    file.write(content);
    return path;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int polls = argc > 1 ? std::atoi(argv[1]) : 3;

    const QString program = qEnvironmentVariableIsSet("KORVALA_DEVSERVICE")
                                ? qEnvironmentVariable("KORVALA_DEVSERVICE")
                                : QDir(QCoreApplication::applicationDirPath()).filePath("../tools/devservice/korvala-devservice");
    QProcess service;
    service.start(program, {"--scripted", "--port", "0", "--hours", "1000000", "--polls", QString::number(polls)});
    if (!service.waitForStarted() || !service.waitForReadyRead(10'000)) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(program));
        return 1;
    }
    const QUrl base(QString::fromUtf8(service.readLine()).trimmed());

    auto clock = std::make_shared<InstantClock>();
    QTemporaryDir dir;
    MenuBarController::Dependencies dependencies;
    dependencies.defaults = Store::openAt(dir.filePath("korvala.conf"));
    Store store(*dependencies.defaults);
    dependencies.defaults->setValue("baseURL", base.toString());
    dependencies.alerts = std::make_unique<MessageBoxAlerts>();
    dependencies.workspace = std::make_unique<DesktopWorkspace>();
    MenuBarController controller(std::move(dependencies), *clock);
    {
        const QString token = QCoro::waitFor(Api(base, std::nullopt).signIn("demo@korvala.local", "demo"));
        store.setToken(token);
        received(base);
    }

    // An empty track, the smallest one sent, a minute and an hour of speech at 24 kbit/s.
    const qint64 sizes[][2] = {{2048, 2049}, {180'000, 10'800'000}};
    std::printf("polls until ready: %d; per job the goal is 1 upload + %d polls, no retries\n\n", polls, polls);
    std::printf("%s %12s %12s %10s %10s %8s %6s %10s\n", column("track"), "file bytes", "body bytes", "overhead",
                "expected", "uploads", "polls", "flow s");
    for (const auto& pair : sizes) {
        RecorderResult result{writeTrack(dir.filePath("vstrecha-mikrofon.m4a"), pair[0]),
                              writeTrack(dir.filePath("vstrecha-sistema.m4a"), pair[1]), std::nullopt, 0};
        const int sleepsBefore = clock->sleeps;
        QElapsedTimer timer;
        timer.start();
        QCoro::waitFor(controller.uploads().upload(result));
        const double seconds = timer.nsecsElapsed() / 1e9;

        // Uploads in order, each followed by the polls of its job (ids in
        // the order they were first polled).
        const std::vector<Received> requests = received(base);
        std::vector<const Received*> uploads;
        std::vector<int> jobs;
        std::map<int, int> pollsOfJob;
        for (const Received& request : requests) {
            if (request.method == "POST" && request.path == "/api/v1/rasshifrovka")
                uploads.push_back(&request);
            if (request.path.startsWith("/api/v1/rasshifrovka/")) {
                const int job = request.path.section('/', -1).toInt();
                if (!pollsOfJob.count(job))
                    jobs.push_back(job);
                ++pollsOfJob[job];
            }
        }
        const std::map<QString, std::pair<const char*, qint64>> tracks = {
            {QFileInfo(result.microphone).fileName(), {"микрофон", pair[0]}},
            {QFileInfo(result.system).fileName(), {"собеседники", pair[1]}},
        };
        for (size_t i = 0; i < uploads.size(); ++i) {
            const QByteArray& body = uploads[i]->body;
            const qsizetype nameAt = body.indexOf("filename=\"") + 10;
            const QString name = QString::fromUtf8(body.mid(nameAt, body.indexOf('"', nameAt) - nameAt));
            const auto& [label, size] = tracks.at(name);
            const qint64 expected = Api::multipartBody(Api::newBoundary(), name, "audio/mp4", {}).size();
            std::printf("%s %12lld %12lld %10lld %10lld %8d %6d %10.3f\n", column(label), size, qint64(body.size()),
                        qint64(body.size()) - size, expected, 1, i < jobs.size() ? pollsOfJob[jobs[i]] : 0, seconds);
        }
        for (const auto& [name, track] : tracks) {
            if (track.second <= 2048)
                std::printf("%s %12lld %12s %10s %10s %8d %6d   (skipped)\n", column(track.first), track.second, "-", "-",
                            "-", 0, 0);
        }
        std::printf("  requests in this run: %zu (the uploads and polls above, then the limit); pauses %d\n",
                    requests.size(), clock->sleeps - sleepsBefore);

        // curl's form for the same track, as the service receives it.
        const QString big = result.system;
        QProcess::execute("curl", {"-sS", "-o", "/dev/null", "-H", "Authorization: Bearer x", "-F", "file=@" + big,
                                   base.toString() + "/api/v1/rasshifrovka"});
        for (const Received& request : received(base)) {
            if (request.method == "POST")
                std::printf("  curl -F file=@%s: body %lld bytes, overhead %lld\n",
                            qPrintable(QFileInfo(big).fileName()), qint64(request.body.size()),
                            qint64(request.body.size()) - pair[1]);
        }
        std::printf("\n");
    }
    std::printf("final status line: %s\n", qPrintable(controller.statusLine()));
    service.terminate();
    service.waitForFinished();
    return 0;
}
