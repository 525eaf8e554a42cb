#!/usr/bin/env bash
# Stops what scripts/testenv/gnome-up.sh started in DIR, and what its buses
# started on their own (the permission store, the document portal and its
# FUSE mount, helpers of the shell): every process that carries the
# desktop's mark. Safe to run twice.
set -u
dir=$(realpath -m "$1")
"$(dirname "$0")/stop-pids.sh" "$dir" portal portal-gnome gnome-shell pipewire-pulse wireplumber pipewire
marked() {
  grep -lzxF "KORVALA_GNOME_DESKTOP=$dir" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3
}
for signal in TERM KILL; do
  for pid in $(marked); do
    [[ $pid != "$$" ]] && kill -s "$signal" "$pid" 2>/dev/null
  done
  for _ in $(seq 1 30); do [[ -z $(marked) ]] && break; sleep 0.1; done
done
[[ -d $dir/run/doc ]] && { fusermount3 -u "$dir/run/doc" 2>/dev/null || umount -l "$dir/run/doc" 2>/dev/null; }
"$(dirname "$0")/stop-pids.sh" "$dir" dbus system-bus
exit 0
