#!/usr/bin/env bash
# Makes a throwaway CA and server certificates for the TLS tests and benchmarks, with the
# openssl command and EC keys (quick):
#   ca.pem           the test CA (ca.key its key), trusted by the tests through --tls-ca
#   other-ca.pem     a CA that signed none of these
#   server.key       the one server key of all the certificates below
#   server.pem       for localhost, 127.0.0.1 and ::1
#   wrong-name.pem   for pager.example.org only
#   cn-only.pem      CN=localhost and no subjectAltName
#   ip-only.pem      CN=localhost and only 127.0.0.1 in its subjectAltName
#   expired.pem      as server.pem, valid only on 1 January 2020
# Usage: make-test-pki.sh DIR      (DIR is made if needed; existing files are replaced)
set -euo pipefail
dir="$1"
mkdir -p "$dir"
cd "$dir"
rm -rf ca-db
mkdir ca-db
: >ca-db/index.txt
echo 01 >ca-db/serial

run() {
    local log
    if ! log=$("$@" 2>&1); then
        echo "make-test-pki.sh: failed: $*" >&2
        echo "$log" >&2
        exit 1
    fi
}

key=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
run openssl req -x509 -new "${key[@]}" -keyout ca.key -out ca.pem -days 30 \
    -subj "/CN=Dazoroz Test CA"
run openssl req -x509 -new "${key[@]}" -keyout other-ca.key -out other-ca.pem -days 30 \
    -subj "/CN=Dazoroz Other CA"
run openssl req -new "${key[@]}" -keyout server.key -out server.csr -subj "/CN=localhost"

cat >ca.cnf <<'EOF'
[ca]
default_ca = test
[test]
database = ca-db/index.txt
new_certs_dir = ca-db
serial = ca-db/serial
default_md = sha256
default_days = 30
policy = any
unique_subject = no
[any]
commonName = supplied
[server]
basicConstraints = CA:FALSE
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost,IP:127.0.0.1,IP:::1
[wrong_name]
basicConstraints = CA:FALSE
extendedKeyUsage = serverAuth
subjectAltName = DNS:pager.example.org
[cn_only]
basicConstraints = CA:FALSE
extendedKeyUsage = serverAuth
[ip_only]
basicConstraints = CA:FALSE
extendedKeyUsage = serverAuth
subjectAltName = IP:127.0.0.1
EOF

sign() { # OUT EXTENSIONS [openssl ca options...]
    local out="$1" extensions="$2"
    shift 2
    run openssl ca -batch -notext -config ca.cnf -cert ca.pem -keyfile ca.key -in server.csr \
        -out "$out" -extensions "$extensions" "$@"
}
sign server.pem server
sign wrong-name.pem wrong_name
sign cn-only.pem cn_only
sign ip-only.pem ip_only
sign expired.pem server -startdate 20200101000000Z -enddate 20200102000000Z
rm -rf ca-db ca.cnf server.csr
