#!/usr/bin/env bash
# The control prjCorvane.Corvane under Wine against the faulty POP3 and SMTP peers
# of corvane_loopback: tests/wine/faults/faults.js through scripthost.exe, a case
# per peer, each ending in its outcome in time and leaving the control usable.
# Usage: bash scripts/wine-faults-test.sh     (KEEP=1 keeps the prefix and the logs)
set -uo pipefail
source "$(dirname "$0")/lib/wine.sh"

wine_begin faults
wine_build corvane_ocx scripthost
wine_servers

wine_register_ocx

# Every faulty peer as NAME=PORT.
peers=()
while read -r name port; do
  [[ $name == pop3_* || $name == smtp_* ]] && peers+=("$name=$port")
done <"$wine_state/pki/ports"
[[ ${#peers[@]} -gt 0 ]] || give_up "corvane_loopback lists its faulty peers" "$wine_state/pki/ports"

wine_checks faults.js 180 "$wine_build/scripthost.exe" \
  "$(wine_path "$(wine_script "$wine_root/tests/wine/faults/faults.js")")" "${peers[@]}"
grep '^# slowest' "$work/faults.js.log"

# What the read-and-delete loop made the split-answer peer remove at QUIT.
removed=$(grep '^pop3_split_err: ' "$wine_servers_log" | sort -u | tr '\n' ' ')
if [[ $removed == "pop3_split_err: deleted 2 pop3_split_err: deleted 4 " ]]; then
  pass "pop3_split_err: the server removed messages 2 and 4 only"
else
  fail "pop3_split_err: the server removed messages 2 and 4 only (it removed: ${removed:-none})"
fi
