#include "capture/capture_picker_window.h"

#include "core/flipped.h"

#include "platform/outside_text.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEnterEvent>
#include <QKeyEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

namespace CaptureGrid {

int rows(int items)
{
    return items <= 0 ? 0 : (items + columns - 1) / columns;
}

int documentHeight(int items)
{
    const int r = rows(items);
    return r * tileHeight + (r + 1) * gap;
}

int visibleHeight(std::optional<int> screenVisibleHeight)
{
    if (!screenVisibleHeight)
        return 620;
    return std::max(*screenVisibleHeight - 80, 320);
}

int scrollHeight(int items, std::optional<int> screenVisibleHeight)
{
    return std::min(visibleHeight(screenVisibleHeight), documentHeight(items));
}

QRect tileFrame(int index, int documentHeight)
{
    const int column = index % columns;
    const int row = index / columns;
    return QRect(gap + (tileWidth + gap) * column, documentHeight - (tileHeight + gap) * (row + 1), tileWidth,
                 tileHeight);
}

QRectF fitted(QSizeF image, QRectF box, bool enlarge)
{
    if (image.isEmpty() || box.isEmpty())
        return {};
    double scale = std::min(box.width() / image.width(), box.height() / image.height());
    if (!enlarge)
        scale = std::min(scale, 1.0);
    const QSizeF size = image * scale;
    return QRectF(box.x() + (box.width() - size.width()) / 2, box.y() + (box.height() - size.height()) / 2,
                  size.width(), size.height());
}

} // namespace CaptureGrid

namespace {

// The secondary and faint text and line colours of the current palette.
QColor toned(double alpha)
{
    QColor colour = QApplication::palette().color(QPalette::WindowText);
    colour.setAlphaF(alpha);
    return colour;
}

QColor secondaryLabelColor()
{
    return toned(0.55);
}

QColor quaternaryLabelColor()
{
    return toned(0.08);
}

QColor separatorColor()
{
    return toned(0.2);
}

QColor accentColor()
{
    return QApplication::palette().color(QPalette::Highlight);
}

QLabel* label(QWidget* parent, const QString& text, QRect frame, int pixelSize, QFont::Weight weight,
              std::optional<QColor> colour, Qt::Alignment alignment)
{
    auto* result = new QLabel(parent);
    QFont font = result->font();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    result->setFont(font);
    result->setGeometry(frame);
    result->setAlignment(alignment | Qt::AlignVCenter);
    if (colour) {
        QPalette palette = result->palette();
        palette.setColor(QPalette::WindowText, *colour);
        result->setPalette(palette);
    }
    // Cut at the tail to fit, with the whole text kept for the tooltip.
    const QString shown = result->fontMetrics().elidedText(text, Qt::ElideRight, frame.width());
    // Titles and names are other programs' to choose.
    OutsideText::setLabel(*result, shown);
    if (shown != text)
        result->setToolTip(OutsideText::toolTip(text));
    return result;
}

} // namespace

TileFrame::TileFrame(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TileFrame::setHighlighted(bool highlighted)
{
    highlighted_ = highlighted;
    update();
}

QColor TileFrame::borderColor() const
{
    return highlighted_ ? accentColor() : separatorColor();
}

void TileFrame::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double inset = borderWidth() / 2.0;
    QPainterPath box;
    box.addRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset), 8, 8);
    painter.fillPath(box, quaternaryLabelColor());
    painter.setPen(QPen(borderColor(), borderWidth()));
    painter.drawPath(box);
}

