#!/usr/bin/env bash
# Builds everything with ThreadSanitizer in build-tsan/ (override with
# BUILD_DIR) and runs every test; a data race ends the racing process, so
# its test fails.
#
# Qt, GLib and the other system libraries are not built with the
# sanitizer: ignore_noninstrumented_modules=1 leaves out the C library calls
# they make (their locks still count), and scripts/tsan.supp explains why and
# holds any named rule. The reports of each process are collected; those
# left are printed, and the last line counts them and the suppressed ones.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
build_dir=${BUILD_DIR:-build-tsan}
jobs=${JOBS:-$(nproc)}
cmake -S . -B "$build_dir" -G Ninja -DVORNIC_TSAN=ON -DVORNIC_TESTS=ON "$@"
cmake --build "$build_dir" -j "$jobs"

reports=$(mktemp -d "${TMPDIR:-/tmp}/vornic-tsan-XXXXXX")
trap 'rm -rf "$reports"' EXIT
export QT_QPA_PLATFORM=offscreen
export TSAN_OPTIONS="halt_on_error=1 ignore_noninstrumented_modules=1 print_suppressions=1 \
suppressions=$root/scripts/tsan.supp log_path=$reports/tsan ${TSAN_OPTIONS:-}"
status=0
(cd "$build_dir" && ctest --output-on-failure -j "$jobs") || status=$?

# Every report still raised, in full, then the counts. A process that
# used a rule ends its log with "N <kind>:<rule>" lines.
logs=("$reports"/tsan.*)
[ -e "${logs[0]}" ] || logs=()
raised=0 suppressed=0
for log in "${logs[@]}"; do
  n=$(grep -c "WARNING: ThreadSanitizer" "$log" || true)
  if [ "$n" -gt 0 ]; then
    echo "== $log"
    cat "$log"
  fi
  raised=$((raised + n))
  m=$(awk '/^ThreadSanitizer: Matched/ { on = 1; next }
           on && $1 ~ /^[0-9]+$/ { n += $1; next } { on = 0 } END { print n + 0 }' "$log")
  suppressed=$((suppressed + m))
done
echo "ThreadSanitizer: $raised reports, $suppressed suppressed by the rules of scripts/tsan.supp"
exit "$status"
