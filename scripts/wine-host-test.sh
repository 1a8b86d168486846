#!/usr/bin/env bash
# Runs the Win32 host test (build/win64/tests/wine/corvane_host_test.exe) in a
# fresh Wine prefix against loopback echo servers, plain and TLS, with a test
# certificate authority trusted inside that prefix only.
# Build first: cmake --preset win64 && cmake --build --preset win64 -j2
# KEEP=1 keeps the work folder (certificates, logs, prefix) for a look afterwards.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
bin=${CORVANE_WIN64_BUILD:-$root/build/win64}/tests/wine
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
for program in "$bin/corvane_host_test.exe" "$bin/corvane_trust_ca.exe" "$wine"; do
  [[ -e $program ]] || { echo "missing $program" >&2; exit 2; }
done

work=$(mktemp -d /tmp/corvane-host-test.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all LC_ALL=C
unset DISPLAY
server_pid=

cleanup() {
  [[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null
  timeout 20 "$wineserver" -k 2>/dev/null || true
  [[ -n ${KEEP:-} ]] || rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "wine-host-test: $1" >&2
  for log in "$work"/*.log; do [[ -s $log ]] && { echo "--- $log" >&2; tail -20 "$log" >&2; }; done
  exit 1
}

cd "$work"

# Certificates: a trusted authority, a second one that nobody trusts, and
# server certificates from them.
cat > openssl.cnf <<'CNF'
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
make_authority() {  # name, subject
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=$2" -config openssl.cnf -extensions authority \
    -keyout "$1.key" -out "$1.pem" >>openssl.log 2>&1
}
make_server() {  # name, authority, subject, extensions
  openssl req -new -newkey rsa:2048 -nodes -subj "/CN=$3" -config openssl.cnf -keyout "$1.key" -out "$1.csr" \
    >>openssl.log 2>&1
  openssl x509 -req -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" -CAcreateserial -days 2 -extfile openssl.cnf \
    -extensions "$4" -out "$1.pem" >>openssl.log 2>&1
}
make_authority ca "Corvane Test CA" || fail "openssl failed"
make_authority stranger "Corvane Stranger CA" || fail "openssl failed"
make_server trusted ca localhost localhost || fail "openssl failed"
make_server untrusted stranger localhost localhost || fail "openssl failed"
make_server wrongname ca elsewhere.test elsewhere || fail "openssl failed"
openssl x509 -in ca.pem -outform DER -out ca.der 2>>openssl.log || fail "openssl failed"

python3 "$root/tests/wine/host/echo_server.py" ports trusted.pem:trusted.key untrusted.pem:untrusted.key \
  wrongname.pem:wrongname.key >server.log 2>&1 &
server_pid=$!

# The wineserver once for the prefix, its output away from our pipes.
"$wineserver" -p >/dev/null 2>&1 </dev/null &
timeout 120 "$wine" wineboot -i >wineboot.log 2>&1 || fail "wineboot failed"
timeout 60 "$wine" "$bin/corvane_trust_ca.exe" ca.der >trust.log 2>&1 || fail "trusting the test authority failed"

for _ in $(seq 50); do [[ -s ports ]] && break; sleep 0.1; done
[[ -s ports ]] || fail "the echo servers did not start"
read -r plain tls untrusted wrongname refused <ports

status=0
timeout 300 "$wine" "$bin/corvane_host_test.exe" "$plain" "$tls" "$untrusted" "$wrongname" "$refused" \
  >test.out 2>test.log || status=$?
cat test.out
[[ $status -eq 0 ]] || fail "corvane_host_test exited with $status"
