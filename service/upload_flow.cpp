// After a recording: each track goes to the service as a job of its own,
// and the job is polled until its transcript is ready or failed.

#include "service/upload_flow.h"

#include "core/log.h"
#include "recording/recorder_result.h"
#include "service/limit_flow.h"

#include <QFileInfo>
#include <QPointer>

namespace {

// A track no larger than this holds nothing worth transcribing: an audio
// file without sound is about this big.
constexpr qint64 emptyTrackBytes = 2048;
constexpr double pollInterval = 4.0;
constexpr int pollLimit = 150;

struct Track {
    QString label;
    QString file;
};

// The size of a regular file, or none when it cannot be told.
std::optional<qint64> trackSize(const QString& file)
{
    const QFileInfo info(file);
    if (file.isEmpty() || !info.isFile())
        return std::nullopt;
    return info.size();
}

} // namespace

UploadFlow::UploadFlow(const Store& store, ApiFactory api, Workspace& workspace, StatusSink& status, Clock& clock,
                       LimitFlow& limit)
    : store_(store), api_(std::move(api)), workspace_(workspace), status_(status), clock_(clock), limit_(limit)
{
}

QCoro::Task<void> UploadFlow::upload(RecorderResult result)
{
    const QPointer<UploadFlow> self(this);
    // One Api for the whole run, so both tracks go with the same token.
    const Api api = api_();
    const Track tracks[] = {{QStringLiteral("микрофон"), result.microphone},
                            {QStringLiteral("собеседники"), result.system}};
    for (const Track& track : tracks) {
        const std::optional<qint64> size = trackSize(track.file);
        if (!size || *size <= emptyTrackBytes) {
            Log::info(QStringLiteral("дорожка «") + track.label + QStringLiteral("» пуста — не отправляем"));
            continue;
        }

        auto sending = api.upload(track.file);
        const Api::Recording job = co_await std::move(sending);
        if (!self)
            co_return;
        status_.showStatus(QStringLiteral("Расшифровываем ") + track.label + QStringLiteral("…"));

        auto waiting = waitUntilReady(job.id, api);
        const Api::Recording done = co_await std::move(waiting);
        if (!self)
            co_return;
        if (done.status == u"failed") {
            // Not an error: the service tried and says why it could not.
            status_.showStatus(done.failure.value_or(QStringLiteral("Не удалось расшифровать")));
            co_return;
        }
    }

    status_.showStatus(result.video ? QStringLiteral("Готово — текст на сайте, ролик в папке с записями")
                      : QStringLiteral("Готово — смотрите на сайте"));
    auto limit = limit_.refreshLimit();
    co_await std::move(limit);
}

QCoro::Task<Api::Recording> UploadFlow::waitUntilReady(qint64 id, Api api)
{
    // The clock outlives every flow; this one may go while the job is polled.
    Clock& clock = clock_;
    for (int attempt = 0;; ++attempt) {
        auto pause = clock.sleep(pollInterval);
        co_await std::move(pause);
        auto poll = api.recording(id);
        Api::Recording job = co_await std::move(poll);
        if (job.isFinal())
            co_return job;
        if (attempt == pollLimit - 1)
            throw Api::Failure::network(QStringLiteral("расшифровка идёт дольше обычного — проверьте на сайте"));
    }
}

void UploadFlow::openSite()
{
    QUrl site = store_.baseURL();
    QString path = site.path();
    if (!path.endsWith(u'/'))
        path += u'/';
    site.setPath(path + QStringLiteral("rasshifrovka"));
    workspace_.openUrl(site);
}
