#!/usr/bin/env bash
# Makes a throw-away test certificate authority and a certificate for
# "localhost" (and 127.0.0.1, and "support.kesta.invalid", a name only a test
# proxy knows) signed by it, for running the local support server with --tls.
# Nothing made here is secret or meant to be kept.
#
#   tools/server/make_cert.sh DIR
#
# DIR receives ca.crt, ca.key, localhost.crt and localhost.key; start the
# server with --tls DIR/localhost.crt DIR/localhost.key and trust DIR/ca.crt.
set -euo pipefail
if [ $# -ne 1 ]; then
  echo "usage: $0 DIR" >&2
  exit 2
fi
dir=$1
mkdir -p "$dir"
cd "$dir"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -sha256 \
  -subj "/CN=Kesta local test CA" \
  -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -keyout ca.key -out ca.crt 2>/dev/null
openssl req -newkey rsa:2048 -nodes -sha256 -subj "/CN=localhost" \
  -keyout localhost.key -out localhost.csr 2>/dev/null
cat > localhost.ext <<'EXT'
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=DNS:localhost,IP:127.0.0.1,DNS:support.kesta.invalid
EXT
openssl x509 -req -in localhost.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 -sha256 \
  -extfile localhost.ext -out localhost.crt 2>/dev/null
rm -f localhost.csr localhost.ext ca.srl
echo "$dir/localhost.crt $dir/localhost.key (authority: $dir/ca.crt)"
