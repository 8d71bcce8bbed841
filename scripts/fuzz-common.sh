# Shared start of the fuzz scripts; sourced, not run. Checks for clang and
# its fuzzer runtime (installing them when run as root), configures the
# sanitized fuzz build in $build_dir and builds the named targets.
#
#   fuzz_build NAME TARGET...     NAME is the script's name for messages
#
# Sets build_dir (BUILD_DIR, default build-fuzz), exports ASAN_OPTIONS, and
# sets fuzz_runs: libFuzzer's bound on executions when FUZZ_RUNS is set (the
# run ends at that count or at its time, whichever comes first). With
# FUZZ_BUILT=1 the targets are taken as built (fuzz-all builds them once).

build_dir=${BUILD_DIR:-build-fuzz}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
fuzz_runs=()
if [ -n "${FUZZ_RUNS:-}" ]; then fuzz_runs=(-runs="$FUZZ_RUNS"); fi

fuzz_build() {
  local name=$1
  shift
  [ "${FUZZ_BUILT:-}" = 1 ] && return 0
  local missing=()
  command -v clang++ >/dev/null || missing+=(clang)
  dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q "install ok installed" ||
    missing+=(libclang-rt-14-dev)
  if [ "${#missing[@]}" -gt 0 ]; then
    if [ "$(id -u)" -eq 0 ]; then
      DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
    else
      echo "$name: please install: ${missing[*]}" >&2
      exit 2
    fi
  fi
  CC=clang CXX=clang++ cmake -S . -B "$build_dir" -G Ninja -DVORNIC_SANITIZE=ON -DVORNIC_FUZZ=ON -DVORNIC_WERROR=OFF \
    -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
  cmake --build "$build_dir" -j "${JOBS:-2}" --target "$@"
}
