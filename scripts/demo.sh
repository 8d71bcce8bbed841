#!/usr/bin/env bash
# The program's main job from end to end, on this machine only: builds the
# program, starts the development KIV server on a free loopback port, writes
# a settings profile in a temporary folder that points ServerUrl at it with a
# demo account, makes a music folder of tagged files, and runs
# `vornic --headless` against it until every track has reached the server.
# Then it prints what the server received and stops both. Nothing outside
# the temporary folder (and the build folder) is touched.
#
#   scripts/demo.sh [--keep]          BUILD_DIR (default build), TRACKS (12)
#
# --keep leaves the temporary folder (the demo's log, database, settings and
# what the server received) in place and prints where it is.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir=${BUILD_DIR:-$root/build}
tracks=${TRACKS:-12}
patience=${PATIENCE:-180}
keep=0
# shellcheck source=scripts/devserver-common.sh
source "$root/scripts/devserver-common.sh"
for arg in "$@"; do
  case "$arg" in
    --keep) keep=1 ;;
    *)
      echo "usage: scripts/demo.sh [--keep]" >&2
      exit 2
      ;;
  esac
done

echo "demo: building the program in $build_dir (the first build takes several minutes)"
if ! BUILD_DIR="$build_dir" "$root/scripts/build.sh" 2>&1 | sed -u 's/^/  build | /'; then
  echo "demo: the build failed (its output is above); nothing was run" >&2
  exit 1
fi
echo "demo: built $build_dir/vornic"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/vornic-demo-XXXXXX")
server_pid=""
vornic_pid=""
cleanup() {
  if [ -n "$vornic_pid" ] && kill -0 "$vornic_pid" 2>/dev/null; then
    kill -TERM "$vornic_pid" 2>/dev/null || true
    wait "$vornic_pid" 2>/dev/null || true
  fi
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
    kill -TERM "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  if [ "$keep" = 1 ]; then
    echo "demo: kept $tmp (log: $tmp/data/kiv/kivclient.log, database: $tmp/data/kiv/kivclient.db)"
  else
    rm -rf "$tmp"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A home of its own: settings, log, database and the single-instance lock
# all live in the temporary folder, so a copy of Vornic that the user runs
# is neither seen nor disturbed.
sandbox_home "$tmp"

# The development server with a demo account, batches of 5 tracks and at
# most one batch per half second.
user="demo@example.org"
client_password="demo-client-password"
devserver_start "$tmp" "$user" demo "$client_password" 5 0.5 --record "$tmp/record"
url=$devserver_url
echo "demo: development server at $url (account $user)"

# The settings profile: where the server is, who the user is (the client
# password the server issued for the demo account), which folder to index.
write_profile "$url" "$user" "$client_password" "$tmp/music"

# Tagged files of four formats by three artists, each above the 128 KiB
# below which the indexer takes a file for no real track (the sizes allow
# for how well each format packs the test tone).
artists=("Harbour Lights" "The Quiet Engines" "Mara Vell")
formats=(mp3 flac ogg m4a)
sizes=(150000 220000 450000 150000)
for ((i = 1; i <= tracks; i++)); do
  artist=${artists[$(((i - 1) % 3))]}
  format=${formats[$(((i - 1) % 4))]}
  file=$(printf "%s/%02d.%s" "$tmp/music" "$i" "$format")
  "$build_dir/tools/make_test_media" --size "${sizes[$(((i - 1) % 4))]}" --title "Song number $i" \
    --artist "$artist" --album "$artist: Collected" --genre Pop --track "$i" "$file"
done
echo "demo: $tracks tagged files in $tmp/music"

echo "demo: starting vornic --headless (it indexes after its usual 10 s start delay)"
"$build_dir/vornic" --headless > >(sed -u 's/^/  vornic | /') 2>&1 &
vornic_pid=$!

report="$root/tools/kiv-devserver-report"
deadline=$((SECONDS + patience))
while :; do
  sent=$(python3 "$report" --tracks "$tmp/record")
  stops=$(python3 "$report" --stops "$tmp/record")
  if [ "$sent" -ge "$tracks" ] && [ "$stops" -ge 1 ]; then break; fi
  if ! kill -0 "$vornic_pid" 2>/dev/null; then
    echo "demo: vornic ended early; its log:" >&2
    cat "$XDG_DATA_HOME/kiv/kivclient.log" >&2
    exit 1
  fi
  if [ "$SECONDS" -ge "$deadline" ]; then
    echo "demo: only $sent of $tracks tracks reached the server in ${patience} s; the log:" >&2
    cat "$XDG_DATA_HOME/kiv/kivclient.log" >&2
    exit 1
  fi
  sleep 0.5
done

kill -TERM "$vornic_pid"
wait "$vornic_pid" || true
vornic_pid=""
echo
python3 "$report" "$tmp/record"
echo
echo "demo: every track reached the server; vornic and the server are stopped."
