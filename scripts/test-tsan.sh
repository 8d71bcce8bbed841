#!/usr/bin/env bash
# Builds everything with ThreadSanitizer in build-tsan/ (override with
# BUILD_DIR) and runs every test; a data race ends the racing process, so
# its test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build-tsan}
jobs=${JOBS:-$(nproc)}
cmake -S . -B "$build_dir" -G Ninja -DVORNIC_TSAN=ON -DVORNIC_TESTS=ON "$@"
cmake --build "$build_dir" -j "$jobs"
export QT_QPA_PLATFORM=offscreen
export TSAN_OPTIONS="halt_on_error=1 ${TSAN_OPTIONS:-}"
cd "$build_dir"
ctest --output-on-failure -j "$jobs"
