#!/usr/bin/env bash
# Runs the Win32 host test (tests/wine/host/host_test.cpp) in a Wine prefix
# against the loopback echo servers, plain and TLS, with the test certificate
# authority trusted inside that prefix only.
# Usage: bash scripts/wine-host-test.sh     (KEEP=1 keeps the prefix and the logs)
set -uo pipefail
source "$(dirname "$0")/lib/wine.sh"

wine_begin host
wine_build corvane_host_test
wine_servers
wine_checks host_test 300 "$wine_bin/corvane_host_test.exe" \
  "$port_plain" "$port_tls" "$port_untrusted" "$port_wrongname" "$port_refused" "$port_tls11"
