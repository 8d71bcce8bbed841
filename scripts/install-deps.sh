#!/usr/bin/env bash
# Installs the Debian packages that Vornic needs to build, run and test.
# Safe to run again; works as root or through sudo.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libxmlrpc-c++8-dev libexpat1-dev libtinyxml2-dev libtag1-dev
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev libchromaprint-dev
  qt6-base-dev libcurl4-openssl-dev libsqlite3-dev libsystemd-dev
  xvfb xauth ffmpeg python3 dbus-daemon openssl trayer xdotool x11-utils
  qt6-wayland weston at-spi2-core python3-pyatspi python3-dbus python3-gi
  libgtest-dev libgmock-dev libbenchmark-dev libchromaprint-tools clang-format
  lintian desktop-file-utils appstream locales
  mpv gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  strace python3-mutagen opus-tools speex wavpack musepack-tools systemd libseccomp-dev
  e2fsprogs mount
)

if [ "$(id -u)" -eq 0 ]; then
  as_root=(env DEBIAN_FRONTEND=noninteractive)
else
  as_root=(sudo env DEBIAN_FRONTEND=noninteractive)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ! "${as_root[@]}" apt-get update; then
  # Without fresh lists an already complete installation is still usable.
  if [ "${#missing[@]}" -eq 0 ]; then
    echo "install-deps: apt-get update failed; every package is already installed" >&2
    exit 0
  fi
  echo "install-deps: apt-get update failed" >&2
  exit 1
fi
"${as_root[@]}" apt-get install -y "${packages[@]}"
