#!/usr/bin/env bash
# Builds the program when needed and runs it with the given arguments,
# e.g. scripts/run.sh --headless (stop it with Ctrl-C).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir=${BUILD_DIR:-$root/build}
if [ ! -f "$build_dir/build.ninja" ]; then
  BUILD_DIR="$build_dir" "$root/scripts/build.sh"
else
  cmake --build "$build_dir" --target vornic
fi
exec "$build_dir/vornic" "$@"
