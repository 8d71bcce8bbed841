# shellcheck shell=bash
# Sourced: a home of its own for the program inside a temporary folder, so
# that settings, log, database and the single-instance lock live there and a
# copy the user runs is neither seen nor disturbed.
#
#   sandbox_home TMP        exports HOME and the XDG folders inside TMP and
#                           makes them
#   welcome_seen_profile    writes a settings profile in which the first-run
#                           welcome was seen already (it would only cover the
#                           window)

sandbox_home() {
  export HOME="$1/home" XDG_CONFIG_HOME="$1/config" XDG_DATA_HOME="$1/data"
  export XDG_RUNTIME_DIR="$1/runtime"
  mkdir -p "$HOME" "$XDG_CONFIG_HOME/kiv" "$XDG_DATA_HOME"
  mkdir -m 0700 -p "$XDG_RUNTIME_DIR"
}

welcome_seen_profile() {
  cat >"$XDG_CONFIG_HOME/kiv/registry.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\Software\\KIV\\Windows Client\\Settings]
"Notified"=dword:00000001
REG
  chmod 600 "$XDG_CONFIG_HOME/kiv/registry.reg"
}
