#!/usr/bin/env bash
# Makes the certificates of the TLS tests in DIR with the openssl tool:
#   ca.pem                  test CA that the tests trust
#   server.pem/.key         for "localhost", from the test CA
#   unknown.pem/.key        for "localhost" and 127.0.0.2, from a CA nobody trusts
#   expired.pem/.key        for "localhost" and 127.0.0.3, from the test CA, expired in 2021
#
#   tests/dovecot/make-certs.sh DIR
set -euo pipefail
dir=${1:?usage: make-certs.sh DIR}
mkdir -p "$dir"
cd "$dir"

ca() {  # NAME SUBJECT
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days 30 \
    -subj "/CN=$2" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
}
ca ca "Larkspur Test CA"
ca other-ca "Larkspur Unknown CA"

# `openssl ca` is used for every leaf, since it alone sets any start and end date.
mkdir -p db
for issuer in ca other-ca; do
  : > "db/$issuer.index"
  echo 1000 > "db/$issuer.serial"
done
leaf() {  # NAME ISSUER SAN START END
  cat > "$1.cnf" <<CNF
[ ca ]
default_ca = test
[ test ]
database = db/$2.index
serial = db/$2.serial
new_certs_dir = db
certificate = $2.pem
private_key = $2.key
default_md = sha256
policy = any
unique_subject = no
copy_extensions = none
x509_extensions = leaf
[ any ]
commonName = supplied
[ leaf ]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = $3
CNF
  openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=localhost" \
    2>/dev/null
  openssl ca -batch -config "$1.cnf" -in "$1.csr" -out "$1.pem" -notext \
    -startdate "$4" -enddate "$5" 2>/dev/null
}
now=$(date -u -d '-1 day' +%Y%m%d%H%M%SZ)
later=$(date -u -d '+20 days' +%Y%m%d%H%M%SZ)
leaf server ca "DNS:localhost" "$now" "$later"
leaf unknown other-ca "DNS:localhost,IP:127.0.0.2" "$now" "$later"
leaf expired ca "DNS:localhost,IP:127.0.0.3" 20200101000000Z 20210101000000Z
