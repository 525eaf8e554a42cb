#pragma once

#include "capture/capture_choices.h"
#include "capture/capture_target.h"
#include "platform/workspace.h"

#include <QImage>
#include <QAbstractButton>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>

#include <qcoro/qcorotask.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QLabel;
class QScrollArea;

// The grid of the picker in points. Frames are given with the origin at the
// bottom left of their container, as the layout is reasoned about; one call
// of flipped() turns them into widget coordinates.
namespace CaptureGrid {

constexpr int columns = 3;
constexpr int tileWidth = 240;
constexpr int tileHeight = 196;
constexpr int gap = 16;
constexpr int documentWidth = columns * tileWidth + (columns + 1) * gap; // 784

int rows(int items);
int documentHeight(int items);
// The tallest the scroll area may be: its screen's visible height less
// 80 points, never below 320; 620 without a main screen.
int visibleHeight(std::optional<int> screenVisibleHeight);
// The height of the scroll area, and of the window's content.
int scrollHeight(int items, std::optional<int> screenVisibleHeight);
// The frame of the tile at `index` in a document `documentHeight` high.
QRect tileFrame(int index, int documentHeight);
// Where an image of `image` size is drawn inside `box`, keeping its shape,
// centred; scaled up too only when `enlarge` is set.
QRectF fitted(QSizeF image, QRectF box, bool enlarge);

} // namespace CaptureGrid

// The rounded box that frames a tile's picture; its border follows the
// pointer's hovering.
class TileFrame final : public QWidget {
public:
    explicit TileFrame(QWidget* parent);
    void setHighlighted(bool highlighted);
    QColor borderColor() const;
    int borderWidth() const { return highlighted_ ? 2 : 1; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool highlighted_ = false;
};

// The picture inside a tile: the thumbnail fitted to the box, or the
// application's icon, only ever made smaller, at 70 % opacity.
class TilePreview final : public QWidget {
public:
    TilePreview(QWidget* parent, std::optional<QImage> image, bool isIcon);
    const std::optional<QImage>& image() const { return image_; }
    bool isIcon() const { return isIcon_; }
    double opacity() const { return isIcon_ ? 0.7 : 1.0; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<QImage> image_;
    bool isIcon_;
    QPixmap scaled_;
};

// The invisible button over a whole tile: a click anywhere on it picks.
class TileButton final : public QAbstractButton {
public:
    explicit TileButton(QWidget* parent);

protected:
    void paintEvent(QPaintEvent*) override {}
};

// One item of the picker's grid: picture, title and subtitle; a click
// anywhere on it picks the item.
class TileView final : public QWidget {
    Q_OBJECT

public:
    TileView(CaptureChoices::Item item, std::function<void(CaptureTarget)> onPick, QWidget* parent = nullptr);

    const CaptureChoices::Item& item() const { return item_; }
    bool hovered() const { return hovered_; }
    TileFrame* frameBox() const { return frameBox_; }
    TilePreview* preview() const { return preview_; }
    QLabel* titleLabel() const { return title_; }
    // Nothing when the item has no subtitle.
    QLabel* subtitleLabel() const { return subtitle_; }

    void tap();

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void build();
    void setHovered(bool hovered);

    CaptureChoices::Item item_;
    std::function<void(CaptureTarget)> onPick_;
    TilePreview* preview_ = nullptr;
    TileFrame* frameBox_ = nullptr;
    QLabel* title_ = nullptr;
    QLabel* subtitle_ = nullptr;
    bool hovered_ = false;
};

// The window that offers displays and windows to record as tiles and hands
// the chosen target to whoever opened it. Created once, kept hidden between
// uses. Main thread only.
class CapturePickerWindow final : public QObject {
    Q_OBJECT

public:
    using PickHandler = std::function<void(CaptureTarget)>;

    // Where the items and their thumbnails come from: the desktop's capture
    // service through CaptureChoices, or a test's own.
    struct Sources {
        std::function<QCoro::Task<CaptureChoices>()> list;
        std::function<QCoro::Task<std::optional<QImage>>(CaptureTarget, int width)> thumbnail;

        static Sources of(std::shared_ptr<ScreenCapture> service, Clock& clock);
    };

    CapturePickerWindow(Workspace& workspace, Sources sources);
    ~CapturePickerWindow() override;

    // Opens (or brings back) the picker and starts a fresh load.
    void show(const QString& title, PickHandler onPick);
    // Hides the picker and hands `target` to the pick handler.
    void pick(CaptureTarget target);
    // The button of the permission view.
    void openSettings();

    static constexpr int thumbnailWidth = 480;

    QWidget* window() const { return window_.get(); }
    // The view inside the window now: loading, permission or the grid.
    QWidget* content() const { return content_; }
    enum class View { none, loading, denied, grid };
    View view() const { return view_; }
    const std::map<QString, QPointer<TileView>>& tiles() const { return tiles_; }
    quint64 generation() const { return generation_; }
    bool isFollowingSpaces() const { return static_cast<bool>(spaceWatcher_); }

    // Places `items` as tiles, or the permission view when there are none.
    void fill(std::vector<CaptureChoices::Item> items);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static QCoro::Task<> load(QPointer<CapturePickerWindow> picker, quint64 generation);
    QWidget* loadingView();
    QWidget* deniedView();
    void setContent(QWidget* view, View kind, QSize size);
    void centre();
    void windowWillClose();
    void followActiveSpace();
    void stopFollowing();

    Workspace& workspace_;
    Sources sources_;
    std::unique_ptr<QWidget> window_;
    QWidget* content_ = nullptr;
    View view_ = View::none;
    PickHandler onPick_;
    std::map<QString, QPointer<TileView>> tiles_;
    quint64 generation_ = 0;
    std::unique_ptr<Workspace::Observation> spaceWatcher_;
    QString currentTitle_ = QStringLiteral("Что записывать");
};
