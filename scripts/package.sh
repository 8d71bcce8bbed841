#!/usr/bin/env bash
# Builds the Debian package from the release build in build/ (or BUILD_DIR,
# the tree scripts/build.sh makes): the installed targets only, then cpack.
# Prints the package's path.
#
#   scripts/package.sh [--check]
#
# --check then validates the package: lintian without errors or warnings
# (and no hardening tags), the desktop
# entries and the AppStream file, the file list, and one headless start of
# the program unpacked into a scratch folder (start and stop banners in its
# log). Nothing outside the build folder and a temporary folder is touched.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir=${BUILD_DIR:-$root/build}

cmake -S "$root" -B "$build_dir" -G Ninja -DVORNIC_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
# Only what is installed: the program (with its compressed pages) and the
# identification modules.
cmake --build "$build_dir" -j "${JOBS:-2}" --target vornic CDDBControl CDDBMusicID
(cd "$build_dir" && cpack -G DEB >/dev/null)
deb=$(ls -t "$build_dir"/vornic_*.deb | head -1)
[ "${1:-}" = "--check" ] || { echo "$deb"; exit 0; }

tmp=$(mktemp -d "${TMPDIR:-/tmp}/vornic-package-XXXXXX")
pid=""
cleanup() {
  [ -z "$pid" ] || kill -TERM "$pid" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
  echo "package: $*" >&2
  exit 1
}

echo "package: lintian"
# Every tag down to the pedantic ones is shown; an error or a warning fails
# the check, and so does any sign of missing hardening.
lintian -I --pedantic --fail-on error,warning "$deb" | tee "$tmp/lintian" ||
  fail "lintian found errors or warnings"
# Read-only relocations bound at start and a position-independent program
# everywhere; fortified functions in the program itself (a small module may
# call none that its compiler could not prove safe, which lintian cannot
# tell apart).
if grep -E "hardening-no-(bindnow|relro|pie)" "$tmp/lintian" ||
  grep -E "hardening-no-fortify-functions.*usr/bin/vornic" "$tmp/lintian"; then
  fail "the program lacks hardening"
fi

dpkg-deb -x "$deb" "$tmp/root"
echo "package: desktop entries and AppStream file"
desktop-file-validate "$tmp/root/usr/share/applications/vornic.desktop" \
  "$tmp/root/etc/xdg/autostart/vornic-autostart.desktop" || fail "desktop entry not valid"
appstreamcli validate --no-net "$tmp/root/usr/share/metainfo/org.vornic.Vornic.metainfo.xml" ||
  fail "AppStream file not valid"

echo "package: file list"
expected=(
  etc/xdg/autostart/vornic-autostart.desktop
  usr/bin/vornic
  "usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/vornic/CDDBControl.so"
  "usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/vornic/CDDBMusicID.so"
  usr/lib/systemd/user/vornic.service
  usr/share/applications/vornic.desktop
  usr/share/doc/vornic/changelog.gz
  usr/share/doc/vornic/copyright
  usr/share/icons/hicolor/scalable/apps/vornic.svg
  usr/share/icons/hicolor/48x48/apps/vornic.png
  usr/share/man/man1/vornic.1.gz
  usr/share/metainfo/org.vornic.Vornic.metainfo.xml
)
for f in "${expected[@]}"; do
  [ -f "$tmp/root/$f" ] || fail "the package lacks $f"
done
grep -q "^ExecStart=/usr/bin/vornic --headless$" "$tmp/root/usr/lib/systemd/user/vornic.service" ||
  fail "the user unit does not start /usr/bin/vornic --headless"

echo "package: one headless start of the unpacked program"
export HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/config" XDG_DATA_HOME="$tmp/data"
export XDG_RUNTIME_DIR="$tmp/runtime"
mkdir -p "$HOME" && mkdir -m 0700 "$XDG_RUNTIME_DIR"
log="$XDG_DATA_HOME/kiv/kivclient.log"
"$tmp/root/usr/bin/vornic" --headless >"$tmp/out" 2>&1 &
pid=$!
for _ in $(seq 100); do
  grep -q "Application Startup Completed" "$log" 2>/dev/null && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -TERM "$pid" 2>/dev/null || true
wait "$pid" || fail "the installed program ended with status $?: $(cat "$tmp/out")"
pid=""
grep -q "KIVClient .* Started" "$log" || fail "no start banner in the log"
grep -q "KIVClient .* Stopped" "$log" || fail "no stop banner in the log"
echo "package: $deb is sound"
