#!/usr/bin/env bash
# Builds and runs every benchmark program (bench_* under build/<preset>/bench), after installing the
# optional peer libraries the benchmarks compare with (libyuv, OpenCV) when apt can.
# Usage: bench/run_benchmarks.sh [PRESET] [Google Benchmark options...]
#   PRESET defaults to "default"; the options go to every program, e.g.
#   bench/run_benchmarks.sh default --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
preset=${1:-default}
if [[ $# -gt 0 ]]; then shift; fi
build_dir=$root/build/$preset

install_peers() {
  local missing=()
  for package in libyuv-dev libopencv-dev; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
  done
  [[ ${#missing[@]} -eq 0 ]] && return 0
  local runner=()
  if [[ $(id -u) -ne 0 ]]; then
    if command -v sudo >/dev/null 2>&1; then runner=(sudo); else
      echo "run_benchmarks: cannot install ${missing[*]} (not root, no sudo); peers are left out" >&2
      return 0
    fi
  fi
  echo "run_benchmarks: installing ${missing[*]}"
  if ! "${runner[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    "${missing[@]}"; then
    echo "run_benchmarks: apt-get failed; the peer benchmarks that need ${missing[*]} are left out" >&2
  fi
}

install_peers

cd "$root"
cmake --preset "$preset" >/dev/null
# Build only the benchmark programs, whatever their number.
mapfile -t targets < <(cmake --build "$build_dir" --target help | grep -o '^bench_[A-Za-z0-9_]*' | sort -u)
if [[ ${#targets[@]} -eq 0 ]]; then
  echo "run_benchmarks: no benchmark targets (is CAM_BUILD_BENCH off?)" >&2
  exit 1
fi
cmake --build "$build_dir" --target "${targets[@]}"

status=0
while IFS= read -r -d '' program; do
  echo "== ${program#"$build_dir"/}"
  "$program" "$@" || status=1
done < <(find "$build_dir/bench" -type f -name 'bench_*' -perm -u+x -print0 | sort -z)
exit $status
