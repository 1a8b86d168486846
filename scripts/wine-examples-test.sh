#!/usr/bin/env bash
# The how-to examples of the users' guide (examples/*.vbs and *.js) under Wine,
# through scripthost.exe, against the private Dovecot and Postfix of
# scripts/lib/mail_servers.sh, plain and with implicit TLS: each example must end
# with "PASS: ..." (or "FAIL: ..." where the case is a failure), and what it did
# is checked on the servers' side (the Maildirs).
# Usage: bash scripts/wine-examples-test.sh     (KEEP=1 keeps the prefix and the logs)
set -uo pipefail
source "$(dirname "$0")/lib/wine.sh"
source "$(dirname "$0")/lib/mail_servers.sh"

examples=$wine_root/examples

wine_begin examples
wine_build corvane_ocx scripthost com_client
mail_servers_start >"$work/servers.log" 2>&1 || give_up "the mail servers start" "$work/servers.log"
wine_trust_ca "$CA_FILE"
wine_register_ocx

# Runs an example, a script of examples/ or a program; its output (CR dropped) is
# in $out and its log in $log.
run() {  # name example arguments...
  local name=$1 example=$2
  shift 2
  log=$work/$name.log
  case $example in
    *.vbs | *.js) wine_run 120 "$log.raw" "$wine_build/scripthost.exe" "$(wine_path "$examples/$example")" "$@" ;;
    *) wine_run 120 "$log.raw" "$example" "$@" ;;
  esac
  tr -d '\r' <"$log.raw" >"$log"
  out=$(cat "$log")
}

# The example's last line begins with `verdict` ("PASS: " or "FAIL: ") and its
# output holds each of the further texts.
expect() {  # name verdict texts...
  local name=$1 verdict=$2 text
  shift 2
  if [[ $(tail -n 1 <<<"$out") != "$verdict"* ]]; then fail "$name ends with $verdict" "$log"; return; fi
  for text; do
    if [[ $out != *"$text"* ]]; then fail "$name prints '$text'" "$log"; return; fi
  done
  pass "$name"
}

mailbox() {  # user: the files of the messages in the user's Maildir
  find "$MAILDIR_ROOT/$1/Maildir/new" "$MAILDIR_ROOT/$1/Maildir/cur" -type f 2>/dev/null
}

empty_mailbox() { mailbox "$1" | xargs -r rm -f; }

# Waits until a message in the user's Maildir holds every text (CRs dropped;
# "\n" in a text is a line end), at most 15 s. Prints nothing.
delivered() {  # user texts...
  local user=$1
  shift
  python3 - "$MAILDIR_ROOT/$user/Maildir" "$@" <<'PY'
import pathlib, sys, time
box, texts = pathlib.Path(sys.argv[1]), [t.replace("\\n", "\n") for t in sys.argv[2:]]
for _ in range(150):
    for f in list(box.glob("new/*")) + list(box.glob("cur/*")):
        message = f.read_bytes().replace(b"\r", b"").decode("latin-1")
        if all(t in message for t in texts):
            sys.exit(0)
    time.sleep(0.1)
sys.exit(1)
PY
}

# The attachments of the one message in the user's Maildir, decoded, are the files
# (under the name after "=", else their own); "subject=TEXT" first: its decoded Subject.
attachments_arrived() {  # user [subject=TEXT] files[=name]...
  local user=$1
  shift
  python3 - "$MAILDIR_ROOT/$user/Maildir" "$@" <<'PY'
import email, email.policy, pathlib, sys, time
box, files, subject = pathlib.Path(sys.argv[1]), sys.argv[2:], None
if files and files[0].startswith("subject="):
    subject = files.pop(0)[len("subject="):]
for _ in range(150):
    found = list(box.glob("new/*")) + list(box.glob("cur/*"))
    if found:
        break
    time.sleep(0.1)
if len(found) != 1:
    sys.exit(f"{len(found)} messages")
message = email.message_from_bytes(found[0].read_bytes(), policy=email.policy.default)
parts = {p.get_filename(): p.get_payload(decode=True) for p in message.iter_attachments()}
if subject is not None and message["Subject"] != subject:
    sys.exit(f"Subject: {message['Subject']!r}")
for f in files:
    path, _, name = f.partition("=")
    name = name or pathlib.Path(path).name
    if parts.get(name) != pathlib.Path(path).read_bytes():
        sys.exit(f"{name} differs or is missing: {sorted(parts)}")
PY
}

wine_servers  # the loopback TLS servers with a certificate nobody trusts and one for another name

# The files to attach: every byte value, and a small text.
python3 -c 'import sys; sys.stdout.buffer.write(bytes(range(256)) * 8 + b"\r\n.\r\n")' >"$work/bytes.bin"
printf 'Notes\r\n.first line starts with a dot\r\n' >"$work/notes.txt"

for script in percent.vbs percent.js; do
  run "${script/./-}" "$script"
  expect "${script/./-}" "PASS: 7 encodings as expected" "query: ?q=mail%20%26%20more&lang=en"
done
run compose-vbs compose.vbs
expect compose-vbs "PASS: " "Content-Transfer-Encoding: base64" "To: <ops@example.test>, <dev@example.test>"

