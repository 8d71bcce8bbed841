# Sourced by the scripts and tests that need a Wayland desktop: Weston's
# headless backend (drawing with pixman, so screenshots show the windows),
# a private session bus for the accessibility bus, and a sandbox home.
#
#   wl_session_start <tmpdir>   sets WAYLAND_DISPLAY, QT_QPA_PLATFORM, HOME,
#                               the XDG folders and the session bus
#   wl_session_stop             ends Weston and the bus
#   wl_grab <file.png>          writes the whole output as a PNG

# shellcheck source=scripts/sandbox-home.sh
source "$(dirname "${BASH_SOURCE[0]}")/sandbox-home.sh"

wl_session_pids=()

wl_session_start() {
  local tmp=$1
  sandbox_home "$tmp"
  unset DISPLAY
  dbus-daemon --session --nofork --print-address=3 3>"$tmp/bus" >/dev/null 2>&1 &
  wl_session_pids+=($!)
  # --debug lets weston-screenshooter take pictures.
  weston --backend=headless-backend.so --use-pixman --width=1024 --height=768 \
    --socket=wayland-vornic --idle-time=0 --debug >"$tmp/weston.log" 2>&1 &
  wl_session_pids+=($!)
  for _ in $(seq 200); do
    [ -s "$tmp/bus" ] && [ -S "$XDG_RUNTIME_DIR/wayland-vornic" ] && break
    sleep 0.05
  done
  [ -S "$XDG_RUNTIME_DIR/wayland-vornic" ] ||
    { echo "wayland-session: weston did not start" >&2; cat "$tmp/weston.log" >&2; return 1; }
  DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$tmp/bus")
  export DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY=wayland-vornic QT_QPA_PLATFORM=wayland
  export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
}

wl_session_stop() {
  local pid
  for pid in "${wl_session_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  wl_session_pids=()
}

wl_grab() {
  local dir
  dir=$(mktemp -d)
  (cd "$dir" && weston-screenshooter >/dev/null 2>&1) && mv "$dir"/*.png "$1"
  rm -rf "$dir"
  [ -s "$1" ]
}
