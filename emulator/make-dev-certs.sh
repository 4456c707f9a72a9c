#!/usr/bin/env bash
# Makes the development CA and the emulator's server certificate it signs.
# Files that already exist and still verify are kept, so a rebuild does not
# invalidate a CA that clients elsewhere were given.
# Usage: make-dev-certs.sh OUTDIR
set -euo pipefail

if [[ $# -ne 1 ]]; then
    echo "usage: $0 OUTDIR" >&2
    exit 2
fi

out=$1
mkdir -p "$out"
cd "$out"
days=3650
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export OPENSSL_CONF=/dev/null

quiet() {
    local log
    if ! log=$("$@" 2>&1); then
        echo "$log" >&2
        return 1
    fi
}

if ! { [[ -s ca.key ]] && openssl x509 -in ca.pem -noout -checkend 86400 >/dev/null 2>&1; }; then
    quiet openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days "$days" \
        -keyout ca.key.tmp -out ca.pem.tmp -subj "/CN=HttpLib Development CA" \
        -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign,cRLSign" \
        -addext "subjectKeyIdentifier=hash"
    mv ca.key.tmp ca.key
    mv ca.pem.tmp ca.pem
fi

# The chain check also remakes a server certificate whose CA was remade.
if ! { [[ -s server.key ]] && openssl verify -CAfile ca.pem server.pem >/dev/null 2>&1; }; then
    cat >"$work/server.ext" <<'EXT'
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = IP:127.0.0.1, DNS:localhost
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EXT
    quiet openssl req -new -newkey rsa:2048 -nodes -sha256 \
        -keyout server.key.tmp -out "$work/server.csr" -subj "/CN=localhost"
    quiet openssl x509 -req -sha256 -days "$days" -in "$work/server.csr" \
        -CA ca.pem -CAkey ca.key -set_serial "0x$(openssl rand -hex 16)" \
        -extfile "$work/server.ext" -out server.pem.tmp
    mv server.key.tmp server.key
    mv server.pem.tmp server.pem
fi

chmod 600 ./*.key
for f in ca.pem ca.key server.pem server.key; do
    [[ -s $f ]] || {
        echo "make-dev-certs: $f was not made" >&2
        exit 1
    }
done
