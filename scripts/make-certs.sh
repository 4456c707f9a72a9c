#!/usr/bin/env bash
# Makes the certificates of the build: the development CA with the emulator's
# server certificate, and the test servers' set. Files that already exist and
# still verify are kept, so a rebuild does not invalidate a CA that copies
# elsewhere (config/ca.pem beside the executables) still hold.
# Usage:
#   make-certs.sh dev OUTDIR
#   make-certs.sh test OUTDIR [TRUSTED_CA_DIR]
# TRUSTED_CA_DIR holds ca.pem and ca.key of a CA that a client under test
# already trusts (the development CA, for zeqctl); impostors signed by it are
# added to the test set.
set -euo pipefail

usage() {
    echo "usage: $0 dev OUTDIR | $0 test OUTDIR [TRUSTED_CA_DIR]" >&2
    exit 2
}

[[ $# -ge 2 ]] || usage
kind=$1
out=$2
trusted=""
case $kind in
    dev) [[ $# -eq 2 ]] || usage ;;
    test)
        [[ $# -le 3 ]] || usage
        trusted=${3:+$(cd "$3" && pwd)}
        ;;
    *) usage ;;
esac
mkdir -p "$out"
cd "$out"

days=3650
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Stops openssl from reading a system config that might ask questions or add
# extensions we did not ask for.
export OPENSSL_CONF=/dev/null

# openssl chatters on stderr even when it succeeds; show that only on failure.
quiet() {
    local log
    if ! log=$("$@" 2>&1); then
        echo "$log" >&2
        return 1
    fi
}

made=()

make_ca() { # name, common name
    local name=$1 cn=$2
    made+=("$name.pem" "$name.key")
    if [[ -s $name.key ]] && openssl x509 -in "$name.pem" -noout -checkend 86400 >/dev/null 2>&1; then
        return
    fi
    quiet openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days "$days" \
        -keyout "$name.key.tmp" -out "$name.pem.tmp" -subj "/CN=$cn" \
        -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign,cRLSign" \
        -addext "subjectKeyIdentifier=hash"
    mv "$name.key.tmp" "$name.key"
    mv "$name.pem.tmp" "$name.pem"
}

make_server() { # name, issuing CA (its path without .pem), subject alternative names, common name
    local name=$1 ca=$2 names=$3 cn=$4
    made+=("$name.pem" "$name.key")
    # Checking the chain also remakes a leaf whose CA was remade or that expired.
    if [[ -s $name.key ]] && openssl verify -CAfile "$ca.pem" "$name.pem" >/dev/null 2>&1; then
        return
    fi
    local ext=$work/$name.ext csr=$work/$name.csr
    cat >"$ext" <<EOF
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = $names
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EOF
    quiet openssl req -new -newkey rsa:2048 -nodes -sha256 \
        -keyout "$name.key.tmp" -out "$csr" -subj "/CN=$cn"
    # A random serial keeps a remade leaf from clashing with an old one that
    # a client may have cached under the same issuer and serial.
    quiet openssl x509 -req -sha256 -days "$days" -in "$csr" \
        -CA "$ca.pem" -CAkey "$ca.key" -set_serial "0x$(openssl rand -hex 16)" \
        -extfile "$ext" -out "$name.pem.tmp"
    mv "$name.key.tmp" "$name.key"
    mv "$name.pem.tmp" "$name.pem"
}

loopback="IP:127.0.0.1, DNS:localhost"

if [[ $kind == dev ]]; then
    # What zeqctl and the library's hosts trust out of the box (config/ca.pem).
    make_ca ca "HttpLib Development CA"
    # The emulator's own certificate, for the loopback names it listens on.
    make_server server ca "$loopback" localhost
else
    # Trusted by the tests (config/ca.pem): a client that verifies must accept server.pem.
    make_ca ca "HttpLib Test CA"
    # The certificate a correct client accepts: right issuer, right name, right purpose.
    make_server server ca "$loopback" localhost
    # Trusted by nobody: a client that skips peer verification would accept other-server.pem.
    make_ca other-ca "HttpLib Unrelated Test CA"
    # Valid in every respect except its issuer, so only chain verification can reject it.
    make_server other-server other-ca "$loopback" localhost
    if [[ -n $trusted ]]; then
        # From the trusted CA but for evil.example: served on 127.0.0.1, only a
        # host-name check rejects it.
        make_server wrong-name "$trusted/ca" "DNS:evil.example" evil.example
        # From the trusted CA with the loopback names but another key: only a
        # certificate pin tells it from the device's own.
        make_server twin "$trusted/ca" "$loopback" localhost
    fi
fi

chmod 600 ./*.key
for f in "${made[@]}"; do
    [[ -s $f ]] || {
        echo "make-certs: $f was not made" >&2
        exit 1
    }
done
