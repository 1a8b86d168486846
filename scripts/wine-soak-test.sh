#!/usr/bin/env bash
# The control's soak under Wine against the real Dovecot and Postfix: sessions in
# a row and 200 controls at once (tests/wine/mail/soak.cpp), its figures in the log.
# Usage: bash scripts/wine-soak-test.sh [SESSIONS]   (default 200; KEEP=1 keeps the prefix and the logs)
set -uo pipefail
source "$(dirname "$0")/lib/wine.sh"
source "$(dirname "$0")/lib/mail_servers.sh"

sessions=${1:-200}

wine_begin soak
wine_build corvane_ocx corvane_wine_soak
mail_servers_start >"$work/servers.log" 2>&1 || give_up "the mail servers start" "$work/servers.log"
wine_register_ocx

# USER2's mailbox holds one message to retrieve; the sessions send theirs to USER3.
printf 'Subject: soak\r\n\r\nto be read again and again\r\n' >"$work/soak.eml"
mail_servers_deliver "$MAIL_SERVERS_DIR" "$USER2" "$work/soak.eml" || give_up "delivering the soak's message"

wine_checks soak $((120 + sessions)) "$wine_bin/corvane_wine_soak.exe" "127.0.0.1:$POP3_PORT" "127.0.0.1:$SMTP_PORT" \
  "$USER2" "$PASS2" "$USER3@$MAIL_DOMAIN" "$sessions" 200
grep '^  ' "$work/soak.log"
