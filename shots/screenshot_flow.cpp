#include "shots/screenshot_flow.h"

#include "shots/area_selector.h"
#include "shots/share_flow.h"
#include "shots/shot_preview_window.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>

#include <map>

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

QCoro::Task<std::optional<QImage>> ScreenshotFlow::takeStill(QPointer<ScreenshotFlow> self, SelectedArea area)
{
    // The clock outlives every flow; this one may go while the capture waits.
    Clock& clock = self->clock_;
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
    if (self && failure)
        self->errors_.report(*failure);
    co_return self ? image : std::nullopt;
}

QCoro::Task<void> ScreenshotFlow::captureAndEdit(QPointer<ScreenshotFlow> self, SelectedArea area)
{
    co_await self->clock_.sleep(overlayGoneSeconds);
    if (!self)
        co_return;
    const std::optional<QImage> image = co_await takeStill(self, area);
    if (self && image)
        self->showEditor(*image, area.displayID);
}

// Where translucent overlays cannot show the live desktop and Qt cannot
// grab the screen (GNOME on Wayland paints black behind a full-screen
// window), each screen is taken first and the user selects on that still,
// which is then the picture that gets cut: what was seen is what is kept.
QCoro::Task<void> ScreenshotFlow::selectOverStills(QPointer<ScreenshotFlow> self)
{
    std::map<const QScreen*, QImage> stills;
    std::map<quint32, QImage> byDisplay;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const quint32 displayID = self->capture_->displayNumber(screen);
        const SelectedArea whole{QRectF(QPointF(0, 0), screen->size()), displayID, screen->size()};
        const std::optional<QImage> image = co_await takeStill(self, whole);
        if (!self || !image)
            co_return;
        stills[screen] = *image;
        byDisplay[displayID] = *image;
    }
    self->areaSelector().begin(
        [self, byDisplay = std::move(byDisplay)](std::optional<SelectedArea> area) {
            const auto still = area ? byDisplay.find(area->displayID) : byDisplay.end();
            if (self && still != byDisplay.end())
                self->edit(still->second, *area);
        },
        std::move(stills));
}

void ScreenshotFlow::edit(const QImage& display, const SelectedArea& area)
{
    const std::optional<QRect> part = Screenshot::crop(display.size(), area);
    if (!part) {
        errors_.report(Screenshot::Failure::captureFailed());
        return;
    }
    showEditor(display.copy(*part), area.displayID);
}

void ScreenshotFlow::showEditor(const QImage& picture, quint32 displayID)
{
    QPointer<ScreenshotFlow> self(this);
    shotPreview().show(
        picture,
        [self](QImage picture, Screenshot::Destination destination) {
            if (self)
                self->deliver(picture, destination);
        },
        screenOf(displayID));
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
    const bool wayland = QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    if (wayland && !capture_->desktopComposites()) {
        selectOverStills(self);
        return;
    }
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
