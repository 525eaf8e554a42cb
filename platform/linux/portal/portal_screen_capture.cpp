#include "platform/linux/portal/portal_screen_capture.h"

#include "core/log.h"
#include "platform/linux/portal/pipewire_video_stream.h"
#include "platform/linux/portal/portal_request.h"
#include "platform/linux/portal/portal_streams.h"
#include "platform/linux/x11/frame_scaler.h"
#include "core/serial_queue.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusUnixFileDescriptor>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QUrl>

#include <qcoro/qcorodbuspendingcall.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>


namespace {

const QString screenshotInterface = QString::fromUtf8("org.freedesktop.portal.Screenshot");
const QString screenCastInterface = QString::fromUtf8("org.freedesktop.portal.ScreenCast");

// Steps that show nothing to the user answer at once; a step that opens the
// desktop's dialog waits for the user, but not for ever.
constexpr int quickAnswerSeconds = 30;
constexpr int userAnswerSeconds = 300;

// The portal's source types and cursor modes.
constexpr uint monitorSource = 1;
constexpr uint windowSource = 2;
constexpr uint hiddenCursor = 1;
constexpr uint embeddedCursor = 2;
// Kept until the user revokes it.
constexpr uint persistUntilRevoked = 2;

std::vector<ShareableDisplay> qtDisplays()
{
    std::vector<ShareableDisplay> displays;
    if (!qGuiApp)
        return displays;
    uint32_t number = 0;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect geometry = screen->geometry();
        displays.push_back({++number, geometry.width(), geometry.height(), QRectF(geometry)});
    }
    return displays;
}

// Built outside the coroutines: GCC 12 cannot keep an initializer list in a
// coroutine frame.
template <class... Values>
QVariantList arguments(const Values&... values)
{
    return QVariantList{QVariant::fromValue(values)...};
}

QVariantMap optionsWith(const QString& key, const QVariant& value)
{
    QVariantMap options;
    options.insert(key, value);
    return options;
}

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

// One ScreenCast session and its PipeWire picture, feeding the screen
// outputs; audio outputs go to the system-sound stream beside it.
class ScreenCastStream final : public Stream {
public:
    ScreenCastStream(QDBusConnection bus, ContentFilter filter, StreamConfiguration configuration,
                 std::shared_ptr<StreamDelegate> delegate, std::shared_ptr<RestoreTokenKeeper> tokens,
                 const PortalScreenCapture::SoundStreams& sound)
        : bus_(std::move(bus)), filter_(std::move(filter)), configuration_(configuration),
          tokens_(std::move(tokens)), state_(std::make_shared<State>())
    {
        state_->configuration = configuration_;
        if (sound)
            sound_ = sound(configuration_, std::move(delegate));
    }

    ~ScreenCastStream() override { halt(); }

    std::optional<QString> addStreamOutput(std::shared_ptr<StreamOutput> output, StreamOutputType type,
                                           SerialQueue* queue) override
    {
        if (!output || !queue)
            return QString::fromUtf8("Нет получателя кадров");
        if (started_)
            return QString::fromUtf8("Поток уже запущен");
        if (type == StreamOutputType::Audio) {
            if (!sound_)
                return QString::fromUtf8("Этот поток не передаёт звук");
            return sound_->addStreamOutput(std::move(output), type, queue);
        }
        std::lock_guard lock(state_->mutex);
        state_->outputs.push_back({std::move(output), queue});
        return std::nullopt;
    }

    QCoro::Task<std::optional<QString>> startCapture() override
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
        if (sound_) {
            if (auto failed = co_await sound_->startCapture()) {
                halt();
                co_return failed;
            }
        }
        co_return std::nullopt;
    }

    QCoro::Task<std::optional<QString>> stopCapture() override
    {
        halt();
        if (sound_)
            co_await sound_->stopCapture();
        co_return std::nullopt;
    }

