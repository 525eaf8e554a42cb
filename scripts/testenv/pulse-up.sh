#!/usr/bin/env bash
# Starts the test desktop's sound server in DIR (made by up.sh), or starts it
# again after it was killed, with the same devices: a null "speakers" sink as
# the default output and a sine "microphone" (440 Hz unless FREQUENCY is
# given) as the default input.
#   scripts/testenv/pulse-up.sh DIR [FREQUENCY]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$(realpath -m "$1")
frequency=${2:-440}
export XDG_RUNTIME_DIR=$dir/run
export HOME=$dir/home
export PULSE_SERVER=unix:$dir/run/pulse/native
"$here/stop-pids.sh" "$dir" parec pulse

mkdir -p "$dir/run/pulse"
cat >"$dir/pulse.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$dir/run/pulse/native
load-module module-null-sink sink_name=speakers rate=48000 channels=2 sink_properties=device.description=Speakers
load-module module-sine-source source_name=microphone rate=48000 frequency=$frequency
set-default-sink speakers
set-default-source microphone
PA
pulseaudio --daemonize=no --exit-idle-time=-1 -n -F "$dir/pulse.pa" --use-pid-file=no \
  --log-target=file:"$dir/pulse.log" >/dev/null 2>&1 &
echo $! >"$dir/pulse.pid"
for _ in $(seq 1 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl info >/dev/null 2>&1 || { echo "testenv: PulseAudio did not come up" >&2; tail -20 "$dir/pulse.log" >&2; exit 1; }
# A monitor reader on an idle null sink may get nothing for seconds; a
# low-latency reader kept open makes the monitor deliver at once.
parec --latency-msec=10 -d speakers.monitor >/dev/null 2>&1 &
echo $! >"$dir/parec.pid"
# Only once a reader has had half a second of sound does a new one get it at
# once: a test that starts right after a restart would miss its first seconds.
(timeout 10 parec --raw --latency-msec=10 -d speakers.monitor | head -c 96000 >/dev/null) 2>/dev/null || true
