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
mkdir -p "$dir/run/pulse"
cat >"$dir/pulse.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$dir/run/pulse/native
load-module module-null-sink sink_name=speakers rate=48000 channels=2 sink_properties=device.description=Speakers
load-module module-sine-source source_name=microphone rate=48000 frequency=440
set-default-sink speakers
set-default-source microphone
PA
pulseaudio --daemonize=no --exit-idle-time=-1 -n -F "$dir/pulse.pa" --use-pid-file=no \
  --log-target=file:"$dir/pulse.log" >/dev/null 2>&1 &
echo $! >"$dir/pulse.pid"
export PULSE_SERVER=unix:$dir/run/pulse/native
wait_for "PulseAudio" pactl info
# A monitor reader on an idle null sink may get nothing for seconds; a
# low-latency reader kept open makes the monitor deliver at once.
parec --latency-msec=10 -d speakers.monitor >/dev/null 2>&1 &
echo $! >"$dir/parec.pid"

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
