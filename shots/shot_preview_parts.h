#pragma once

#include "shots/shot_tool.h"

#include <QAbstractButton>
#include <QColor>
#include <QImage>
#include <QPalette>
#include <QWidget>

#include <optional>

// The editor's colours for dark and light palettes. A palette counts as dark
// when its window colour is darker than its text colour.
struct ShotAppearance {
    bool dark = false;

    static ShotAppearance of(const QPalette& palette);
    // A whole palette in this look, for the editor window when the desktop
    // says which look it wants; of() reads it back as this look.
    QPalette palette() const;

    QColor window() const { return grey(dark ? 38 : 232); } // also the bars
    QColor field() const { return grey(dark ? 30 : 255); }  // behind the picture
    static QColor selectedTool() { return grey(111); }
    static QColor wellOutline() { return grey(193); }
    static QColor weightLine() { return grey(125); }
    QColor pillTop(bool pressed) const { return grey((dark ? 98 : 226) - (pressed ? 18 : 0)); }
    QColor pillBottom(bool pressed) const { return grey((dark ? 83 : 210) - (pressed ? 18 : 0)); }
    QColor pillBorder() const { return grey(dark ? 29 : 178); }
    QColor pillHighlight() const { return grey(dark ? 150 : 240); }
    QColor pillInk() const { return grey(dark ? 189 : 107); } // 0.74 and 0.42 of white
    // Text and icons of lesser weight.
    QColor secondaryLabel() const { return dark ? QColor(255, 255, 255, 140) : QColor(0, 0, 0, 128); }
    QColor tertiaryLabel() const { return dark ? QColor(255, 255, 255, 64) : QColor(0, 0, 0, 66); }
    QColor separator() const { return dark ? QColor(255, 255, 255, 26) : QColor(0, 0, 0, 26); }

    static QColor grey(int level) { return QColor(level, level, level); }
};

// A plain area painted in one of the editor's two tones; it follows palette
// changes.
class TonedView final : public QWidget {
    Q_OBJECT
public:
    enum class Tone { chrome, field };
    explicit TonedView(Tone tone, QWidget* parent = nullptr);
    Tone tone() const { return tone_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    const Tone tone_;
};

// The "Снимок экрана" pill: a small gradient button that takes a new shot.
// It fires only when released over itself.
class ShotButton final : public QWidget {
    Q_OBJECT
public:
    explicit ShotButton(QString title, QWidget* parent = nullptr);
    QString title() const { return title_; }
    bool pressed() const { return pressed_; }

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    const QString title_;
    bool pressed_ = false;
};

// A borderless square button of the tool strip or of a popover. It shows
// either a template icon tinted in the current tint, or a picture as it is.
class StripButton final : public QAbstractButton {
    Q_OBJECT
public:
    explicit StripButton(QWidget* parent = nullptr);

    void setTemplate(QImage icon);
    void setPicture(QImage picture);
    QImage picture() const { return picture_; }
    void setSelected(bool selected);
    bool selected() const { return selected_; }
    // The tint of a template icon; none for the palette's secondary label colour.
    void setTint(std::optional<QColor> tint);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage template_;
    QImage picture_;
    bool selected_ = false;
    std::optional<QColor> tint_;
};

// A line in the palette's separator colour; its frame is the caller's.
QWidget* separatorLine(QWidget* parent);

// Gives `role` of `widget` the colour `colour` of its parent's look, now and
// whenever the look changes while the widget lives.
void followAppearance(QWidget* widget, QPalette::ColorRole role, QColor (ShotAppearance::*colour)() const);

// The round well of the colour and weight buttons, `size` points square at
// device pixel ratio `ratio`: filled with `fill`, or white with a line of
// `lineWidth` when one is given; with the popover mark in its corner.
QImage wellImage(int size, QColor fill, std::optional<double> lineWidth, bool cornerMark,
                 const ShotAppearance& appearance, double ratio = 2);

// The icon of a tool (the arrow from ShotArrow, the others from the icon
// theme or drawn), `size` points square, black on transparent for tinting.
QImage toolIcon(ShotTool tool, int size, double ratio = 2);
// The undo icon, like toolIcon.
QImage undoIcon(int size, double ratio = 2);
