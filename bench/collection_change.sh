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
#   2. The program's first run indexes the tree (the first full pass). The
#      chained transmit job then reports every track to the server: its
#      wall time and rate are shown.
#   3. SETTLE seconds later (default 60) Search All Now makes a full pass
#      over the indexed collection (the second full pass).
#      Both full passes run with the indexer's pauses off (the
#      "MeasureIndexerWithoutPauses" setting, which exists for measurement);
#      then the setting is cleared, and the change steps run with the pauses
#      on, as the program runs for its user.
#   4. SETTLE seconds later a new album of 12 files is copied into one
#      artist's folder: the time from the end of the copy until all 12 are
#      in the database, and the CPU time for it.
#   5. Then one album folder is renamed: the time until its old records are
#      marked deleted and the new ones added, and the CPU time for it.
#   6. The program is stopped and started again on the full database
#      STARTS times (default 5): wall time until it prints "Vornic ready",
#      its CPU time and peak resident memory then.
#
# CPU times: the indexer's own (the agent thread named "Indexer", in
# nanoseconds from /proc/PID/task/*/schedstat, bench/thread_cpu.py), which
# is what the goals compare; and the whole program's (user + system from
# /proc/PID/stat, in 10 ms ticks), with its other agents, its log and
# what the idle program burns meanwhile. A change's whole-program figure
# runs to 30 s after the step, the agents the indexer chains included.
# The machine's load is shown with every step: CPU times hold on a busy
# machine, wall times do not. Everything lives in a temporary folder.
#
#   bench/collection_change.sh        BUILD_DIR (default build), SETTLE (60),
#                                     ARTISTS (100), PATIENCE (1200 s),
#                                     STARTS (5), FIND_RUNS (5), KEEP (set:
#                                     the temporary folder stays, with the
#                                     program's log and database)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir=${BUILD_DIR:-$root/build}
settle=${SETTLE:-60}
artists=${ARTISTS:-100}
patience=${PATIENCE:-1200}
starts=${STARTS:-5}
# shellcheck source=scripts/devserver-common.sh
source "$root/scripts/devserver-common.sh"
[ -x "$build_dir/vornic" ] || { echo "no $build_dir/vornic; build it first" >&2; exit 1; }

