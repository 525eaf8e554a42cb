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

// The size of a regular file, or none when it cannot be told.
std::optional<qint64> trackSize(const QString& file)
{
    const QFileInfo info(file);
    if (file.isEmpty() || !info.isFile())
        return std::nullopt;
    return info.size();
}

} // namespace

UploadFlow::UploadFlow(const Store& store, ApiFactory api, Workspace& workspace, StatusSink& status,
                       ErrorReporter& errors, Clock& clock, LimitFlow& limit, PendingUploads& pending)
    : store_(store)
    , api_(std::move(api))
    , workspace_(workspace)
    , status_(status)
    , errors_(errors)
    , clock_(clock)
    , limit_(limit)
    , pending_(pending)
{
}

QCoro::Task<void> UploadFlow::upload(RecorderResult result)
{
    const QPointer<UploadFlow> self(this);
    // One Api for the whole run, so both tracks go with the same token.
    const Api api = api_();
    std::vector<Track> tracks;
    for (const Track& track : {Track{result.microphone, QStringLiteral("микрофон")},
                               Track{result.system, QStringLiteral("собеседники")}}) {
        const std::optional<qint64> size = trackSize(track.path);
        if (size && *size > emptyTrackBytes)
            tracks.push_back(track);
        else
            Log::info(QStringLiteral("дорожка «") + track.label + QStringLiteral("» пуста — не отправляем"));
    }

    for (size_t i = 0; i < tracks.size(); ++i) {
        auto sending = trySend(tracks[i].path, api);
        const std::optional<Api::Recording> job = co_await std::move(sending);
        if (!self)
            co_return;
        if (!job) {
            // This track and the ones after it wait; those before it have their jobs.
            for (size_t rest = i; rest < tracks.size(); ++rest)
                pending_.keep(tracks[rest]);
            status_.showStatus(PendingUploads::waitingText(int(pending_.tracks().size())));
            startRetry(1);
            co_return;
        }

        auto following = follow(*job, tracks[i].label, api);
        const bool ready = co_await std::move(following);
        if (!self || !ready)
            co_return;
    }

    status_.showStatus(result.video ? QStringLiteral("Готово — текст на сайте, ролик в папке с записями")
                      : QStringLiteral("Готово — смотрите на сайте"));
    auto limit = limit_.refreshLimit();
    co_await std::move(limit);
}

QCoro::Task<std::optional<Api::Recording>> UploadFlow::trySend(QString path, Api api)
{
    std::optional<QString> passing;
    try {
        auto sending = api.upload(path);
        co_return co_await std::move(sending);
    } catch (const std::exception& error) {
        if (!PendingUploads::mayPass(error))
            throw;
        passing = QString::fromUtf8(error.what());
    }
    Log::warn(QStringLiteral("дорожка ждёт отправки: ") + *passing);
    co_return std::nullopt;
}

QCoro::Task<bool> UploadFlow::follow(Api::Recording job, QString label, Api api)
{
    const QPointer<UploadFlow> self(this);
    status_.showStatus(QStringLiteral("Расшифровываем ") + label + QStringLiteral("…"));
    auto waiting = waitUntilReady(job.id, api);
    const Api::Recording done = co_await std::move(waiting);
    if (!self)
        co_return false;
    if (done.status == u"failed") {
        // Not an error: the service tried and says why it could not.
        status_.showStatus(done.failure.value_or(QStringLiteral("Не удалось расшифровать")));
        co_return false;
    }
    co_return true;
}

void UploadFlow::startRetry(int failures)
{
    if (retrying_ || pending_.empty())
        return;
    retrying_ = true;
    retryAfter(failures);
}

void UploadFlow::retryAfter(int failures)
{
    if (failures == 0) {
        retry(0);
        return;
    }
    // Delayed work rather than a sleeping coroutine: it goes with the flow,
    // so a quit during a long pause leaves nothing suspended behind.
    clock_.after(PendingUploads::pauseAfter(failures - 1), this, [this, failures] { retry(failures); });
}

QCoro::Task<void> UploadFlow::retry(int failures)
{
    const QPointer<UploadFlow> self(this);
    bool unreachable = false;
    bool sent = false;
    bool allReady = true;
    for (const Track& track : pending_.tracks()) {
        if (!QFileInfo(track.path).isFile()) {
            Log::info(QStringLiteral("дорожки «") + track.label + QStringLiteral("» больше нет — не отправляем: ") +
                      track.path);
            pending_.drop(track.path);
            continue;
        }
        const Api api = api_();
        std::optional<Api::Recording> job;
        try {
            auto sending = trySend(track.path, api);
            job = co_await std::move(sending);
            if (!self)
                co_return;
            if (!job) {
                unreachable = true;
                break;
            }
            pending_.drop(track.path);
            sent = true;
            auto following = follow(*job, track.label, api);
            allReady = co_await std::move(following) && allReady;
        } catch (const std::exception& error) {
            // A refusal that will not pass is an answer too: the track leaves.
            allReady = false;
            if (self && !job)
                pending_.drop(track.path);
            if (self)
                errors_.report(error);
        }
        if (!self)
            co_return;
    }
    // Tracks may also have come from a recording stopped meanwhile.
    if (!pending_.empty()) {
        status_.showStatus(PendingUploads::waitingText(int(pending_.tracks().size())));
        retryAfter(unreachable ? failures + 1 : 0);
        co_return;
    }
    retrying_ = false;
    if (sent && allReady) {
        status_.showStatus(QStringLiteral("Готово — смотрите на сайте"));
        auto limit = limit_.refreshLimit();
        co_await std::move(limit);
    }
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
