#!/usr/bin/env bash
# Makes throw-away signing identities for the signing tests in the folder given: a root and an
# intermediate authority, a code-signing leaf in identity.p12, and broken variants (an expired leaf,
# one without the code-signing usage, one whose key is not its certificate's), all with the password
# "test-password"; and a time-stamp authority for tsa.cnf. Nothing here can sign real software.
set -euo pipefail
cd "$1"
pass=test-password
cat > ext.cnf <<'CNF'
[ca]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
[leaf]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, codeSigning
[server]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
[tsa]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
CNF
key() { openssl genpkey -quiet -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$1.key"; }
# issue NAME SUBJECT ISSUER EXTENSION: a certificate for NAME.key signed by ISSUER
issue() {
    openssl req -new -key "$1.key" -subj "$2" -out "$1.csr"
    openssl x509 -req -in "$1.csr" -CA "$3.pem" -CAkey "$3.key" -set_serial "0x$(openssl rand -hex 8)" \
        -days 30 -sha256 -extfile ext.cnf -extensions "$4" -out "$1.pem" 2>/dev/null
}
key root
openssl req -new -key root.key -subj "/CN=Test Root Authority" -out root.csr
openssl x509 -req -in root.csr -key root.key -days 30 -sha256 -extfile ext.cnf -extensions ca -out root.pem 2>/dev/null
key intermediate
issue intermediate "/CN=Test Intermediate Authority" root ca
key leaf
issue leaf "/CN=Developer ID Application: Test Maker (TEAM012345)/OU=TEAM012345/O=Test Maker/C=US" intermediate leaf
cat intermediate.pem root.pem > chain.pem
openssl pkcs12 -export -inkey leaf.key -in leaf.pem -certfile chain.pem -passout "pass:$pass" -out identity.p12

key server
issue server "/CN=Not For Code/OU=TEAM012345" intermediate server
openssl pkcs12 -export -inkey server.key -in server.pem -certfile chain.pem -passout "pass:$pass" -out noeku.p12

# The expired leaf: an authority database lets the dates be chosen.
mkdir -p ca-db && : > ca-db/index.txt && echo 01 > ca-db/serial
cat > ca.cnf <<'CNF'
[ca]
default_ca = test
[test]
database = ca-db/index.txt
new_certs_dir = ca-db
serial = ca-db/serial
default_md = sha256
policy = anything
unique_subject = no
[anything]
commonName = supplied
organizationalUnitName = optional
CNF
openssl ca -batch -config ca.cnf -cert intermediate.pem -keyfile intermediate.key -in leaf.csr \
    -startdate 20200101000000Z -enddate 20210101000000Z -extfile ext.cnf -extensions leaf -notext -out expired.pem 2>/dev/null
openssl pkcs12 -export -inkey leaf.key -in expired.pem -certfile chain.pem -passout "pass:$pass" -out expired.p12

# A key with another key's certificate: the file holds both, but they don't belong together.
key stranger
openssl pkcs12 -export -inkey stranger.key -nocerts -certfile leaf.pem -passout "pass:$pass" -out mismatch.p12 2>/dev/null

key tsa
issue tsa "/CN=Test Time-Stamp Authority" intermediate tsa
cat > tsa.cnf <<CNF
[tsa]
default_tsa = test
[test]
serial = $PWD/tsa-serial
signer_cert = $PWD/tsa.pem
certs = $PWD/chain.pem
signer_key = $PWD/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256
accuracy = secs:1
ess_cert_id_alg = sha256
CNF
echo 01 > tsa-serial
