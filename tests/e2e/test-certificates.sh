#!/usr/bin/env bash
# Certificates for the publishing tests, made afresh in <dir>:
#   ca.pem             the test's authority (and ca.key)
#   other-ca.pem       an authority that signed nothing here
#   localhost.pem/key  a broker certificate for localhost and 127.0.0.1
#   otherhost.pem/key  one for another host name only
#   expired.pem/key    one for localhost and 127.0.0.1, out of date since 2020
#   empty.pem          a CA file without a certificate
#   test-certificates.sh <dir>
set -euo pipefail
cd "$1"
key() { openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "$@" 2>/dev/null; }
key -x509 -keyout ca.key -out ca.pem -days 30 -subj /CN=lumoscan-test-ca
key -x509 -keyout other-ca.key -out other-ca.pem -days 30 -subj /CN=another-ca

# openssl ca signs with any dates, the past included.
mkdir -p ca.db
: > ca.db/index
echo 01 > ca.db/serial
sign() {
  local name=$1 names=$2 dates=$3
  key -keyout "$name.key" -out "$name.csr" -subj "/CN=$name"
  cat > "$name.cnf" <<CNF
[ca]
default_ca = test
[test]
database = ca.db/index
serial = ca.db/serial
new_certs_dir = ca.db
default_md = sha256
policy = any
unique_subject = no
copy_extensions = none
x509_extensions = server
[any]
commonName = supplied
[server]
subjectAltName = $names
CNF
  # shellcheck disable=SC2086
  openssl ca -batch -notext -config "$name.cnf" -cert ca.pem -keyfile ca.key -in "$name.csr" -out "$name.pem" \
    $dates >/dev/null 2>&1
}
sign localhost "DNS:localhost, IP:127.0.0.1" "-days 30"
sign otherhost "DNS:otherhost" "-days 30"
sign expired "DNS:localhost, IP:127.0.0.1" "-startdate 20200101000000Z -enddate 20200102000000Z"
echo 'no certificate here' > empty.pem
# The broker may drop root for its own user before it reads them.
chmod 644 ./*.pem ./*.key
