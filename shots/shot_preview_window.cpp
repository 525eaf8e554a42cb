#include "shots/shot_preview_window.h"

#include "core/clock.h"
#include "platform/workspace.h"
#include "shots/shot_canvas.h"
#include "shots/shot_delivery_bar.h"
#include "shots/shot_popover.h"
#include "shots/shot_preview_parts.h"
#include "shots/shot_tool_strip.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>
#include <utility>

namespace Layout = ShotPreviewLayout;

namespace {

// The editor's top-level window; tells its owner when the user closes it.
class EditorWindow final : public QWidget {
public:
    explicit EditorWindow(std::function<void()> onClose) : onClose_(std::move(onClose))
    {
        setAttribute(Qt::WA_QuitOnClose, false);
        setWindowTitle(QStringLiteral("Korvala"));
        setAttribute(Qt::WA_DeleteOnClose, false);
        setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    }

    void setOnClose(std::function<void()> onClose) { onClose_ = std::move(onClose); }

protected:
    void closeEvent(QCloseEvent* event) override
    {
        event->accept();
        if (onClose_)
            onClose_();
    }

private:
    std::function<void()> onClose_;
};

std::optional<double> usableHeight(const QScreen* screen)
{
    if (screen)
        return screen->availableGeometry().height();
    return std::nullopt;
}

// The window's frame (the window manager's decoration around it) put in
// the middle of the screen's usable area, and kept inside it from the top
// left when it is larger.
void centreFrame(QWidget* window, const QScreen* screen)
{
    const QRect area = screen->availableGeometry();
    const QRect frame = window->frameGeometry();
    QPoint topLeft = area.center() - QPoint(frame.width() / 2, frame.height() / 2);
    topLeft.setX(std::max(area.left(), std::min(topLeft.x(), area.right() + 1 - frame.width())));
    topLeft.setY(std::max(area.top(), std::min(topLeft.y(), area.bottom() + 1 - frame.height())));
    window->move(topLeft);
}

} // namespace

ShotPreviewWindow::ShotPreviewWindow(Workspace& workspace, Clock& clock, ScreenHeight screenHeight, QObject* parent)
    : QObject(parent), workspace_(workspace), clock_(clock), screenHeight_(screenHeight ? std::move(screenHeight) : usableHeight)
{
}

ShotPreviewWindow::~ShotPreviewWindow()
{
    // The workspace may be gone already when the owner goes; only the key
    // handling is undone here.
    if (watchingKeys_)
        qApp->removeEventFilter(this);
    delete window_.data();
}

void ShotPreviewWindow::show(QImage bitmap, OnChoose onChoose, QScreen* screen)
{
    bitmap_ = bitmap;
    onChoose_ = std::move(onChoose);
    toolButtons_.clear();
    colorWell_ = nullptr;
    weightWell_ = nullptr;

    workspace_.setActivationPolicy(Workspace::ActivationPolicy::regular);
    // Every window shown so far goes when the newest build comes, also one
    // whose replacement was itself replaced before it was built.
    if (window_)
        retired_.append(window_);
    window_ = nullptr;
    const quint64 generation = ++generation_;
    // The screen may go away while the build waits.
    QPointer<QScreen> shotScreen(screen ? screen : QGuiApplication::primaryScreen());
    clock_.after(buildDelay, this, [this, generation, bitmap, shotScreen] {
        // A newer shot has taken over; its own build follows.
        if (generation != generation_ || !bitmap_)
            return;
        for (const QPointer<QWidget>& old : std::exchange(retired_, {})) {
            if (old) {
                old->hide();
                old->deleteLater();
            }
        }
        build(bitmap, shotScreen ? shotScreen.data() : QGuiApplication::primaryScreen());
    });
}

void ShotPreviewWindow::build(const QImage& bitmap, QScreen* screen)
{
    // The header strip stands above the content and takes its height from
    // the screen as well; the budget keeps room for the window manager's
    // title bar.
    std::optional<double> height = screenHeight_(screen);
    if (height)
        *height -= Layout::headerHeight;
    const Layout::Sizes sizes = Layout::sizes(bitmap.size(), height);
    auto* window = new EditorWindow(nullptr);
    window->setOnClose([this, window] {
        // An older window closed while a newer shot waits is no news.
        if (window_ == window)
            windowClosed();
    });
    window_ = window;
    applyColorScheme(workspace_.colorScheme());
    QWidget* content = buildContent(bitmap, sizes);
    content->setParent(window);
    content->move(0, 0);
    window->setFixedSize(content->size());

    // On the screen the shot was taken on.
    if (screen) {
        window->setScreen(screen);
        centreFrame(window, screen);
    }
    window->show();
    window->raise();
    window->activateWindow();
    if (canvas_)
        canvas_->setFocus();
    startWatching();
}

