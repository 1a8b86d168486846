# shellcheck shell=bash
# The loopback servers (corvane_loopback of tests/servers) with their test
# certificates, for the native contract test and the Wine suites alike.
# shellcheck source-path=SCRIPTDIR source=test_certificates.sh
source "$(dirname "${BASH_SOURCE[0]}")/test_certificates.sh"

# Makes the certificates in `folder`, starts the servers there (their output in
# folder/servers.log, their process id in `pid file`) and waits for folder/ports.
loopback_start() {  # folder program pid-file
  test_certificates "$1" || return 1
  "$2" "$1/ports" tls="$1/trusted.pem:$1/trusted.key" untrusted="$1/untrusted.pem:$1/untrusted.key" \
    wrongname="$1/wrongname.pem:$1/wrongname.key" expired="$1/expired.pem:$1/expired.key" tls11="$1/trusted.pem:$1/trusted.key:tls1.0" \
    starttls="$1/trusted.pem:$1/trusted.key:starttls" starttlswrong="$1/wrongname.pem:$1/wrongname.key:starttls" \
    >"$1/servers.log" 2>&1 </dev/null &
  echo $! >"$3"
  for _ in $(seq 100); do
    [[ -s $1/ports ]] && return 0
    sleep 0.1
  done
  return 1
}

# Sets port_NAME for each server of folder/ports: port_plain, port_tls (trusted,
# for localhost), port_untrusted, port_wrongname, port_expired, port_tls11 (trusted, TLS 1.0
# only), port_starttls and port_starttlswrong (upgraded in place), port_sink, port_refused, port_transcript and port_select (see loopback_main.cpp).
loopback_ports() {  # folder
  local name port
  while read -r name port; do printf -v "port_$name" %s "$port"; done <"$1/ports"
}
