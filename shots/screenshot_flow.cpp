#include "shots/screenshot_flow.h"

#include "shots/area_selector.h"
#include "shots/share_flow.h"
#include "shots/shot_preview_window.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>

namespace {

// The overlays take a moment to leave the screen; the capture waits for them.
constexpr double overlayGoneSeconds = 0.12;

QCoro::Task<std::optional<QImage>> captureWith(Screenshot::Capture capture, SelectedArea area)
{
    if (!capture)
        co_return std::nullopt;
    co_return co_await capture(area);
}

} // namespace

ScreenshotFlow::ScreenshotFlow(const Store& store, Workspace& workspace, StatusSink& status, ErrorReporter& errors,
                               Clock& clock, ShareFlow& share, std::shared_ptr<ScreenCapture> capture,
                               Screenshot::Capture captureArea)
    : store_(store)
    , workspace_(workspace)
    , status_(status)
    , errors_(errors)
    , clock_(clock)
    , share_(share)
    , capture_(std::move(capture))
    , captureArea_(std::move(captureArea))
{
}

void ScreenshotFlow::deliver(const QImage& picture, Screenshot::Destination destination)
{
    switch (destination) {
    case Screenshot::Destination::link:
        share_.share(picture);
        return;
    case Screenshot::Destination::file: {
        QString path;
        try {
            path = Screenshot::save(picture, store_.recordingsDirectory(), clock_.now());
        } catch (const Screenshot::Failure& failure) {
            errors_.report(failure);
            return;
        }
        workspace_.revealFile(path);
        status_.showStatus(QStringLiteral("Снимок сохранён: ") + QFileInfo(path).fileName());
        return;
    }
    case Screenshot::Destination::clipboard:
        Screenshot::copyToClipboard(picture);
        status_.showStatus(QStringLiteral("Снимок в буфере — вставляйте"));
        return;
    }
}

QCoro::Task<void> ScreenshotFlow::captureAndEdit(QPointer<ScreenshotFlow> self, SelectedArea area)
{
    // The clock outlives every flow; this one may go while the capture waits.
    Clock& clock = self->clock_;
    co_await clock.sleep(overlayGoneSeconds);
    if (!self)
        co_return;

    std::optional<QImage> image;
    std::optional<Screenshot::Failure> failure;
    try {
        const Screenshot::Capture capture = [function = self->captureArea_](const SelectedArea& area) {
            return captureWith(function, area);
        };
        image = co_await Screenshot::take(area, capture, clock);
    } catch (const Screenshot::Failure& error) {
        failure = error;
    }
    if (!self)
        co_return;
    if (failure) {
        self->errors_.report(*failure);
        co_return;
    }
    self->shotPreview().show(
        *image,
        [self](QImage picture, Screenshot::Destination destination) {
            if (self)
                self->deliver(picture, destination);
        },
        self->screenOf(area.displayID));
}

QScreen* ScreenshotFlow::screenOf(quint32 displayID) const
{
    for (QScreen* screen : QGuiApplication::screens()) {
        if (capture_ && capture_->displayNumber(screen) == displayID)
            return screen;
    }
    return nullptr;
}

AreaSelector& ScreenshotFlow::areaSelector()
{
    if (!areaSelector_)
        areaSelector_ = new AreaSelector(
            this, [capture = capture_](const QScreen* screen) { return capture->displayNumber(screen); },
            [capture = capture_] { return capture->desktopComposites(); });
    return *areaSelector_;
}

ShotPreviewWindow& ScreenshotFlow::shotPreview()
{
    if (!shotPreview_)
        shotPreview_ = new ShotPreviewWindow(workspace_, clock_, {}, this);
    return *shotPreview_;
}

bool ScreenshotFlow::holdsShot() const
{
    return shotPreview_ && shotPreview_->holdsPicture();
}

void ScreenshotFlow::takeScreenshot()
{
    QPointer<ScreenshotFlow> self(this);
    shotPreview().setOnRetake([self] {
        if (self)
            self->takeScreenshot();
    });
    areaSelector().begin([self](std::optional<SelectedArea> area) {
        if (self && area)
            captureAndEdit(self, *area);
    });
}

void ScreenshotFlow::revealShot()
{
    if (holdsShot())
        shotPreview_->reveal();
}
