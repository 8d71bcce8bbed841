#!/usr/bin/env bash
# Crash-state exploration of the database, the settings store and the log:
# builds the workload and the checker (in build-test/ unless BUILD_DIR says
# otherwise), records the workload's file operations with strace, builds the
# states a power cut may leave and judges each (tools/crash-states says how).
# The last line printed is "S states, V violations".
#
#   scripts/crash-states.sh [STATES] [FILES]      defaults 1200 states, 12 files
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir=${BUILD_DIR:-$root/build-test}
states=${1:-1200}
files=${2:-12}
if [ ! -f "$build_dir/build.ninja" ]; then
  cmake -S "$root" -B "$build_dir" -G Ninja -DVORNIC_SANITIZE=ON -DVORNIC_TESTS=ON >/dev/null
fi
ninja -C "$build_dir" crash_workload crash_check >/dev/null
exec python3 "$root/tools/crash-states" --workload "$build_dir/tools/crash_workload" \
  --check "$build_dir/tools/crash_check" --states "$states" --files "$files"
