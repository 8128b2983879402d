#!/usr/bin/env bash
# Builds the .reg import's libFuzzer target with clang (own build dir) and fuzzes it, starting from
# the committed seed corpus; new inputs go to the build dir, crashes to its artifacts folder.
# Usage: fuzz/registry/run.sh [SECONDS] [libFuzzer options...]      (default 600 seconds)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${CAM_FUZZ_BUILD_DIR:-$root/build/fuzz-registry}
seconds=${1:-600}
shift $(($# > 0 ? 1 : 0))
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DCAM_BUILD_FUZZ=ON >/dev/null
cmake --build "$build" --target reg_file_fuzzer -j2
mkdir -p "$build/registry-corpus" "$build/registry-artifacts"
exec nice -n 19 "$build/fuzz/registry/reg_file_fuzzer" -max_total_time="$seconds" -max_len=4096 \
  -artifact_prefix="$build/registry-artifacts/" -print_final_stats=1 "$@" \
  "$build/registry-corpus" "$root/fuzz/registry/corpus"
