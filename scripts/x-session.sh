# Sourced by the scripts and tests that need a real X display: an Xvfb
# screen with Debian's trayer as the notification area, and a sandbox home
# so that nothing of the user's own settings is read or written.
#
#   x_session_start <tmpdir>   sets DISPLAY, HOME and the XDG folders
#   x_session_stop             ends trayer and Xvfb
#   x_find_window <name-regex> prints the first visible window's id (waits)
#   x_grab <file.png>          writes the whole screen as a PNG

# shellcheck source=scripts/sandbox-home.sh
source "$(dirname "${BASH_SOURCE[0]}")/sandbox-home.sh"

x_session_pids=()

x_session_start() {
  local tmp=$1
  sandbox_home "$tmp"
  unset WAYLAND_DISPLAY QT_QPA_PLATFORM
  : >"$tmp/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" >"$tmp/xvfb.log" 2>&1 &
  x_session_pids+=($!)
  for _ in $(seq 100); do
    [ -s "$tmp/display" ] && break
    sleep 0.05
  done
  [ -s "$tmp/display" ] || { echo "x-session: Xvfb did not start" >&2; cat "$tmp/xvfb.log" >&2; return 1; }
  export DISPLAY=":$(tr -d '\n' <"$tmp/display")"
  trayer --edge top --align right --widthtype request --height 28 --transparent false \
    --tint 0x303030 --SetDockType true --expand true >"$tmp/trayer.log" 2>&1 &
  x_session_pids+=($!)
  # trayer owns the tray selection once its window exists.
  for _ in $(seq 100); do
    xdotool search --classname trayer >/dev/null 2>&1 && return 0
    sleep 0.05
  done
  echo "x-session: trayer did not start" >&2
  return 1
}

x_session_stop() {
  local pid
  for pid in "${x_session_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  x_session_pids=()
}

x_find_window() {
  local id
  for _ in $(seq 600); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.05
  done
  return 1
}

# Runs the command after the name until a window of that name shows, up to
# three times: a key sent while the display is busy can get lost.
x_open_window() {
  local name=$1 id
  shift
  for _ in 1 2 3; do
    "$@"
    for _ in $(seq 100); do
      id=$(xdotool search --onlyvisible --name "$name" 2>/dev/null | head -n 1)
      [ -n "$id" ] && { echo "$id"; return 0; }
      sleep 0.05
    done
  done
  return 1
}

x_grab() {
  ffmpeg -loglevel error -y -f x11grab -video_size 1024x768 -i "$DISPLAY" -frames:v 1 "$1"
}
