#!/usr/bin/env bash
# Builds the threaded parts (platform and app: message loops, agent threads,
# the controller) with ThreadSanitizer in build-tsan/ (override with
# BUILD_DIR) and runs their tests. A data race fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build-tsan}
jobs=${JOBS:-$(nproc)}
cmake -S . -B "$build_dir" -G Ninja -DVORNIC_TSAN=ON -DVORNIC_TESTS=ON "$@"
cmake --build "$build_dir" -j "$jobs" --target platform_tests app_tests
export TSAN_OPTIONS="halt_on_error=1 ${TSAN_OPTIONS:-}"
"$build_dir/tests/platform/platform_tests"
"$build_dir/tests/app/app_tests"
