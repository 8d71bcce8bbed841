#!/usr/bin/env bash
# How often a first start rewrites the settings file: `vornic --headless`
# over a 400-file collection, signed in at the development server, watched
# with inotifywait for its first 25 s; every rewrite is one rename onto
# registry.reg. The goal is at most 10.
#
#   bench/first_start_rewrites.sh      (BUILD_DIR picks the build, default build)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir=${BUILD_DIR:-$root/build}
vornic=$build_dir/vornic
[ -x "$vornic" ] || { echo "first_start_rewrites: build $vornic first" >&2; exit 1; }
command -v inotifywait >/dev/null || { echo "first_start_rewrites: needs inotify-tools" >&2; exit 1; }
seconds=${SECONDS_WATCHED:-25}
# shellcheck source=scripts/devserver-common.sh
source "$root/scripts/devserver-common.sh"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/vornic-rewrites-XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  # A copy that does not stop within 10 s of SIGTERM is ended hard.
  for _ in $(seq 100); do
    alive=0
    for pid in "${pids[@]}"; do kill -0 "$pid" 2>/dev/null && alive=1; done
    [ "$alive" -eq 0 ] && break
    sleep 0.1
  done
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT
sandbox_home "$tmp"

user=ann@example.org
python3 "$root/tools/kiv-devserver" --port 0 --port-file "$tmp/port" --account "$user:secret" \
  >"$tmp/server.log" 2>&1 &
pids+=($!)
for _ in $(seq 200); do [ -s "$tmp/port" ] && break; sleep 0.05; done
for i in $(seq 1 400); do
  mkdir -p "$tmp/music/album$((i / 20))"
  truncate -s 200K "$tmp/music/album$((i / 20))/track$i.mp3"
done
write_profile "http://127.0.0.1:$(cat "$tmp/port")/kiv_backend/api" "$user" \
  "cp-$(printf %s "$user" | sha256sum | cut -c1-16)" "$tmp/music"

inotifywait -m -q -e moved_to --format '%f' "$XDG_CONFIG_HOME/kiv" >"$tmp/events" 2>/dev/null &
pids+=($!)
sleep 0.5
"$vornic" --headless >"$tmp/vornic.out" 2>&1 &
vornic_pid=$!
pids+=("$vornic_pid")
sleep "$seconds"
rewrites=$(grep -c '^registry.reg$' "$tmp/events" || true)
echo "first start: $rewrites rewrites of the settings file in ${seconds} s (goal: at most 10);" \
  "load average $(cut -d' ' -f1-3 /proc/loadavg)"
kill -TERM "$vornic_pid"
for i in $(seq 300); do
  kill -0 "$vornic_pid" 2>/dev/null || { echo "stopped $((i / 10)) s after SIGTERM"; exit 0; }
  sleep 0.1
done
echo "still running 30 s after SIGTERM"