QWidget* ShotPreviewWindow::buildContent(const QImage& bitmap, const Layout::Sizes& sizes)
{
    double width = sizes.contentWidth;
    const double height = sizes.contentHeight();
    const double header = Layout::headerHeight;
    // Qt's scroll bar takes room beside the picture rather than over it; the
    // window widens when the picture leaves no room for it.
    QRectF frame = Layout::scrollFrame(sizes);
    if (sizes.scrolls) {
        frame.setWidth(frame.width() + QScrollBar(Qt::Vertical).sizeHint().width());
        width = std::max(width, frame.right());
    }

    auto* root = new TonedView(TonedView::Tone::field);
    root->resize(int(width), int(height + header));
    // Everything below is placed in bottom-up coordinates of the content
    // under the header; this turns them into the widget's own.
    const auto place = [&](QWidget* widget, const QRectF& frame) {
        widget->setGeometry(Layout::flipped(frame, height).translated(0, header).toRect());
    };

    auto* headerBar = new TonedView(TonedView::Tone::chrome, root);
    headerBar->setGeometry(0, 0, int(width), int(header));
    auto* retake = new ShotButton(QStringLiteral("Снимок экрана"), headerBar);
    retake->setToolTip(QStringLiteral("Сделать новый снимок"));
    retake->setGeometry(int((width - 200) / 2), int((header - 30) / 2), 200, 30);
    connect(retake, &ShotButton::clicked, this, &ShotPreviewWindow::shootAgain);
    retakeButton_ = retake;

    QWidget* bar = buildDeliveryBar(root, bitmap.size(), sizes.imageWidth, width,
                                    [self = QPointer<ShotPreviewWindow>(this)](Screenshot::Destination destination) {
                                        if (self)
                                            self->finish(destination);
                                    });
    place(bar, QRectF(0, 0, width, Layout::barHeight));

    auto* canvas = new ShotCanvas(bitmap);
    canvas->setColor(canvasColor_);
    canvas->setWeight(canvasWeight_);
    canvas->setFixedSize(int(std::lround(sizes.imageWidth)), int(std::lround(sizes.imageHeight)));
    canvas_ = canvas;

    auto* scroll = new QScrollArea(root);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(sizes.scrolls ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    scroll->setWidgetResizable(false);
    scroll->viewport()->setAutoFillBackground(false);
    scroll->setWidget(canvas);
    place(scroll, frame);
    scroll->verticalScrollBar()->setValue(0); // the picture's top first

    QWidget* strip = buildStrip(root, sizes.shown);
    place(strip, QRectF(0, Layout::barHeight, Layout::stripWidth, sizes.shown));
    place(separatorLine(root), QRectF(52, 64, 1, sizes.shown));
    place(separatorLine(root), QRectF(0, 63, width, 1));

    return root;
}

QWidget* ShotPreviewWindow::buildStrip(QWidget* parent, double shown)
{
    const ShotToolStrip strip = ShotToolStrip::build(parent, shown);
    for (int tag = 0; tag < strip.tools.size(); ++tag)
        connect(strip.tools[tag], &StripButton::clicked, this, [this, tag] { pickTool(tag); });
    toolButtons_ = strip.tools;
    pickTool(0);
    colorWell_ = strip.colorWell;
    connect(colorWell_, &StripButton::clicked, this, &ShotPreviewWindow::openColors);
    weightWell_ = strip.weightWell;
    connect(weightWell_, &StripButton::clicked, this, &ShotPreviewWindow::openWeights);
    refreshWells();
    undoButton_ = strip.undo;
    connect(undoButton_, &StripButton::clicked, this, &ShotPreviewWindow::undoMark);
    return strip.view;
}

void ShotPreviewWindow::refreshWells()
{
    const ShotAppearance look = appearance();
    if (colorWell_)
        colorWell_->setPicture(wellImage(36, color(canvasColor_), std::nullopt, true, look));
    if (weightWell_)
        weightWell_->setPicture(wellImage(36, Qt::white, lineWidth(canvasWeight_), true, look));
}

void ShotPreviewWindow::pickTool(int tag)
{
    if (tag < 0 || tag >= int(allShotTools.size()))
        return;
    if (canvas_)
        canvas_->setTool(allShotTools[tag]);
    for (int i = 0; i < toolButtons_.size(); ++i) {
        toolButtons_[i]->setSelected(i == tag);
        toolButtons_[i]->setTint(i == tag ? std::optional<QColor>(Qt::white) : std::nullopt);
    }
}

void ShotPreviewWindow::openColors()
{
    if (colorWell_)
        showPopover(ShotChoices::colors(appearance()), colorWell_, &ShotPreviewWindow::chooseColor);
}

void ShotPreviewWindow::openWeights()
{
    if (weightWell_)
        showPopover(ShotChoices::weights(appearance()), weightWell_, &ShotPreviewWindow::chooseWeight);
}

void ShotPreviewWindow::showPopover(const ShotChoices& choices, StripButton* well, void (ShotPreviewWindow::*choose)(int))
{
    if (popover_)
        popover_->close();
    popover_ = openShotPopover(choices, well, [self = QPointer<ShotPreviewWindow>(this), choose](int tag) {
        if (self)
            (self->*choose)(tag);
    });
}

void ShotPreviewWindow::applyColorScheme(Workspace::ColorScheme scheme)
{
    if (!window_)
        return;
    // An empty palette inherits the application's again.
    window_->setPalette(scheme == Workspace::ColorScheme::unknown
                            ? QPalette()
                            : ShotAppearance{scheme == Workspace::ColorScheme::dark}.palette());
    refreshWells();
}

ShotAppearance ShotPreviewWindow::appearance() const
{
    return ShotAppearance::of(window_ ? window_->palette() : QApplication::palette());
}

void ShotPreviewWindow::chooseColor(int tag)
{
    if (tag < 0 || tag >= int(allShotColors.size()))
        return;
    canvasColor_ = allShotColors[tag];
    if (canvas_)
        canvas_->setColor(canvasColor_);
    refreshWells();
    if (popover_)
        popover_->close();
}

void ShotPreviewWindow::chooseWeight(int tag)
{
    if (tag < 0 || tag >= int(allShotWeights.size()))
        return;
    canvasWeight_ = allShotWeights[tag];
    if (canvas_)
        canvas_->setWeight(canvasWeight_);
    refreshWells();
    if (popover_)
        popover_->close();
}

void ShotPreviewWindow::undoMark()
{
    if (canvas_)
        canvas_->undo();
}

void ShotPreviewWindow::finish(Screenshot::Destination destination)
{
    stopWatching();
    std::optional<QImage> picture = canvas_ ? std::optional<QImage>(canvas_->flattened()) : bitmap_;
    if (popover_)
        popover_->close();
    if (window_)
        window_->hide();
    OnChoose onChoose = std::move(onChoose_);
    onChoose_ = nullptr;
    bitmap_.reset();
    if (picture && onChoose)
        onChoose(*picture, destination);
}

void ShotPreviewWindow::shootAgain()
{
    stopWatching();
    if (popover_)
        popover_->close();
    if (window_)
        window_->hide();
    canvas_ = nullptr;
    bitmap_.reset();
    onChoose_ = nullptr;
    if (onRetake_)
        onRetake_();
}

void ShotPreviewWindow::windowClosed()
{
    stopWatching();
    if (popover_)
        popover_->close();
    bitmap_.reset();
    onChoose_ = nullptr;
}

void ShotPreviewWindow::reveal()
{
    if (!holdsPicture())
        return;
    workspace_.setActivationPolicy(Workspace::ActivationPolicy::regular);
    // A window left up on another desktop comes to this one rather than
    // taking the user there.
    const bool wasVisible = window_->isVisible();
    window_->show();
    if (wasVisible)
        workspace_.moveToActiveSpace(window_->windowHandle());
    window_->raise();
    window_->activateWindow();
    startWatching();
}

void ShotPreviewWindow::startWatching()
{
    if (!watchingKeys_) {
        qApp->installEventFilter(this);
        watchingKeys_ = true;
    }
    followActiveSpace();
    if (!schemeWatcher_) {
        QPointer<ShotPreviewWindow> self(this);
        schemeWatcher_ = workspace_.observeColorScheme([self](Workspace::ColorScheme scheme) {
            if (self)
                self->applyColorScheme(scheme);
        });
    }
}

void ShotPreviewWindow::followActiveSpace()
{
    if (spaceWatcher_)
        return;
    QPointer<ShotPreviewWindow> self(this);
    spaceWatcher_ = workspace_.observeActiveSpace([self] {
        if (!self)
            return;
        // Taken up from the event loop, not from inside the notification.
        QMetaObject::invokeMethod(
            self.data(),
            [self] {
                if (!self || !self->window_ || !self->window_->isVisible())
                    return;
                self->workspace_.moveToActiveSpace(self->window_->windowHandle());
                self->window_->raise();
                self->window_->activateWindow();
            },
            Qt::QueuedConnection);
    });
}

void ShotPreviewWindow::stopWatching()
{
    if (watchingKeys_) {
        qApp->removeEventFilter(this);
        watchingKeys_ = false;
    }
    spaceWatcher_.reset();
    schemeWatcher_.reset();
    workspace_.setActivationPolicy(Workspace::ActivationPolicy::accessory);
}

bool ShotPreviewWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress)
        return handleKey(watched, static_cast<QKeyEvent*>(event));
    return QObject::eventFilter(watched, event);
}

bool ShotPreviewWindow::handleKey(QObject* watched, QKeyEvent* event)
{
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || !window_ || widget->window() != window_ || !window_->isVisible())
        return false;
    const bool control = event->modifiers() & Qt::ControlModifier;
    if (control && event->key() == Qt::Key_S) {
        finish(Screenshot::Destination::file);
        return true;
    }
    if (control && event->key() == Qt::Key_C) {
        finish(Screenshot::Destination::clipboard);
        return true;
    }
    if (control && event->key() == Qt::Key_Z) {
        undoMark();
        return true;
    }
    const bool plain = !(event->modifiers() & ~Qt::KeypadModifier);
    if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        // An open text field takes Return to commit its text.
        if (canvas_ && canvas_->editor())
            return false;
        finish(Screenshot::Destination::link);
        return true;
    }
    return false;
}
