#!/usr/bin/env bash
# Fuzzes the media tag reader (ReadTags and DecodeToSink) with libFuzzer for a
# bounded time, under AddressSanitizer and UndefinedBehaviorSanitizer. Not
# part of CI.
#
#   scripts/fuzz-tag-reader.sh [SECONDS]      default 600
#
# Needs clang and libclang-rt-14-dev (installed here when missing and run as
# root), and the ffmpeg program, python3-mutagen and the encoders of
# scripts/install-deps.sh for the seed files. The corpus grows in
# $BUILD_DIR/fuzz-corpus (kept between runs); inputs that fail are written to
# $BUILD_DIR/fuzz-artifacts/ and make the script exit non-zero. The per-input
# limit is generous: TagLib and FFmpeg are not instrumented, and some of
# their loops over hostile ASF headers (65535 attributes in a few hundred
# bytes) take tens of seconds under the sanitizers for what costs a fraction
# of a second natively.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
# shellcheck source=scripts/fuzz-common.sh
source scripts/fuzz-common.sh
fuzz_build fuzz-tag-reader tag_reader_fuzzer make_test_media
fuzzer="$build_dir/tests/media/tag_reader_fuzzer"

# Seeds: a short tagged file of every format the test-media tool writes,
# prefixed with the byte that makes the fuzzer name it with its extension.
seeds="$build_dir/fuzz-seeds"
if [ ! -d "$seeds" ]; then
  mkdir -p "$seeds.tmp"
  index=0
  TAG_READER_FUZZ_LIST=1 "$fuzzer" | while read -r extension; do
    if "$build_dir/tools/make_test_media" --list | grep -qx "$extension"; then
      "$build_dir/tools/make_test_media" --seconds 0.3 --title "Seed title" --artist "Ärtist" \
        --album Album --date 2001 --track 1/2 --comment Comment --gnid GN-1 \
        "$seeds.tmp/seed.$extension"
      { printf "\\$(printf %03o "$index")"; cat "$seeds.tmp/seed.$extension"; } \
        >"$seeds.tmp/$extension"
      rm "$seeds.tmp/seed.$extension"
    fi
    index=$((index + 1))
  done
  mv "$seeds.tmp" "$seeds"
fi

# More seeds: the whole files of encoders and taggers (tools/tagger-corpus),
# each prefixed with the byte of its extension.
tagger_seeds="$build_dir/fuzz-seeds-taggers"
if [ ! -d "$tagger_seeds" ]; then
  mkdir -p "$tagger_seeds.tmp"
  extensions=$(TAG_READER_FUZZ_LIST=1 "$fuzzer")
  /usr/bin/python3 tools/tagger-corpus "$tagger_seeds.tmp/files" |
    while IFS=$'\t' read -r kind path; do
      [ "$kind" = whole ] || continue
      index=$(grep -nx "${path##*.}" <<<"$extensions" | cut -d: -f1)
      [ -n "$index" ] || continue
      { printf "\\$(printf %03o $((index - 1)))"; cat "$path"; } \
        >"$tagger_seeds.tmp/$(basename "$path")"
    done
  rm -r "$tagger_seeds.tmp/files"
  mv "$tagger_seeds.tmp" "$tagger_seeds"
fi

mkdir -p "$build_dir/fuzz-corpus" "$build_dir/fuzz-artifacts"
"$fuzzer" "$build_dir/fuzz-corpus" "$seeds" "$tagger_seeds" \
  -max_total_time="$seconds" "${fuzz_runs[@]}" -timeout=60 -rss_limit_mb=3072 -max_len=400000 \
  -artifact_prefix="$build_dir/fuzz-artifacts/" -print_final_stats=1
