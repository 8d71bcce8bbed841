#!/usr/bin/env bash
# The real program on Wayland (Weston's headless backend) through Qt's own
# Wayland plugin, not XWayland: `vornic --show` maps a window titled
# "Vornic" and each of its three pages shows, found through the
# accessibility bus. Exits 77 (skipped) when weston, Qt's Wayland plugin or
# pyatspi is missing.
set -euo pipefail
vornic=${1:?usage: wayland_test.sh path/to/vornic}
root="$(cd "$(dirname "$0")/../.." && pwd)"
command -v weston >/dev/null || { echo "skipped: weston is not installed"; exit 77; }
command -v dbus-daemon >/dev/null || { echo "skipped: dbus-daemon is not installed"; exit 77; }
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "skipped: no python3-pyatspi"; exit 77; }
ls /usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so >/dev/null 2>&1 ||
  { echo "skipped: qt6-wayland is not installed"; exit 77; }

tmp=$(mktemp -d "${TMPDIR:-/tmp}/vornic-wl-XXXXXX")
vornic_pid=""
# shellcheck source=scripts/wayland-session.sh
source "$root/scripts/wayland-session.sh"
cleanup() {
  [ -n "$vornic_pid" ] && kill "$vornic_pid" 2>/dev/null || true
  wl_session_stop
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  grep -v '^\[' "$tmp/vornic.out" | tail -n 20 >&2 || true
  exit 1
}

wl_session_start "$tmp"
welcome_seen_profile

# The client's side of the protocol shows the title it gives its window.
WAYLAND_DEBUG=client "$vornic" --show >"$tmp/vornic.out" 2>&1 &
vornic_pid=$!
/usr/bin/python3 "$root/scripts/a11y.py" window || fail "no Vornic window on the accessibility bus"
grep -q 'xdg_toplevel@[0-9]*\.set_title("Vornic")' "$tmp/vornic.out" ||
  fail "no Wayland toplevel titled Vornic"
grep -q 'wl_surface@[0-9]*\.attach' "$tmp/vornic.out" || fail "the window drew nothing"
for page in 1 2 0; do
  /usr/bin/python3 "$root/scripts/a11y.py" page "$page" || fail "page $page does not show"
done
kill -TERM "$vornic_pid"
status=0
wait "$vornic_pid" || status=$?
vornic_pid=""
[ "$status" -eq 0 ] || fail "vornic exited with $status"
echo "ok: window titled Vornic on Wayland, three pages shown"
