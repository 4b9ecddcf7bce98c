#!/usr/bin/env bash
# Capture speed against rendering alone, for the README's table.
#   tools/capture/measure-speed.sh BUILD_DIR [TO_MS] [ROUNDS]
# For each size at 60 fps: the same frames (music 0 ... TO_MS, default 10000)
# rendered alone (--render-only) and captured to H.264 + MP3, ROUNDS times
# (default 2) in turns so that a change in the machine's load hits both.
# Prints wall and CPU seconds and the capture's per-stage summary.
# PREFIX runs both under a command, e.g. PREFIX="chrt -f 10" (root): real-time
# scheduling, so that other work on a shared machine cannot take the cores.
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD=$1 TO=${2:-10000} ROUNDS=${3:-2}
CAPTURE=$BUILD/tools/capture/quenrik-capture
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT
PREFIX=${PREFIX:-}
Timed() { /usr/bin/time -f "wall %e s, cpu %U+%S s" $PREFIX "$@" 2>&1 | grep -E '^wall|frames run' | sed 's/^quenrik-capture: //'; }
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for size in 640x480 1280x720 1920x1080; do
  for round in $(seq "$ROUNDS"); do
    echo "== $size round $round, load $(cut -d' ' -f1 /proc/loadavg)"
    echo "render only: $(Timed "$CAPTURE" --render-only --size "$size" --to "$TO" --seed 1 | tr '\n' ' ')"
    echo "capture:     $(Timed "$CAPTURE" "$OUT/show.mp4" --size "$size" --to "$TO" --seed 1 | tr '\n' ' ')"
    ls -l "$OUT/show.mp4" | awk '{print "file bytes: " $5}'
  done
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
