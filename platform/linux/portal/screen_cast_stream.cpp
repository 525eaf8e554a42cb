#include "platform/linux/portal/screen_cast_stream.h"

#include "core/log.h"
#include "core/serial_queue.h"
#include "platform/linux/portal/picture_fitting.h"
#include "platform/linux/portal/portal_request.h"
#include "platform/linux/portal/portal_streams.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusUnixFileDescriptor>

#include <qcoro/qcorodbuspendingcall.h>

#include <fcntl.h>

namespace {

const QString screenCastInterface = QString::fromUtf8("org.freedesktop.portal.ScreenCast");

// The portal's source types and cursor modes.
constexpr uint monitorSource = 1;
constexpr uint windowSource = 2;
constexpr uint hiddenCursor = 1;
constexpr uint embeddedCursor = 2;
// Kept until the user revokes it.
constexpr uint persistUntilRevoked = 2;

uint sourceTypes(const ContentFilter& filter)
{
    switch (filter.kind) {
    case ContentFilter::Kind::Window:
        return windowSource;
    case ContentFilter::Kind::DesktopChoice:
        return monitorSource | windowSource;
    case ContentFilter::Kind::Display:
    case ContentFilter::Kind::Applications:
        break;
    }
    return monitorSource;
}

QVariantMap selectionOptions(const ContentFilter& filter, const StreamConfiguration& configuration)
{
    return {
        {QStringLiteral("types"), sourceTypes(filter)},
        {QStringLiteral("multiple"), false},
        {QStringLiteral("cursor_mode"), configuration.showsCursor ? embeddedCursor : hiddenCursor},
        {QStringLiteral("persist_mode"), persistUntilRevoked},
    };
}

QString sessionHandleFrom(const QVariant& value)
{
    if (value.canConvert<QDBusObjectPath>() && value.userType() == qMetaTypeId<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

} // namespace

ScreenCastStream::ScreenCastStream(QDBusConnection bus, ContentFilter filter, StreamConfiguration configuration,
                                   std::shared_ptr<RestoreTokenKeeper> tokens)
    : bus_(std::move(bus)), filter_(std::move(filter)), configuration_(configuration), tokens_(std::move(tokens)),
      state_(std::make_shared<State>())
{
    state_->configuration = configuration_;
}

ScreenCastStream::~ScreenCastStream()
{
    halt();
}

std::optional<QString> ScreenCastStream::addStreamOutput(std::shared_ptr<StreamOutput> output, StreamOutputType type,
                                                         SerialQueue* queue)
{
    if (!output || !queue)
        return QString::fromUtf8("Нет получателя кадров");
    if (started_)
        return QString::fromUtf8("Поток уже запущен");
    if (type == StreamOutputType::Audio)
        return QString::fromUtf8("Этот поток не передаёт звук");
    std::lock_guard lock(state_->mutex);
    state_->outputs.push_back({std::move(output), queue});
    return std::nullopt;
}

QCoro::Task<std::optional<QString>> ScreenCastStream::startCapture()
{
    if (started_)
        co_return QString::fromUtf8("Поток уже запущен");
    started_ = true;
    if (configuration_.width < 1 || configuration_.height < 1)
        co_return QString::fromUtf8("Размер кадра не задан");
    if (auto refused = co_await startPicture()) {
        Log::warn(QString::fromUtf8("портал записи экрана: ") + *refused);
        closeSession();
        co_return Stream::denied;
    }
    co_return std::nullopt;
}

QCoro::Task<std::optional<QString>> ScreenCastStream::stopCapture()
{
    halt();
    co_return std::nullopt;
}

// The portal's steps; the failure's reason for the log, or nothing.
QCoro::Task<std::optional<QString>> ScreenCastStream::startPicture()
{
    const PortalResponse created =
        co_await portalRequest(bus_, screenCastInterface, QString::fromUtf8("CreateSession"), QVariantList(),
                               portalOptions(QString::fromUtf8("session_handle_token"), portalToken()),
                               quickAnswerSeconds);
    if (!created.ok())
        co_return QString::fromUtf8("сеанс не создан (") + created.error + ')';
    session_ = sessionHandleFrom(created.results.value(QString::fromUtf8("session_handle")));
    if (session_.isEmpty())
        co_return QString::fromUtf8("портал не назвал сеанс");

    QVariantMap selection = selectionOptions(filter_, configuration_);
    const QString token = tokens_ ? tokens_->restoreToken() : QString();
    if (!token.isEmpty())
        selection.insert(QString::fromUtf8("restore_token"), token);
    const PortalResponse selected =
        co_await portalRequest(bus_, screenCastInterface, QString::fromUtf8("SelectSources"),
                               portalArguments(QDBusObjectPath(session_)), selection, quickAnswerSeconds);
    if (!selected.ok())
        co_return QString::fromUtf8("источник не выбран (") + selected.error + ')';

    const PortalResponse started = co_await portalRequest(
        bus_, screenCastInterface, QString::fromUtf8("Start"),
        portalArguments(QDBusObjectPath(session_), QString()), QVariantMap(), userAnswerSeconds);
    if (!started.ok())
        co_return QString::fromUtf8("показ экрана не разрешён (") + started.error + ')';
    const QString newToken = started.results.value(QString::fromUtf8("restore_token")).toString();
    if (tokens_ && !newToken.isEmpty())
        tokens_->keepRestoreToken(newToken);
    const PortalStreams streams = portalStreamsFrom(started.results.value(QString::fromUtf8("streams")));
    if (streams.isEmpty())
        co_return QString::fromUtf8("портал не дал ни одного потока");

    QDBusMessage open = QDBusMessage::createMethodCall(
        QString::fromUtf8("org.freedesktop.portal.Desktop"), QString::fromUtf8("/org/freedesktop/portal/desktop"),
        screenCastInterface, QString::fromUtf8("OpenPipeWireRemote"));
    open.setArguments(portalArguments(QDBusObjectPath(session_), QVariantMap()));
    const QDBusPendingCall call = bus_.asyncCall(open);
    const QDBusMessage reply = co_await call;
    if (reply.type() != QDBusMessage::ReplyMessage)
        co_return QString::fromUtf8("PipeWire не открыт (") + reply.errorMessage() + ')';
    const auto remote = reply.arguments().value(0).value<QDBusUnixFileDescriptor>();
    const int fd = remote.isValid() ? fcntl(remote.fileDescriptor(), F_DUPFD_CLOEXEC, 3) : -1;
    if (fd < 0)
        co_return QString::fromUtf8("PipeWire не открыт");

    QString error;
    std::weak_ptr<State> state = state_;
    picture_ = PipeWireVideoStream::open(
        fd, streams.first().nodeId, [state](std::shared_ptr<PipeWireVideoStream::Lease> lease) {
            if (auto alive = state.lock())
                deliver(alive, std::move(lease));
        },
        // The picture and the system sound are separate sources: when the
        // user stops sharing the screen the recording goes on, and the video
        // keeps what it has.
        [](const QString& reason) {
            Log::warn(QString::fromUtf8("картинка экрана прервалась: ") + reason
                      + QString::fromUtf8(" — видео сохранит записанное до этого"));
        },
        &error);
    if (!picture_)
        co_return error;
    co_return std::nullopt;
}

// On PipeWire's thread: at most one frame per minimum interval goes to
// the first screen output's queue, to be scaled there.
void ScreenCastStream::deliver(const std::shared_ptr<State>& state, std::shared_ptr<PipeWireVideoStream::Lease> lease)
{
    std::vector<Output> outputs;
    {
        std::lock_guard lock(state->mutex);
        if (state->stopped || state->outputs.empty())
            return;
        // A little slack, so a source at exactly the rate is not halved.
        const double interval = state->configuration.minimumFrameInterval * 0.9;
        if (lease->arrival() - state->lastAccepted < interval)
            return;
        state->lastAccepted = lease->arrival();
        outputs = state->outputs;
    }
    SerialQueue* scaling = outputs.front().queue;
    scaling->async([state, lease, outputs] {
        QImage image;
        const int width = state->configuration.width;
        const int height = state->configuration.height;
        lease->read([&](const PipeWireVideoStream::Frame& frame) {
            image = fitPicture(frame.pixels, frame.stride, frame.width, frame.height, width, height);
            if (frame.rgbOrder)
                image = std::move(image).rgbSwapped();
        });
        if (image.isNull() || state->stopped)
            return;
        const SampleBuffer sample{StreamOutputType::Screen, image, lease->arrival()};
        for (const Output& out : outputs) {
            if (out.queue == outputs.front().queue) {
                out.output->didOutputSampleBuffer(sample, StreamOutputType::Screen);
            } else {
                out.queue->async([output = out.output, sample] {
                    output->didOutputSampleBuffer(sample, StreamOutputType::Screen);
                });
            }
        }
    });
}

void ScreenCastStream::halt()
{
    state_->stopped = true;
    picture_.reset();
    closeSession();
}

void ScreenCastStream::closeSession()
{
    if (session_.isEmpty())
        return;
    bus_.asyncCall(QDBusMessage::createMethodCall(QString::fromUtf8("org.freedesktop.portal.Desktop"), session_,
                                                  QString::fromUtf8("org.freedesktop.portal.Session"),
                                                  QString::fromUtf8("Close")));
    session_.clear();
}
