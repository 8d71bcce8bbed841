#!/usr/bin/env bash
# Fuzzes every parser of outside input with libFuzzer, each for the same
# time, under AddressSanitizer and UndefinedBehaviorSanitizer, and prints
# the executions each reached. Not part of CI.
#
#   scripts/fuzz-all.sh [SECONDS]      default 7200 per target
#
# FUZZ_RUNS=N ends each target at N executions if that comes first;
# FUZZ_PARALLEL=N runs N targets at a time (default 1).
# The texts of the settings file, /proc, the browser login (cookies.txt,
# profiles.ini, cookie values) and the update description; the browser's
# cookie database; the lookup service's JSON; the XML-RPC answer; the
# iTunes library; media tags; the database file. The targets with a script
# of their own are run through it (it makes their seeds); the others get
# small seeds here. Corpora and artifacts stay in $BUILD_DIR (build-fuzz);
# the script exits non-zero when any target found a failing input.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-7200}
# shellcheck source=scripts/fuzz-common.sh
source scripts/fuzz-common.sh
fuzz_build fuzz-all proc_text_fuzzer lookup_answer_fuzzer xmlrpc_answer_fuzzer cookie_store_fuzzer \
  registry_text_fuzzer login_and_update_text_fuzzer itunes_parser_fuzzer make_itunes_library \
  tag_reader_fuzzer make_test_media db_load_fuzzer
export FUZZ_BUILT=1
logs="$build_dir/fuzz-all-logs"
rm -rf "$logs"
mkdir -p "$logs"
parallel=${FUZZ_PARALLEL:-1}

# Runs "$@" in the background once fewer than $parallel targets run; a
# target that finds a failing input leaves a mark in $logs.
start_target() {
  local name=$1
  shift
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do wait -n || true; done
  echo "fuzz-all: $name"
  ("$@" || touch "$logs/$name.failed") &
}

# One target of its own script: "script name".
run_script() {
  local script=$1 name=$2
  start_target "$name" bash -c '"$0" "$1" >"$2" 2>&1' "scripts/$script" "$seconds" "$logs/$name.log"
}

# One target without a script: "name binary seed-writer".
run_direct() {
  local name=$1 binary=$2 seeder=$3
  local seeds="$build_dir/$name-seeds" corpus="$build_dir/$name-corpus"
  if [ ! -d "$seeds" ]; then
    mkdir -p "$seeds.tmp"
    "$seeder" "$seeds.tmp"
    mv "$seeds.tmp" "$seeds"
  fi
  mkdir -p "$corpus" "$build_dir/$name-artifacts"
  start_target "$name" bash -c '"$@" >"$0" 2>&1' "$logs/$name.log" "$binary" "$corpus" "$seeds" \
    -max_total_time="$seconds" "${fuzz_runs[@]}" -timeout=10 -rss_limit_mb=1024 -max_len=65536 \
    -artifact_prefix="$build_dir/$name-artifacts/" -print_final_stats=1
}

proc_seeds() {
  printf '/usr/bin/mpv\0--no-video\0/music/a.mp3\0' >"$1/cmdline"
  printf 'foobar2000.exe\n' >"$1/comm"
  printf 'pos:\t4096\nflags:\t0100002\nmnt_id:\t29\nino:\t1234\n' >"$1/fdinfo"
  printf '4242' >"$1/pid"
}
lookup_seeds() {
  printf '%s' '{"status":"ok","results":[{"id":"a","score":0.93,"recordings":[{"id":"r","title":"T","artists":[{"name":"A","joinphrase":" feat. "},{"name":"B"}],"releasegroups":[{"id":"g","title":"Al","type":"Album","secondarytypes":["Live"],"artists":[{"name":"A"}]}]}]}]}' >"$1/ok.json"
  printf '%s' '{"status":"error","error":{"code":4,"message":"invalid API key"}}' >"$1/error.json"
}
xmlrpc_seeds() {
  printf '%s' '<?xml version="1.0"?><methodResponse><params><param><value><struct><member><name>result</name><value><int>1</int></value></member><member><name>kiv_id</name><value><string>77</string></value></member></struct></value></param></params></methodResponse>' >"$1/ok.xml"
  printf '%s' '<?xml version="1.0"?><methodResponse><fault><value><struct><member><name>faultCode</name><value><int>4</int></value></member><member><name>faultString</name><value><string>no</string></value></member></struct></value></fault></methodResponse>' >"$1/fault.xml"
}
cookie_store_seeds() {
  python3 - "$1/cookies.sqlite" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
db.execute("CREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, name TEXT, value TEXT, host TEXT,"
           " path TEXT, expiry INTEGER, lastAccessed INTEGER, creationTime INTEGER)")
db.execute("INSERT INTO moz_cookies (name, value, host, path, expiry, creationTime) VALUES"
           " ('kiv_token', '4242%3Atok%3A1', '.kiv.example', '/', 4000000000, 1700000000000000)")
db.commit()
PY
}

run_script fuzz-settings-text.sh settings_text
run_direct proc_text "$build_dir/tests/platform/proc_text_fuzzer" proc_seeds
run_script fuzz-login-and-update-text.sh login_and_update_text
run_direct cookie_store "$build_dir/tests/server/cookie_store_fuzzer" cookie_store_seeds
run_direct lookup_answer "$build_dir/tests/musicid/lookup_answer_fuzzer" lookup_seeds
run_direct xmlrpc_answer "$build_dir/tests/server/xmlrpc_answer_fuzzer" xmlrpc_seeds
run_script fuzz-itunes-parser.sh itunes_parser
run_script fuzz-tag-reader.sh tag_reader
run_script fuzz-db.sh db_load

wait
echo "fuzz-all: executions per target"
for log in "$logs"/*.log; do
  runs=$(grep -o "stat::number_of_executed_units: *[0-9]*" "$log" | grep -o "[0-9]*$" | tail -1 || true)
  printf '  %-24s %s\n' "$(basename "$log" .log)" "${runs:-?}"
done
failed=$(cd "$logs" && ls -- *.failed 2>/dev/null | sed 's/\.failed$//' | tr '\n' ' ' || true)
if [ -n "$failed" ]; then
  echo "fuzz-all: failing inputs found by: $failed(see $logs)" >&2
  exit 1
fi
