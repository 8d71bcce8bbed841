#!/usr/bin/env bash
# Configures and builds the program in build/ (override with BUILD_DIR).
# Extra arguments go to the cmake configure step, e.g. -DVORNIC_TESTS=ON.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja -DVORNIC_TESTS=OFF "$@"
cmake --build "$build_dir" -j "${JOBS:-$(nproc)}"
