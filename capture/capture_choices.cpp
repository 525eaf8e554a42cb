#include "capture/capture_choices.h"

#include "core/version.h"
#include "core/clock.h"
#include "core/serial_queue.h"

#include <QCollator>
#include <QCoreApplication>
#include <QFileInfo>
#include <QIcon>
#include <QLocale>

#include <algorithm>
#include <cmath>

const QStringList CaptureChoices::toolkitInternals = {QStringLiteral("VCL Impl")};

void FrameGrabber::didOutputSampleBuffer(const SampleBuffer& sample, StreamOutputType type)
{
    if (type != StreamOutputType::Screen)
        return;
    {
        std::lock_guard guard(lock);
        if (stored_)
            return;
    }
    if (sample.image.isNull())
        return;
    std::lock_guard guard(lock);
    if (!stored_)
        stored_ = sample.image;
}

std::optional<QImage> FrameGrabber::stored() const
{
    std::lock_guard guard(lock);
    return stored_;
}

CaptureChoices::Process CaptureChoices::thisProcess()
{
    return {QCoreApplication::applicationPid(), QStringLiteral(KORVALA_APP_ID)};
}

QString CaptureChoices::windowSubtitle(const ShareableApplication& application)
{
    const QString& name = application.applicationName;
    if (!application.bundlePath)
        return name;
    // The entry's id without ".desktop" stands for the bundle's file name.
    QString fileName = application.bundleIdentifier;
    if (fileName.endsWith(QLatin1String(".desktop")))
        fileName.chop(8);
    return fileName.size() > name.size() ? fileName : name;
}

CaptureChoices CaptureChoices::choices(const ShareableContent& content, const Process& process)
{
    CaptureChoices result;
    const auto& displays = content.displays;
    for (size_t i = 0; i < displays.size(); ++i) {
        const auto& display = displays[i];
        result.displays.push_back(Item{
            QStringLiteral("display-%1").arg(display.displayID),
            displays.size() < 2 ? QStringLiteral("Весь экран") : QStringLiteral("Экран %1").arg(i + 1),
            QStringLiteral("%1×%2").arg(display.width).arg(display.height),
            CaptureTarget::display(display.displayID),
            std::nullopt,
            std::nullopt,
        });
    }

    std::vector<const ShareableWindow*> offered;
    for (const auto& window : content.windows) {
        if (window.windowLayer != 0)
            continue;
        if (!window.title || window.title->isEmpty() || !window.owningApplication)
            continue;
        const auto& owner = *window.owningApplication;
        if (owner.processID == process.processID)
            continue;
        if (process.bundleIdentifier && owner.bundleIdentifier == *process.bundleIdentifier)
            continue;
        if (window.frame.width() < 200 || window.frame.height() < 200)
            continue;
        const bool internal = std::any_of(toolkitInternals.begin(), toolkitInternals.end(),
                                          [&](const QString& prefix) { return window.title->startsWith(prefix); });
        if (internal)
            continue;
        offered.push_back(&window);
    }

    QCollator collator(QLocale::system());
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    const auto applicationName = [](const ShareableWindow* window) {
        return window->owningApplication ? window->owningApplication->applicationName : QString();
    };
    std::stable_sort(offered.begin(), offered.end(), [&](const ShareableWindow* a, const ShareableWindow* b) {
        const int byApplication = collator.compare(applicationName(a), applicationName(b));
        if (byApplication != 0)
            return byApplication < 0;
        return collator.compare(a->title.value_or(QString()), b->title.value_or(QString())) < 0;
    });

    for (const ShareableWindow* window : offered) {
        result.windows.push_back(Item{
            QStringLiteral("window-%1").arg(window->windowID),
            *window->title,
            windowSubtitle(*window->owningApplication),
            CaptureTarget::window(window->windowID),
            std::nullopt,
            std::nullopt,
        });
    }
    return result;
}

namespace {

// On the main thread: theme icons are looked up through the GUI.
std::optional<QImage> applicationIcon(const ShareableApplication& application)
{
    if (application.bundlePath && !application.iconName.isEmpty()) {
        const QIcon icon = QFileInfo(application.iconName).isAbsolute() ? QIcon(application.iconName)
                                                                         : QIcon::fromTheme(application.iconName);
        const QImage image = icon.pixmap(64, 64).toImage();
        if (!image.isNull())
            return image;
    }
    if (!application.windowIcon.isNull())
        return application.windowIcon;
    return std::nullopt;
}

} // namespace

QCoro::Task<CaptureChoices> CaptureChoices::current(std::shared_ptr<ScreenCapture> service)
{
    // Made apart from the co_await: GCC 12 destroys temporaries of a
    // co_await expression twice.
    auto listing = service->shareableContent();
    const auto content = co_await std::move(listing);
    if (!content)
        co_return CaptureChoices{};
    CaptureChoices result = choices(*content, thisProcess());
    for (auto& item : result.windows) {
        const auto window = std::find_if(content->windows.begin(), content->windows.end(),
                                         [&](const ShareableWindow& w) { return w.windowID == item.target.id(); });
        if (window != content->windows.end() && window->owningApplication)
            item.icon = applicationIcon(*window->owningApplication);
    }
    co_return result;
}

std::vector<ShareableWindow> CaptureChoices::ownWindows(const ShareableContent& content)
{
    const qint64 pid = QCoreApplication::applicationPid();
    std::vector<ShareableWindow> own;
    for (const auto& window : content.windows) {
        if (window.owningApplication && window.owningApplication->processID == pid)
            own.push_back(window);
    }
    return own;
}

