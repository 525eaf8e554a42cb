#!/usr/bin/env bash
# Runs a command inside the environment that up.sh started in DIR:
#   scripts/testenv/with-env.sh DIR COMMAND [ARGS...]
set -euo pipefail
dir=$(realpath -m "$1"); shift
[[ -f $dir/env.sh ]] || { echo "with-env: no test environment in $dir" >&2; exit 1; }
# shellcheck disable=SC1091
source "$dir/env.sh"
exec "$@"
