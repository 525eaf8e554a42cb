#pragma once

#include <QString>

#include <cstdint>
#include <optional>

// What a recording or a still image captures. Compared by value.
class CaptureTarget {
public:
    // DesktopChoice: the screen or window the user picks in the desktop's
    // own dialog when the recording starts (a Wayland portal), which Korvala
    // cannot name beforehand.
    enum class Kind { Display, Application, Window, AudioOnly, DesktopChoice };

    static CaptureTarget display(uint32_t id) { return CaptureTarget(Kind::Display, id, {}); }
    static CaptureTarget application(const QString& bundleID) { return CaptureTarget(Kind::Application, 0, bundleID); }
    static CaptureTarget window(uint32_t id) { return CaptureTarget(Kind::Window, id, {}); }
    static CaptureTarget audioOnly() { return CaptureTarget(Kind::AudioOnly, 0, {}); }
    static CaptureTarget desktopChoice() { return CaptureTarget(Kind::DesktopChoice, 0, {}); }

    Kind kind() const { return kind_; }
    // The display or window number; 0 for the other cases.
    uint32_t id() const { return id_; }
    // The application's identifier; empty for the other cases.
    const QString& bundleID() const { return bundleID_; }

    bool operator==(const CaptureTarget&) const = default;

    // The textual form used on the command line and as a picker item's id:
    // "display-N", "window-N", "application-ID", "audio" or "desktop-choice".
    QString toString() const;
    // The inverse of toString(); nothing for anything else (signs, spaces,
    // numbers beyond 32 bits, an empty identifier).
    static std::optional<CaptureTarget> fromString(const QString& text);

private:
    CaptureTarget(Kind kind, uint32_t id, QString bundleID)
        : kind_(kind), id_(id), bundleID_(std::move(bundleID))
    {
    }

    Kind kind_;
    uint32_t id_;
    QString bundleID_;
};
