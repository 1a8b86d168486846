#!/usr/bin/env bash
# Private Dovecot and Postfix on 127.0.0.1 for tests (scripts/lib/mail_servers.sh):
#   mail-servers.sh start [DIR]              start them in DIR (default: a new folder
#                                            under /tmp), write DIR/servers.env
#   mail-servers.sh stop DIR                 end every process started for DIR
#   mail-servers.sh deliver DIR USER FILE    put FILE byte for byte into USER's Maildir
#   mail-servers.sh sink DIR NAME [OPTIONS]  another smtp-sink, NAME=port in servers.env
set -uo pipefail
# shellcheck source=lib/mail_servers.sh
source "$(dirname "$0")/lib/mail_servers.sh"

usage() {
  sed -n '2,6s/^# \{0,1\}//p' "$0" >&2
  exit 2
}

command=${1:-}
shift || true
case $command in
  start) (($# <= 1)) || usage; _ms_up "$@" ;;
  stop) (($# == 1)) || usage; mail_servers_stop "$1" ;;
  deliver) (($# == 3)) || usage; mail_servers_deliver "$@" ;;
  sink) (($# >= 2)) || usage; mail_servers_sink "$@" ;;
  *) usage ;;
esac
