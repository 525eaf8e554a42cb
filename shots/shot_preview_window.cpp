#include "shots/shot_preview_window.h"

#include "core/clock.h"
#include "platform/workspace.h"
#include "shots/shot_canvas.h"
#include "shots/shot_preview_parts.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFont>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>

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

// A separator line in the palette's separator colour.
QWidget* separator(QWidget* parent, const QRectF& frame)
{
    auto* line = new QWidget(parent);
    line->setGeometry(frame.toRect());
    line->setAutoFillBackground(true);
    QPalette palette = line->palette();
    palette.setColor(QPalette::Window, ShotAppearance::of(parent->palette()).separator());
    line->setPalette(palette);
    return line;
}

std::optional<double> mainScreenHeight()
{
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        return screen->availableGeometry().height();
    return std::nullopt;
}

const char* const toolTips[] = {"Стрелка", "Карандаш", "Рамка", "Замазка", "Текст"};
const char* const colorTips[] = {"Красный", "Оранжевый", "Жёлтый", "Зелёный",
                                 "Синий", "Фиолетовый", "Белый", "Чёрный"};
const char* const weightTips[] = {"Волосок", "Тонко", "Обычно", "Толсто", "Очень толсто"};

} // namespace

ShotPreviewWindow::ShotPreviewWindow(Workspace& workspace, Clock& clock, ScreenHeight screenHeight, QObject* parent)
    : QObject(parent), workspace_(workspace), clock_(clock), screenHeight_(screenHeight ? std::move(screenHeight) : mainScreenHeight)
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

void ShotPreviewWindow::show(QImage bitmap, OnChoose onChoose)
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
    clock_.after(buildDelay, this, [this, generation, bitmap] {
        // A newer shot has taken over; its own build follows.
        if (generation != generation_ || !bitmap_)
            return;
        for (const QPointer<QWidget>& old : std::exchange(retired_, {})) {
            if (old) {
                old->hide();
                old->deleteLater();
            }
        }
        build(bitmap);
    });
}

void ShotPreviewWindow::build(const QImage& bitmap)
{
    const Layout::Sizes sizes = Layout::sizes(bitmap.size(), screenHeight_());
    auto* window = new EditorWindow(nullptr);
    window->setOnClose([this, window] {
        // An older window closed while a newer shot waits is no news.
        if (window_ == window)
            windowClosed();
    });
    window_ = window;
    QWidget* content = buildContent(bitmap, sizes);
    content->setParent(window);
    content->move(0, 0);
    window->setFixedSize(content->size());

    // Centred on the main screen.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        window->move(area.center() - QPoint(window->width() / 2, window->height() / 2));
    }
    window->show();
    window->raise();
    window->activateWindow();
    if (canvas_)
        canvas_->setFocus();

    if (!watchingKeys_) {
        qApp->installEventFilter(this);
        watchingKeys_ = true;
    }
}

QWidget* ShotPreviewWindow::buildContent(const QImage& bitmap, const Layout::Sizes& sizes)
{
    const double width = sizes.contentWidth;
    const double height = sizes.contentHeight();
    const double header = Layout::headerHeight;

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

    auto* bar = new TonedView(TonedView::Tone::chrome, root);
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
    QRectF frame = Layout::scrollFrame(sizes);
    // Qt's scroll bar takes room beside the picture rather than over it.
    if (sizes.scrolls)
        frame.setWidth(frame.width() + scroll->verticalScrollBar()->sizeHint().width());
    place(scroll, frame);
    scroll->verticalScrollBar()->setValue(0); // the picture's top first

    QWidget* strip = buildStrip(root, sizes.shown);
    place(strip, QRectF(0, Layout::barHeight, Layout::stripWidth, sizes.shown));
    place(separator(root, {}), QRectF(52, 64, 1, sizes.shown));
    place(separator(root, {}), QRectF(0, 63, width, 1));

    const ShotAppearance look = ShotAppearance::of(root->palette());
    auto* size = new QLabel(Layout::sizeLabel(bitmap.size(), sizes.imageWidth), bar);
    size->setObjectName(QStringLiteral("sizeLabel"));
    QFont font = size->font();
    font.setPointSizeF(11);
    size->setFont(font);
    QPalette labelPalette = size->palette();
    labelPalette.setColor(QPalette::WindowText, look.tertiaryLabel());
    size->setPalette(labelPalette);
    size->setGeometry(Layout::flipped(QRectF(20, 24, 160, 16), Layout::barHeight).toRect());

    const Screenshot::Destination destinations[] = {Screenshot::Destination::file, Screenshot::Destination::clipboard,
                                                     Screenshot::Destination::link};
    const auto deliveries = Layout::deliveries(width);
    for (int i = 0; i < 3; ++i) {
        auto* button = new QPushButton(deliveries[i].title, bar);
        button->setToolTip(deliveries[i].toolTip);
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoDefault(false);
        button->setGeometry(Layout::flipped(deliveries[i].frame, Layout::barHeight).toRect());
        const Screenshot::Destination destination = destinations[i];
        connect(button, &QPushButton::clicked, this, [this, destination] { finish(destination); });
    }
    return root;
}