tmp=$(mktemp -d "${TMPDIR:-/tmp}/vornic-change-XXXXXX")
server_pid=""
vornic_pid=""
tail_pid=""
poll_pid=""
cleanup() {
  for pid in "$poll_pid" "$vornic_pid" "$server_pid" "$tail_pid"; do
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
      kill -TERM "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
  done
  if [ -n "${KEEP:-}" ]; then echo "change: kept $tmp" >&2; else rm -rf "$tmp"; fi
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
# Tagged as most files of a collection are, track number included (a file
# without one also has its tags read by FFmpeg, which doubles the cost of
# reading them when the tracks are reported).
"$build_dir/tools/make_test_media" --size 140000 --title "Bench title" --artist "Bench artist" \
  --album "Bench album" --track 1 --genre Rock --date 2009 "$track" >/dev/null
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

# The baseline of the full passes: find over the tree, warm, its own CPU,
# the mean of FIND_RUNS runs (CPU time comes in 10 ms ticks).
find_runs=${FIND_RUNS:-5}
find_cpu_ms() {
  # The shell that waits for find: its children's time is find's.
  local tck start end self=$BASHPID
  tck=$(getconf CLK_TCK)
  start=$(awk '{print $16 + $17}' "/proc/$self/stat")
  for _ in $(seq "$find_runs"); do find "$music" -type f -size +127k >/dev/null; done
  end=$(awk '{print $16 + $17}' "/proc/$self/stat")
  awk -v t="$((end - start))" -v tck="$tck" -v n="$find_runs" 'BEGIN {printf "%.0f", t * 1000 / tck / n}'
}
find "$music" -type f >/dev/null
find_cpu=$(find_cpu_ms)
load() { cut -d' ' -f1-3 /proc/loadavg; }
echo "change: find over the tree: CPU $find_cpu ms (load $(load))"

# User + system time of the program in milliseconds (10 ms ticks).
cpu_ms() {
  awk -v tck="$(getconf CLK_TCK)" '{print int(($14 + $15) * 1000 / tck)}' "/proc/$vornic_pid/stat"
}
now_ms() { date +%s%3N; }
# Byte offset of the end of the log copy: the counts below look at the
# lines after such a mark only (the copy grows large on a large collection).
log_mark() { stat -c %s "$all_log" 2>/dev/null || echo 0; }
# How many log lines after byte `mark` contain `text`.
lines() {
  local n
  n=$(tail -c +"$(($1 + 1))" "$all_log" 2>/dev/null | grep -cF -- "$2" || true)
  echo "${n:-0}"
}
# Waits until `count` log lines after byte `mark` contain `text`; fails
# after PATIENCE. The copy is read once as it grows, in whole lines: a range
# that ends inside a line is read again with the rest of that line.
wait_lines() {
  local from=$1 text=$2 count=$3 found=0 end n deadline=$((SECONDS + patience))
  while :; do
    end=$(log_mark)
    if [ "$end" -gt "$from" ]; then
      n=$(tail -c +"$((from + 1))" "$all_log" | head -c "$((end - from))" | grep -cF -- "$text" || true)
      [ $((found + ${n:-0})) -lt "$count" ] || return 0
      if [ -z "$(tail -c +"$end" "$all_log" | head -c 1)" ]; then
        found=$((found + ${n:-0}))
        from=$end
      fi
    fi
    kill -0 "$vornic_pid" 2>/dev/null || { echo "change: vornic ended early" >&2; exit 1; }
    [ "$SECONDS" -lt "$deadline" ] || { echo "change: gave up waiting for '$text'" >&2; exit 1; }
    sleep 0.1
  done
}
# Per-thread CPU of the program over a step (bench/thread_cpu.py): start
# before the step, stop after it; `thread_ms NAME` then reads the step's
# milliseconds of the threads of that name ("all" for the whole process).
poll_start() {
  rm -f "$tmp/threads" "$tmp/threads.started"
  /usr/bin/python3 "$root/bench/thread_cpu.py" "$vornic_pid" "$tmp/threads" "$@" &
  poll_pid=$!
  until [ -e "$tmp/threads.started" ]; do sleep 0.01; done
}
poll_stop() {
  kill -TERM "$poll_pid"
  wait "$poll_pid" || true
  poll_pid=""
}
thread_ms() { awk -v n="$1" '$1 == n {v = $2} END {print (v == "" ? 0 : v)}' "$tmp/threads"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{if (b == 0) print "-"; else printf "%.2f", a/b}'; }
percent() { awk -v a="$1" -v b="$2" 'BEGIN{if (b == 0) print "-"; else printf "%.2f", 100*a/b}'; }
rows=()

# The first run is timed from the program's start (its start-up, some tens
# of milliseconds, included): with the pauses off the run is over before a
# look at the log could tell that it began.
full_start=$(now_ms)
"$build_dir/vornic" --headless >/dev/null 2>&1 &
vornic_pid=$!
poll_start --from-zero
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
# The indexer's own thread ends soon after its last add.
sleep 1
poll_stop
full_indexer=$(thread_ms Indexer)
echo "change: first run added $files records in $((full_wall / 1000)) s;" \
  "CPU $full_cpu ms (the indexer's own $full_indexer ms; load $(load))"
rows+=("$(printf '| first full pass (pauses off): the indexer'"'"'s CPU | %.0f ms | find %d ms | %s x |' \
  "$full_indexer" "$find_cpu" "$(ratio "$full_indexer" "$find_cpu")")")
rows+=("$(printf '| first full pass: the whole program'"'"'s CPU (start-up, log, other agents) | %d ms | find %d ms | %s x |' \
  "$full_cpu" "$find_cpu" "$(ratio "$full_cpu" "$find_cpu")")")

# The chained transmit job reads the tags of every new record once and
# reports them; the folder monitor holds its requests back until it ends.
report_start=$(now_ms)
wait_lines 0 "Prepared to send index stop request" 1
report_wall=$(($(now_ms) - report_start))
report_rate=$((files * 1000 / (report_wall > 0 ? report_wall : 1)))
echo "change: the first transmit job reported the collection $report_wall ms after the" \
  "first run's last record ($report_rate tracks/s; load $(load))"
rows+=("$(printf '| first report of every track to the server (batches of 100, no rate limit): wall | %d ms | %d tracks/s | |' \
  "$report_wall" "$report_rate")")

# The full pass the targeted ones are compared with: Search All Now on the
# collection as it is (every record checked, every folder walked, nothing
# new), from the command to the end of its indexing step. The indexer
# chains the identification job, which says at once that it is not used
# here: that line marks the end of the pass.
sleep "$settle"
pass_end="AgentMusicID: Not using MusicID"
mark=$(log_mark)
pass_start_cpu=$(cpu_ms)
poll_start
"$build_dir/vornic" --rescan >/dev/null
wait_lines "$mark" "$pass_end" 1
pass_cpu=$(($(cpu_ms) - pass_start_cpu))
poll_stop
pass_indexer=$(thread_ms Indexer)
echo "change: a full pass over the indexed collection (Search All Now): CPU $pass_cpu ms" \
  "(the indexer's own $pass_indexer ms; load $(load))"
rows+=("$(printf '| second full pass, Search All Now (pauses off): the indexer'"'"'s CPU | %.0f ms | find %d ms | %s x |' \
  "$pass_indexer" "$find_cpu" "$(ratio "$pass_indexer" "$find_cpu")")")
rows+=("$(printf '| second full pass: the whole program'"'"'s CPU | %d ms | find %d ms | %s x |' \
  "$pass_cpu" "$find_cpu" "$(ratio "$pass_cpu" "$find_cpu")")")
# The change steps run as the program runs for its user.
set_dword MeasureIndexerWithoutPauses 0

# What the idle program costs (play monitor, connection monitor, folder
# monitor): its CPU over the last 20 s of the wait, so that each step's
# own share can be told from the background.
sleep $((settle > 20 ? settle - 20 : 0))
idle_start=$(cpu_ms)
poll_start
sleep 20
poll_stop
idle_cpu=$(($(cpu_ms) - idle_start))
idle_threads=$(awk '$1 != "all" {printf "%s%s %s ms", sep, $1, $2; sep = ", "}' "$tmp/threads")
echo "change: the idle program: CPU $idle_cpu ms over 20 s ($idle_threads; load $(load))"
rows+=("$(printf '| idle program: CPU over 20 s | %d ms | | |' "$idle_cpu")")

# One step: runs the command after the first three arguments, then waits
# for `done_count` more log lines with `done_text`; then 30 s more for the
# agents the indexer chains.
measure() {
  local name=$1 done_text=$2 done_count=$3
  local before_cpu mark start elapsed cpu
  mark=$(log_mark)
  before_cpu=$(cpu_ms)
  poll_start
  shift 3
  "$@"
  start=$(now_ms)
  wait_lines "$mark" "$done_text" "$done_count"
  elapsed=$(($(now_ms) - start))
  cpu=$(($(cpu_ms) - before_cpu))
  sleep 30
  poll_stop
  local cpu_30=$(($(cpu_ms) - before_cpu))
  local indexer runs
  indexer=$(thread_ms Indexer)
  # Each indexer job runs on a thread of its own, so the threads named
  # Indexer in the window are the runs of the change (and the folder
  # probes they start, which take the name with them); a second run in
  # the window would be counted too, so the runs are counted and shown.
  runs=$(lines "$mark" "AgentIndexer: looking at")
  local by_thread
  by_thread=$(awk '$1 != "all" {printf "%s%s %s ms", sep, $1, $2; sep = ", "}' "$tmp/threads")
  echo "change: $name: in the database $elapsed ms after the change;" \
    "the indexer's CPU $indexer ms in $runs runs ($(percent "$indexer" "$pass_indexer") % of its full pass);" \
    "the whole program's CPU $cpu ms until then, $cpu_30 ms with 30 s more" \
    "($by_thread; the idle program burns $((idle_cpu * 3 / 2)) ms in 30 s; load $(load))"
  rows+=("$(printf '| %s: in the database after | %d ms | 15 s | %s |' "$name" "$elapsed" \
    "$(ratio "$elapsed" 15000)")")
  rows+=("$(printf '| %s: the indexer'"'"'s CPU | %.1f ms | under 1 %% of its second full pass (%.0f ms) | %s %% |' \
    "$name" "$indexer" "$pass_indexer" "$(percent "$indexer" "$pass_indexer")")")
  rows+=("$(printf '| %s: the whole program'"'"'s CPU, chained agents and 30 s of idle included | %d ms | its second full pass %d ms | %s %% |' \
    "$name" "$cpu_30" "$pass_cpu" "$(percent "$cpu_30" "$pass_cpu")")")
}

copy_album() {
  mkdir -p "$tmp/incoming/New Album"
  for t in $(seq 12); do cp "$track" "$tmp/incoming/New Album/$t New track.mp3"; done
  cp -r "$tmp/incoming/New Album" "$music/Artist $copy_artist/"
}
measure "new album of 12 files" "AgentIndexer: added new file to db" 12 copy_album

rename_album() {
  mv "$music/Artist $rename_artist/Album 5" "$music/Artist $rename_artist/Album 5 (Remastered)"
}
mark=$(log_mark)
measure "rename of one album folder" "AgentIndexer: added new file to db" 10 rename_album
echo "change: the rename marked $(lines "$mark" "AgentIndexer: marking entry as deleted")" \
  "old records deleted"

# Starts on the full database: the wall time until the program prints
# "Vornic ready" (read from its output through a pipe, no polling), its
# CPU time (nanoseconds, all its threads) and its peak resident memory then.
kill -TERM "$vornic_pid"
wait "$vornic_pid" 2>/dev/null || true
ready_pipe="$tmp/ready"
mkfifo "$ready_pipe"
start_rows=()
for _ in $(seq "$starts"); do
  sleep 2
  start=$(date +%s%N)
  "$build_dir/vornic" --headless >"$ready_pipe" 2>/dev/null &
  vornic_pid=$!
  exec 3<"$ready_pipe"
  found=""
  while IFS= read -r -t "$patience" line <&3; do
    if [[ $line == *"Vornic ready"* ]]; then
      found=1
      break
    fi
  done
  end=$(date +%s%N)
  [ -n "$found" ] || { echo "change: no \"Vornic ready\" from the program" >&2; exit 1; }
  ready_cpu=$(cat /proc/"$vornic_pid"/task/*/schedstat | awk '{ns += $1} END {printf "%.0f", ns / 1e6}')
  ready_peak=$(awk '/^VmHWM/ {printf "%.0f", $2 / 1024}' "/proc/$vornic_pid/status")
  ready_wall=$(((end - start) / 1000000))
  echo "change: start to \"Vornic ready\": wall $ready_wall ms, CPU $ready_cpu ms," \
    "peak memory $ready_peak MB (load $(load))"
  start_rows+=("$ready_wall $ready_cpu $ready_peak")
  kill -TERM "$vornic_pid"
  wait "$vornic_pid" 2>/dev/null || true
  exec 3<&-
done
# The median start of the runs, by wall time.
median=$(printf '%s\n' "${start_rows[@]}" | sort -n | awk '{a[NR] = $0} END {print a[int((NR + 1) / 2)]}')
read -r ready_wall ready_cpu ready_peak <<<"$median"
fastest=$(printf '%s\n' "${start_rows[@]}" | sort -n | head -1 | cut -d' ' -f1)
rows+=("$(printf '| start to "Vornic ready" on %d records: wall, median of %d (fastest) | %d ms (%d ms) | 250 ms | %s |' \
  "$files" "$starts" "$ready_wall" "$fastest" "$(ratio "$ready_wall" 250)")")
rows+=("$(printf '| start to "Vornic ready": CPU (peak resident memory) | %d ms (%d MB) | 250 ms | %s |' \
  "$ready_cpu" "$ready_peak" "$(ratio "$ready_cpu" 250)")")

echo
echo "$files files on $(nproc) processors, load average now $(load)" \
  "(wall times hold only on a quiet machine)"
echo "| figure | measured | baseline or goal | ratio |"
echo "|---|---|---|---|"
printf '%s\n' "${rows[@]}"
