// The controller's screenshot commands: from the area selection through the
// capture and the editor to the delivery the user picks.

#include "core/log.h"
#include "app/menu_bar_controller.h"
#include "core/clock.h"
#include "shots/area_selector.h"
#include "shots/screenshot.h"
#include "shots/shot_preview_window.h"

#include <QFileInfo>
#include <QPointer>

namespace {

// The overlays take a moment to leave the screen; the capture waits for them.
constexpr double overlayGoneSeconds = 0.12;

void deliver(QPointer<MenuBarController> self, const QImage& picture, Screenshot::Destination destination)
{
    if (!self)
        return;
    switch (destination) {
    case Screenshot::Destination::link:
        self->share(picture);
        return;
    case Screenshot::Destination::file: {
        QString path;
        try {
            path = Screenshot::save(picture, self->store().recordingsDirectory());
        } catch (const Screenshot::Failure& failure) {
            self->report(failure);
            return;
        }
        self->workspace().revealFile(path);
        self->show(QStringLiteral("Снимок сохранён: ") + QFileInfo(path).fileName());
        return;
    }
    case Screenshot::Destination::clipboard:
        Screenshot::copyToClipboard(picture);
        self->show(QStringLiteral("Снимок в буфере — вставляйте"));
        return;
    }
}

QCoro::Task<void> captureAndEdit(QPointer<MenuBarController> self, SelectedArea area, Screenshot::Capture capture)
{
    co_await Clock::shared().sleep(overlayGoneSeconds);
    if (!self)
        co_return;

    std::optional<QImage> image;
    std::optional<Screenshot::Failure> failure;
    try {
        image = co_await Screenshot::take(area.displayID, capture);
    } catch (const Screenshot::Failure& error) {
        failure = error;
    }
    if (!self)
        co_return;
    if (failure) {
        self->report(*failure);
        co_return;
    }
    const std::optional<QImage> cropped = Screenshot::crop(*image, area);
    if (!cropped) {
        self->report(Screenshot::Failure::captureFailed());
        co_return;
    }
    self->shotPreview().show(*cropped, [self](QImage picture, Screenshot::Destination destination) {
        deliver(self, picture, destination);
    });
}

using DisplayCapture = std::function<QCoro::Task<std::optional<QImage>>(quint32)>;

QCoro::Task<std::optional<QImage>> captureWith(DisplayCapture capture, quint32 displayID)
{
    if (!capture)
        co_return std::nullopt;
    co_return co_await capture(displayID);
}

} // namespace

AreaSelector& MenuBarController::areaSelector()
{
    if (!areaSelector_)
        areaSelector_ = new AreaSelector(
            this, [capture = capture_](const QScreen* screen) { return capture->displayNumber(screen); },
            [capture = capture_] { return capture->desktopComposites(); });
    return *areaSelector_;
}

ShotPreviewWindow& MenuBarController::shotPreview()
{
    if (!shotPreview_)
        shotPreview_ = new ShotPreviewWindow(*workspace_, {}, this);
    return *shotPreview_;
}

bool MenuBarController::holdsShot()
{
    return shotPreview_ && shotPreview_->holdsPicture();
}

void MenuBarController::takeScreenshot()
{
    QPointer<MenuBarController> self(this);
    shotPreview().setOnRetake([self] {
        if (self)
            self->takeScreenshot();
    });
    Screenshot::Capture capture = [function = captureDisplay_](quint32 displayID) {
        return captureWith(function, displayID);
    };
    areaSelector().begin([self, capture](std::optional<SelectedArea> area) {
        if (self && area)
            captureAndEdit(self, *area, capture);
    });
}

void MenuBarController::revealShot()
{
    if (holdsShot())
        shotPreview_->reveal();
}
