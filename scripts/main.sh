#!/usr/bin/env bash
# The main job: builds what it runs (the native round trip, and corvane.ocx with
# the script host for 64 and 32 bits), starts Dovecot and Postfix on 127.0.0.1,
# and sends a message with an attachment round the loop (SMTP with implicit TLS,
# then POP3 with implicit TLS) three times: with the native library
# (examples/roundtrip), and with each OCX build registered in a fresh Wine prefix,
# driven by examples/roundtrip.vbs through that build's script host. The servers
# and Wine stop however the job ends. On a kernel that runs no 32-bit x86
# programs, the 32-bit build runs under qemu-i386 (slow: each program takes a
# minute or more to start); a machine that cannot run it at all fails with the
# reason, unless CORVANE_WIN32_OPTIONAL=1 (then a notice).
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh || exit 2

echo "== building the native round trip"
{ cmake --preset native >/dev/null && cmake --build --preset native -j2 --target roundtrip; } || exit 2

/usr/lib/wine/wine --version >/dev/null 2>&1 || export CORVANE_WIN32_EMULATE=1
source scripts/lib/wine.sh
source scripts/lib/mail_servers.sh
wine_begin main
echo "== starting Dovecot and Postfix on 127.0.0.1"
mail_servers_start || give_up "the mail servers start"

# Every byte value, CR LF "." CR LF, a lone CR and LF, and a dot at the very end.
attachment=$work/attachment.bin
python3 -c 'import sys; sys.stdout.buffer.write(bytes(range(256)) * 40 + b"\r\n.\r\n\x00\r\x0a.")' >"$attachment"
base64 -w 76 "$attachment" >"$attachment.b64"

echo "== the native library: build/native/examples/roundtrip over implicit TLS"
wine_arch=native  # names the result lines until a Wine build is under test
SSL_CERT_FILE=$CA_FILE build/native/examples/roundtrip "localhost:$SMTPS_PORT" "localhost:$POP3S_PORT" \
  "$USER1" "$PASS1" "$USER1@$MAIL_DOMAIN" "$attachment" --tls >"$work/native.log" 2>&1
sed 's/^/    /' "$work/native.log"
if tail -n 1 "$work/native.log" | grep -q '^PASS'; then pass "native round trip"; else fail "native round trip"; fi

for build in win64 win32; do
  wine_use_build "$build"
  work=$wine_state/main-$build
  mkdir -p "$work"
  if ! wine_runs_build; then
    if [[ -n ${CORVANE_WIN32_OPTIONAL:-} ]]; then echo "# NOT TESTED: $wine_problem"; else fail "$wine_problem"; fi
    continue
  fi
  echo "== building and registering build/$build/corvane.ocx in the Wine prefix"
  wine_build corvane_ocx scripthost corvane_trust_ca
  wine_trust_ca "$CA_FILE"
  wine_register_ocx
  pass "corvane.ocx registered"

  echo "== build/$build/scripthost.exe examples/roundtrip.vbs over implicit TLS"
  wine_run 120 "$work/roundtrip.log" "$wine_build/scripthost.exe" "$(wine_path "$wine_root/examples/roundtrip.vbs")" \
    "localhost:$SMTPS_PORT" "localhost:$POP3S_PORT" "$USER1" "$PASS1" "$USER1@$MAIL_DOMAIN" \
    "$(wine_path "$attachment")" "$(wine_path "$attachment.b64")" tls
  tr -d '\r' <"$work/roundtrip.log" | sed 's/^/    /'
  if tr -d '\r' <"$work/roundtrip.log" | tail -n 1 | grep -q '^PASS'; then
    pass "round trip through the OCX"
  else
    fail "round trip through the OCX"
  fi
done