private:
    struct Output {
        std::shared_ptr<StreamOutput> output;
        SerialQueue* queue;
    };

    // What PipeWire's thread and the outputs' queues share.
    struct State {
        StreamConfiguration configuration;
        std::mutex mutex;
        std::vector<Output> outputs;
        std::atomic<bool> stopped{false};
        double lastAccepted = -1e9;
    };

    // The portal's steps; the failure's reason for the log, or nothing.
    QCoro::Task<std::optional<QString>> startPicture()
    {
        const PortalResponse created =
            co_await portalRequest(bus_, screenCastInterface, QString::fromUtf8("CreateSession"), QVariantList(),
                                   optionsWith(QString::fromUtf8("session_handle_token"), portalToken()),
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
                                   arguments(QDBusObjectPath(session_)), selection, quickAnswerSeconds);
        if (!selected.ok())
            co_return QString::fromUtf8("источник не выбран (") + selected.error + ')';

        const PortalResponse started = co_await portalRequest(
            bus_, screenCastInterface, QString::fromUtf8("Start"),
            arguments(QDBusObjectPath(session_), QString()), QVariantMap(), userAnswerSeconds);
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
        open.setArguments(arguments(QDBusObjectPath(session_), QVariantMap()));
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
            // The picture and the system sound are separate sources here: when
            // the user stops sharing the screen the recording goes on, and the
            // video keeps what it has.
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
    static void deliver(const std::shared_ptr<State>& state, std::shared_ptr<PipeWireVideoStream::Lease> lease)
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
                image = PortalScreenCapture::fitPicture(frame.pixels, frame.stride, frame.width, frame.height,
                                                        width, height);
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

    void halt()
    {
        state_->stopped = true;
        picture_.reset();
        closeSession();
    }

    void closeSession()
    {
        if (session_.isEmpty())
            return;
        bus_.asyncCall(QDBusMessage::createMethodCall(QString::fromUtf8("org.freedesktop.portal.Desktop"), session_,
                                                      QString::fromUtf8("org.freedesktop.portal.Session"),
                                                      QString::fromUtf8("Close")));
        session_.clear();
    }

    QDBusConnection bus_;
    const ContentFilter filter_;
    const StreamConfiguration configuration_;
    std::shared_ptr<RestoreTokenKeeper> tokens_;
    std::shared_ptr<State> state_;
    std::unique_ptr<Stream> sound_;
    std::unique_ptr<PipeWireVideoStream> picture_;
    QString session_;
    bool started_ = false;
};

} // namespace

PortalScreenCapture::PortalScreenCapture(QDBusConnection bus, std::shared_ptr<RestoreTokenKeeper> tokens, SoundStreams sound)
    : bus_(std::move(bus)), tokens_(std::move(tokens)), sound_(std::move(sound))
{
    registerPortalStreamTypes();
}

PortalScreenCapture::~PortalScreenCapture() = default;

QCoro::Task<std::optional<ShareableContent>> PortalScreenCapture::shareableContent()
{
    ShareableContent content;
    content.displays = qtDisplays();
    if (content.displays.empty())
        co_return std::nullopt;
    co_return content;
}

quint32 PortalScreenCapture::displayNumber(const QScreen* screen) const
{
    // The numbers shareableContent() gives: Qt's screens counted from 1.
    const auto screens = QGuiApplication::screens();
    const auto index = screens.indexOf(const_cast<QScreen*>(screen));
    return index < 0 ? 1 : static_cast<quint32>(index + 1);
}