for script in tls_connect.vbs tls_connect.js; do
  name=${script/./-}
  run "$name-trusted" "$script" localhost "$POP3S_PORT"
  expect "$name-trusted" "PASS: TLS connection to localhost:$POP3S_PORT, the server says +OK"
  run "$name-untrusted" "$script" localhost "$port_untrusted"
  expect "$name-untrusted" "FAIL: error 12045: the certificate's authority is not trusted"
  run "$name-wrongname" "$script" localhost "$port_wrongname"
  expect "$name-wrongname" "FAIL: error 12038: the certificate is made out to another name"
  run "$name-plain-port" "$script" localhost "$POP3_PORT"
  expect "$name-plain-port" "FAIL: error 12157: the TLS handshake failed"
  run "$name-refused" "$script" localhost "$port_refused"
  expect "$name-refused" "FAIL: error 10061: nothing listens on that port"
done

for mode in plain tls; do
  # TLS clients name the host the certificate names; the examples take "tls" last.
  if [[ $mode == tls ]]; then host=localhost smtp_port=$SMTPS_PORT pop3=localhost:$POP3S_PORT tls=(tls); else
    host=127.0.0.1 smtp_port=$SMTP_PORT pop3=127.0.0.1:$POP3_PORT tls=(); fi
  smtp=$host:$smtp_port

  for lang in vbs js; do
    # --- Reading and deleting
    name=read_mail-$lang-$mode
    empty_mailbox "$USER1"
    printf 'From: Alice <alice@%s>\r\nSubject: first of two\r\n\r\nHello.\r\n' "$MAIL_DOMAIN" >"$work/one.eml"
    printf 'From: Bob <bob@%s>\r\nSubject: second of two\r\n\r\n.a dotted line\r\n' "$MAIL_DOMAIN" >"$work/two.eml"
    mail_servers_deliver "$MAIL_SERVERS_DIR" "$USER1" "$work/one.eml" &&
      mail_servers_deliver "$MAIL_SERVERS_DIR" "$USER1" "$work/two.eml" || give_up "delivering to $USER1"
    run "$name" "read_mail.$lang" "$pop3" "$USER1" "$PASS1" delete "${tls[@]}"
    expect "$name" "PASS: read 2 messages, deleted 2" "Subject: first of two" "From: Bob <bob@$MAIL_DOMAIN>"
    check "$name: the mailbox is empty afterwards" test -z "$(mailbox "$USER1")"

    # --- Tracing
    name=trace-$lang-$mode
    run "$name" "trace.$lang" "$pop3" "$USER1" "$PASS1" "${tls[@]}"
    expect "$name" "PASS: " "| [POP3 logging in]" "| Say:      USER $USER1\r\n" "| Say:      PASS ********\r\n" \
      "| Wait for:  +OK [10]" "| Got +OK" "| [POP3 logging out]"
    check "$name: the password is not printed" eval '[[ $out != *"$PASS1"* ]]'

    # --- A plain message, to one user with a copy to another
    name=send_plain-$lang-$mode
    empty_mailbox "$USER2"
    empty_mailbox "$USER3"
    run "$name" "send_plain.$lang" "$smtp" "$USER1@$MAIL_DOMAIN" "$USER2@$MAIL_DOMAIN" "$USER3@$MAIL_DOMAIN" "${tls[@]}"
    expect "$name" "PASS: sent to $USER2@$MAIL_DOMAIN and $USER3@$MAIL_DOMAIN"
    for user in "$USER2" "$USER3"; do
      check "$name: $user got it" delivered "$user" "Subject: Corvane example: a plain message\nFrom: Corvane example" \
        "\n\nHello,\nthis message was sent by send_plain.$lang.\n.signature\n"
    done

    # --- Attachments, byte for byte
    name=send_attachment-$lang-$mode
    empty_mailbox "$USER2"
    run "$name" "send_attachment.$lang" "$smtp" "$USER1@$MAIL_DOMAIN" "$USER2@$MAIL_DOMAIN" \
      "$(wine_path "$work/bytes.bin")" "$(wine_path "$work/notes.txt")" "${tls[@]}"
    expect "$name" "PASS: sent" 'part 2: application/octet-stream; name="bytes.bin"' \
      "composed 3 parts from Corvane example <$USER1@$MAIL_DOMAIN> to <$USER2@$MAIL_DOMAIN>"
    check "$name: the attachments arrived" attachments_arrived "$USER2" "$work/bytes.bin" "$work/notes.txt"
    run "$name-missing" "send_attachment.$lang" "$smtp" "$USER1@$MAIL_DOMAIN" "$USER2@$MAIL_DOMAIN" \
      "$(wine_path "$work/missing.bin")" "${tls[@]}"
    expect "$name-missing" "FAIL: could not attach" "53 File not found"

    # --- Line breaks in values refused, the session still usable
    name=line_breaks-$lang-$mode
    empty_mailbox "$USER2"
    run "$name" "line_breaks.$lang" "$smtp" "$USER1@$MAIL_DOMAIN" "$USER2@$MAIL_DOMAIN" "${tls[@]}"
    expect "$name" "PASS: " "error 6: Subject holds a line break and was not sent: 'Hello%0D%0ABcc: <someone@example.com>'" \
      "error 6: To holds a line break and was not sent: '<$USER2@$MAIL_DOMAIN>%0A<someone@example.com>'"
    check "$name: only the good message arrived, its dots intact" eval \
      '[[ $(mailbox "$USER2" | wc -l) -eq 1 ]] && delivered "$USER2" "Subject: Corvane example: line breaks" "\nFirst line\n.\n.hidden?\nlast line"'

    # --- The raw socket: SMTP by hand
    name=raw_socket-$lang-$mode
    run "$name" "raw_socket.$lang" "$host" "$smtp_port" "${tls[@]}"
    expect "$name" "PASS: EHLO answered with" "S: 220 " "C: EHLO client.example" "S: 221 "
  done

  # --- C++ through COM: the sink cancels the error box, automation errors as HRESULTs
  name=com_client-$mode
  empty_mailbox "$USER1"
  mail_servers_deliver "$MAIL_SERVERS_DIR" "$USER1" "$work/one.eml" || give_up "delivering to $USER1"
  run "$name" "$wine_build/examples/com_client.exe" "$pop3" "$USER1" "$PASS1" "${tls[@]}"
  expect "$name" "PASS: read 1 messages;" "message 1: " \
    "MimeContentAddFromFile: 0x800A004C Path not found: 'C:\no such folder\none.txt'"
