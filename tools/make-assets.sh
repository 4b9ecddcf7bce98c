#!/usr/bin/env bash
# Remakes the show's assets under data/ from the sources in this repository:
# builds the makers into build-assets/ and runs them. The results are
# committed, so the show runs from a fresh clone without this step.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
jobs=$(nproc)
cmake -S . -B build-assets -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUENRIK_TESTS=OFF -DQUENRIK_BENCH=OFF >/dev/null

# --- pictures: the logo, the loading picture and the text cards (tools/art) ---
cmake --build build-assets --target quenrik-art -j "$jobs"
build-assets/tools/art/quenrik-art data

# --- music: the soundtrack data/run_away.mp3 (tools/synth) ---
cmake --build build-assets --target quenrik-synth -j "$jobs"
build-assets/tools/synth/quenrik-synth data/run_away.mp3
