#!/usr/bin/env bash
# The kill campaign: the real program (`vornic --headless`) against the
# development KIV server on loopback, with a music folder of tagged files and
# a stand-in player ("mpv") playing one of them, killed with SIGKILL N times
# at random moments of its work: indexing, counting the play, reporting the
# tracks and the plays, and the settings saves that go with them. Then one
# last run is left to finish, and the server's record is compared with what
# the runs announced:
#   lost    tracks never described to the server, plus plays announced
#           ("Now Playing" in the log) that never reached it;
#   resent  track descriptions beyond the first per track, plus plays that
#           reached the server more often than they were announced.
# A "Now Playing" right after "Play already counted for" is the same play
# seen again by a restarted program, not a new one. A track carries one
# mark for a play waiting to be sent, and PlayedWide
# reports one play: a play of a track announced while its previous play
# still waits (no "Sent Playing" between them in the log) is reported with
# it. Such plays are counted apart as "folded", neither lost nor resent.
#
#   scripts/kill-campaign.sh N       BUILD_DIR (default build-test), TRACKS (8),
#                                    PATIENCE (240 s for the last run), KEEP
#
# The last line printed is "N kills: L lost, R resent". Nothing outside a
# temporary folder and the build folder is touched.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
kills=${1:?usage: scripts/kill-campaign.sh N}
build_dir=${BUILD_DIR:-$root/build-test}
tracks=${TRACKS:-8}
python=/usr/bin/python3
# shellcheck source=scripts/devserver-common.sh
source "$root/scripts/devserver-common.sh"

if [ ! -f "$build_dir/build.ninja" ]; then
  cmake -S "$root" -B "$build_dir" -G Ninja -DVORNIC_SANITIZE=ON -DVORNIC_TESTS=ON >/dev/null
fi
ninja -C "$build_dir" vornic make_test_media playmon_test_player >/dev/null

