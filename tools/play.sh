#!/usr/bin/env bash
# Plays the show: installs what it needs, builds an optimised quenrik into
# build/, and runs it from the repository's root (the show reads data/ below
# its working directory). With no display it renders the show to a video
# file instead, once the capture program is part of the build.
#
# With --web it builds the browser version instead (tools/build-web.sh) and
# serves it on 127.0.0.1 for any browser on this machine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
if [ "${1:-}" = "--web" ]; then
  bash tools/build-web.sh
  port=${QUENRIK_WEB_PORT:-8080}
  echo "play: the show is at http://127.0.0.1:$port/ (Ctrl+C stops the server)"
  exec python3 -m http.server --bind 127.0.0.1 --directory build-web/site "$port"
fi
jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null

# The built program's path, wherever its directory puts it.
Built() { find build -type f -name "$1" -perm -u+x -not -path '*/CMakeFiles/*' | head -1; }

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  cmake --build build -j "$jobs" --target quenrik
  exec "$(Built quenrik)"
fi

echo "play: no display (neither DISPLAY nor WAYLAND_DISPLAY is set)."
if cmake --build build --target help 2>/dev/null | grep '^quenrik-capture:' >/dev/null; then
  cmake --build build -j "$jobs" --target quenrik-capture
  mkdir -p out
  echo "play: rendering the show headless to out/quenrik.mp4 instead (1280x720, 60 fps, with its"
  echo "      music; a few minutes on two cores, see README.md \"Capturing the show to video\") ..."
  "$(Built quenrik-capture)" out/quenrik.mp4
  echo "play: the show is in $(pwd)/out/quenrik.mp4 (67 s of H.264 video and the MP3: any player plays it)"
else
  echo "play: the show cannot be played without a display. Run it on a desktop, or on a virtual"
  echo "      display as README.md shows under \"Playing the show\"."
  exit 1
fi
