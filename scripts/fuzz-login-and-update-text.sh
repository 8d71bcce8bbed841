#!/usr/bin/env bash
# Fuzzes the texts of the browser login and the update checker (Netscape
# cookie lines, profiles.ini, cookie values, the update description) with
# libFuzzer for a bounded time, under AddressSanitizer and
# UndefinedBehaviorSanitizer. Not part of CI.
#
#   scripts/fuzz-login-and-update-text.sh [SECONDS]      default 300
#
# Needs clang and libclang-rt-14-dev (installed here when missing and run as
# root). The corpus grows in $BUILD_DIR/login-fuzz-corpus (kept between
# runs); inputs that fail are written to $BUILD_DIR/login-fuzz-artifacts/
# and make the script exit non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
# shellcheck source=scripts/fuzz-common.sh
source scripts/fuzz-common.sh
fuzz_build fuzz-login-and-update-text login_and_update_text_fuzzer
fuzzer="$build_dir/tests/server/login_and_update_text_fuzzer"

seeds="$build_dir/login-fuzz-seeds"
if [ ! -d "$seeds" ]; then
  mkdir -p "$seeds.tmp"
  printf '# Netscape HTTP Cookie File\n#HttpOnly_.kiv.example\tTRUE\t/\tFALSE\t4000000000\tkiv_token\t4242%%3Atok%%3A1\n.www.kiv.example\tTRUE\t/\tTRUE\t0\tkiv_token\t1:a:b\r\n' \
    >"$seeds.tmp/cookies.txt"
  printf '[Install4F96D1932A9F858E]\r\nDefault=Profiles/a.default-release\r\n\r\n[Profile0]\r\nName=default\r\nIsRelative=1\r\nPath=Profiles\\b.default\r\n' \
    >"$seeds.tmp/profiles.ini"
  printf 'windows1.0.3.200|http://x/w.exe|w\nlinux|1.0.3.106|https://kiv.example/dl/vornic.deb?s=1|Fixes.\n' \
    >"$seeds.tmp/update.txt"
  mv "$seeds.tmp" "$seeds"
fi

mkdir -p "$build_dir/login-fuzz-corpus" "$build_dir/login-fuzz-artifacts"
"$fuzzer" "$build_dir/login-fuzz-corpus" "$seeds" -max_total_time="$seconds" "${fuzz_runs[@]}" -timeout=10 \
  -rss_limit_mb=1024 -max_len=65536 -artifact_prefix="$build_dir/login-fuzz-artifacts/" \
  -print_final_stats=1
