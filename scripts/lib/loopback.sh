# shellcheck shell=bash
# The loopback servers (corvane_loopback of tests/servers) with their test
# certificates, for the native contract test and the Wine suites alike.

# Test certificates: a trusted authority, a second one that nobody trusts, and
# server certificates for localhost from both, and one made out to another name.
loopback_certificates() {  # folder
  (
    cd "$1" || exit 1
    cat >openssl.cnf <<'CNF'
[req]
distinguished_name = dn
[dn]
[authority]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[localhost]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost,IP:127.0.0.1
[elsewhere]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:elsewhere.test
CNF
    authority() {  # name subject
      openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=$2" -config openssl.cnf -extensions authority \
        -keyout "$1.key" -out "$1.pem"
    }
    server() {  # name authority subject extensions
      openssl req -new -newkey rsa:2048 -nodes -subj "/CN=$3" -config openssl.cnf -keyout "$1.key" -out "$1.csr" &&
        openssl x509 -req -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" -CAcreateserial -days 2 -extfile openssl.cnf \
          -extensions "$4" -out "$1.pem"
    }
    authority ca "Corvane Test CA" && authority stranger "Corvane Stranger CA" &&
      server trusted ca localhost localhost && server untrusted stranger localhost localhost &&
      server wrongname ca elsewhere.test elsewhere && openssl x509 -in ca.pem -outform DER -out ca.der
  ) >"$1/openssl.log" 2>&1
}

# Makes the certificates in `folder`, starts the servers there (their output in
# folder/servers.log, their process id in `pid file`) and waits for folder/ports.
loopback_start() {  # folder program pid-file
  mkdir -p "$1"
  loopback_certificates "$1" || return 1
  "$2" "$1/ports" tls="$1/trusted.pem:$1/trusted.key" untrusted="$1/untrusted.pem:$1/untrusted.key" \
    wrongname="$1/wrongname.pem:$1/wrongname.key" tls11="$1/trusted.pem:$1/trusted.key:tls1.0" \
    >"$1/servers.log" 2>&1 </dev/null &
  echo $! >"$3"
  for _ in $(seq 100); do
    [[ -s $1/ports ]] && return 0
    sleep 0.1
  done
  return 1
}

# Sets port_NAME for each server of folder/ports: port_plain, port_tls (trusted,
# for localhost), port_untrusted, port_wrongname, port_tls11 (trusted, TLS 1.0
# only), port_sink, port_refused, and one per faulty peer (see loopback_main.cpp).
loopback_ports() {  # folder
  local name port
  while read -r name port; do printf -v "port_$name" %s "$port"; done <"$1/ports"
}