QWidget* ShotPreviewWindow::buildStrip(QWidget* parent, double shown)
{
    auto* strip = new TonedView(TonedView::Tone::chrome, parent);
    const Layout::Strip frames = Layout::strip(shown);
    const auto place = [&](QWidget* widget, const QRectF& frame) {
        widget->setGeometry(Layout::flipped(frame, shown).toRect());
    };

    for (ShotTool tool : allShotTools) {
        auto* button = new StripButton(strip);
        const int tag = int(tool);
        button->setTemplate(toolIcon(tool, 18));
        button->setToolTip(QString::fromUtf8(toolTips[tag]));
        button->setAccessibleName(button->toolTip());
        place(button, frames.tools[tag]);
        connect(button, &StripButton::clicked, this, [this, tag] { pickTool(tag); });
        toolButtons_.append(button);
    }
    pickTool(0);
    place(separator(strip, {}), frames.firstSeparator);

    colorWell_ = new StripButton(strip);
    colorWell_->setToolTip(QStringLiteral("Цвет пометок"));
    place(colorWell_, frames.colorWell);
    connect(colorWell_, &StripButton::clicked, this, &ShotPreviewWindow::openColors);

    weightWell_ = new StripButton(strip);
    weightWell_->setToolTip(QStringLiteral("Толщина линий"));
    place(weightWell_, frames.weightWell);
    connect(weightWell_, &StripButton::clicked, this, &ShotPreviewWindow::openWeights);
    refreshWells();

    place(separator(strip, {}), frames.secondSeparator);
    undoButton_ = new StripButton(strip);
    undoButton_->setTemplate(undoIcon(18));
    undoButton_->setToolTip(QStringLiteral("Убрать последнюю пометку (Ctrl+Z)"));
    undoButton_->setAccessibleName(undoButton_->toolTip());
    place(undoButton_, frames.undo);
    connect(undoButton_, &StripButton::clicked, this, &ShotPreviewWindow::undoMark);
    return strip;
}

void ShotPreviewWindow::refreshWells()
{
    const ShotAppearance look = ShotAppearance::of(window_ ? window_->palette() : QApplication::palette());
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
    if (!colorWell_)
        return;
    const ShotAppearance look = ShotAppearance::of(window_ ? window_->palette() : QApplication::palette());
    auto* content = new QWidget;
    content->setFixedSize(Layout::colorPopoverSize.toSize());
    for (int i = 0; i < int(allShotColors.size()); ++i) {
        auto* choice = new StripButton(content);
        choice->setObjectName(QStringLiteral("color%1").arg(i));
        choice->setPicture(wellImage(26, color(allShotColors[i]), std::nullopt, false, look));
        choice->setToolTip(QString::fromUtf8(colorTips[i]));
        choice->setGeometry(Layout::flipped(Layout::colorChoiceFrame(i), Layout::colorPopoverSize.height()).toRect());
        connect(choice, &StripButton::clicked, this, [this, i] { chooseColor(i); });
    }
    showPopover(content, colorWell_);
}

void ShotPreviewWindow::openWeights()
{
    if (!weightWell_)
        return;
    const ShotAppearance look = ShotAppearance::of(window_ ? window_->palette() : QApplication::palette());
    auto* content = new QWidget;
    content->setFixedSize(Layout::weightPopoverSize.toSize());
    for (int i = 0; i < int(allShotWeights.size()); ++i) {
        auto* choice = new StripButton(content);
        choice->setObjectName(QStringLiteral("weight%1").arg(i));
        choice->setPicture(wellImage(26, Qt::white, lineWidth(allShotWeights[i]), false, look));
        choice->setToolTip(QString::fromUtf8(weightTips[i]));
        choice->setGeometry(Layout::flipped(Layout::weightChoiceFrame(i), Layout::weightPopoverSize.height()).toRect());
        connect(choice, &StripButton::clicked, this, [this, i] { chooseWeight(i); });
    }
    showPopover(content, weightWell_);
}

void ShotPreviewWindow::showPopover(QWidget* content, StripButton* well)
{
    if (popover_)
        popover_->close();
    // A popup closes itself on a click elsewhere, as a transient popover does.
    auto* popup = new TonedView(TonedView::Tone::chrome, well->window());
    popup->setWindowFlags(Qt::Popup | Qt::FramelessWindowHint);
    popup->setAttribute(Qt::WA_DeleteOnClose);
    popup->setObjectName(QStringLiteral("popover"));
    content->setParent(popup);
    content->move(0, 0);
    popup->setFixedSize(content->size());
    // Beside the well's right edge, centred on its middle.
    const QPoint anchor = well->mapToGlobal(QPoint(well->width(), well->height() / 2));
    popup->move(anchor + QPoint(4, -popup->height() / 2));
    popup->show();
    popover_ = popup;
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
    window_->show();
    window_->raise();
    window_->activateWindow();
    if (!watchingKeys_) {
        qApp->installEventFilter(this);
        watchingKeys_ = true;
    }
}

void ShotPreviewWindow::stopWatching()
{
    if (watchingKeys_) {
        qApp->removeEventFilter(this);
        watchingKeys_ = false;
    }
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
