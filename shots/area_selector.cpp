#include "shots/area_selector.h"

#include "shots/selection_view.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

AreaSelector::AreaSelector(QObject* parent, DisplayNumbering numbering, CompositeCheck composites)
    : QObject(parent)
    , numbering_(std::move(numbering))
    , composites_(std::move(composites))
{
    // A screen unplugged while the user is selecting would leave its overlay
    // stranded on another screen with the wrong geometry: cancel instead.
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, [this] {
        if (!windows_.isEmpty())
            finish(std::nullopt);
    });
}

AreaSelector::~AreaSelector()
{
    for (const auto& view : std::exchange(windows_, {}))
        delete view.data();
}

QList<SelectionView*> AreaSelector::windows() const
{
    QList<SelectionView*> list;
    for (const auto& window : windows_) {
        if (window)
            list.append(window);
    }
    return list;
}

void AreaSelector::begin(OnSelect onSelect, std::map<const QScreen*, QImage> stills)
{
    if (!windows_.isEmpty())
        return;
    onSelect_ = std::move(onSelect);

    // Without a compositing manager a translucent window would show black
    // where the desktop should be, so the overlays paint a picture of their
    // screen taken before they appear.
    const bool composited = composites_();
    const QPointer<AreaSelector> self(this);
    for (QScreen* screen : QGuiApplication::screens()) {
        QImage backdrop = std::move(stills[screen]);
        if (backdrop.isNull() && !composited)
            backdrop = screen->grabWindow(0).toImage();
        auto* view = new SelectionView(screen, numbering_(screen),
                                       [self](std::optional<SelectedArea> result) {
                                           if (self)
                                               self->finish(result);
                                       },
                                       std::move(backdrop));
        windows_.append(view);
    }
    // A Wayland compositor places windows itself and ignores their
    // geometry: only a full-screen window on its screen covers that screen.
    const bool wayland = QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    for (const auto& view : windows_) {
        if (wayland)
            view->showFullScreen();
        else
            view->show();
        view->raise();
        view->activateWindow();
    }

    // The overlay under the pointer takes the keyboard, so Escape reaches
    // it; only one window can hold the grab.
    SelectionView* keyboardOwner = windows_.isEmpty() ? nullptr : windows_.front().data();
    for (const auto& view : windows_) {
        if (view->screenFrame().contains(QCursor::pos()))
            keyboardOwner = view;
    }
    if (keyboardOwner)
        keyboardOwner->takeKeyboard();
}

void AreaSelector::finish(std::optional<SelectedArea> result)
{
    // The overlay that called us is still inside its own event handler, so
    // the views are hidden now and deleted once the event loop has them back.
    for (const auto& view : std::exchange(windows_, {})) {
        if (!view)
            continue;
        view->releaseKeyboardIfTaken();
        view->hide();
        view->deleteLater();
    }
    if (OnSelect onSelect = std::exchange(onSelect_, nullptr))
        onSelect(result);
}
