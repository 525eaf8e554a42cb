#!/usr/bin/env bash
# Fails when an include goes up the layers: core, platform, capture,
# recording, service, shots, app (shots may use service to share a shot).
# Only app/ may include the Linux implementations under platform/linux/, to
# hand them to the layers above; libraries they wrap stay under it.
set -euo pipefail
cd "$(dirname "$0")/.."
layers=(core platform capture recording service shots app)
rank() { local i; for i in "${!layers[@]}"; do [[ ${layers[$i]} == "$1" ]] && echo "$i" && return; done; echo -1; }

status=0
while IFS=: read -r file line text; do
  from=${file%%/*}
  included=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/' <<<"$text")
  to=${included%%/*}
  [[ $(rank "$to") -ge 0 ]] || continue
  if [[ $(rank "$to") -gt $(rank "$from") && ! ($from == shots && $to == service) ]]; then
    echo "$file:$line: $from/ includes $included from a layer above it"
    status=1
  elif [[ $included == platform/linux/* && $from != platform && $from != app ]]; then
    echo "$file:$line: $from/ includes the Linux implementation $included; take the interface instead"
    status=1
  fi
done < <(git grep -n -E '^\s*#\s*include\s*"' -- 'core/*' 'platform/*' 'capture/*' 'recording/*' 'service/*' 'shots/*' 'app/*')

wrapped='<(pulse|xcb|libav[a-z]*|libsw[a-z]*|pipewire|spa|systemd)/'
while IFS= read -r hit; do
  echo "$hit: a wrapped library outside platform/linux/"
  status=1
done < <(git grep -n -E "^\s*#\s*include\s*$wrapped" -- 'core/*' 'platform/*.h' 'platform/*.cpp' 'capture/*' 'recording/*' 'service/*' 'shots/*' 'app/*' | grep -v '^platform/linux/')

[[ $status == 0 ]] && echo "layers: every include goes down"
exit $status
