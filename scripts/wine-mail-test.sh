#!/usr/bin/env bash
# The control under Wine against the real Dovecot and Postfix (scripts/lib/
# mail_servers.sh), plain and with implicit TLS: tests/wine/mail/mail.vbs
# through scripthost.exe, and the round trip of examples/roundtrip.vbs;
# before them, large transfers through bench/ocx_mail_bench.cpp: a 50 MiB message
# retrieved (and checked) and a 10 MiB attachment sent with SendMime, sizes a
# 32-bit process must hold too.
# Usage: bash scripts/wine-mail-test.sh     (KEEP=1 keeps the prefix and the logs)
set -uo pipefail
source "$(dirname "$0")/lib/wine.sh"
source "$(dirname "$0")/lib/mail_servers.sh"

tests=$wine_root/tests/wine/mail

wine_begin mail
wine_build corvane_ocx scripthost ocx_mail_bench
mail_servers_start >"$work/servers.log" 2>&1 || give_up "the mail servers start" "$work/servers.log"
wine_trust_ca "$CA_FILE"
wine_register_ocx

# The large messages come from the native bench, which makes what ocx_mail_bench checks.
(cd "$wine_root" && cmake --preset native && cmake --build --preset native -j2 --target mail_bench) \
  >"$work/mail_bench-build.log" 2>&1 || give_up "building mail_bench" "$work/mail_bench-build.log"
large() {  # what seconds ocx_mail_bench arguments...
  local what=$1 seconds=$2 log=$work/large.log
  shift 2
  wine_run "$seconds" "$log" "$wine_build/bench/ocx_mail_bench.exe" "$@"
  if [[ $? -eq 0 ]]; then pass "$what ($(tr -d '\r' <"$log" | grep -m1 '^wall='))"; else fail "$what" "$log"; fi
}
bytes=$((50 << 20))
"$wine_root/build/native/bench/mail_bench" write-maildir "$bytes" "$work/large.eml" &&
  mail_servers_deliver "$MAIL_SERVERS_DIR" "$USER3" "$work/large.eml" || give_up "delivering the 50 MiB message"
rm -f "$work/large.eml"
large "Retrieve of a 50 MiB message" 300 retrieve "$(wine_path "$CORVANE_MAIL_SERVERS")" "$USER3" "$PASS3" "$bytes"
rm -f "$MAILDIR_ROOT/$USER3"/Maildir/{new,cur}/*
"$wine_root/build/native/bench/mail_bench" write-attachment "$work/attachment-10m.bin" ||
  give_up "writing the 10 MiB attachment"
large "SendMime of a 10 MiB attachment" 300 sendmime "$(wine_path "$CORVANE_MAIL_SERVERS")" \
  "$(wine_path "$work/attachment-10m.bin")"
rm -f "$work/attachment-10m.bin"

# USER1's mailbox: exactly the two messages the scripts expect.
fill_mailbox() {
  rm -f "$MAILDIR_ROOT/$USER1"/Maildir/{new,cur}/*
  python3 -c 'import sys; sys.stdout.buffer.write(b"Subject: fixture\r\n\r\n.a line that starts with a dot\r\n..two\r\n" + bytes(range(128, 256)) + b"\r\n")' \
    >"$work/fixture.eml"
  printf 'Subject: second\r\n\r\nshort\r\n' >"$work/second.eml"
  mail_servers_deliver "$MAIL_SERVERS_DIR" "$USER1" "$work/fixture.eml" &&
    mail_servers_deliver "$MAIL_SERVERS_DIR" "$USER1" "$work/second.eml"
}

attachment=$work/attachment.bin
python3 -c 'import sys; sys.stdout.buffer.write(bytes(range(256)) * 40 + b"\r\n.\r\n\x00\r\x0a.")' >"$attachment"
base64 -w 76 "$attachment" >"$attachment.b64"

for mode in plain tls; do
  if [[ $mode == tls ]]; then pop3=localhost:$POP3S_PORT smtp=localhost:$SMTPS_PORT; else
    pop3=localhost:$POP3_PORT smtp=localhost:$SMTP_PORT; fi
  fill_mailbox || give_up "delivering the fixture"
  wine_checks "mail-vbs-$mode" 120 "$wine_build/scripthost.exe" \
    "$(wine_path "$(wine_script "$tests/mail.vbs")")" "$pop3" "$smtp" "$mode" "$USER1" "$PASS1" "$USER3" "$PASS3" \
    "$MAIL_DOMAIN"
  log=$work/roundtrip-$mode.log
  wine_run 120 "$log" "$wine_build/scripthost.exe" "$(wine_path "$wine_root/examples/roundtrip.vbs")" "$smtp" "$pop3" \
    "$USER2" "$PASS2" "$USER2@$MAIL_DOMAIN" "$(wine_path "$attachment")" "$(wine_path "$attachment.b64")" "$mode"
  if tr -d '\r' <"$log" | tail -n 1 | grep -q '^PASS: '; then pass "roundtrip.vbs $mode"; else fail "roundtrip.vbs $mode" "$log"; fi
done
