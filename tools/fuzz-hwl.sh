#!/usr/bin/env bash
# Fuzzes the HWL decoder with libFuzzer for a number of seconds (default 600),
# on one core, starting from a corpus of small well-formed files.
#   tools/fuzz-hwl.sh [SECONDS] [WORK_DIR]
# Needs clang and libclang-rt-14-dev (tools/setup.sh installs them). Findings
# are written to WORK_DIR/findings; the corpus grows in WORK_DIR/corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
work=${2:-build-fuzz-hwl}
mkdir -p "$work/corpus" "$work/findings"
sources=(hwl/hwl_header.cpp hwl/hwl_streams.cpp hwl/hwl_synthesis.cpp hwl/hwl_load.cpp hwl/hwl_encode.cpp)
flags=(-std=c++20 -O1 -g -fno-omit-frame-pointer -ffp-contract=off -Ihwl -Itests/hwl -pthread)
checks=(-fsanitize=address,undefined -fno-sanitize-recover=undefined)
# The AVX2 rows of the synthesis in their own object, compiled for AVX2 and FMA as in the build.
clang++ "${flags[@]}" "${checks[@]}" -fsanitize=fuzzer-no-link -mavx2 -mfma -c hwl/hwl_lanes_avx2.cpp \
  -o "$work/hwl_lanes_avx2.o"
clang++ "${flags[@]}" "${checks[@]}" -fsanitize=fuzzer -DHWL_AVX2_ROWS=1 \
  "${sources[@]}" "$work/hwl_lanes_avx2.o" tests/hwl/fuzz_hwl.cpp -o "$work/fuzz_hwl"
clang++ "${flags[@]}" "${sources[@]}" tests/hwl/hwl_test_writer.cpp tests/hwl/fuzz_seeds.cpp -o "$work/fuzz_seeds"
"$work/fuzz_seeds" "$work/corpus"
# Inputs up to 4 KiB describe images of up to a few million pixels; the
# decoder's memory stays far below libFuzzer's 2 GiB limit.
"$work/fuzz_hwl" -max_total_time="$seconds" -max_len=4096 -timeout=20 -print_final_stats=1 \
  -artifact_prefix="$work/findings/" "$work/corpus"
