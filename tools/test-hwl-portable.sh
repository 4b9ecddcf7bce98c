#!/usr/bin/env bash
# The HWL codec on machines without the x87: built on x86 with the software
# extended type (QUENRIK_HWL_SOFT_EXTENDED) and for ARM64 (run under
# qemu-user), each with its tests, and both checked against the plain x86
# build in PLAIN_BUILD (default build): the same decoded pixels and sample
# planes for the show's pictures and a corpus of unusual files, and the same
# bytes from `hwl encode`. Run by tools/test.sh after the plain build.
set -euo pipefail
cd "$(dirname "$0")/.."
plain=${1:-build}
jobs=$(nproc)
qemu=(qemu-aarch64 -L /usr/aarch64-linux-gnu)

cmake -S . -B build-soft -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENRIK_WERROR=ON \
  -DQUENRIK_CODEC_ONLY=ON -DQUENRIK_HWL_SOFT_EXTENDED=ON
cmake --build build-soft -j "$jobs"
(cd build-soft && ctest --output-on-failure -j "$jobs")

cmake -S . -B build-aarch64 -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENRIK_WERROR=ON \
  -DQUENRIK_CODEC_ONLY=ON -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
cmake --build build-aarch64 -j "$jobs"
# Under emulation every floating-point operation is a call. Three long tests
# are left out here (they run natively in both other builds): the encoder's
# round trips (`hwl encode` is compared byte for byte below) and the two
# that decode whole pictures with the reference decoder (the digests below
# cover the same pictures and more). So is the cancel test's timing, which
# measures milliseconds of processor time: the emulator makes every stage
# some fifty times longer (its other cancel cases still run).
(cd build-aarch64 && ctest --output-on-failure -j "$jobs" \
  -E '^(HwlEncode\.RoundTripsAllLevelsAndValueBits|HwlOracle\.AnalysedPictures|HwlPaths\.ShowPictures|HwlCancel\.StopsWithinMillisecondsWheneverTheFlagIsSet)$')

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus"
"$plain/tests/hwl/hwl_digest" corpus "$work/corpus"
files=(data/*.hwl "$work"/corpus/*.hwl)
"$plain/tests/hwl/hwl_digest" "${files[@]}" > "$work/plain.txt"
build-soft/tests/hwl/hwl_digest "${files[@]}" > "$work/soft.txt"
"${qemu[@]}" build-aarch64/tests/hwl/hwl_digest "${files[@]}" > "$work/aarch64.txt"
diff "$work/plain.txt" "$work/soft.txt"
diff "$work/plain.txt" "$work/aarch64.txt"
echo "hwl portable: ${#files[@]} files decode alike on x87, software and ARM64"

# The encoder refines against the decoder's arithmetic: the same bytes everywhere.
"$plain/tools/hwl/hwl" decode data/zem_logo.hwl "$work/logo.png"
"$plain/tools/hwl/hwl" decode data/text_5.hwl "$work/text.png"
for picture in logo text; do
  "$plain/tools/hwl/hwl" encode "$work/$picture.png" "$work/$picture.plain.hwl" --levels 2
  build-soft/tools/hwl/hwl encode "$work/$picture.png" "$work/$picture.soft.hwl" --levels 2
  "${qemu[@]}" build-aarch64/tools/hwl/hwl encode "$work/$picture.png" "$work/$picture.aarch64.hwl" --levels 2
  cmp "$work/$picture.plain.hwl" "$work/$picture.soft.hwl"
  cmp "$work/$picture.plain.hwl" "$work/$picture.aarch64.hwl"
done
echo "hwl portable: hwl encode writes the same bytes on x87, software and ARM64"
