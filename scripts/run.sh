#!/usr/bin/env bash
# Installs what is needed, builds Korvala and starts it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
build=$root/build
"$root/scripts/build.sh" "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVALA_TESTS=OFF -DKORVALA_BENCH=OFF
exec "$build/korvala" "$@"
