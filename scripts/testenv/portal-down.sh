#!/usr/bin/env bash
# Stops what scripts/testenv/portal-up.sh started in DIR. Safe to run twice.
set -u
dir=$(realpath -m "$1")
alive() { [[ -r /proc/$1/stat ]] && [[ $(cut -d' ' -f3 "/proc/$1/stat" 2>/dev/null) != Z ]]; }
for name in portal backend wireplumber pipewire dbus; do
  file=$dir/$name.pid
  [[ -f $file ]] || continue
  pid=$(cat "$file")
  if [[ -n $pid ]] && kill "$pid" 2>/dev/null; then
    for _ in $(seq 1 30); do alive "$pid" || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null
  fi
  rm -f "$file"
done
exit 0
