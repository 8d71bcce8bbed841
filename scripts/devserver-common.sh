# shellcheck shell=bash disable=SC2034,SC2154
# Shared start of the scripts that run the real program against the
# development KIV server; sourced, not run.
#
#   sandbox_home TMP     a home of its own in TMP (scripts/sandbox-home.sh)
#   devserver_start TMP USER PASSWORD CLIENT_PASSWORD BATCH_SIZE RATE_LIMIT [ARG...]
#                        starts tools/kiv-devserver on a free loopback port
#                        with that one account (extra ARGs go to the server,
#                        its output to TMP/server.log) and waits for its port;
#                        sets server_pid and devserver_url
#   write_profile URL USER CLIENT_PASSWORD FOLDER
#                        writes the settings profile that signs USER in at
#                        URL and indexes FOLDER, and makes FOLDER
#
# Needs root (the repository) set; runs the server with $python (default
# python3).

# shellcheck source=scripts/sandbox-home.sh
source "$(dirname "${BASH_SOURCE[0]}")/sandbox-home.sh"

devserver_start() {
  local tmp=$1 user=$2 password=$3 client_password=$4 batch_size=$5 rate_limit=$6
  shift 6
  cat >"$tmp/server.json" <<EOF
{"accounts": [{"username": "$user", "password": "$password",
               "client_password": "$client_password"}],
 "batch_size": $batch_size, "rate_limit": $rate_limit}
EOF
  "${python:-python3}" "$root/tools/kiv-devserver" --port 0 --port-file "$tmp/port" \
    --config "$tmp/server.json" "$@" >"$tmp/server.log" 2>&1 &
  server_pid=$!
  for _ in $(seq 200); do
    [ -s "$tmp/port" ] && break
    kill -0 "$server_pid" 2>/dev/null || { cat "$tmp/server.log" >&2; exit 1; }
    sleep 0.05
  done
  devserver_url="http://127.0.0.1:$(cat "$tmp/port")/kiv_backend/api"
}

write_profile() {
  mkdir -p "$4"
  cat >"$XDG_CONFIG_HOME/kiv/registry.reg" <<EOF
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\Software\\KIV\\Windows Client\\Settings]
"ServerUrl"="$1"
"Username"="$2"
"Password"="$3"

[HKEY_CURRENT_USER\\Software\\KIV\\Windows Client\\SearchPaths]
"path0"="$4"
"enable0"=dword:00000001
EOF
  chmod 600 "$XDG_CONFIG_HOME/kiv/registry.reg"
}
