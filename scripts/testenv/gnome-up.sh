#!/usr/bin/env bash
# Starts a private GNOME Wayland desktop in DIR: gnome-shell headless with one
# 1920x1080 virtual monitor, PipeWire with WirePlumber and pipewire-pulse (a
# null sink "speakers" as the default sink and a 440 Hz tone as the default
# microphone), the stock xdg-desktop-portal with xdg-desktop-portal-gnome, and
# the AppIndicator extension, so that tray icons show in the top bar. Runs as
# root without a GPU. Writes DIR/env.sh for programs of the desktop.
#   scripts/testenv/gnome-up.sh DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$(realpath -m "$1")
started=$(date +%s%N)
"$here/gnome-down.sh" "$dir" >/dev/null 2>&1 || true
rm -rf "$dir"
mkdir -p "$dir/run" "$dir/home/.config/glib-2.0/settings" "$dir/home/.local/share" "$dir/home/Pictures"
chmod 700 "$dir/run"
export XDG_RUNTIME_DIR=$dir/run
export HOME=$dir/home
export XDG_CONFIG_HOME=$dir/home/.config
export XDG_DATA_HOME=$dir/home/.local/share
export XDG_CURRENT_DESKTOP=GNOME
export XDG_SESSION_TYPE=wayland
export XDG_SESSION_DESKTOP=gnome
# Settings in a key file of the desktop's own: no dconf service to start
# and to stop, and the seeded values below are read by every program.
export GSETTINGS_BACKEND=keyfile
# Every process of this desktop, those the buses start included, carries
# this mark: gnome-down.sh finds what is left by it.
export KORVALA_GNOME_DESKTOP=$dir
export NO_AT_BRIDGE=1
unset DISPLAY WAYLAND_DISPLAY

fail() { echo "gnome testenv: $*" >&2; for log in "$dir"/*.log; do echo "== $log"; tail -20 "$log"; done >&2; "$here/gnome-down.sh" "$dir" >/dev/null 2>&1 || true; exit 1; }
wait_for() { local what=$1; shift; [[ -n ${KORVALA_TRACE:-} ]] && echo "$(( ($(date +%s%N) - started) / 1000000 )) ms: $what" >&2; for _ in $(seq 1 300); do "$@" >/dev/null 2>&1 && return 0; sleep 0.05; done; fail "$what did not come up"; }
bus_has() { dbus-send --session --dest=org.freedesktop.DBus --print-reply /org/freedesktop/DBus org.freedesktop.DBus.ListNames | grep -q "\"$1\""; }
start() { local name=$1; shift; "$@" >"$dir/$name.log" 2>&1 & echo $! >"$dir/$name.pid"; }

# The tray through the AppIndicator extension; no animations, no screen
# blanking, no lock: the tests look at still pictures.
cat >"$XDG_CONFIG_HOME/glib-2.0/settings/keyfile" <<'SETTINGS'
[org/gnome/shell]
enabled-extensions=['ubuntu-appindicators@ubuntu.com']
welcome-dialog-last-shown-version='999'
[org/gnome/desktop/interface]
enable-animations=false
[org/gnome/desktop/session]
idle-delay=uint32 0
[org/gnome/desktop/screensaver]
lock-enabled=false
[org/gnome/desktop/notifications]
show-banners=false
SETTINGS

# gnome-shell speaks to logind on the system bus wherever systemd runs: a
# private system bus keeps it off the machine's.
cat >"$dir/system-bus.conf" <<BUS
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$dir/run/system_bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="method_call"/>
    <allow eavesdrop="true"/>
  </policy>
</busconfig>
BUS
dbus-daemon --config-file="$dir/system-bus.conf" --fork --print-pid >"$dir/system-bus.pid" 2>"$dir/system-bus.log"
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$dir/run/system_bus
dbus-daemon --session --fork --address="unix:path=$dir/run/bus" --print-pid >"$dir/dbus.pid" 2>"$dir/dbus.log"
export DBUS_SESSION_BUS_ADDRESS=unix:path=$dir/run/bus
wait_for "the session bus" dbus-send --session --dest=org.freedesktop.DBus --print-reply /org/freedesktop/DBus org.freedesktop.DBus.ListNames

start pipewire pipewire
wait_for "PipeWire" pw-cli info 0
start wireplumber wireplumber
# The shell takes the longest: it starts while the sound is set up.
start gnome-shell gnome-shell --headless --wayland --no-x11 --virtual-monitor 1920x1080
start pipewire-pulse pipewire-pulse
wait_for "pipewire-pulse" pactl info
pactl load-module module-null-sink sink_name=speakers >/dev/null
# The default nodes are WirePlumber's business: it may not be ready yet.
wait_for "the default sink" pactl set-default-sink speakers
# A microphone that hears a steady 440 Hz sine (PipeWire's own test source:
# pipewire-pulse has no module-sine-source).
pw-cli create-node adapter '{ factory.name=audiotestsrc library.name=audiotestsrc/libspa-audiotestsrc node.name=microphone node.description=microphone
  media.class=Audio/Source object.linger=true audio.rate=44100 }' >/dev/null
wait_for "the microphone" bash -c "pactl list short sources | grep -qw microphone"
wait_for "the default source" pactl set-default-source microphone

wait_for "gnome-shell" bus_has org.gnome.Mutter.ScreenCast
wait_for "gnome-shell's screenshots" bus_has org.gnome.Shell.Screenshot
export WAYLAND_DISPLAY=wayland-0
dbus-update-activation-environment WAYLAND_DISPLAY XDG_CURRENT_DESKTOP XDG_SESSION_TYPE DBUS_SYSTEM_BUS_ADDRESS \
  GSETTINGS_BACKEND KORVALA_GNOME_DESKTOP NO_AT_BRIDGE

# Both portal processes are started here rather than by the bus, so that
# they see this desktop and their ids are known.
start portal-gnome /usr/libexec/xdg-desktop-portal-gnome
wait_for "xdg-desktop-portal-gnome" bus_has org.freedesktop.impl.portal.desktop.gnome
start portal /usr/libexec/xdg-desktop-portal -r
wait_for "the portal frontend" bus_has org.freedesktop.portal.Desktop
wait_for "the tray host" bus_has org.kde.StatusNotifierWatcher

cat >"$dir/env.sh" <<ENV
export XDG_RUNTIME_DIR=$dir/run
export HOME=$HOME
export XDG_CONFIG_HOME=$XDG_CONFIG_HOME
export XDG_DATA_HOME=$XDG_DATA_HOME
export XDG_CURRENT_DESKTOP=GNOME
export XDG_SESSION_TYPE=wayland
export GSETTINGS_BACKEND=keyfile
export DBUS_SESSION_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS
export DBUS_SYSTEM_BUS_ADDRESS=$DBUS_SYSTEM_BUS_ADDRESS
export WAYLAND_DISPLAY=wayland-0
export QT_QPA_PLATFORM=wayland
export KORVALA_TESTENV=$dir
unset DISPLAY
# Mesa, which Qt's Wayland platform loads for EGL, is built without frame
# pointers: only the slow unwinder finds the frames that the leak
# suppressions name.
export ASAN_OPTIONS=\${ASAN_OPTIONS:+\$ASAN_OPTIONS:}fast_unwind_on_malloc=0
ENV
elapsed=$(( ($(date +%s%N) - started) / 1000000 ))
printf 'gnome testenv: GNOME Wayland desktop in %s, up in %d.%03d s\n' "$dir" $((elapsed / 1000)) $((elapsed % 1000))
