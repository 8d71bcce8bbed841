#!/usr/bin/env bash
# Builds everything in a clean build-test/ (override with BUILD_DIR) with
# AddressSanitizer and UndefinedBehaviorSanitizer, then runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build-test}
jobs=${JOBS:-$(nproc)}
rm -rf "$build_dir"
cmake -S . -B "$build_dir" -G Ninja -DVORNIC_SANITIZE=ON -DVORNIC_TESTS=ON "$@"
cmake --build "$build_dir" -j "$jobs"
export QT_QPA_PLATFORM=offscreen
cd "$build_dir"
ctest --output-on-failure -j "$jobs"
