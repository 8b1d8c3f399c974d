#!/bin/sh
# Makes a throwaway PKI for Modbus/TCP Security tests and trials, with the
# openssl command line: a CA, a server certificate for localhost and
# 127.0.0.1, and client certificates with and without a role. For tests
# only: the keys are unencrypted and the CA key sits beside them.
# Usage: tools/make-test-pki.sh DIR
#   ca.pem               the CA that masters' and the server's certificates chain to
#   server.pem/.key      the server (TLS handle) certificate and key
#   operator.pem/.key    a master with role "operator"
#   monitor.pem/.key     a master with role "monitor"
#   norole.pem/.key      a master without role extension
#   badrole.pem/.key     a master whose role extension is not a UTF8String
#   expired.pem/.key     role "operator", expired in 2021
#   foreign.pem/.key     role "operator", from another CA (other-ca.pem)
set -eu
[ $# -eq 1 ] || { echo "usage: $0 DIR" >&2; exit 2; }
dir=$1
mkdir -p "$dir"
cd "$dir"
role_oid=1.3.6.1.4.1.50316.802.1

cat > extensions.cnf <<CNF
[req]
distinguished_name = subject
[subject]
[ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[server]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost, IP:127.0.0.1
[client]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = clientAuth
[operator]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = clientAuth
$role_oid = ASN1:UTF8String:operator
[monitor]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = clientAuth
$role_oid = ASN1:UTF8String:monitor
[badrole]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = clientAuth
$role_oid = ASN1:INTEGER:7
CNF

# A self-signed CA: make_ca NAME SUBJECT
make_ca() {
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days 3650 \
        -subj "$2" -config extensions.cnf -extensions ca 2>/dev/null
}

# make_cert NAME CA EXTENSIONS SUBJECT KEYTYPE
make_cert() {
    openssl req -new -newkey "$5" -nodes -keyout "$1.key" -out "$1.csr" -subj "$4" \
        -config extensions.cnf 2>/dev/null
    openssl x509 -req -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" -CAcreateserial -days 3650 \
        -extfile extensions.cnf -extensions "$3" -out "$1.pem" 2>/dev/null
    rm -f "$1.csr"
}

make_ca ca "/CN=mbslave test CA"
make_ca other-ca "/CN=mbslave other CA"
openssl ecparam -name prime256v1 > ec.params
ec=ec:ec.params
make_cert server ca server "/CN=localhost" rsa:2048
make_cert operator ca operator "/CN=operator master" "$ec"
make_cert monitor ca monitor "/CN=monitor master" "$ec"
make_cert norole ca client "/CN=master without role" "$ec"
make_cert badrole ca badrole "/CN=master with a bad role" "$ec"
make_cert foreign other-ca operator "/CN=foreign master" "$ec"

# The expired certificate needs fixed dates, which only "openssl ca" sets.
mkdir -p ca.db
: > ca.db/index.txt
echo 1000 > ca.db/serial
cat > ca.cnf <<CNF
[ca]
default_ca = test
[test]
database = ca.db/index.txt
serial = ca.db/serial
new_certs_dir = ca.db
default_md = sha256
policy = anything
copy_extensions = none
[anything]
commonName = supplied
CNF
openssl req -new -newkey "$ec" -nodes -keyout expired.key -out expired.csr -subj "/CN=expired master" \
    -config extensions.cnf 2>/dev/null
openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in expired.csr -out expired.pem \
    -startdate 20200101000000Z -enddate 20210101000000Z \
    -extfile extensions.cnf -extensions operator -notext 2>/dev/null
rm -rf expired.csr ca.db ca.cnf ec.params extensions.cnf ./*.srl
echo "test PKI in $dir"
