#!/usr/bin/env bash
# Builds the show for web browsers into build-web/site/ (index.html, page.js,
# quenrik.js, quenrik.wasm, data/): static files any web server can serve.
# Emscripten from Debian; libmpg123 from the Debian source that tools/setup.sh
# unpacked. Nothing is fetched here.
set -euo pipefail
cd "$(dirname "$0")/.."
# Debian's emscripten runs its JavaScript optimizer with the node on PATH,
# which finds Debian's acorn only here.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
emcmake cmake -S . -B build-web -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUENRIK_TESTS=OFF -DQUENRIK_BENCH=OFF \
  "$@" >/dev/null
cmake --build build-web -j "${QUENRIK_JOBS:-$(nproc)}"
echo "build-web: the site is in $(pwd)/build-web/site ($(du -sh build-web/site | cut -f1))"
