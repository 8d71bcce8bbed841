#!/usr/bin/env bash
# How fast a change to a large collection reaches the database, with the
# real program (designed pauses on, the development server reachable):
#
#   1. 20,000 files (100 artists x 20 albums x 10 tracks, hard links of one
#      small tagged MP3, so that the tree costs no disk space) are indexed by
#      the program's first run; its CPU time over that run is the baseline
#      (the whole collection walked and added). The chained transmit job
#      then reports them all to the server.
#   2. SETTLE seconds later (default 60) Search All Now makes a full pass
#      over the indexed collection; its CPU time is the second baseline.
#   3. SETTLE seconds later a new album of 12 files is copied
#      into one artist's folder: the time from the end of the copy until
#      all 12 are in the database, and the program's CPU time for it.
#   4. Then one album folder is renamed: the time until its old records are
#      marked deleted and the new ones added, and the CPU time for it.
#
# CPU times are the program's user + system time (from /proc) over each
# step, also taken 30 s after the step (the agents the indexer chains
# included). Everything lives in a temporary folder.
#
#   bench/collection_change.sh        BUILD_DIR (default build), SETTLE (60),
#                                     ARTISTS (100), PATIENCE (1200 s)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir=${BUILD_DIR:-$root/build}
settle=${SETTLE:-60}
artists=${ARTISTS:-100}
patience=${PATIENCE:-1200}
# shellcheck source=scripts/devserver-common.sh
source "$root/scripts/devserver-common.sh"
[ -x "$build_dir/vornic" ] || { echo "no $build_dir/vornic; build it first" >&2; exit 1; }

tmp=$(mktemp -d "${TMPDIR:-/tmp}/vornic-change-XXXXXX")
server_pid=""
vornic_pid=""
cleanup() {
  for pid in "$vornic_pid" "$server_pid"; do
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
      kill -TERM "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
  done
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

sandbox_home "$tmp"
music="$tmp/music"
log="$XDG_DATA_HOME/kiv/kivclient.log"

user="bench@example.org"
client_password="bench-client-password"
devserver_start "$tmp" "$user" bench "$client_password" 100 0
write_profile "$devserver_url" "$user" "$client_password" "$music"

track="$tmp/track.mp3"
"$build_dir/tools/make_test_media" --size 140000 --title "Bench title" --artist "Bench artist" \
  --album "Bench album" "$track" >/dev/null
python3 - "$music" "$artists" "$track" <<'EOF'
import os, sys
music, artists, track = sys.argv[1], int(sys.argv[2]), sys.argv[3]
for a in range(artists):
    for b in range(20):
        album = os.path.join(music, f"Artist {a}", f"Album {b}")
        os.makedirs(album)
        for t in range(10):
            os.link(track, os.path.join(album, f"{t + 1} Track title.mp3"))
EOF
files=$((artists * 200))
echo "change: $files files in $music"

# User + system time of the program in milliseconds.
cpu_ms() {
  awk -v tck="$(getconf CLK_TCK)" '{print int(($14 + $15) * 1000 / tck)}' "/proc/$vornic_pid/stat"
}
now_ms() { date +%s%3N; }
# How many log lines contain `text` (0 before the log exists).
lines() {
  local n
  n=$(grep -cF -- "$1" "$log" 2>/dev/null || true)
  echo "${n:-0}"
}
# Waits until `count` log lines contain `text`; fails after PATIENCE.
wait_lines() {
  local text=$1 count=$2 deadline=$((SECONDS + patience))
  while [ "$(lines "$text")" -lt "$count" ]; do
    kill -0 "$vornic_pid" 2>/dev/null || { echo "change: vornic ended early" >&2; exit 1; }
    [ "$SECONDS" -lt "$deadline" ] || { echo "change: gave up waiting for '$text'" >&2; exit 1; }
    sleep 0.1
  done
}

"$build_dir/vornic" --headless >/dev/null 2>&1 &
vornic_pid=$!
wait_lines "AgentIndexer: scanning for deleted" 1
full_start_cpu=$(cpu_ms)
full_start=$(now_ms)
# The run is over with its last added file.
wait_lines "AgentIndexer: added new file to db" "$files"
full_cpu=$(($(cpu_ms) - full_start_cpu))
full_wall=$(($(now_ms) - full_start))
echo "change: first run added $files records in $((full_wall / 1000)) s, CPU $full_cpu ms"
# The chained transmit job reads the tags of every new record once and
# reports them; the folder monitor holds its requests back until it ends.
wait_lines "Prepared to send index stop request" 1
echo "change: the first transmit job reported the collection"

# The full pass the targeted ones are compared with: Search All Now on the
# collection as it is (every record checked, every folder walked, nothing
# new), from the command to the end of its indexing step. The indexer
# chains the identification job, which says at once that it is not used
# here: that line marks the end of the pass.
sleep "$settle"
pass_end="AgentMusicID: Not using MusicID"
before_pass=$(lines "$pass_end")
pass_start_cpu=$(cpu_ms)
"$build_dir/vornic" --rescan >/dev/null
wait_lines "$pass_end" $((before_pass + 1))
pass_cpu=$(($(cpu_ms) - pass_start_cpu))
echo "change: a full pass over the indexed collection (Search All Now): CPU $pass_cpu ms"

# What the idle program costs (play monitor, connection monitor, folder
# monitor): its CPU rate over the last 20 s of the wait, so that each step's
# own share can be told from the background.
sleep $((settle > 20 ? settle - 20 : 0))
idle_start=$(cpu_ms)
sleep 20
idle_cpu=$(($(cpu_ms) - idle_start))
echo "change: the idle program: CPU $idle_cpu ms over 20 s"
percent() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.2f", 100*a/b}'; }

# One step: runs the command after the first three arguments, then waits
# for `done_count` more log lines with `done_text`.
measure() {
  local name=$1 done_text=$2 done_count=$3
  local before_cpu before_lines start elapsed cpu
  before_lines=$(lines "$done_text")
  before_cpu=$(cpu_ms)
  shift 3
  "$@"
  start=$(now_ms)
  wait_lines "$done_text" $((before_lines + done_count))
  elapsed=$(($(now_ms) - start))
  cpu=$(($(cpu_ms) - before_cpu))
  local own=$((cpu - idle_cpu * elapsed / 20000))
  sleep 30
  local cpu_30=$(($(cpu_ms) - before_cpu))
  echo "change: $name: in the database $elapsed ms after the change;" \
    "CPU $cpu ms ($(percent "$cpu" "$pass_cpu") % of a full pass," \
    "$(percent "$cpu" "$full_cpu") % of the first run; less the idle rate $own ms," \
    "$(percent "$own" "$pass_cpu") %), $cpu_30 ms with the chained agents" \
    "($(percent "$cpu_30" "$pass_cpu") % of a full pass)"
}

copy_album() {
  mkdir -p "$tmp/incoming/New Album"
  for t in $(seq 12); do cp "$track" "$tmp/incoming/New Album/$t New track.mp3"; done
  cp -r "$tmp/incoming/New Album" "$music/Artist 7/"
}
measure "new album of 12 files" "AgentIndexer: added new file to db" 12 copy_album

rename_album() { mv "$music/Artist 3/Album 5" "$music/Artist 3/Album 5 (Remastered)"; }
before_deleted=$(lines "AgentIndexer: marking entry as deleted")
measure "rename of one album folder" "AgentIndexer: added new file to db" 10 rename_album
deleted=$(($(lines "AgentIndexer: marking entry as deleted") - before_deleted))
echo "change: the rename marked $deleted old records deleted"
