#!/usr/bin/env bash
# Stops what scripts/testenv/up.sh started in DIR. Safe to run twice.
set -u
dir=$(realpath -m "$1")
for name in parec pulse wm dbus xvfb; do
  file=$dir/$name.pid
  [[ -f $file ]] || continue
  pid=$(cat "$file")
  if [[ -n $pid ]] && kill "$pid" 2>/dev/null; then
    for _ in $(seq 1 30); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null
  fi
  rm -f "$file"
done
exit 0
