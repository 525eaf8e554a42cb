#include "platform/linux/x11/x11_screen_capture.h"

#include "platform/linux/blocking_work.h"
#include "platform/linux/desktop_entries.h"
#include "platform/linux/x11/x11_connection.h"
#include "platform/linux/x11/x11_content.h"
#include "platform/linux/x11/x11_grabber.h"
#include "platform/linux/x11/x11_monitors.h"
#include "core/serial_queue.h"

#include <QDateTime>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QPromise>
#include <QScreen>
#include <QThread>
#include <QThreadPool>

#include <qcoro/qcorofuture.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <thread>

struct X11ScreenCapture::State {
    explicit State(QByteArray displayName) : connection(std::move(displayName)) {}

    X11Connection connection;

    // The installed applications, read again when one of their folders changes.
    DesktopEntries desktopEntries()
    {
        const QStringList folders = DesktopEntries::standardFolders();
        QStringList stamp;
        for (const QString& folder : folders)
            stamp << QString::number(QFileInfo(folder).lastModified().toMSecsSinceEpoch());
        std::lock_guard lock(entriesMutex);
        if (!entries || stamp != entriesStamp) {
            entries = DesktopEntries::scan(folders, QLocale::system().name());
            entriesStamp = stamp;
        }
        return *entries;
    }

    std::mutex entriesMutex;
    std::optional<DesktopEntries> entries;
    QStringList entriesStamp;
};

namespace {

// Read on the main thread, where Qt's screens live.
double devicePixelRatio()
{
    if (!qGuiApp || QThread::currentThread() != qGuiApp->thread() || !qGuiApp->primaryScreen())
        return 1.0;
    return qGuiApp->primaryScreen()->devicePixelRatio();
}

struct ScreenScale {
    QRect geometry; // device pixels, as monitors give theirs
    double ratio = 1;
};

// Every screen's own scale, read on the main thread; screens of a desktop
// with one scale for all (QT_SCALE_FACTOR) all have the main screen's.
std::vector<ScreenScale> screenScales()
{
    std::vector<ScreenScale> scales;
    if (!qGuiApp || QThread::currentThread() != qGuiApp->thread())
        return scales;
    for (const QScreen* screen : QGuiApplication::screens())
        scales.push_back({nativeGeometry(screen), screen->devicePixelRatio()});
    return scales;
}

// A screen with a scale of its own (QT_SCREEN_SCALE_FACTORS) measures its
// display in its own points, so that a picture twice its width in points is
// its native size there as on the main screen.
void measureInOwnPoints(ShareableContent& content, double mainRatio, const std::vector<ScreenScale>& scales)
{
    for (ShareableDisplay& display : content.displays) {
        const QRect device(qRound(display.frame.x() * mainRatio), qRound(display.frame.y() * mainRatio),
                           qRound(display.frame.width() * mainRatio), qRound(display.frame.height() * mainRatio));
        for (const ScreenScale& scale : scales) {
            if (scale.geometry != device || scale.ratio == mainRatio || scale.ratio <= 0)
                continue;
            display.width = int(device.width() / scale.ratio);
            display.height = int(device.height() / scale.ratio);
            display.frame.setSize(QSizeF(device.size()) / scale.ratio);
        }
    }
}

double monotonicSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Frames of one filter read in a loop on the stream's own thread and handed
// to the outputs' queues.
class X11Stream final : public Stream {
public:
    X11Stream(std::shared_ptr<X11ScreenCapture::State> state, ContentFilter filter,
              StreamConfiguration configuration, std::shared_ptr<StreamDelegate> delegate)
        : state_(std::move(state)), filter_(std::move(filter)), configuration_(configuration),
          delegate_(std::move(delegate))
    {
    }

    ~X11Stream() override { halt(); }

    std::optional<QString> addStreamOutput(std::shared_ptr<StreamOutput> output, StreamOutputType type,
                                           SerialQueue* queue) override
    {
        if (!output || !queue)
            return QStringLiteral("Нет получателя кадров");
        if (type != StreamOutputType::Screen)
            return QStringLiteral("Этот поток не передаёт звук");
        std::lock_guard lock(mutex_);
        if (worker_.joinable())
            return QStringLiteral("Поток уже запущен");
        outputs_.push_back({std::move(output), queue});
        return std::nullopt;
    }

    QCoro::Task<std::optional<QString>> startCapture() override
    {
        if (worker_.joinable())
            co_return QStringLiteral("Поток уже запущен");
        // GCC 12 destroys objects captured in a temporary of a co_await
        // expression twice: every future is made in a statement of its own.
        auto state = state_;
        auto connecting = runOnThread([state] { return state->connection.session(); });
        auto session = co_await connecting;
        if (!session)
            co_return QStringLiteral("Нет связи с X-сервером");
        if (configuration_.width < 1 || configuration_.height < 1)
            co_return QStringLiteral("Размер кадра не задан");
        stopping_ = false;
        worker_ = std::thread([this, session] { run(session); });
        co_return std::nullopt;
    }

