#!/usr/bin/env bash
# Starts a private desktop for integration tests in DIR: an X server with a
# window manager, a PulseAudio daemon whose default sink is a null "speakers"
# sink and whose default source is a 440 Hz sine "microphone", and a D-Bus
# session bus. Writes DIR/env.sh with the variables that reach them.
#   scripts/testenv/up.sh DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$(realpath -m "$1")
"$here/down.sh" "$dir" >/dev/null 2>&1 || true
rm -rf "$dir"
mkdir -p "$dir/run" "$dir/home"
chmod 700 "$dir/run"
export XDG_RUNTIME_DIR=$dir/run
export HOME=$dir/home

fail() { echo "testenv: $*" >&2; for log in "$dir"/*.log; do echo "== $log"; tail -20 "$log"; done >&2; "$here/down.sh" "$dir" >/dev/null 2>&1 || true; exit 1; }
wait_for() { local what=$1; shift; for _ in $(seq 1 100); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done; fail "$what did not come up"; }

# X server: the first free display from :90.
display=""
for n in $(seq 90 160); do
  if [[ ! -e /tmp/.X$n-lock && ! -e /tmp/.X11-unix/X$n ]]; then display=$n; break; fi
done
[[ -n $display ]] || fail "no free X display"
Xvfb ":$display" -screen 0 1920x1080x24 -nolisten tcp -noreset >"$dir/xvfb.log" 2>&1 &
echo $! >"$dir/xvfb.pid"
export DISPLAY=:$display
wait_for "Xvfb" xdpyinfo
evilwm -fn fixed >"$dir/wm.log" 2>&1 &
echo $! >"$dir/wm.pid"
wait_for "the window manager" sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q window'

# Session bus.
dbus-daemon --session --fork --address="unix:path=$dir/run/bus" --print-pid >"$dir/dbus.pid" 2>"$dir/dbus.log"
export DBUS_SESSION_BUS_ADDRESS=unix:path=$dir/run/bus
wait_for "the session bus" dbus-send --session --dest=org.freedesktop.DBus --print-reply /org/freedesktop/DBus org.freedesktop.DBus.ListNames

# Sound server.
"$here/pulse-up.sh" "$dir" || fail "PulseAudio did not come up"

cat >"$dir/env.sh" <<ENV
export DISPLAY=:$display
export XDG_RUNTIME_DIR=$dir/run
export HOME=$dir/home
export XDG_CONFIG_HOME=$dir/home/.config
export DBUS_SESSION_BUS_ADDRESS=unix:path=$dir/run/bus
export PULSE_SERVER=unix:$dir/run/pulse/native
export KORVALA_TESTENV=$dir
export QT_QPA_PLATFORM=xcb
ENV
echo "testenv: display :$display, sound and bus in $dir/run"