TilePreview::TilePreview(QWidget* parent, std::optional<QImage> image, bool isIcon)
    : QWidget(parent), image_(std::move(image)), isIcon_(isIcon)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TilePreview::paintEvent(QPaintEvent*)
{
    if (!image_ || image_->isNull())
        return;
    // Scaled once for the box rather than at every repaint: the hover
    // border repaints the tile each time the pointer crosses it.
    const QRectF target = CaptureGrid::fitted(image_->size(), rect(), !isIcon_);
    const QSize pixels = (target.size() * devicePixelRatioF()).toSize();
    if (scaled_.size() != pixels) {
        scaled_ = QPixmap::fromImage(image_->scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        scaled_.setDevicePixelRatio(devicePixelRatioF());
    }
    QPainter painter(this);
    painter.setOpacity(opacity());
    painter.drawPixmap(target.topLeft(), scaled_);
}

TileButton::TileButton(QWidget* parent) : QAbstractButton(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
}

TileView::TileView(CaptureChoices::Item item, std::function<void(CaptureTarget)> onPick, QWidget* parent)
    : QWidget(parent), item_(std::move(item)), onPick_(std::move(onPick))
{
    build();
}

void TileView::build()
{
    using CaptureGrid::tileHeight;
    using CaptureGrid::tileWidth;
    resize(tileWidth, tileHeight);

    frameBox_ = new TileFrame(this);
    frameBox_->setGeometry(flipped(QRect(0, 44, 240, 150), tileHeight));

    const bool hasThumbnail = item_.preview && !item_.preview->isNull();
    preview_ = new TilePreview(frameBox_, hasThumbnail ? item_.preview : item_.icon, !hasThumbnail);
    preview_->setGeometry(flipped(QRect(1, 1, 238, 148), 150));

    const QString title = item_.title.isEmpty() ? QStringLiteral("Без названия") : item_.title;
    title_ = label(this, title, flipped(QRect(2, 22, 236, 16), tileHeight), 12, QFont::Medium, std::nullopt,
                   Qt::AlignLeft);
    if (!item_.subtitle.isEmpty())
        subtitle_ = label(this, item_.subtitle, flipped(QRect(2, 4, 236, 14), tileHeight), 11, QFont::Normal,
                          secondaryLabelColor(), Qt::AlignLeft);

    auto* button = new TileButton(this);
    button->setGeometry(flipped(QRect(0, 0, 240, 194), tileHeight));
    connect(button, &QAbstractButton::clicked, this, &TileView::tap);
}

void TileView::tap()
{
    if (onPick_)
        onPick_(item_.target);
}

void TileView::enterEvent(QEnterEvent*)
{
    setHovered(true);
}

void TileView::leaveEvent(QEvent*)
{
    setHovered(false);
}

void TileView::setHovered(bool hovered)
{
    hovered_ = hovered;
    frameBox_->setHighlighted(hovered);
}

CapturePickerWindow::Sources CapturePickerWindow::Sources::of(std::shared_ptr<ScreenCapture> service, Clock& clock)
{
    return {
        [service] { return CaptureChoices::current(service); },
        [service, &clock](CaptureTarget target, int width) {
            return CaptureChoices::capture(service, clock, target, width);
        },
    };
}

CapturePickerWindow::CapturePickerWindow(Workspace& workspace, Sources sources)
    : workspace_(workspace), sources_(std::move(sources))
{
}

CapturePickerWindow::~CapturePickerWindow()
{
    stopFollowing();
    if (window_)
        window_->removeEventFilter(this);
}

void CapturePickerWindow::show(const QString& title, PickHandler onPick)
{
    onPick_ = std::move(onPick);
    currentTitle_ = title;
    const quint64 generation = ++generation_;

    const bool wasVisible = window_ && window_->isVisible();
    if (!window_) {
        window_ = std::make_unique<QWidget>(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                                                         | Qt::CustomizeWindowHint);
        window_->setWindowTitle(QStringLiteral("Что записывать"));
        window_->setAttribute(Qt::WA_DeleteOnClose, false);
        auto* layout = new QVBoxLayout(window_.get());
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        window_->installEventFilter(this);
        window_->setFixedSize(820, 520);
    }
    window_->setWindowTitle(title);
    if (tiles_.empty())
        setContent(loadingView(), View::loading, QSize(820, 520));

    window_->show();
    window_->raise();
    window_->activateWindow();
    // A window already up on another desktop is brought to this one rather
    // than the user being taken to it.
    if (wasVisible)
        workspace_.moveToActiveSpace(window_->windowHandle());
    centre();

    followActiveSpace();
    load(QPointer<CapturePickerWindow>(this), generation);
}

QCoro::Task<> CapturePickerWindow::load(QPointer<CapturePickerWindow> picker, quint64 generation)
{
    auto listing = picker->sources_.list();
    CaptureChoices choices = co_await std::move(listing);
    if (!picker || picker->generation_ != generation)
        co_return;
    if (choices.displays.empty() && choices.windows.empty()) {
        if (picker->window_)
            picker->setContent(picker->deniedView(), View::denied, QSize(480, 200));
        co_return;
    }

    std::vector<CaptureChoices::Item> items = std::move(choices.displays);
    std::move(choices.windows.begin(), choices.windows.end(), std::back_inserter(items));
    // Every thumbnail is asked for before any is awaited: they are made on
    // the capture service's threads side by side.
    std::vector<QCoro::Task<std::optional<QImage>>> thumbnails;
    thumbnails.reserve(items.size());
    const auto thumbnail = picker->sources_.thumbnail;
    for (const auto& item : items)
        thumbnails.push_back(thumbnail(item.target, thumbnailWidth));
    for (size_t i = 0; i < items.size(); ++i)
        items[i].preview = co_await std::move(thumbnails[i]);
    if (!picker || picker->generation_ != generation)
        co_return;
    // An item whose thumbnail could not be made keeps its place with its
    // application's icon: a window that refuses a still image can often
    // still be recorded.
    picker->fill(std::move(items));
}

void CapturePickerWindow::fill(std::vector<CaptureChoices::Item> items)
{
    if (!window_)
        return;
    tiles_.clear();
    if (items.empty()) {
        setContent(deniedView(), View::denied, QSize(480, 200));
        return;
    }

    const int count = static_cast<int>(items.size());
    const int documentHeight = CaptureGrid::documentHeight(count);
    // The budget is the screen the picker is on, which need not be the main one.
    std::optional<int> screenHeight;
    if (const QScreen* screen = window_->screen() ? window_->screen() : QGuiApplication::primaryScreen())
        screenHeight = screen->availableGeometry().height();
    const int height = CaptureGrid::scrollHeight(count, screenHeight);

    auto* document = new QWidget;
    document->setFixedSize(CaptureGrid::documentWidth, documentHeight);
    QPointer<CapturePickerWindow> self(this);
    for (int i = 0; i < count; ++i) {
        const QString id = items[i].id;
        auto* tile = new TileView(std::move(items[i]), [self](CaptureTarget target) {
            if (self)
                self->pick(target);
        }, document);
        tile->setGeometry(flipped(CaptureGrid::tileFrame(i, documentHeight), documentHeight));
        tiles_[id] = tile;
    }

    auto* scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->viewport()->setAutoFillBackground(false);
    scroll->setWidget(document);
    // The scroll bar takes room beside the grid here rather than floating
    // over it: a grid taller than the window gets that room added.
    int width = CaptureGrid::documentWidth;
    if (documentHeight > height)
        width += scroll->verticalScrollBar()->sizeHint().width();
    setContent(scroll, View::grid, QSize(width, height));
    scroll->verticalScrollBar()->setValue(0);
}

void CapturePickerWindow::setContent(QWidget* view, View kind, QSize size)
{
    if (content_) {
        window_->layout()->removeWidget(content_);
        content_->hide();
        content_->deleteLater();
    }
    content_ = view;
    view_ = kind;
    window_->layout()->addWidget(view);
    window_->setFixedSize(size);
    view->show();
    centre();
}

void CapturePickerWindow::centre()
{
    if (!window_)
        return;
    const QScreen* screen = window_->screen() ? window_->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    window_->move(area.center() - QPoint(window_->width() / 2, window_->height() / 2));
}

QWidget* CapturePickerWindow::loadingView()
{
    auto* view = new QWidget;
    view->setFixedSize(820, 520);
    label(view, QStringLiteral("Смотрим, что открыто…"), flipped(QRect(0, 250, 820, 20), 520), 13, QFont::Normal,
          secondaryLabelColor(), Qt::AlignHCenter);
    return view;
}

QWidget* CapturePickerWindow::deniedView()
{
    auto* view = new QWidget;
    view->setFixedSize(480, 200);
    label(view, QStringLiteral("Нет доступа к записи экрана"), flipped(QRect(0, 120, 480, 22), 200), 15,
          QFont::DemiBold, std::nullopt, Qt::AlignHCenter);
    label(view, QStringLiteral("Разрешите его в настройках — без этого экран не записать."),
          flipped(QRect(0, 92, 480, 18), 200), 13, QFont::Normal, secondaryLabelColor(), Qt::AlignHCenter);
    auto* button = new QPushButton(QStringLiteral("Открыть настройки"), view);
    button->setGeometry(flipped(QRect(160, 40, 160, 32), 200));
    connect(button, &QPushButton::clicked, this, &CapturePickerWindow::openSettings);
    return view;
}

void CapturePickerWindow::openSettings()
{
    workspace_.openSettings(Workspace::SettingsPane::privacyScreenCapture);
}

void CapturePickerWindow::pick(CaptureTarget target)
{
    if (window_)
        window_->hide();
    ++generation_;
    stopFollowing();
    if (onPick_)
        onPick_(target);
}

bool CapturePickerWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == window_.get() && event->type() == QEvent::Close)
        windowWillClose();
    // Esc closes the picker as its close button does, as Linux dialogs do.
    if (watched == window_.get() && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        window_->close();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void CapturePickerWindow::windowWillClose()
{
    ++generation_;
    stopFollowing();
}

void CapturePickerWindow::followActiveSpace()
{
    if (spaceWatcher_)
        return;
    QPointer<CapturePickerWindow> self(this);
    spaceWatcher_ = workspace_.observeActiveSpace([self] {
        if (!self)
            return;
        // Taken up from the event loop, not from inside the notification.
        QMetaObject::invokeMethod(
            self.data(),
            [self] {
                if (self && self->window_ && self->window_->isVisible() && self->onPick_)
                    self->show(self->currentTitle_, self->onPick_);
            },
            Qt::QueuedConnection);
    });
}

void CapturePickerWindow::stopFollowing()
{
    spaceWatcher_.reset();
}
