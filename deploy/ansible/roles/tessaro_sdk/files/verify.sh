#!/bin/sh

# SPDX-FileCopyrightText: 2026 The Tessaro installer developers
#
# SPDX-License-Identifier: GPL-2.0-or-later

# On the controller: whether the package TARBALL may go to the hosts.
#   verify.sh TARBALL [KEY]
# Prints nothing when it may, else why not, on one line. TARBALL must match
# the checksum its checksum file TARBALL.sha256 states. With KEY (the
# pinned signing key: an ASCII-armoured OpenPGP public key file, as
# "gpg --export --armor" writes it), that checksum file must also carry a
# good signature, TARBALL.sha256.asc, by that key and no other, made while
# the key was neither expired nor revoked, and must name TARBALL: a signed
# checksum file of another package does not vouch for this one. gpgv, which
# every host that verifies its own package manager's signatures has, checks
# the signature.
set -u
tarball=$1
key=${2:-}
sums=$tarball.sha256

if [ -n "$key" ]; then
    signature=$sums.asc
    if [ ! -r "$key" ] || ! grep -q '^-----BEGIN PGP PUBLIC KEY BLOCK-----' "$key"; then
        echo "the signing key $key is not an ASCII-armoured OpenPGP public key (gpg --export --armor writes one)"
        exit 0
    fi
    if [ ! -e "$signature" ]; then
        echo "$tarball is not signed: $signature is missing"
        exit 0
    fi
    if [ ! -s "$signature" ]; then
        echo "the signature $signature is empty"
        exit 0
    fi
    if ! work=$(mktemp -d); then
        echo "no temporary directory for checking $signature"
        exit 0
    fi
    trap 'rm -rf "$work"' EXIT
    # gpgv takes a keyring, not armour: the armour's base64 lines, decoded;
    # a public key starts with a public-key packet.
    sed '1,/^$/d; /^=....$/d; /^-----END/d' "$key" | base64 -d > "$work/keyring" 2>/dev/null
    case $(od -An -tx1 -N1 "$work/keyring" | tr -d ' ') in
        98 | 99 | c6) ;;
        *)
            echo "the signing key $key is not an ASCII-armoured OpenPGP public key (gpg --export --armor writes one)"
            exit 0
            ;;
    esac
    status=$(gpgv --homedir "$work" --keyring "$work/keyring" --status-fd 1 "$signature" "$sums" 2>/dev/null)
    has() {
        printf '%s\n' "$status" | grep -q -E "^\[GNUPG:\] $1( |$)"
    }
    if has EXPKEYSIG; then
        refusal="$signature was made by the key of $key, which has expired"
    elif has REVKEYSIG; then
        refusal="$signature was made by the key of $key, which was revoked"
    elif has EXPSIG; then
        refusal="the signature $signature has expired"
    elif has BADSIG; then
        refusal="the signature $signature does not match $sums (changed after it was signed, or the signature of another file)"
    elif [ "$(printf '%s\n' "$status" | awk '$2 == "ERRSIG" { print $8 }')" = 125 ]; then
        refusal="$signature was made by a subkey of $key that may not sign"
    elif has NO_PUBKEY; then
        refusal="$signature was not made by the key of $key"
    elif has NODATA || ! has NEWSIG; then
        refusal="$signature is not an OpenPGP signature"
    elif ! has GOODSIG || ! has VALIDSIG; then
        refusal="$signature is not a good signature by the key of $key"
    else
        refusal=
    fi
    if [ -n "$refusal" ]; then
        echo "$refusal"
        exit 0
    fi
    named=$(awk 'NR == 1 { sub(/^\*/, "", $2); print $2 }' "$sums")
    if [ "$named" != "$(basename "$tarball")" ]; then
        echo "the signed checksum file $sums is for another package ($named)"
        exit 0
    fi
fi

sum=$(awk 'NR == 1 { print $1 }' "$sums" 2>/dev/null)
if [ "${#sum}" -ne 64 ] || [ "$(sha256sum < "$tarball" 2>/dev/null | cut -d ' ' -f 1)" != "$sum" ]; then
    echo "$tarball does not match its checksum file $sums (missing, unreadable or for another package)"
fi
exit 0
