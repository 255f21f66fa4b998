#!/bin/sh
# A self-signed code-signing certificate and its key for the test command's Windows build:
# DIR/cert.pem and DIR/key.pem, made again when missing or within a day of expiring.
#   test-signing-certificate.sh DIR
set -eu
dir="$1"
mkdir -p "$dir"
if openssl x509 -in "$dir/cert.pem" -noout -checkend 86400 >/dev/null 2>&1 &&
    [ -s "$dir/key.pem" ]; then
    exit 0
fi
openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Kiv3 Device Proxy test signing" \
    -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
    -keyout "$dir/key.pem" -out "$dir/cert.pem" 2>/dev/null
