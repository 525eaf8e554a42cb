#!/usr/bin/env bash
# Installs what is needed, builds Korvala and starts it against the local
# stand-in for the transcription service (tools/devservice), in a settings
# profile of its own: your ~/.config/korvala is never read or written.
# Sign in with the demo account the stand-in prints. To use the real service
# instead, run build/korvala directly (see README.md, "baseURL").
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
build=$root/build
"$root/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVALA_TESTS=OFF -DKORVALA_BENCH=OFF

profile=${KORVALA_PROFILE:-$build/devservice-profile}
mkdir -p "$profile/korvala"
chmod 700 "$profile"

output=$(mktemp)
"$build/tools/devservice/korvala-devservice" --port "${KORVALA_DEVSERVICE_PORT:-0}" >"$output" &
service=$!
trap 'kill "$service" 2>/dev/null; wait "$service" 2>/dev/null; rm -f "$output"' EXIT
for _ in $(seq 100); do
  [ -s "$output" ] && break
  sleep 0.1
done
url=$(head -n 1 "$output")
if [ -z "$url" ]; then
  echo "the stand-in service did not start" >&2
  exit 1
fi
cat "$output"

# Point the profile at this run's port, keeping whatever else it holds
# (the token from an earlier sign-in stays valid: the stand-in's demo token is fixed).
settings=$profile/korvala/korvala.conf
touch "$settings"
if grep -q '^baseURL=' "$settings"; then
  sed -i "s|^baseURL=.*|baseURL=$url|" "$settings"
elif grep -q '^\[General\]' "$settings"; then
  sed -i "/^\[General\]/a baseURL=$url" "$settings"
else
  printf '[General]\nbaseURL=%s\n' "$url" | cat - "$settings" >"$settings.new"
  mv "$settings.new" "$settings"
fi
chmod 600 "$settings"

XDG_CONFIG_HOME=$profile "$build/korvala" "$@"
