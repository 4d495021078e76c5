#!/usr/bin/env bash
# Makes a development signing set in DIR, for builds that are given no
# certificate of their own:
#   ca.pem              a self-signed development CA (the trust anchor)
#   codesign.pem/.key   a code-signing certificate issued by that CA
#   tsa.pem/.key        a time-stamping certificate issued by that CA, for a
#                       local RFC 3161 time-stamp authority
#   tsa-chain.pem       tsa.pem followed by ca.pem
#   not-before          the certificates' start of validity, in Unix seconds
#
#   make-dev-pki.sh DIR NOT_BEFORE
#
# NOT_BEFORE is a Unix time; the certificates are valid from then to the end
# of 9999, so any later signing or verifying time lies within them. Nothing
# here is secret: the keys are throw-away and live only in the build folder.
set -euo pipefail
dir=$1
not_before=$2

rm -rf "$dir"
mkdir -p "$dir/db"
: >"$dir/db/index.txt"
echo 01 >"$dir/db/serial"

start=$(date -u -d "@$not_before" +%Y%m%d%H%M%SZ)
end=99991231235959Z

cat >"$dir/openssl.cnf" <<EOF
[ ca ]
default_ca = dev_ca

[ dev_ca ]
dir = $dir/db
database = \$dir/index.txt
serial = \$dir/serial
new_certs_dir = \$dir
default_md = sha256
policy = any_name
unique_subject = no
copy_extensions = none
email_in_dn = no

[ any_name ]
commonName = supplied
organizationName = optional

[ req ]
distinguished_name = req_name
prompt = no

[ req_name ]

[ ca_ext ]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash

[ codesign_ext ]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid

[ tsa_ext ]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EOF

ossl() { openssl "$@" 2>"$dir/openssl.log" || { cat "$dir/openssl.log" >&2; exit 1; }; }

newkey() { ossl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:3072 -out "$1"; }

issue() { # issue NAME SUBJECT EXTENSIONS [ -selfsign ]
  local name=$1 subject=$2 ext=$3
  shift 3
  ossl req -new -config "$dir/openssl.cnf" -key "$dir/$name.key" \
    -subj "$subject" -out "$dir/$name.csr"
  local signer=(-cert "$dir/ca.pem" -keyfile "$dir/ca.key")
  [ "${1:-}" = -selfsign ] && signer=(-selfsign -keyfile "$dir/ca.key")
  ossl ca -batch -notext -config "$dir/openssl.cnf" "${signer[@]}" \
    -startdate "$start" -enddate "$end" -extensions "$ext" \
    -in "$dir/$name.csr" -out "$dir/$name.pem"
  rm -f "$dir/$name.csr"
}

newkey "$dir/ca.key"
issue ca "/O=IE8 Setup Assistant project/CN=IE8 Setup Assistant development CA" ca_ext -selfsign
newkey "$dir/codesign.key"
issue codesign "/O=IE8 Setup Assistant project/CN=IE8 Setup Assistant development code signing" codesign_ext
newkey "$dir/tsa.key"
issue tsa "/O=IE8 Setup Assistant project/CN=IE8 Setup Assistant development time-stamp authority" tsa_ext
cat "$dir/tsa.pem" "$dir/ca.pem" >"$dir/tsa-chain.pem"
echo "$not_before" >"$dir/not-before"
rm -f "$dir/openssl.log"
