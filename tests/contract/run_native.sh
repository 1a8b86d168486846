#!/usr/bin/env bash
# Runs the native contract driver against corvane_loopback in a throw-away
# folder, with the servers' test authority as the only trusted one.
# Usage: run_native.sh DRIVER LOOPBACK
set -uo pipefail
source "$(dirname "$0")/../../scripts/lib/loopback.sh"
folder=$(mktemp -d)
trap 'kill "$(cat "$folder/pid")" 2>/dev/null; rm -rf "$folder"' EXIT
if ! loopback_start "$folder" "$2" "$folder/pid"; then
  cat "$folder"/*.log >&2
  exit 1
fi
loopback_ports "$folder"
# shellcheck disable=SC2154  # the ports are set by loopback_ports
SSL_CERT_FILE=$folder/ca.pem "$1" "$port_plain" "$port_tls" "$port_untrusted" "$port_wrongname" "$port_refused" "$port_tls11" "$port_expired" \
  "$port_starttls" "$port_starttlswrong"
