#!/usr/bin/env bash
# Runs the round-trip example against the servers of $CORVANE_MAIL_SERVERS with an
# attachment that holds every byte value.
# Usage: roundtrip.sh PROGRAM plain|tls
set -euo pipefail
program=$1 mode=$2
source "$CORVANE_MAIL_SERVERS"
file=$(mktemp /tmp/corvane-attachment.XXXXXX)
trap 'rm -f "$file"' EXIT
python3 -c 'import sys; sys.stdout.buffer.write(bytes(range(256)) * 40 + b"\r\n.\r\n\x00\r\x0a.")' >"$file"
if [[ $mode == tls ]]; then
  SSL_CERT_FILE=$CA_FILE "$program" "localhost:$SMTPS_PORT" "localhost:$POP3S_PORT" "$USER1" "$PASS1" \
    "$USER1@$MAIL_DOMAIN" "$file" --tls
else
  "$program" "127.0.0.1:$SMTP_PORT" "127.0.0.1:$POP3_PORT" "$USER1" "$PASS1" "$USER1@$MAIL_DOMAIN" "$file"
fi
