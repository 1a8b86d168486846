#!/usr/bin/env bash
# The main job: builds everything (the core natively, corvane.ocx for 32 and 64
# bits), starts Dovecot and Postfix on 127.0.0.1, and sends a message with an
# attachment round the loop (SMTP with implicit TLS, then POP3 with implicit TLS)
# twice: with the native library (examples/roundtrip), and with the 64-bit OCX
# registered in a fresh Wine prefix, driven by examples/roundtrip.vbs through the
# project's script host. The servers and Wine stop however the job ends.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh || exit 2

for preset in native win32 win64; do
  echo "== building $preset"
  { cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j2; } || exit 2
done

source scripts/lib/wine.sh
source scripts/lib/mail_servers.sh
wine_begin main
wine_build scripthost corvane_trust_ca
echo "== starting Dovecot and Postfix on 127.0.0.1"
mail_servers_start || give_up "the mail servers start"

# Every byte value, CR LF "." CR LF, a lone CR and LF, and a dot at the very end.
attachment=$work/attachment.bin
python3 -c 'import sys; sys.stdout.buffer.write(bytes(range(256)) * 40 + b"\r\n.\r\n\x00\r\x0a.")' >"$attachment"
base64 -w 76 "$attachment" >"$attachment.b64"

echo "== the native library: build/native/examples/roundtrip over implicit TLS"
SSL_CERT_FILE=$CA_FILE build/native/examples/roundtrip "localhost:$SMTPS_PORT" "localhost:$POP3S_PORT" \
  "$USER1" "$PASS1" "$USER1@$MAIL_DOMAIN" "$attachment" --tls >"$work/native.log" 2>&1
sed 's/^/    /' "$work/native.log"
if tail -n 1 "$work/native.log" | grep -q '^PASS'; then pass "native round trip"; else fail "native round trip"; fi

echo "== registering build/win64/corvane.ocx in a fresh Wine prefix"
wine_trust_ca "$CA_FILE"
wine_register_ocx
pass "corvane.ocx registered"

echo "== scripthost.exe examples/roundtrip.vbs over implicit TLS"
wine_run 120 "$work/roundtrip.log" "$wine_build/scripthost.exe" "$(wine_path "$wine_root/examples/roundtrip.vbs")" \
  "localhost:$SMTPS_PORT" "localhost:$POP3S_PORT" "$USER1" "$PASS1" "$USER1@$MAIL_DOMAIN" \
  "$(wine_path "$attachment")" "$(wine_path "$attachment.b64")" tls
tr -d '\r' <"$work/roundtrip.log" | sed 's/^/    /'
if tr -d '\r' <"$work/roundtrip.log" | tail -n 1 | grep -q '^PASS'; then
  pass "round trip through the OCX"
else
  fail "round trip through the OCX"
fi
