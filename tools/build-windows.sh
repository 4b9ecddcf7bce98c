#!/usr/bin/env bash
# Cross-builds the show for 64-bit Windows with MinGW-w64:
#   bash tools/build-windows.sh [BUILD_DIR]      (default build-windows)
# Result: BUILD_DIR/shell/quenrik.exe, which needs only DLLs that come with
# Windows; run it in a folder that holds the show's data/ folder. The Wine
# tests also use BUILD_DIR/tests/windows/sound_probe.exe.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-windows}
jobs=${JOBS:-$(nproc)}
cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DQUENRIK_WERROR=ON -DQUENRIK_BENCH=OFF >/dev/null
cmake --build "$dir" -j "$jobs" --target quenrik sound_probe
echo "built $dir/shell/quenrik.exe"
