#!/usr/bin/env bash
# Fuzzes the iTunes library reader (the streaming Expat reader, the
# well-formedness check and the import's walk with its property table) with
# libFuzzer for a bounded time, under AddressSanitizer and
# UndefinedBehaviorSanitizer. Not part of CI.
#
#   scripts/fuzz-itunes-parser.sh [SECONDS]      default 600
#
# Needs clang and libclang-rt-14-dev (installed here when missing and run as
# root). Seeds are the library fixtures of tests/data/itunes and a generated
# library. The corpus grows in $BUILD_DIR/itunes-fuzz-corpus (kept between
# runs); inputs that fail are written to $BUILD_DIR/itunes-fuzz-artifacts/
# and make the script exit non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
# shellcheck source=scripts/fuzz-common.sh
source scripts/fuzz-common.sh
fuzz_build fuzz-itunes-parser itunes_parser_fuzzer make_itunes_library
fuzzer="$build_dir/tests/scan/itunes_parser_fuzzer"

# Seeds: the fixtures and a small generated library. The fuzzer reads the
# first byte as its split size, so each seed gets one in front.
seeds="$build_dir/itunes-fuzz-seeds"
if [ ! -d "$seeds" ]; then
  rm -rf "$seeds.tmp"
  mkdir -p "$seeds.tmp/music"
  "$build_dir/tools/make_itunes_library" --root "$seeds.tmp/music" --tracks 12 \
    --out "$seeds.tmp/generated.xml" >/dev/null
  rm -rf "$seeds.tmp/music"
  index=0
  for file in tests/data/itunes/*.xml "$seeds.tmp/generated.xml"; do
    { printf "\\$(printf %03o $((index * 37 % 256)))"; cat "$file"; } \
      >"$seeds.tmp/seed-$index"
    index=$((index + 1))
  done
  rm "$seeds.tmp/generated.xml"
  mv "$seeds.tmp" "$seeds"
fi

mkdir -p "$build_dir/itunes-fuzz-corpus" "$build_dir/itunes-fuzz-artifacts"
"$fuzzer" "$build_dir/itunes-fuzz-corpus" "$seeds" -dict=scripts/itunes-fuzz.dict \
  -max_total_time="$seconds" "${fuzz_runs[@]}" -timeout=10 -rss_limit_mb=1024 -max_len=200000 \
  -artifact_prefix="$build_dir/itunes-fuzz-artifacts/" -print_final_stats=1
