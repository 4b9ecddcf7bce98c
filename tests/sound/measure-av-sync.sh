#!/usr/bin/env bash
# Measures the music clock and the show's pictures against the sound heard, on
# a private PulseAudio null sink whose latency the recorder pins to 10 ms.
# For each case the sink's monitor is recorded (av_sync record) while a
# program logs music times with their steady-clock times, then the log is
# measured against the recording at the break (22731 ms) and the hit
# (57741 ms) of the show's music, and at the other sections' starts
# (av_sync analyse). Positive: late. An event where the output glitched (an
# underrun nearby) is not found in the recording and is reported so.
#
#   bash tests/sound/measure-av-sync.sh [BUILD_DIR] [CASE...]
#
# Cases (default: all that can run here):
#   clock-sdl     the sound probe's clock through SDL (SDL_AUDIODRIVER=pulseaudio)
#   clock-server  the sound probe's clock through the server output (the default)
#   frames-sdl    each presented frame of the show (quenrik_frame_probe under
#   frames-server   Xvfb), through SDL or the server output
#   clock-wine    the Windows build's waveOut clock under Wine (winepulse), if
#                 BUILD_DIR/windows and BUILD_DIR/wine-prefix exist (the Wine
#                 tests make them)
# Run from anywhere; BUILD_DIR defaults to build/ of the repository, with the
# targets av_sync, sound_probe_linux and quenrik_frame_probe built. With
# AV_SYNC_KEEP=DIR each case's recording and log are kept there as CASE.*.
set -u
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$(realpath -m "${1:-$ROOT/build}")
[ $# -gt 0 ] && shift
CASES=("$@")
[ ${#CASES[@]} -eq 0 ] && CASES=(clock-sdl clock-server frames-sdl frames-server clock-wine)
EVENTS=(22731 57741 5761 11531 17301 29701 35481 41251 47011 52801)
SECONDS_PLAYED=62

if [ -z "${QUENRIK_TEST_PULSE_PID:-}" ]; then
  exec bash "$ROOT/tests/sound/with_pulse.sh" bash "$0" "$BUILD" "${CASES[@]}"
fi

AV_SYNC=$BUILD/tests/sound/av_sync
PROBE=$BUILD/tests/windows/sound_probe_linux
FRAMES=$BUILD/tests/show/quenrik_frame_probe
MUSIC=$ROOT/data/run_away.mp3
for tool in "$AV_SYNC" "$PROBE" "$FRAMES"; do
  [ -x "$tool" ] ||
    { echo "missing $tool: cmake --build $BUILD --target av_sync sound_probe_linux quenrik_frame_probe"; exit 1; }
done
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT

# Measure NAME SDL_DRIVER PROBE [ANALYSE_OPTIONS]: runs the function PROBE
# (with SDL_AUDIODRIVER=SDL_DRIVER, or unset for "") while recording the
# sink, then measures $OUT/log against the recording.
Measure() {
  local name=$1 driver=$2 probe=$3 options=${4:-}
  "$AV_SYNC" record ci.monitor 10 $((SECONDS_PLAYED + 60)) "$OUT/rec" >"$OUT/record.out" 2>&1 &
  local recorder=$!
  for _ in $(seq 100); do grep -q recording "$OUT/record.out" && break; sleep 0.1; done
  if [ -n "$driver" ]; then
    (export SDL_AUDIODRIVER=$driver; $probe) >"$OUT/run.out" 2>&1
  else
    (unset SDL_AUDIODRIVER; $probe) >"$OUT/run.out" 2>&1
  fi || { echo "$name: the run failed:"; tail -5 "$OUT/run.out"; }
  local latency
  latency=$(pactl list sinks 2>/dev/null | sed -n 's/^\s*Latency: //p' | head -1)
  sleep 0.5
  kill -INT $recorder
  wait $recorder
  echo "== $name (sink latency: ${latency:-unknown}; load: $(cut -d' ' -f1-3 /proc/loadavg))"
  "$AV_SYNC" analyse "$MUSIC" "$OUT/rec" "$OUT/log" $options "${EVENTS[@]}"
  if [ -n "${AV_SYNC_KEEP:-}" ]; then
    mkdir -p "$AV_SYNC_KEEP"
    for file in rec.raw rec.arrivals log; do cp "$OUT/$file" "$AV_SYNC_KEEP/$name.$file"; done
  fi
}

ClockProbe() { (cd "$ROOT" && "$PROBE" clock-log "$MUSIC" $SECONDS_PLAYED >"$OUT/log"); }
FrameProbe() {
  (cd "$ROOT" && xvfb-run -a -s "-screen 0 640x480x24" "$FRAMES" --until $((SECONDS_PLAYED * 1000)) --log "$OUT/log")
}
WineProbe() {
  (cd "$ROOT" && WINEPREFIX=$BUILD/wine-prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    wine "$BUILD/windows/tests/windows/sound_probe.exe" clock-log data/run_away.mp3 $((SECONDS_PLAYED + 10)) |
    tr -d '\r' >"$OUT/log")
}

for case in "${CASES[@]}"; do
  case $case in
    clock-sdl) Measure "$case" pulseaudio ClockProbe ;;
    clock-server) Measure "$case" "" ClockProbe ;;
    frames-sdl) Measure "$case" pulseaudio FrameProbe ;;
    frames-server) Measure "$case" "" FrameProbe ;;
    clock-wine)
      if [ -f "$BUILD/windows/tests/windows/sound_probe.exe" ] && [ -d "$BUILD/wine-prefix" ] &&
        command -v wine >/dev/null; then
        Measure "$case" "" WineProbe --raw-clock
      else
        echo "== $case: skipped (no Windows build or Wine prefix in $BUILD)"
      fi
      ;;
    *) echo "unknown case $case"; exit 64 ;;
  esac
done
