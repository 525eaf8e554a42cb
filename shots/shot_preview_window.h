#pragma once

#include "core/clock.h"
#include "platform/workspace.h"
#include "shots/screenshot.h"
#include "shots/shot_canvas.h"
#include "shots/shot_color.h"
#include "shots/shot_preview_layout.h"
#include "shots/shot_preview_parts.h"
#include "shots/shot_weight.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>

class QScreen;
#include <memory>
#include <optional>

struct ShotChoices;

// The editor that appears after every capture: the shot on the annotation
// canvas, the tool strip with the colour and weight wells, the "Снимок
// экрана" pill in a header strip, and the bar with the size and the three
// deliveries. The controller keeps one for the whole run; each shot gets a
// new window. Main thread only.
class ShotPreviewWindow final : public QObject {
    Q_OBJECT
public:
    using OnChoose = std::function<void(QImage, Screenshot::Destination)>;
    // The usable height in points of the screen the editor opens on, none
    // without a screen.
    using ScreenHeight = std::function<std::optional<double>(const QScreen* screen)>;

    // The window is built 0.15 s after show(), so that the selection
    // overlays and the capture have left the screen.
    static constexpr double buildDelay = 0.15;

    ShotPreviewWindow(Workspace& workspace, Clock& clock, ScreenHeight screenHeight = {}, QObject* parent = nullptr);
    ~ShotPreviewWindow() override;

    // Shows the editor for `bitmap` on `screen` (the main screen when none
    // is given); `onChoose` later gets the annotated picture and the
    // delivery, at most once. Replaces a shot shown or pending.
    void show(QImage bitmap, OnChoose onChoose, QScreen* screen = nullptr);
    void setOnRetake(std::function<void()> onRetake) { onRetake_ = std::move(onRetake); }

    QWidget* window() const { return window_; }
    const std::optional<QImage>& bitmap() const { return bitmap_; }
    // Whether a shot is held: a window and its picture, as "Открыть снимок" needs.
    bool holdsPicture() const { return window_ && bitmap_; }
    // Brings the held shot's window to the front, onto the desktop in use.
    void reveal();

    ShotCanvas* canvas() const { return canvas_; }
    const QList<StripButton*>& toolButtons() const { return toolButtons_; }
    StripButton* colorWell() const { return colorWell_; }
    StripButton* weightWell() const { return weightWell_; }
    StripButton* undoButton() const { return undoButton_; }
    ShotButton* retakeButton() const { return retakeButton_; }
    // The popover shown last, while it is open.
    QWidget* popover() const { return popover_; }
    ShotColor canvasColor() const { return canvasColor_; }
    ShotWeight canvasWeight() const { return canvasWeight_; }

    // What buttons and keys do.
    void finish(Screenshot::Destination destination);
    void pickTool(int tag);
    void openColors();
    void openWeights();
    void chooseColor(int tag);
    void chooseWeight(int tag);
    void undoMark();
    void shootAgain();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build(const QImage& bitmap, QScreen* screen);
    QWidget* buildContent(const QImage& bitmap, const ShotPreviewLayout::Sizes& sizes);
    QWidget* buildStrip(QWidget* parent, double shown);
    void showPopover(const ShotChoices& choices, StripButton* well, void (ShotPreviewWindow::*choose)(int));
    ShotAppearance appearance() const;
    void refreshWells();
    // The window's palette for the desktop's look; the application's when
    // the desktop does not say.
    void applyColorScheme(Workspace::ColorScheme scheme);
    void windowClosed();
    // While the editor is up: its keys, the desktop switches it follows and
    // the desktop's look.
    void startWatching();
    // Undoes startWatching, hands the desktop back its tray-only look.
    void stopWatching();
    void followActiveSpace();
    bool handleKey(QObject* watched, QKeyEvent* event);

    Workspace& workspace_;
    Clock& clock_;
    ScreenHeight screenHeight_;
    QPointer<QWidget> window_;
    QList<QPointer<QWidget>> retired_;
    std::optional<QImage> bitmap_;
    // Tells a pending build whether its shot is still the current one.
    quint64 generation_ = 0;
    OnChoose onChoose_;
    std::function<void()> onRetake_;
    QPointer<ShotCanvas> canvas_;
    QList<StripButton*> toolButtons_;
    QPointer<StripButton> colorWell_;
    QPointer<StripButton> weightWell_;
    QPointer<StripButton> undoButton_;
    QPointer<ShotButton> retakeButton_;
    QPointer<QWidget> popover_;
    ShotColor canvasColor_ = ShotColor::red;
    ShotWeight canvasWeight_ = ShotWeight::normal;
    bool watchingKeys_ = false;
    std::unique_ptr<Workspace::Observation> spaceWatcher_;
    std::unique_ptr<Workspace::Observation> schemeWatcher_;
};