    QCoro::Task<std::optional<QString>> stopCapture() override
    {
        auto halting = runOnThread([this] {
            halt();
            return true;
        });
        co_await halting;
        co_return std::nullopt;
    }

private:
    struct Output {
        std::shared_ptr<StreamOutput> output;
        SerialQueue* queue;
    };

    void halt()
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (worker_.joinable())
            worker_.join();
    }

    void run(std::shared_ptr<X11Session> session)
    {
        const auto interval = std::chrono::duration<double>(std::max(configuration_.minimumFrameInterval, 1.0 / 60.0));
        auto next = std::chrono::steady_clock::now();
        for (;;) {
            {
                std::lock_guard lock(mutex_);
                if (stopping_)
                    return;
            }
            if (auto image = grabFilter(*session, filter_, configuration_)) {
                const SampleBuffer sample{StreamOutputType::Screen, *image, monotonicSeconds()};
                for (const Output& out : outputs_) {
                    out.queue->async([output = out.output, sample] {
                        output->didOutputSampleBuffer(sample, StreamOutputType::Screen);
                    });
                }
            } else if (session->broken()) {
                if (delegate_)
                    delegate_->didStopWithError(QStringLiteral("связь с X-сервером прервалась"));
                return;
            } else if (auto lost = lostSource(*session, filter_)) {
                if (delegate_)
                    delegate_->didStopWithError(*lost);
                return;
            }
            next += std::chrono::duration_cast<std::chrono::steady_clock::duration>(interval);
            std::unique_lock lock(mutex_);
            wake_.wait_until(lock, next, [this] { return stopping_; });
        }
    }

    std::shared_ptr<X11ScreenCapture::State> state_;
    const ContentFilter filter_;
    const StreamConfiguration configuration_;
    const std::shared_ptr<StreamDelegate> delegate_;
    std::vector<Output> outputs_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread worker_;
};

} // namespace

X11ScreenCapture::X11ScreenCapture(QByteArray displayName)
    : state_(std::make_shared<State>(std::move(displayName))), pool_(std::make_unique<QThreadPool>())
{
    // Requests wait on the server more than on the processor: a few more
    // threads than cores keep its answers overlapping.
    pool_->setMaxThreadCount(std::max(4, QThread::idealThreadCount()));
    // Connected at once, so that the windows keep their own pictures (see
    // X11Session::open) before our first window opens over them: a window
    // only gets one when it repaints after that.
    pool_->start([state = state_] { state->connection.session(); });
}

X11ScreenCapture::~X11ScreenCapture()
{
    pool_->waitForDone();
}

quint32 X11ScreenCapture::displayNumber(const QScreen* screen) const
{
    return displayNumberAmong(currentMonitors(), nativeGeometry(screen));
}

bool X11ScreenCapture::desktopComposites() const
{
    return ::desktopComposites();
}

QCoro::Task<std::optional<ShareableContent>> X11ScreenCapture::shareableContent()
{
    // Callers that ask while a listing runs share it: the picker asks once
    // per thumbnail, all at the same moment.
    QFuture<std::optional<ShareableContent>> listing;
    {
        std::lock_guard lock(listingMutex_);
        if (listing_ && !listing_->isFinished()) {
            listing = *listing_;
        } else {
            const double ratio = devicePixelRatio();
            auto state = state_;
            listing = runOnPool(*pool_, [state, ratio, scales = screenScales()]() -> std::optional<ShareableContent> {
                const auto session = state->connection.session();
                if (!session)
                    return std::nullopt;
                auto content = listShareableContent(*session, ratio, state->desktopEntries());
                if (content)
                    measureInOwnPoints(*content, ratio, scales);
                return content;
            });
            listing_ = listing;
        }
    }
    auto listed = co_await listing;
    co_return listed;
}

QCoro::Task<std::optional<QImage>> X11ScreenCapture::captureImage(ContentFilter filter,
                                                                  StreamConfiguration configuration)
{
    auto state = state_;
    auto grabbing = runOnPool(*pool_, [state, filter = std::move(filter), configuration]() -> std::optional<QImage> {
        const auto session = state->connection.session();
        if (!session)
            return std::nullopt;
        return grabFilter(*session, filter, configuration);
    });
    co_return co_await grabbing;
}

std::unique_ptr<Stream> X11ScreenCapture::makeStream(const ContentFilter& filter,
                                                     const StreamConfiguration& configuration,
                                                     std::shared_ptr<StreamDelegate> delegate)
{
    return std::make_unique<X11Stream>(state_, filter, configuration, std::move(delegate));
}
