#!/usr/bin/env bash
# Builds the decoder's libFuzzer target with clang (own build dir) and fuzzes DecodeFrame, starting
# from the committed seed corpus; new inputs go to the build dir, crashes to its artifacts folder.
# Usage: fuzz/decoder/run.sh [SECONDS] [libFuzzer options...]      (default 600 seconds)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${CAM_FUZZ_BUILD_DIR:-$root/build/fuzz-decoder}
seconds=${1:-600}
shift $(($# > 0 ? 1 : 0))
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DCAM_BUILD_FUZZ=ON >/dev/null
cmake --build "$build" --target decoder_fuzzer -j2
mkdir -p "$build/decoder-corpus" "$build/decoder-artifacts"
exec nice -n 19 "$build/fuzz/decoder/decoder_fuzzer" -max_total_time="$seconds" -max_len=16384 \
  -artifact_prefix="$build/decoder-artifacts/" -print_final_stats=1 "$@" \
  "$build/decoder-corpus" "$root/fuzz/decoder/corpus"
