#!/usr/bin/env bash
# Stops what scripts/testenv/up.sh started in DIR. Safe to run twice.
set -u
"$(dirname "$0")/stop-pids.sh" "$(realpath -m "$1")" parec pulse wm dbus xvfb
