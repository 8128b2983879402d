#!/usr/bin/env bash
# The main job. Until the capture path is in place it runs a self-check of both driver variants:
# each builds, is freestanding, and passes its core suite.
set -euo pipefail
build_dir=${1:-build/default}
echo "== self-check of both driver variants =="
"$(dirname "$0")/check_freestanding.sh" driver platform/include \
  "$build_dir/driver/liblynxcam.a" "$build_dir/driver/libibexcam.a"
for variant in lynxcam ibexcam; do
  "$build_dir/tests/core/core_tests_$variant" --gtest_brief=1 | tail -n 1 | sed "s/^/$variant: /"
done