QImage PortalScreenCapture::fitPicture(const uint8_t* pixels, int stride, int width, int height, int outWidth,
                                       int outHeight)
{
    if (!pixels || width < 1 || height < 1 || outWidth < 1 || outHeight < 1)
        return {};
    const double scale = std::min(double(outWidth) / width, double(outHeight) / height);
    const int fittedWidth = std::clamp(int(std::lround(width * scale)), 1, outWidth);
    const int fittedHeight = std::clamp(int(std::lround(height * scale)), 1, outHeight);
    // Within a pixel of the video's shape: edge to edge, no bars of one pixel.
    if (outWidth - fittedWidth <= 1 && outHeight - fittedHeight <= 1)
        return scaleBgrx(pixels, stride, width, height, outWidth, outHeight);
    const QImage fitted = scaleBgrx(pixels, stride, width, height, fittedWidth, fittedHeight);
    if (fitted.isNull())
        return {};
    QImage canvas(outWidth, outHeight, QImage::Format_RGB32);
    canvas.fill(Qt::black);
    const int left = (outWidth - fittedWidth) / 2;
    const int top = (outHeight - fittedHeight) / 2;
    for (int y = 0; y < fittedHeight; ++y)
        std::memcpy(canvas.scanLine(top + y) + left * 4, fitted.constScanLine(y), size_t(fittedWidth) * 4);
    return canvas;
}

QImage PortalScreenCapture::displayPart(const QImage& screenshot, const ShareableDisplay& display,
                                        const std::vector<ShareableDisplay>& displays)
{
    QRectF desktop;
    for (const ShareableDisplay& each : displays)
        desktop = desktop.united(each.frame);
    if (screenshot.isNull() || desktop.width() <= 0 || display.frame.isEmpty())
        return screenshot;
    // The screenshot spans every screen at one scale: its pixels over the
    // desktop's points.
    const double scale = screenshot.width() / desktop.width();
    const QRectF frame = display.frame.translated(-desktop.topLeft());
    const QRect part = QRectF(frame.x() * scale, frame.y() * scale, frame.width() * scale, frame.height() * scale)
                           .toAlignedRect()
                           .intersected(screenshot.rect());
    return part.isEmpty() ? QImage() : screenshot.copy(part);
}

QCoro::Task<std::optional<QImage>> PortalScreenCapture::captureImage(ContentFilter filter,
                                                                     StreamConfiguration configuration)
{
    // A screenshot shows screens; a single window or the user's pick is the
    // stream's business.
    if (filter.kind == ContentFilter::Kind::Window || filter.kind == ContentFilter::Kind::DesktopChoice)
        co_return std::nullopt;
    QVariantMap options = optionsWith(QString::fromUtf8("interactive"), false);
    options.insert(QString::fromUtf8("modal"), false);
    const PortalResponse response = co_await portalRequest(bus_, screenshotInterface, QString::fromUtf8("Screenshot"),
                                                           arguments(QString()), options, quickAnswerSeconds);
    if (!response.ok()) {
        Log::warn(QString::fromUtf8("портал снимков экрана не дал снимок: ") + response.error);
        co_return std::nullopt;
    }
    const QString path = QUrl(response.results.value(QString::fromUtf8("uri")).toString()).toLocalFile();
    QImage screenshot(path);
    // The portal leaves its file in the user's pictures; the picture is ours
    // to deliver, not a second copy to find there later.
    if (!path.isEmpty())
        QFile::remove(path);
    if (screenshot.isNull()) {
        Log::warn(QString::fromUtf8("портал снимков экрана вернул нечитаемый файл: ") + path);
        co_return std::nullopt;
    }
    QImage image = displayPart(screenshot.convertToFormat(QImage::Format_RGB32), filter.display, qtDisplays());
    if (image.isNull())
        co_return std::nullopt;
    if (configuration.width > 0 && configuration.height > 0 && image.size() != QSize(configuration.width, configuration.height))
        image = image.scaled(configuration.width, configuration.height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    co_return image;
}

std::unique_ptr<Stream> PortalScreenCapture::makeStream(const ContentFilter& filter,
                                                        const StreamConfiguration& configuration,
                                                        std::shared_ptr<StreamDelegate> delegate)
{
    return std::make_unique<ScreenCastStream>(bus_, filter, configuration, std::move(delegate), tokens_, sound_);
}