ContentFilter CaptureChoices::withoutOwnWindows(const ShareableDisplay& display, const ShareableContent& content)
{
    ContentFilter filter = ContentFilter::ofDisplay(display, ownWindows(content));
    filter.excludesCurrentProcessWindows = true;
    return filter;
}

std::optional<ContentFilter> CaptureChoices::filter(const CaptureTarget& target, const ShareableContent& content)
{
    const ShareableDisplay first = content.displays.empty() ? ShareableDisplay{} : content.displays.front();
    switch (target.kind()) {
    case CaptureTarget::Kind::Display:
        for (const ShareableDisplay& display : content.displays) {
            if (display.displayID == target.id())
                return withoutOwnWindows(display, content);
        }
        return std::nullopt;
    case CaptureTarget::Kind::Application: {
        const auto application = std::find_if(content.applications.begin(), content.applications.end(),
                                              [&](const auto& app) { return app.bundleIdentifier == target.bundleID(); });
        if (application == content.applications.end())
            return std::nullopt;
        ShareableDisplay display = first;
        const auto window = std::find_if(content.windows.begin(), content.windows.end(), [&](const auto& window) {
            return window.owningApplication && window.owningApplication->bundleIdentifier == target.bundleID()
                && window.frame.width() > 0;
        });
        if (window != content.windows.end()) {
            const auto onDisplay = std::find_if(content.displays.begin(), content.displays.end(),
                                                [&](const auto& display) { return display.frame.intersects(window->frame); });
            if (onDisplay != content.displays.end())
                display = *onDisplay;
        }
        return ContentFilter::ofApplications(display, {*application});
    }
    case CaptureTarget::Kind::Window:
        for (const ShareableWindow& window : content.windows) {
            if (window.windowID == target.id())
                return ContentFilter::ofWindow(window);
        }
        return std::nullopt;
    case CaptureTarget::Kind::DesktopChoice:
        // The video has the first display's size; the pick is fitted into it.
        return ContentFilter::ofDesktopChoice(first);
    case CaptureTarget::Kind::AudioOnly:
        break;
    }
    return std::nullopt;
}

std::optional<QSize> CaptureChoices::outputSize(QSizeF size, std::optional<int> width)
{
    if (!(size.width() > 0) || !(size.height() > 0) || !std::isfinite(size.width()) || !std::isfinite(size.height()))
        return std::nullopt;
    // A given width below 1 has no image.
    const int outputWidth = width ? *width : 2 * static_cast<int>(size.width());
    if (outputWidth < 1)
        return std::nullopt;
    // Multiplied before dividing: 982 / 1512 × 3024 in floating point is a
    // hair below 1964 and would truncate to 1962.
    const double exact = size.height() * outputWidth / size.width();
    if (exact > 1e6)
        return std::nullopt;
    int height = static_cast<int>(exact);
    height = height < 2 ? 2 : height - height % 2;
    return QSize(outputWidth, height);
}

QCoro::Task<std::optional<QImage>> CaptureChoices::capture(std::shared_ptr<ScreenCapture> service, Clock& clock,
                                                           CaptureTarget target, std::optional<int> width, Part part)
{
    if (target.kind() == CaptureTarget::Kind::AudioOnly)
        co_return std::nullopt;
    auto listing = service->shareableContent();
    const auto content = co_await std::move(listing);
    if (!content)
        co_return std::nullopt;

    // The desktop's pick is known only to the desktop.
    const std::optional<ContentFilter> filter = CaptureChoices::filter(target, *content);
    if (!filter || filter->kind == ContentFilter::Kind::DesktopChoice)
        co_return std::nullopt;

    const auto size = outputSize(filter->contentRect().size(), width);
    if (!size)
        co_return std::nullopt;
    StreamConfiguration config;
    config.width = size->width();
    config.height = size->height();
    if (part) {
        config.region = part(*size);
        if (!config.region || config.region->isEmpty())
            co_return std::nullopt;
    }

    auto still = service->captureImage(*filter, config);
    std::optional<QImage> image = co_await std::move(still);
    // Where the desktop picks what a stream shows, a stream is no quiet
    // second try: without a kept permission it puts the desktop's chooser
    // before the user, for a picture they were just refused.
    if (!image && !service->desktopPicksContent()) {
        auto fallback = frameFromStream(service, clock, *filter, config);
        image = co_await std::move(fallback);
    }
    // A service that reads only whole pictures (and every stream frame)
    // leaves the cut to us.
    if (image && config.region && image->size() == *size)
        image = image->copy(config.region->intersected(image->rect()));
    co_return image;
}

QCoro::Task<std::optional<QImage>> CaptureChoices::frameFromStream(std::shared_ptr<ScreenCapture> service, Clock& clock,
                                                                   ContentFilter filter, StreamConfiguration config)
{
    auto grabber = std::make_shared<FrameGrabber>();
    // Declared before the stream: the queue must outlive the stream's stop.
    SerialQueue queue(queueLabel(".thumb"));
    const auto stream = service->makeStream(filter, config, nullptr);
    if (!stream || stream->addStreamOutput(grabber, StreamOutputType::Screen, &queue))
        co_return std::nullopt;
    auto starting = stream->startCapture();
    if (co_await std::move(starting))
        co_return std::nullopt;
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (grabber->stored())
            break;
        co_await clock.sleep(0.02);
    }
    auto stopping = stream->stopCapture();
    co_await std::move(stopping);
    co_return grabber->stored();
}
