#!/usr/bin/env bash
# Runs a command beside a PulseAudio server of its own: a private HOME and
# XDG_RUNTIME_DIR, one null sink "ci" at 44.1 kHz, no other module. The
# command gets PULSE_SERVER and QUENRIK_TEST_PULSE_PID (the server's process).
#   with_pulse.sh COMMAND [ARGS...]
# Exit code: the command's; 77 when pulseaudio is not installed.
set -u
command -v pulseaudio >/dev/null || { echo "SKIP: pulseaudio is not installed"; exit 77; }
TMP=$(mktemp -d)
PULSE_PID=
Cleanup() {
  if [ -n "$PULSE_PID" ]; then
    kill -CONT "$PULSE_PID" 2>/dev/null  # a test may have left it stopped
    kill "$PULSE_PID" 2>/dev/null
    wait "$PULSE_PID" 2>/dev/null
  fi
  rm -rf "$TMP"
}
trap Cleanup EXIT
trap 'exit 143' TERM INT
export HOME=$TMP/home XDG_RUNTIME_DIR=$TMP/run
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
export PULSE_SERVER=unix:$XDG_RUNTIME_DIR/pulse/native
# An idle server ends by itself after a minute, in case this script is killed.
pulseaudio -n --daemonize=no --exit-idle-time=60 --disable-shm=yes -L module-native-protocol-unix \
  -L "module-null-sink sink_name=ci rate=44100" >"$TMP/pulse.log" 2>&1 &
PULSE_PID=$!
for i in $(seq 200); do
  [ -S "$XDG_RUNTIME_DIR/pulse/native" ] && break
  kill -0 "$PULSE_PID" 2>/dev/null || break
  sleep 0.05
done
if [ ! -S "$XDG_RUNTIME_DIR/pulse/native" ]; then
  echo "FAIL: pulseaudio did not start:"; tail -5 "$TMP/pulse.log"
  exit 1
fi
export QUENRIK_TEST_PULSE_PID=$PULSE_PID
"$@"
