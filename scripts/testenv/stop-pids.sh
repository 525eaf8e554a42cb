#!/usr/bin/env bash
# Stops, in the order given, the processes whose ids a test desktop's start
# script wrote as DIR/NAME.pid: politely, then after 3 s for good.
#   scripts/testenv/stop-pids.sh DIR NAME...
set -u
dir=$1; shift
# A process that has exited but is not reaped yet counts as gone.
alive() { [[ -r /proc/$1/stat ]] && [[ $(cut -d' ' -f3 "/proc/$1/stat" 2>/dev/null) != Z ]]; }
for name in "$@"; do
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
