#!/usr/bin/env bash
# The main job: builds everything (the core natively, corvane.ocx for 32 and 64
# bits), registers the 64-bit OCX in a fresh Wine prefix and drives it from a real
# script host: examples/compose.vbs composes a message with an attachment through
# the MIME class under cscript, and the message is shown.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh || exit 2

for preset in native win32 win64; do
  echo "== building $preset"
  { cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j2; } || exit 2
done

source scripts/lib/wine.sh
wine_begin main

ocx=$(wine_path "$wine_build/corvane.ocx")
unregister() { wine_run 60 "$work/unregister.log" regsvr32 /s /u "$ocx"; }
wine_at_end unregister

echo "== registering build/win64/corvane.ocx in a fresh Wine prefix"
wine_run 60 "$work/register.log" regsvr32 /s "$ocx" || give_up "regsvr32 corvane.ocx" "$work/register.log"
pass "corvane.ocx registered"

echo "== cscript examples/compose.vbs"
wine_run 60 "$work/compose.log" cscript //nologo "$(wine_path "$wine_root/examples/compose.vbs")"
tr -d '\r' <"$work/compose.log" | sed 's/^/    /'
if grep -q '^RESULT PASS' "$work/compose.log"; then
  pass "the MIME class composed the message"
else
  fail "the MIME class composed the message"
fi
