#!/usr/bin/env bash
# Runs the host contract (tests/contract, its Win32 driver) in a Wine prefix
# against the loopback servers, plain and TLS, with the test certificate
# authority trusted inside that prefix only.
# Usage: bash scripts/wine-host-test.sh     (KEEP=1 keeps the prefix and the logs)
set -uo pipefail
source "$(dirname "$0")/lib/wine.sh"

wine_begin host
wine_build corvane_contract
wine_servers
wine_checks contract 300 "$wine_bin/corvane_contract.exe" "$port_plain" "$port_tls" "$port_untrusted" \
  "$port_wrongname" "$port_refused" "$port_tls11" "$port_expired" \
  "$port_starttls" "$port_starttlswrong"
