#!/usr/bin/env bash
# Private Dovecot and Postfix on 127.0.0.1 for tests (scripts/lib/mail_servers.sh):
#   mail-servers.sh start [DIR]              start them in DIR (default: a new folder
#                                            under /tmp), write DIR/servers.env
#   mail-servers.sh stop DIR                 end every process started for DIR
#   mail-servers.sh deliver DIR USER FILE    put FILE byte for byte into USER's Maildir
#   mail-servers.sh sink DIR NAME [OPTIONS]  another smtp-sink, NAME=port in servers.env
#   mail-servers.sh check DIR                curl against the logins the servers offer
set -uo pipefail
# shellcheck source=lib/mail_servers.sh
source "$(dirname "$0")/lib/mail_servers.sh"

usage() {
  sed -n '2,7s/^# \{0,1\}//p' "$0" >&2
  exit 2
}

# Submission wants STARTTLS, then AUTH, before any mail; POP3 logs in over STLS and
# with bearer tokens. Each probe expects curl's exit status: 55 a refused command,
# 67 a refused login.
check() {  # dir
  local failed='' mark=check-$$-$RANDOM i
  # shellcheck disable=SC1091
  set -a && source "$1/servers.env" && set +a || return 1
  local mail=$1/check.eml box=$MAILDIR_ROOT/$OAUTH_USER/Maildir tls=(--ssl-reqd --cacert "$CA_FILE")
  local to=(--mail-from "$USER1@$MAIL_DOMAIN" --mail-rcpt "$OAUTH_USER@$MAIL_DOMAIN" -T "$mail")
  printf 'Subject: %s\r\n\r\nchecked\r\n' "$mark" >"$mail"
  probe() {  # status what curl-arguments...
    local want=$1 what=$2 got
    shift 2
    curl -sS -m 20 "$@" >"$mail.out" 2>&1 && got=0 || got=$?
    if [[ $got == "$want" ]]; then echo "ok - $what"; else
      echo "not ok - $what: curl ended $got, not $want: $(tr '\n' ' ' <"$mail.out")"
      failed=1
    fi
  }
  local sub=smtp://127.0.0.1:$SUBMISSION_PORT pop3=pop3://127.0.0.1:$POP3_PORT/
  probe 0 "submission: STARTTLS and AUTH deliver" "${tls[@]}" "$sub" --user "$USER1:$PASS1" "${to[@]}"
  probe 0 "submissions: AUTH over implicit TLS delivers" --cacert "$CA_FILE" \
    "smtps://127.0.0.1:$SUBMISSIONS_PORT" --user "$USER1:$PASS1" "${to[@]}"
  probe 0 "submission: a bearer token delivers" "${tls[@]}" "$sub" --user "$OAUTH_USER:" \
    --oauth2-bearer "$OAUTH_TOKEN" "${to[@]}"
  probe 55 "submission: no mail without TLS" "$sub" --user "$USER1:$PASS1" "${to[@]}"
  probe 55 "submission: no relay without AUTH" "${tls[@]}" "$sub" "${to[@]}"
  probe 67 "submission: a wrong password is refused" "${tls[@]}" "$sub" --user "$USER1:wrong" "${to[@]}"
  probe 67 "submission: a bad token is refused" "${tls[@]}" "$sub" --user "$OAUTH_USER:" \
    --oauth2-bearer "$OAUTH_BAD_TOKEN" "${to[@]}"
  for ((i = 0; i < 100; i++)); do  # delivery is asynchronous
    (($(grep -l "$mark" "$box"/new/* "$box"/cur/* 2>/dev/null | wc -l) == 3)) && break
    sleep 0.05
  done
  if ((i < 100)); then echo "ok - the three messages arrived"; else echo "not ok - the three messages arrived"; failed=1; fi
  probe 0 "pop3: STLS and USER/PASS list" "${tls[@]}" "$pop3" --user "$USER1:$PASS1"
  probe 0 "pop3: a bearer token lists" "$pop3" --user "$OAUTH_USER:" --oauth2-bearer "$OAUTH_TOKEN"
  probe 67 "pop3: a bad token is refused" "$pop3" --user "$OAUTH_USER:" --oauth2-bearer "$OAUTH_BAD_TOKEN"
  [[ -z $failed ]]
}

command=${1:-}
shift || true
case $command in
  start) (($# <= 1)) || usage; _ms_up "$@" ;;
  stop) (($# == 1)) || usage; mail_servers_stop "$1" ;;
  deliver) (($# == 3)) || usage; mail_servers_deliver "$@" ;;
  sink) (($# >= 2)) || usage; mail_servers_sink "$@" ;;
  check) (($# == 1)) || usage; check "$1" ;;
  *) usage ;;
esac
