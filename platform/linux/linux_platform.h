#pragma once

#include <memory>

class AudioInput;
class AudioMedia;
class CallStreams;
class DesktopNotifications;
class Journal;
class RestoreTokenKeeper;
class ScreenCapture;
class VideoMedia;

// The Linux side of the platform interfaces, as main() hands them to the
// layers above. Nothing else in the program picks a backend.
namespace LinuxPlatform {

// The systemd journal.
std::shared_ptr<Journal> systemJournal();
// The default source of the sound server.
std::unique_ptr<AudioInput> microphoneInput();
// The record streams other programs open, from the sound server.
std::unique_ptr<CallStreams> callStreams();
// The desktop's notification server (org.freedesktop.Notifications).
std::unique_ptr<DesktopNotifications> desktopNotifications();
// AAC tracks in .m4a and H.264 video in .mp4, through FFmpeg.
std::shared_ptr<AudioMedia> audioMedia();
std::shared_ptr<VideoMedia> videoMedia();
// The screen of this session: X11, or xdg-desktop-portal on Wayland, where
// `tokens` keeps the desktop's permission between runs. Either way the
// computer's sound comes from the sound server.
std::shared_ptr<ScreenCapture> screenCaptureForSession(std::shared_ptr<RestoreTokenKeeper> tokens);

} // namespace LinuxPlatform
