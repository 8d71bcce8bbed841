#!/usr/bin/env bash
# Fuzzes the database loader (KivDB::Initialise: load, repair, reload) with
# libFuzzer for a bounded time, under AddressSanitizer and
# UndefinedBehaviorSanitizer. Not part of CI.
#
#   scripts/fuzz-db.sh [SECONDS]      default 300
#
# Needs clang and libclang-rt-14-dev (installed here when missing and run as
# root). The corpus grows in $BUILD_DIR/fuzz-db-corpus (kept between runs);
# inputs that fail are written to $BUILD_DIR/fuzz-db-artifacts/ and make the
# script exit non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
# shellcheck source=scripts/fuzz-common.sh
source scripts/fuzz-common.sh
fuzz_build fuzz-db db_load_fuzzer
fuzzer="$build_dir/tests/db/db_load_fuzzer"

# Seeds: an empty database, a good header with a few records of each kind,
# and a file that is not a database.
seeds="$build_dir/fuzz-db-seeds"
if [ ! -d "$seeds" ]; then
  mkdir -p "$seeds.tmp"
  # Mode byte 0 (structured), header counts 3 valid and 1 empty, then
  # 12-byte chunks: kind, flags (4), kiv id, name (4), time, play count.
  printf '\x00' >"$seeds.tmp/empty"
  printf '\x00\x03\x00\x00\x00\x01\x00\x00\x00%b%b%b%b' \
    '\x00\x05\x00\x00\x00\x07abcd\x01\x02' '\x01\x00\x00\x00\x00\x00abce\x01\x00' \
    '\x02\x04\x00\x00\x00\x00abcf\x03\x01' '\x00\x00\x00\x20\x00\x09abcd\x04\x05' \
    >"$seeds.tmp/mixed"
  printf '\x01KIVDX not a database' >"$seeds.tmp/not-db"
  mv "$seeds.tmp" "$seeds"
fi

mkdir -p "$build_dir/fuzz-db-corpus" "$build_dir/fuzz-db-artifacts"
"$fuzzer" "$build_dir/fuzz-db-corpus" "$seeds" \
  -max_total_time="$seconds" "${fuzz_runs[@]}" -timeout=20 -rss_limit_mb=2048 -max_len=65536 \
  -artifact_prefix="$build_dir/fuzz-db-artifacts/" -print_final_stats=1
