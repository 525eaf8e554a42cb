#pragma once

#include "core/clock.h"
#include "core/shell.h"
#include "core/store.h"
#include "platform/screen_capture.h"
#include "platform/workspace.h"
#include "shots/screenshot.h"

#include <QObject>
#include <QPointer>

#include <memory>

class AreaSelector;
class QScreen;
class ShareFlow;
class ShotPreviewWindow;

// "Сделать снимок…" and "Открыть снимок": from the area selection through
// the capture and the editor to the delivery the user picks.
class ScreenshotFlow final : public QObject {
public:
    // `capture` numbers the screens for the selector; `captureArea` takes
    // the still of a selected area (none given: every capture fails).
    ScreenshotFlow(const Store& store, Workspace& workspace, StatusSink& status, ErrorReporter& errors, Clock& clock,
                   ShareFlow& share, std::shared_ptr<ScreenCapture> capture, Screenshot::Capture captureArea);

    void takeScreenshot();
    // Brings the editor back while it holds a picture.
    void revealShot();
    // Whether the editor holds a picture.
    bool holdsShot() const;

    // The one area selector and the one screenshot editor of the run,
    // made on first use.
    AreaSelector& areaSelector();
    ShotPreviewWindow& shotPreview();

private:
    static QCoro::Task<void> captureAndEdit(QPointer<ScreenshotFlow> self, SelectedArea area);
    static QCoro::Task<void> selectOverStills(QPointer<ScreenshotFlow> self);
    // The still of `area` (a whole display's when it covers it), or nothing
    // after the failure was told.
    static QCoro::Task<std::optional<QImage>> takeStill(QPointer<ScreenshotFlow> self, SelectedArea area);
    // Cuts `area` out of the whole display's still and edits it.
    void edit(const QImage& display, const SelectedArea& area);
    void showEditor(const QImage& picture, quint32 displayID);
    void deliver(const QImage& picture, Screenshot::Destination destination);
    // The screen that shows the display with this number, if any.
    QScreen* screenOf(quint32 displayID) const;

    Store store_;
    Workspace& workspace_;
    StatusSink& status_;
    ErrorReporter& errors_;
    Clock& clock_;
    ShareFlow& share_;
    std::shared_ptr<ScreenCapture> capture_;
    Screenshot::Capture captureArea_;
    AreaSelector* areaSelector_ = nullptr;
    ShotPreviewWindow* shotPreview_ = nullptr;
};
