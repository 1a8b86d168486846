# shellcheck shell=bash
# Test certificates for every suite, as PEM files (NAME.pem, NAME.key) in one folder:
#   ca         the trusted authority ("Corvane Test CA"; its private key too)
#   stranger   an authority that nobody trusts
#   trusted    a server certificate for localhost, mail.corvane.test, 127.0.0.1, ::1, from ca
#   untrusted  as trusted, from stranger
#   wrongname  from ca, for elsewhere.corvane.test only
#   expired    as trusted, but its validity ended yesterday
#   signer     a code-signing certificate from ca, for signed release files
# The rest are valid from yesterday (a clock a little behind still accepts them) for a year.
#   source scripts/lib/test_certificates.sh && test_certificates FOLDER
#   bash scripts/lib/test_certificates.sh FOLDER
# openssl's output goes to FOLDER/openssl.log.
test_certificates() {  # folder
  mkdir -p "$1" || return 1
  (
    cd "$1" || exit 1
    rm -rf issued && mkdir issued && : >index.txt && echo 1000 >serial || exit 1
    cat >openssl.cnf <<'CNF'
[ca]
default_ca = test
[test]
database = index.txt
serial = serial
new_certs_dir = issued
default_md = sha256
policy = anything
unique_subject = no
[anything]
commonName = supplied
[req]
distinguished_name = dn
[dn]
[authority]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[server]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
authorityKeyIdentifier = keyid
subjectAltName = DNS:localhost,DNS:mail.corvane.test,IP:127.0.0.1,IP:::1
[elsewhere]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
authorityKeyIdentifier = keyid
subjectAltName = DNS:elsewhere.corvane.test
[signer]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning
authorityKeyIdentifier = keyid
CNF
    when() { date -u -d "$1" +%Y%m%d%H%M%SZ; }
    from=$(when yesterday) && to=$(when '+1 year') || exit 1
    issue() {  # name subject authority|-selfsign extensions [from to]
      local signer=(-cert "$3.pem" -keyfile "$3.key")
      [[ $3 == -selfsign ]] && signer=(-selfsign -keyfile "$1.key")
      openssl req -new -newkey rsa:2048 -nodes -subj "/CN=$2" -config openssl.cnf -keyout "$1.key" -out "$1.csr" &&
        openssl ca -batch -notext -config openssl.cnf "${signer[@]}" -in "$1.csr" -extensions "$4" \
          -startdate "${5:-$from}" -enddate "${6:-$to}" -out "$1.pem" && rm "$1.csr"
    }
    issue ca "Corvane Test CA" -selfsign authority && issue stranger "Corvane Stranger CA" -selfsign authority &&
      issue trusted localhost ca server && issue untrusted localhost stranger server &&
      issue wrongname elsewhere.corvane.test ca elsewhere && issue signer "Corvane Test signer" ca signer &&
      issue expired localhost ca server "$(when '-31 days')" "$(when '-1 day')" &&
      chmod 600 ./*.key
  ) >"$1/openssl.log" 2>&1
}

# Run as a program: makes the certificates in the folder given.
if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
  test_certificates "${1:?usage: test_certificates.sh FOLDER}" || { cat "$1/openssl.log" >&2; exit 1; }
fi
