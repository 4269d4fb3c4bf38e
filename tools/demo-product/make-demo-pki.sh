#!/bin/sh
# Makes the demo signing certificates in FOLDER, unless they are all there already:
#   demo-root.pem/.key            the demo root CA (what KV_CA_BUNDLE trusts in the demo)
#   publisher.pem/.key            "Kestrova Software", code signing, issued by the demo root
#   untrusted-root.pem/.key       a root that no bundle of ours lists
#   untrusted-publisher.pem/.key  code signing, issued by the untrusted root
# Everything is made in a private folder first and moved in at the end, so an interrupted run
# leaves a set that is incomplete (and made again next time), never a mixed one.
# OPENSSL names the openssl program (default: openssl on PATH). No network is used.
set -eu

out=${1:?usage: make-demo-pki.sh FOLDER}
openssl=${OPENSSL:-openssl}
files="demo-root.key demo-root.pem publisher.key publisher.pem
       untrusted-root.key untrusted-root.pem untrusted-publisher.key untrusted-publisher.pem"

complete=yes
for f in $files; do
  [ -s "$out/$f" ] || complete=no
done
[ "$complete" = yes ] && exit 0

mkdir -p "$out"
work=$(mktemp -d "$out/.pki.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Keys readable by their owner only; certificates are public.
umask 077

cat >"$work/openssl.cnf" <<'CNF'
[req]
distinguished_name = dn
[dn]
[root]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[codesign]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
CNF

# root NAME SUBJECT
root() {
  "$openssl" req -x509 -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -sha256 \
    -days 7300 -config "$work/openssl.cnf" -extensions root -subj "$2" \
    -keyout "$work/$1.key" -out "$work/$1.pem" 2>/dev/null
}

# leaf NAME SUBJECT ISSUER
leaf() {
  "$openssl" req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -sha256 \
    -config "$work/openssl.cnf" -subj "$2" -keyout "$work/$1.key" -out "$work/$1.csr" 2>/dev/null
  "$openssl" x509 -req -in "$work/$1.csr" -CA "$work/$3.pem" -CAkey "$work/$3.key" \
    -set_serial "0x$("$openssl" rand -hex 16)" -days 3650 -sha256 \
    -extfile "$work/openssl.cnf" -extensions codesign -out "$work/$1.pem" 2>/dev/null
}

root demo-root "/O=Kestrova Software/CN=Kestrova Demo Root CA"
leaf publisher "/O=Kestrova Software/CN=Kestrova Software" demo-root
root untrusted-root "/O=Untrusted Demo/CN=Untrusted Demo Root CA"
leaf untrusted-publisher "/O=Untrusted Demo/CN=Untrusted Demo Publisher" untrusted-root

chmod 644 "$work"/*.pem
for f in $files; do
  mv -f "$work/$f" "$out/$f"
done
echo "make-demo-pki: made the demo signing certificates in $out"
