#!/usr/bin/env bash
# Fuzzes the settings file text (parse, write, parse again) with libFuzzer
# for a bounded time, under AddressSanitizer and UndefinedBehaviorSanitizer.
# Not part of CI.
#
#   scripts/fuzz-settings-text.sh [SECONDS]      default 300
#
# Needs clang and libclang-rt-14-dev (installed here when missing and run as
# root). The corpus grows in $BUILD_DIR/settings-fuzz-corpus (kept between
# runs); inputs that fail are written to $BUILD_DIR/settings-fuzz-artifacts/
# and make the script exit non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
# shellcheck source=scripts/fuzz-common.sh
source scripts/fuzz-common.sh
fuzz_build fuzz-settings-text registry_text_fuzzer
fuzzer="$build_dir/tests/platform/registry_text_fuzzer"

# Seeds: a settings file of a configured installation with every value
# form (quoted, dword, wrapped hex of a string the quotes cannot carry,
# binary, the default value), and an old-style header in UTF-16.
seeds="$build_dir/settings-fuzz-seeds"
if [ ! -d "$seeds" ]; then
  mkdir -p "$seeds.tmp"
  cat >"$seeds.tmp/configured" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\KIV\Windows Client\Settings]
"Username"="listener@example.org"
"Password"="a \"quoted\" \\ word"
"LogLevel"=dword:00000005
"LastLogMessage"=hex(1):41,00,67,00,65,00,6e,00,74,00,0d,00,0a,00,00,00,41,00,\
  67,00,65,00,6e,00,74,00,0d,00,0a,00,00,00
@="default"

[HKEY_CURRENT_USER\Software\KIV\Windows Client\SearchPaths]
"path0"="/home/listener/Music"
"enable0"=dword:00000001
"blob"=hex:00,01,02
"empty"=hex(7):
REG
  printf '\xff\xfeR\0E\0G\0E\0D\0I\0T\0\x34\0\n\0[\0H\0]\0\n\0"\0a\0"\0=\0"\0b\0"\0\n\0' \
    >"$seeds.tmp/utf16"
  mv "$seeds.tmp" "$seeds"
fi

mkdir -p "$build_dir/settings-fuzz-corpus" "$build_dir/settings-fuzz-artifacts"
"$fuzzer" "$build_dir/settings-fuzz-corpus" "$seeds" \
  -max_total_time="$seconds" "${fuzz_runs[@]}" -timeout=10 -rss_limit_mb=1024 -max_len=65536 \
  -artifact_prefix="$build_dir/settings-fuzz-artifacts/" -print_final_stats=1
