#!/usr/bin/env bash
# Processor time and peak memory of whole recordings, ours beside ffmpeg
# doing the same work, in a private test desktop (1920×1080 X screen, sound
# server with a sine microphone and a tone playing into the speakers):
#   bench/recording.sh BUILD_DIR [VIDEO_SECONDS] [AUDIO_SECONDS]
# BUILD_DIR is a Release build with benchmarks (scripts/build.sh build-bench
# -DCMAKE_BUILD_TYPE=Release).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bench=$(realpath "$1")/bench/bench_recording
video_seconds=${2:-30}
audio_seconds=${3:-60}
env_dir=$(mktemp -d)
out=$(mktemp -d)
"$root/scripts/testenv/up.sh" "$env_dir" >/dev/null
trap '"$root/scripts/testenv/down.sh" "$env_dir" >/dev/null 2>&1; rm -rf "$env_dir" "$out"' EXIT
# shellcheck disable=SC1091
source "$env_dir/env.sh"
pactl load-module module-sine sink=speakers frequency=1000 >/dev/null

measure() { # label command...: user+sys seconds and peak RSS of the command and its children
  local label=$1; shift
  /usr/bin/time -f "%U %S %M" -o "$out/time" "$@" >"$out/$label.log" 2>&1 || { cat "$out/$label.log"; exit 1; }
  awk -v label="$label" '{ printf "%-30s cpu %7.2f s   peak RSS %6.1f MB\n", label, $1 + $2, $3 / 1024 }' "$out/time"
}

"$bench" pattern &
pattern=$!
sleep 2
echo "display 1920x1080 -> 960x540, ${video_seconds} s, moving pattern:"
measure "korvala (video + 2 tracks)" "$bench" display "$video_seconds"
measure "ffmpeg x11grab (video only)" ffmpeg -nostdin -y -f x11grab -framerate 10 -video_size 1920x1080 \
  -i "$DISPLAY" -t "$video_seconds" -vf scale=960:540 -c:v libx264 -b:v 500k -g 10 "$out/ffmpeg.mp4"
kill "$pattern"

echo "audio only, ${audio_seconds} s:"
measure "korvala (2 tracks)" "$bench" audio "$audio_seconds"
pipeline() { # source channels file
  timeout -s INT "$audio_seconds" parec -d "$1" --format=float32le --rate=48000 --channels="$2" |
    ffmpeg -nostdin -y -f f32le -ar 48000 -ac "$2" -i - -ac 1 -ar 44100 -c:a aac -b:a 24k "$3"
}
export -f pipeline
export audio_seconds
measure "2 x parec | ffmpeg aac 24k" bash -c \
  "pipeline microphone 1 $out/mic.m4a & pipeline speakers.monitor 2 $out/system.m4a; wait"
