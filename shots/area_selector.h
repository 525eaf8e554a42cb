#pragma once

#include "shots/selected_area.h"

#include <QList>
#include <QObject>
#include <QPointer>

#include <QImage>

#include <functional>
#include <map>
#include <optional>

class QScreen;
class SelectionView;

// Lets the user outline an area on any screen: one dimmed overlay per screen
// while a selection runs, none otherwise. The controller keeps one for the
// whole run.
class AreaSelector final : public QObject {
    Q_OBJECT
public:
    using OnSelect = std::function<void(std::optional<SelectedArea>)>;
    using DisplayNumbering = std::function<quint32(const QScreen*)>;
    using CompositeCheck = std::function<bool()>;

    // `numbering` gives each screen the display number that the capture
    // knows it by; `composites` says whether translucent overlays show the
    // desktop beneath them (else they paint a picture of their screen).
    AreaSelector(QObject* parent, DisplayNumbering numbering, CompositeCheck composites = [] { return true; });
    ~AreaSelector() override;

    // Starts a selection; `onSelect` runs once, after every overlay is gone,
    // with the area or with nothing when the user cancelled. Ignored while a
    // selection runs: that one goes on and the new callback is dropped.
    // A screen with a picture in `stills` shows that picture, dimmed, in
    // place of the live desktop.
    void begin(OnSelect onSelect, std::map<const QScreen*, QImage> stills = {});

    // The overlays of the running selection, one per screen.
    QList<SelectionView*> windows() const;

private:
    void finish(std::optional<SelectedArea> result);

    DisplayNumbering numbering_;
    CompositeCheck composites_;
    QList<QPointer<SelectionView>> windows_;
    OnSelect onSelect_;
};
