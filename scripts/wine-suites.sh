#!/usr/bin/env bash
# Runs every Wine suite in one Wine prefix: the script host's self-test, then each
# scripts/wine-*test.sh. Booting a prefix, trusting the test authority and
# starting the loopback servers happen once; each suite still prints its own
# "N passed, M failed", and the total comes last.
# Usage: bash scripts/wine-suites.sh     (KEEP=1 keeps the prefix and the logs)
set -uo pipefail
source "$(dirname "$0")/lib/wine.sh"

wine_begin suites
export CORVANE_WINE_SHARED=$wine_state

for suite in tests/wine/scripthost/selftest.sh scripts/wine-*test.sh; do
  log=$work/$(basename "$suite" .sh).log
  echo "== $suite"
  timeout 3600 bash "$wine_root/$suite" >"$log" 2>&1 </dev/null
  status=$?
  cat "$log"
  summary=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$log" | tail -n 1)
  if [[ $summary =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
    passed=$((passed + BASH_REMATCH[1]))
    failed=$((failed + BASH_REMATCH[2]))
  fi
  if [[ $status -ne 0 && ( -z $summary || ${BASH_REMATCH[2]} -eq 0 ) ]]; then
    fail "$suite ended with exit status $status"
  fi
done
echo "== all suites"
