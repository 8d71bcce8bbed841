#!/usr/bin/env bash
# How fast a change to a large collection reaches the database, with the
# real program (the development server reachable), and what whole passes
# cost against `find` over the same tree:
#
#   1. ARTISTS x 20 albums x 10 tracks (default 100 artists: 20,000 files;
#      1250 for 250,000), hard links of one small tagged MP3 (a fresh copy
#      every 60,000 links, below the file system's link limit), so that the
#      tree costs almost no disk space. `find` over the tree (warm, its own
#      CPU time) is the baseline of the full passes.
#   2. The program's first run indexes the tree; its CPU time over that run
#      is the first full pass. The chained transmit job then reports every
#      track to the server.
#   3. SETTLE seconds later (default 60) Search All Now makes a full pass
#      over the indexed collection; its CPU time is the second full pass.
#      Both full passes run with the indexer's pauses off (the
#      "MeasureIndexerWithoutPauses" setting, which exists for measurement);
#      then the setting is cleared, and the change steps run with the pauses
#      on, as the program runs for its user.
#   4. SETTLE seconds later a new album of 12 files is copied into one
#      artist's folder: the time from the end of the copy until all 12 are
#      in the database, and the program's CPU time for it.
#   5. Then one album folder is renamed: the time until its old records are
#      marked deleted and the new ones added, and the CPU time for it.
#   6. The program is stopped and started again on the full database: CPU
#      and wall time until "Vornic ready".
#
# CPU times are the program's user + system time (from /proc) over each
# step; the change steps also 30 s after the step (the agents the indexer
# chains included). The figures end in one table. Everything lives in a
# temporary folder.
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
tail_pid=""
cleanup() {
  for pid in "$vornic_pid" "$server_pid" "$tail_pid"; do
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
# The program rotates its log at 8 MiB; a copy that follows it by name
# keeps every line for the counts below.
all_log="$tmp/all.log"
tail -n +1 -F "$log" >"$all_log" 2>/dev/null &
tail_pid=$!

user="bench@example.org"
client_password="bench-client-password"
devserver_start "$tmp" "$user" bench "$client_password" 100 0
write_profile "$devserver_url" "$user" "$client_password" "$music"
settings="$XDG_CONFIG_HOME/kiv/registry.reg"
# Sets a DWORD of the program's "Settings" key in its settings file, under
# the file's lock as the program's own writers take it, so that the running
# program reads it at its next access.
set_dword() {
  /usr/bin/python3 - "$settings" "$1" "$2" <<'EOF'
import fcntl, os, re, sys
path, name, value = sys.argv[1], sys.argv[2], int(sys.argv[3])
with open(path + ".lock", "a+") as lock:
    fcntl.flock(lock, fcntl.LOCK_EX)
    text = open(path, encoding="utf-8").read()
    line = '"%s"=dword:%08x' % (name, value)
    pattern = re.compile(r'^"%s"=dword:[0-9a-fA-F]+$' % re.escape(name), re.M)
    if pattern.search(text):
        text = pattern.sub(line, text)
    else:
        text = text.replace("\\Settings]\n", "\\Settings]\n" + line + "\n", 1)
    with open(path + ".new", "w", encoding="utf-8") as out:
        out.write(text)
    os.chmod(path + ".new", 0o600)
    os.replace(path + ".new", path)
EOF
}
set_dword MeasureIndexerWithoutPauses 1

track="$tmp/track.mp3"
"$build_dir/tools/make_test_media" --size 140000 --title "Bench title" --artist "Bench artist" \
  --album "Bench album" "$track" >/dev/null
/usr/bin/python3 - "$music" "$artists" "$track" <<'EOF'
import os, shutil, sys
music, artists, track = sys.argv[1], int(sys.argv[2]), sys.argv[3]
seed, links = track, 0
for a in range(artists):
    for b in range(20):
        album = os.path.join(music, f"Artist {a}", f"Album {b}")
        os.makedirs(album)
        for t in range(10):
            if links == 60000:
                seed, links = f"{track}.{a}", 0
                shutil.copyfile(track, seed)
            os.link(seed, os.path.join(album, f"{t + 1} Track title.mp3"))
            links += 1
EOF
files=$((artists * 200))
echo "change: $files files in $music"
# The artists the changes go to (the 8th and the 4th when there are so many).
copy_artist=$((artists > 7 ? 7 : artists - 1))
rename_artist=$((artists > 3 ? 3 : 0))

# The baseline of the full passes: find over the tree, warm, its own CPU.
find_cpu_ms() {
  # The shell that waits for find: its children's time is find's.
  local tck start end self=$BASHPID
  tck=$(getconf CLK_TCK)
  start=$(awk '{print $16 + $17}' "/proc/$self/stat")
  find "$music" -type f -size +127k >/dev/null
  end=$(awk '{print $16 + $17}' "/proc/$self/stat")
  echo $(((end - start) * 1000 / tck))
}
find_cpu_ms >/dev/null
find_cpu=$(find_cpu_ms)
echo "change: find over the tree: CPU $find_cpu ms"

# User + system time of the program in milliseconds.
cpu_ms() {
  awk -v tck="$(getconf CLK_TCK)" '{print int(($14 + $15) * 1000 / tck)}' "/proc/$vornic_pid/stat"
}
now_ms() { date +%s%3N; }
# How many log lines contain `text` (0 before the log exists).
lines() {
  local n
  n=$(grep -cF -- "$1" "$all_log" 2>/dev/null || true)
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

# The first run is timed from the program's start (its start-up, some tens
# of milliseconds, included): with the pauses off the run is over before a
# look at the log could tell that it began.
full_start=$(now_ms)
"$build_dir/vornic" --headless >/dev/null 2>&1 &
vornic_pid=$!
# The run is over with its last added file, when the database holds a
# record per file (a 256-byte header, 1296-byte records): counted from the
# file, as the log rotates many times over on a large collection.
db="$XDG_DATA_HOME/kiv/kivclient.db"
deadline=$((SECONDS + patience))
until [ $((($(stat -c %s "$db" 2>/dev/null || echo 256) - 256) / 1296)) -ge "$files" ]; do
  kill -0 "$vornic_pid" 2>/dev/null || { echo "change: vornic ended early" >&2; exit 1; }
  [ "$SECONDS" -lt "$deadline" ] || { echo "change: gave up waiting for the records" >&2; exit 1; }
  sleep 0.05
done
full_cpu=$(cpu_ms)
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
# The change steps run as the program runs for its user.
set_dword MeasureIndexerWithoutPauses 0

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
  rows+=("$(printf '| %s: in the database after | %d ms | 15 s | %s |' "$name" "$elapsed" \
    "$(ratio "$elapsed" 15000)")")
  rows+=("$(printf '| %s: CPU (less the idle rate) | %d ms (%d ms) | under 1 %% of the second pass | %s %% (%s %%) |' \
    "$name" "$cpu" "$own" "$(percent "$cpu" "$pass_cpu")" "$(percent "$own" "$pass_cpu")")")
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.2f", a/b}'; }
rows=()
rows+=("$(printf '| first full pass (pauses off, start-up included): CPU | %d ms | find %d ms | %s x |' \
  "$full_cpu" "$find_cpu" "$(ratio "$full_cpu" "$find_cpu")")")
rows+=("$(printf '| second full pass, Search All Now (pauses off): CPU | %d ms | find %d ms | %s x |' \
  "$pass_cpu" "$find_cpu" "$(ratio "$pass_cpu" "$find_cpu")")")
rows+=("$(printf '| idle program: CPU over 20 s | %d ms | | |' "$idle_cpu")")

copy_album() {
  mkdir -p "$tmp/incoming/New Album"
  for t in $(seq 12); do cp "$track" "$tmp/incoming/New Album/$t New track.mp3"; done
  cp -r "$tmp/incoming/New Album" "$music/Artist $copy_artist/"
}
measure "new album of 12 files" "AgentIndexer: added new file to db" 12 copy_album

rename_album() {
  mv "$music/Artist $rename_artist/Album 5" "$music/Artist $rename_artist/Album 5 (Remastered)"
}
before_deleted=$(lines "AgentIndexer: marking entry as deleted")
measure "rename of one album folder" "AgentIndexer: added new file to db" 10 rename_album
deleted=$(($(lines "AgentIndexer: marking entry as deleted") - before_deleted))
echo "change: the rename marked $deleted old records deleted"

# A start on the full database: CPU and wall time until "Vornic ready".
kill -TERM "$vornic_pid"
wait "$vornic_pid" 2>/dev/null || true
# Only the lines logged since are searched: the whole copy is large by now.
log_from=$(($(stat -c %s "$all_log") + 1))
start=$(now_ms)
"$build_dir/vornic" --headless >/dev/null 2>&1 &
vornic_pid=$!
until tail -c +"$log_from" "$all_log" | grep -qF "Vornic ready"; do
  kill -0 "$vornic_pid" 2>/dev/null || { echo "change: vornic ended early" >&2; exit 1; }
  sleep 0.002
done
ready_cpu=$(cpu_ms)
ready_wall=$(($(now_ms) - start))
rows+=("$(printf '| start to "Vornic ready" on %d records: CPU (wall) | %d ms (%d ms) | 250 ms | %s |' \
  "$files" "$ready_cpu" "$ready_wall" "$(ratio "$ready_wall" 250)")")

echo
echo "$files files, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "| figure | measured | baseline or goal | ratio |"
echo "|---|---|---|---|"
printf '%s\n' "${rows[@]}"