tmp=$(mktemp -d "${TMPDIR:-/tmp}/vornic-kills-XXXXXX")
server_pid="" vornic_pid="" player_pid=""
cleanup() {
  for pid in "$vornic_pid" "$player_pid" "$server_pid"; do
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
      kill -KILL "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
  done
  if [ -n "${KEEP:-}" ]; then echo "kept $tmp"; else rm -rf "$tmp"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

sandbox_home "$tmp"
mkdir -p "$tmp/bin" "$tmp/out"

user="demo@example.org"
client_password="demo-client-password"
devserver_start "$tmp" "$user" demo "$client_password" 2 0.2 --record "$tmp/record"
write_profile "$devserver_url" "$user" "$client_password" "$tmp/music"
for ((i = 1; i <= tracks; i++)); do
  "$build_dir/tools/make_test_media" --size 150000 --title "Kill Song $i" --artist "Campaign" \
    --album "Kills" --track "$i" "$(printf "%s/%02d.mp3" "$tmp/music" "$i")" >/dev/null
done
cp "$build_dir/tests/playmon/playmon_test_player" "$tmp/bin/mpv"

# Plays a song of the folder, another one after every few kills.
play() {
  if [ -n "$player_pid" ]; then
    kill -KILL "$player_pid" 2>/dev/null || true
    wait "$player_pid" 2>/dev/null || true
  fi
  "$tmp/bin/mpv" 512 100 "r:$(printf "%s/%02d.mp3" "$tmp/music" "$1")" >/dev/null &
  player_pid=$!
}

run() {
  "$build_dir/vornic" --headless >"$tmp/out/$1.out" 2>&1 &
  vornic_pid=$!
}

# The program indexes 10 s after it starts and looks for plays every 5 s
# from then on, counting one once the file was open at three looks (about
# 25 s after the start): the kills fall between 8 and 40 s (KILL_FROM,
# KILL_SPAN), over every kind of work.
kill_from=${KILL_FROM:-8}
kill_span=${KILL_SPAN:-32}
for ((k = 1; k <= kills; k++)); do
  if (((k - 1) % 3 == 0)); then play $((((k - 1) / 3) % tracks + 1)); fi
  run "$k"
  sleep "$(awk -v s="$RANDOM" -v a="$kill_from" -v b="$kill_span" \
    'BEGIN { srand(s); printf "%.2f", a + rand() * b }')"
  kill -KILL "$vornic_pid" 2>/dev/null || true
  wait "$vornic_pid" 2>/dev/null || true
  vornic_pid=""
  echo "kill $k: $(grep -c "Now Playing: " "$XDG_DATA_HOME/kiv/kivclient.log" || true) plays announced so far"
done
kill -KILL "$player_pid" 2>/dev/null || true
wait "$player_pid" 2>/dev/null || true
player_pid=""

# The last run finishes: every track and every play on disk reaches the
# server (or the patience runs out and the count says what was lost).
run final
summary() {
  ROOT="$root" "$python" - "$tmp" "$tracks" "$kills" "$1" <<'EOF'
import glob, importlib.machinery, os, sys
tmp, tracks, kills, final = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4] == "1"
report = importlib.machinery.SourceFileLoader(
    "report", os.path.join(os.environ["ROOT"], "tools", "kiv-devserver-report")).load_module()
calls = [c for c in report.calls(os.path.join(tmp, "record")) if c["answer"] is not None]
described, titles = {}, {}
for c in calls:
    if c["method"] == "IndexBatch":
        for tags, kiv_id in report.described(c):
            title = tags.get("title", "")
            described[title] = described.get(title, 0) + 1
            titles[str(kiv_id)] = title
received = {}
for c in calls:
    if c["method"] == "PlayedWide" and len(c["params"]) > 1:
        title = titles.get(str(c["params"][1]), "?")
        received[title] = received.get(title, 0) + 1
# The log, not the program's output: a killed program's buffered output
# is lost, its log lines are written at once.
# Oldest log first (a full log is renamed aside when it grows too big).
announced, folded, waiting, seen_again = {}, {}, set(), set()
logs = sorted(glob.glob(os.path.join(tmp, "data", "kiv", "kivclient.log*")), key=os.path.getmtime)
for log in logs:
    for line in open(log, errors="replace"):
        for marker in ("Now Playing: ", "Sent Playing: ", "Play already counted for: "):
            if marker in line:
                name = os.path.basename(line.split(marker)[1].strip())
                title = "Kill Song %d" % int(name.split(".")[0])
                if marker == "Play already counted for: ":
                    seen_again.add(title)
                elif marker == "Sent Playing: ":
                    waiting.discard(title)
                elif title in seen_again:
                    seen_again.discard(title)
                elif title in waiting:
                    folded[title] = folded.get(title, 0) + 1
                else:
                    announced[title] = announced.get(title, 0) + 1
                    waiting.add(title)
lost = sum(1 for i in range(1, tracks + 1) if described.get("Kill Song %d" % i, 0) == 0)
lost += sum(max(0, n - received.get(t, 0)) for t, n in announced.items())
resent = sum(n - 1 for n in described.values() if n > 1)
resent += sum(max(0, n - announced.get(t, 0)) for t, n in received.items())
if final:
    print("plays announced %d (%d of them folded into a play still waiting), received %d; "
          "track descriptions %d for %d tracks" % (
              sum(announced.values()) + sum(folded.values()), sum(folded.values()),
              sum(received.values()), sum(described.values()), tracks))
    print("%d kills: %d lost, %d resent" % (kills, lost, resent))
else:
    print(lost)
EOF
}
deadline=$((SECONDS + ${PATIENCE:-240}))
while [ "$SECONDS" -lt "$deadline" ] && [ "$(summary 0)" != 0 ]; do sleep 2; done
sleep 3
kill -TERM "$vornic_pid" 2>/dev/null || true
wait "$vornic_pid" 2>/dev/null || true
vornic_pid=""
summary 1
