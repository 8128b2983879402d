#!/usr/bin/env bash
# The main job: capture a few frames from the default emulated camera through the whole driver
# stack into a folder of PNG files, and say where they are. Builds camlab and the driver images
# first when they are missing or out of date.
#   scripts/main_job.sh [BUILD_DIR]     (default build/default, the "default" CMake preset)
set -uo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build/default}
camlab="$build_dir/tools/camlab/camlab"
out_dir=captures
frames=5

if [[ ! -f "$build_dir/build.ninja" && ! -f "$build_dir/Makefile" ]]; then
  preset=$(basename "$build_dir")
  if [[ "$build_dir" == "build/$preset" ]] && cmake --list-presets 2>/dev/null | grep -q "\"$preset\""; then
    cmake --preset "$preset" >/dev/null || exit 1
  else
    cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
  fi
fi
if ! cmake --build "$build_dir" --target camlab >/dev/null; then
  echo "main job: camlab did not build; run 'cmake --build $build_dir --target camlab' to see why" >&2
  exit 1
fi

rm -rf "$out_dir"
# The camera's frame counter and moving marker show that each picture is a new frame.
"$camlab" capture --frames "$frames" --device counter=on --device marker=on --output "$out_dir/"
status=$?
if [[ $status -ne 0 ]]; then
  echo "main job: camlab capture failed (exit $status); the message above names the problem" >&2
  exit "$status"
fi
count=$(find "$out_dir" -name '*.png' | wc -l)
echo "main job: $count PNG frames from the default camera in $(pwd)/$out_dir/" \
  "($(ls "$out_dir" | head -1) ... $(ls "$out_dir" | tail -1))"
