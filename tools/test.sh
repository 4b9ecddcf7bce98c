#!/usr/bin/env bash
# Installs what is needed, then builds and runs every test twice: a plain
# optimised build, and a build with AddressSanitizer + UndefinedBehaviorSanitizer;
# in between, the image codec's builds for machines without the x87.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
jobs=$(nproc)

# The browser build first: the plain build's tests include its browser tests.
QUENRIK_JOBS=$jobs bash tools/build-web.sh -DQUENRIK_WERROR=ON

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENRIK_WERROR=ON -DQUENRIK_WEB_BUILD="$PWD/build-web"
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs")
# The image codec without the x87 and on ARM64 (under qemu), against this build.
bash tools/test-hwl-portable.sh build

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUENRIK_SANITIZE=ON -DQUENRIK_WERROR=ON -DQUENRIK_BENCH=OFF
cmake --build build-asan -j "$jobs"
# End-to-end runs of whole programs under a display are covered by the plain build.
(cd build-asan && ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure -j "$jobs" -LE e2e)
