#!/usr/bin/env bash
# The protocol cases of tests/cases played through the control prjCorvane.Corvane
# under Wine against the transcript server of corvane_loopback: tests/wine/cases/cases.js
# through scripthost.exe, each case whole and once more per fault at each "S!" answer.
# Usage: bash scripts/wine-cases-test.sh     (KEEP=1 keeps the prefix and the logs;
# CORVANE_CASES=TEXT plays only the cases whose names hold TEXT)
set -uo pipefail
source "$(dirname "$0")/lib/wine.sh"

wine_begin cases
wine_build corvane_ocx scripthost
wine_servers

wine_register_ocx

wine_checks cases.js 1800 "$wine_build/scripthost.exe" \
  "$(wine_path "$(wine_script "$wine_root/tests/wine/cases/cases.js")")" \
  "$(wine_path "$wine_root/tests/cases")" "$port_transcript" "$port_select" ${CORVANE_CASES:+"$CORVANE_CASES"}
grep '^# ' "$work/cases.js.log"