done

# --- Submission with STARTTLS and AUTH, UIDL and TOP, XOAUTH2, UTF-8 (the servers
# name the certificate "localhost": upgraded connections use it too)
for mechanism in "" LOGIN PLAIN; do
  name=submission${mechanism:+-$mechanism}
  empty_mailbox "$USER2"
  run "$name" submission.vbs "localhost:$SUBMISSION_PORT" "$USER1" "$PASS1" "$USER1@$MAIL_DOMAIN" \
    "$USER2@$MAIL_DOMAIN" $mechanism
  expect "$name" "PASS: sent to $USER2@$MAIL_DOMAIN as $USER1"
  check "$name: it arrived" delivered "$USER2" "Subject: Corvane example: through submission"
done
# The message sent with AUTH PLAIN, read back over STLS by its unique id and top.
run submission-read new_mail.vbs "localhost:${POP3_STLS_PORT:-$POP3_PORT}" "$USER2" "$PASS2" \
  "$(wine_path "$work/seen2.txt")" stls
expect submission-read "PASS: 1 new of 1" "Subject: Corvane example: through submission"
run submission-refused submission.vbs "localhost:$SUBMISSION_PORT" "$USER1" "not-$PASS1" "$USER1@$MAIL_DOMAIN" \
  "$USER2@$MAIL_DOMAIN"
expect submission-refused "FAIL: SMTPLogin failed with error 4" "error 4: "
check "submission-refused: the password is not printed" eval '[[ $out != *"not-$PASS1"* ]]'

empty_mailbox "$USER1"
mail_servers_deliver "$MAIL_SERVERS_DIR" "$USER1" "$work/one.eml" &&
  mail_servers_deliver "$MAIL_SERVERS_DIR" "$USER1" "$work/two.eml" || give_up "delivering to $USER1"
seen=$(wine_path "$work/seen.txt")
run new_mail-plain new_mail.vbs "127.0.0.1:$POP3_PORT" "$USER1" "$PASS1" "$seen"
expect new_mail-plain "PASS: 2 new of 2" "Subject: first of two" "Subject: second of two"
run new_mail-stls new_mail.vbs "localhost:${POP3_STLS_PORT:-$POP3_PORT}" "$USER1" "$PASS1" "$seen" stls
expect new_mail-stls "PASS: 0 new of 2"
check "new_mail: the messages stay on the server" eval '[[ $(mailbox "$USER1" | wc -l) -eq 2 ]]'

for security in tls stls; do
  if [[ $security == tls ]]; then port=$POP3S_PORT; else port=${POP3_STLS_PORT:-$POP3_PORT}; fi
  run "oauth-$security" oauth.vbs "localhost:$port" "$OAUTH_USER" "$OAUTH_TOKEN" "$security"
  expect "oauth-$security" "PASS: logged in as $OAUTH_USER with a bearer token"
done
run oauth-refused oauth.vbs "localhost:$POP3S_PORT" "$OAUTH_USER" "not-$OAUTH_TOKEN" tls
expect oauth-refused "FAIL: POP3Login failed with error 4"

empty_mailbox "$USER2"
run utf8-js utf8.js "127.0.0.1:$SMTP_PORT" "$USER1@$MAIL_DOMAIN" "$USER2@$MAIL_DOMAIN" "$(wine_path "$work/notes.txt")"
expect utf8-js "PASS: sent a UTF-8 subject and file name to $USER2@$MAIL_DOMAIN"
check "utf8-js: subject and file name arrived" attachments_arrived "$USER2" "subject=Grüße — 日本語 αβγ" \
  "$work/notes.txt=été – 報告.txt"
