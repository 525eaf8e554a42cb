#!/usr/bin/env bash
# Starts a private Wayland-style desktop without a compositor in DIR, for the
# tests of screen capture through xdg-desktop-portal: a D-Bus session bus,
# PipeWire with WirePlumber, the stock portal frontend, and the fake portal
# backend FAKE_BACKEND (a program of the tests) chosen through
# XDG_CURRENT_DESKTOP and XDG_DESKTOP_PORTAL_DIR. Writes DIR/env.sh.
#   scripts/testenv/portal-up.sh DIR FAKE_BACKEND
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$(realpath -m "$1")
backend=$(realpath "$2")
"$here/portal-down.sh" "$dir" >/dev/null 2>&1 || true
rm -rf "$dir"
mkdir -p "$dir/run" "$dir/home" "$dir/portals"
chmod 700 "$dir/run"
export XDG_RUNTIME_DIR=$dir/run
export HOME=$dir/home
export XDG_CONFIG_HOME=$dir/home/.config
export XDG_DATA_HOME=$dir/home/.local/share
export XDG_CURRENT_DESKTOP=korvalatest
export XDG_DESKTOP_PORTAL_DIR=$dir/portals
export XDG_SESSION_TYPE=wayland
unset DISPLAY WAYLAND_DISPLAY

fail() { echo "portal testenv: $*" >&2; for log in "$dir"/*.log; do echo "== $log"; tail -20 "$log"; done >&2; "$here/portal-down.sh" "$dir" >/dev/null 2>&1 || true; exit 1; }
wait_for() { local what=$1; shift; for _ in $(seq 1 100); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done; fail "$what did not come up"; }
bus_has() { dbus-send --session --dest=org.freedesktop.DBus --print-reply /org/freedesktop/DBus org.freedesktop.DBus.ListNames | grep -q "\"$1\""; }

cat >"$dir/portals/korvalatest.portal" <<PORTAL
[portal]
DBusName=org.freedesktop.impl.portal.desktop.korvalatest
Interfaces=org.freedesktop.impl.portal.Access;org.freedesktop.impl.portal.Screenshot;org.freedesktop.impl.portal.ScreenCast;org.freedesktop.impl.portal.Settings;
UseIn=korvalatest
PORTAL

dbus-daemon --session --fork --address="unix:path=$dir/run/bus" --print-pid >"$dir/dbus.pid" 2>"$dir/dbus.log"
export DBUS_SESSION_BUS_ADDRESS=unix:path=$dir/run/bus
wait_for "the session bus" dbus-send --session --dest=org.freedesktop.DBus --print-reply /org/freedesktop/DBus org.freedesktop.DBus.ListNames

pipewire >"$dir/pipewire.log" 2>&1 &
echo $! >"$dir/pipewire.pid"
wait_for "PipeWire" pw-cli info 0
wireplumber >"$dir/wireplumber.log" 2>&1 &
echo $! >"$dir/wireplumber.pid"

"$backend" >"$dir/backend.log" 2>&1 &
echo $! >"$dir/backend.pid"
wait_for "the fake portal backend" bus_has org.freedesktop.impl.portal.desktop.korvalatest

/usr/libexec/xdg-desktop-portal -r >"$dir/portal.log" 2>&1 &
echo $! >"$dir/portal.pid"
wait_for "the portal frontend" bus_has org.freedesktop.portal.Desktop

cat >"$dir/env.sh" <<ENV
export XDG_RUNTIME_DIR=$dir/run
export HOME=$dir/home
export XDG_CONFIG_HOME=$XDG_CONFIG_HOME
export XDG_DATA_HOME=$XDG_DATA_HOME
export XDG_CURRENT_DESKTOP=korvalatest
export XDG_SESSION_TYPE=wayland
export DBUS_SESSION_BUS_ADDRESS=unix:path=$dir/run/bus
export KORVALA_TESTENV=$dir
export QT_QPA_PLATFORM=offscreen
unset DISPLAY WAYLAND_DISPLAY
ENV
echo "portal testenv: bus and PipeWire in $dir/run"
