#!/usr/bin/env bash
# The real program on a real X display (Xvfb, trayer as the notification
# area): `vornic --show` maps a window titled "Vornic", its tray icon is
# embedded in trayer, a click on the icon opens the menu, and the menu's
# "S&hutdown Vornic" ends the process with the stop banner in the log.
# Exits 77 (skipped) when Xvfb, trayer or xdotool is missing.
set -euo pipefail
vornic=${1:?usage: x_display_test.sh path/to/vornic}
root="$(cd "$(dirname "$0")/../.." && pwd)"
for tool in Xvfb trayer xdotool xwininfo; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done

tmp=$(mktemp -d "${TMPDIR:-/tmp}/vornic-x-XXXXXX")
vornic_pid=""
# shellcheck source=scripts/x-session.sh
source "$root/scripts/x-session.sh"
cleanup() {
  [ -n "$vornic_pid" ] && kill "$vornic_pid" 2>/dev/null || true
  x_session_stop
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  xwininfo -root -tree >&2 || true
  tail -n 20 "$XDG_DATA_HOME/kiv/kivclient.log" >&2 || true
  exit 1
}

x_session_start "$tmp"
welcome_seen_profile

"$vornic" --show >"$tmp/vornic.out" 2>&1 &
vornic_pid=$!

window=$(x_find_window '^Vornic$') || fail "no window titled Vornic"
xwininfo -id "$window" | grep -q "Map State: IsViewable" || fail "the window is not mapped"

# The icon is a window of ours inside trayer's panel.
icon=""
for _ in $(seq 100); do
  icon=$(xwininfo -root -tree | awk '/"panel": \("panel" "trayer"\)/ {p=1} p && /"Vornic"/ {print; exit}')
  [ -n "$icon" ] && break
  sleep 0.05
done
[ -n "$icon" ] || fail "the tray icon is not embedded in trayer"
read -r x y < <(echo "$icon" | sed -E 's/.* ([0-9]+)x([0-9]+)\+-?[0-9]+\+-?[0-9]+ +\+(-?[0-9]+)\+(-?[0-9]+).*/\3 \4 \1 \2/' |
  awk '{print $1 + int($3 / 2), $2 + int($4 / 2)}')

# Top-level windows of ours that are mapped.
mapped() {
  local id n=0
  for id in $(xwininfo -root -children | awk '/"Vornic": \("vornic"/ {print $1}'); do
    xwininfo -id "$id" | grep -q "IsViewable" && n=$((n + 1))
  done
  echo "$n"
}
before=$(mapped)
xdotool mousemove "$x" "$y" click 3
opened=""
for _ in $(seq 100); do
  [ "$(mapped)" -gt "$before" ] && { opened=1; break; }
  sleep 0.05
done
[ -n "$opened" ] || fail "a click on the tray icon opened no menu (at $x,$y)"

# "S&hutdown Vornic" by its mnemonic.
xdotool key h
for _ in $(seq 400); do
  kill -0 "$vornic_pid" 2>/dev/null || break
  sleep 0.05
done
kill -0 "$vornic_pid" 2>/dev/null && fail "vornic still runs after Shutdown"
status=0
wait "$vornic_pid" || status=$?
vornic_pid=""
[ "$status" -eq 0 ] || fail "vornic exited with $status"
tail -n 2 "$XDG_DATA_HOME/kiv/kivclient.log" | grep -q '\*\*\*\*\*\*\*\* KIVClient .* Stopped \*\*\*\*\*\*\*\*' ||
  fail "no stop banner in the log"
echo "ok: window mapped, icon embedded, menu opened, shutdown logged"
