#!/usr/bin/env bash
# Screenshots of the user interface on a real X display: starts
# `vornic /show` under Xvfb with Debian's trayer as the notification area,
# over a small music folder, and writes PNGs of each page, the About box,
# the tray menu and the database tester into OUT (default: screenshots/).
# Then the same program on Wayland (Weston's headless backend, Qt's Wayland
# plugin): each page again, as wayland-1-login-info.png and so on, the
# pages chosen through the accessibility bus.
#
#   scripts/screenshots.sh [OUT]     (BUILD_DIR picks the build, default build-dev)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build_dir=${BUILD_DIR:-$root/build-dev}
out=$(realpath -m "${1:-$root/screenshots}")
vornic=$build_dir/vornic
[ -x "$vornic" ] || vornic=$build_dir/shell/vornic
[ -x "$vornic" ] || { echo "screenshots: build $vornic first" >&2; exit 1; }
mkdir -p "$out"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/vornic-shots-XXXXXX")
vornic_pid=""
# shellcheck source=scripts/x-session.sh
source "$root/scripts/x-session.sh"
cleanup() {
  if [ -n "$vornic_pid" ] && kill -0 "$vornic_pid" 2>/dev/null; then
    kill -TERM "$vornic_pid" 2>/dev/null || true
    wait "$vornic_pid" 2>/dev/null || true
  fi
  x_session_stop
  rm -rf "$tmp"
}
trap cleanup EXIT
x_session_start "$tmp"

# A few files for the indexer, and credentials so that it runs.
mkdir -p "$tmp/music/Harbour Lights"
for i in $(seq 1 24); do
  truncate -s 200K "$(printf '%s/music/Harbour Lights/%02d Song number %d.mp3' "$tmp" "$i" "$i")"
done
cat >"$XDG_CONFIG_HOME/kiv/registry.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\Software\\KIV\\Windows Client\\Settings]
"Username"="ann@example.org"
"Password"="secret"
"Notified"=dword:00000001

[HKEY_CURRENT_USER\\Software\\KIV\\Windows Client\\SearchPaths]
"path0"="$tmp/music"
"enable0"=dword:00000001
REG
chmod 600 "$XDG_CONFIG_HOME/kiv/registry.reg"

"$vornic" /show >"$tmp/vornic.out" 2>&1 &
vornic_pid=$!
window=$(x_find_window '^Vornic$') || {
  echo "screenshots: no window" >&2
  cat "$tmp/vornic.out" >&2
  exit 1
}
xdotool windowfocus --sync "$window" 2>/dev/null || true

# Keys go to the focused window as real input (XTEST).
keys() {
  xdotool windowfocus --sync "$window" 2>/dev/null || true
  xdotool key "$@"
}

shot() {
  sleep 0.6
  x_grab "$out/$1.png"
  echo "screenshots: $out/$1.png"
}

shot 1-login-info
keys ctrl+Tab
shot 2-music-folders
# The indexer starts 10 s after start-up; give it time to fill the page.
sleep 12
keys ctrl+Tab
shot 3-activity-monitor

# The tray icon sits in trayer's panel at the top right.
icon=$(xwininfo -root -tree | awk '/"panel": \("panel" "trayer"\)/ {p=1} p && /"Vornic"/ {print; exit}')
read -r x y < <(echo "$icon" | sed -E 's/.* ([0-9]+)x([0-9]+)\+-?[0-9]+\+-?[0-9]+ +\+(-?[0-9]+)\+(-?[0-9]+).*/\3 \4 \1 \2/' |
  awk '{print $1 + int($3 / 2), $2 + int($4 / 2)}')
xdotool mousemove "$x" "$y" click 3
shot 4-tray-menu
# "&About Vornic" by its mnemonic.
about_from_menu() {
  xdotool search --onlyvisible --name '^Vornic$' >/dev/null
  xdotool key a
  sleep 0.5
  xdotool search --onlyvisible --name '^About Vornic$' >/dev/null 2>&1 ||
    { xdotool key Escape; xdotool mousemove "$x" "$y" click 3; sleep 0.5; xdotool key a; }
}
x_open_window '^About Vornic$' about_from_menu >/dev/null
shot 5-about
xdotool key Return
sleep 0.3

# A click into the window makes it the one that gets the keys.
open_tester() {
  xdotool mousemove 300 300 click 1
  keys ctrl+shift+d
}
tester=$(x_open_window '^Vornic Tester$' open_tester)
sleep 1
shot 6-tester
# Into "Harbour Lights" and onto its first file, to show a record.
xdotool windowfocus --sync "$tester" 2>/dev/null || true
xdotool key Down Right
sleep 0.8
xdotool key Down
shot 7-tester-record
xdotool key Escape
sleep 0.3
xdotool mousemove "$x" "$y" click 3
sleep 0.3
xdotool key h
wait "$vornic_pid" || true
vornic_pid=""
x_session_stop

# The same window on Wayland, in a sandbox of its own.
# shellcheck source=scripts/wayland-session.sh
source "$root/scripts/wayland-session.sh"
rm -rf "$tmp"
mkdir -p "$tmp"
trap 'kill "$vornic_pid" 2>/dev/null || true; wl_session_stop; rm -rf "$tmp"' EXIT
wl_session_start "$tmp"
welcome_seen_profile
"$vornic" --show >"$tmp/vornic.out" 2>&1 &
vornic_pid=$!
/usr/bin/python3 "$root/scripts/a11y.py" window
page=0
for name in login-info music-folders activity-monitor; do
  /usr/bin/python3 "$root/scripts/a11y.py" page "$page"
  sleep 0.6
  wl_grab "$out/wayland-$((page + 1))-$name.png"
  echo "screenshots: $out/wayland-$((page + 1))-$name.png"
  page=$((page + 1))
done
kill -TERM "$vornic_pid"
wait "$vornic_pid" || true
vornic_pid=""
