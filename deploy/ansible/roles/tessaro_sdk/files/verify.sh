#!/bin/sh

# SPDX-FileCopyrightText: 2026 The Tessaro installer developers
#
# SPDX-License-Identifier: GPL-2.0-or-later

# On the controller, once per play: checks the package TARBALL and says what
# may go to the hosts:
#   verify.sh TARBALL [KEY]
# Copies TARBALL, its checksum file TARBALL.sha256 and, with KEY, the
# signature TARBALL.sha256.asc and KEY into a new private directory, each
# read once, and checks only those copies: what is checked is what the
# hosts get, whatever happens to the originals meanwhile. Prints key=value
# lines:
#   dir       the private directory (the role removes it at the end)
#   refusal   why the package must not go to the hosts (then nothing more)
#   package   the checked copy of the tarball: the bytes to send
#   sum       their SHA-256, as the checked checksum file states it
#   name      the package's own name (its top directory, as its identity
#             names it)
#   identity  the identity it holds (data/identity)
# The copy must match the checksum its checksum file states, on one line as
# sha256sum writes it. With KEY (the pinned signing key: an ASCII-armoured
# OpenPGP public key file, as "gpg --export --armor" writes it, holding
# exactly one primary key), that checksum file must also carry a good
# signature by that key (or a signing subkey of it) and no other, made
# while the key was neither expired nor revoked, and must name this very
# package: a signed checksum file of another package does not vouch for
# this one. gpgv, which every host that verifies its own package manager's
# signatures has, checks the signature.
set -u
tarball=$1
key=${2:-}
sums=$tarball.sha256
signature=$sums.asc

refuse() {
    echo "refusal=$*"
    exit 0
}
if ! work=$(mktemp -d "${TMPDIR:-/tmp}/tessaro-sdk-package.XXXXXXXXXX"); then
    echo "refusal=no private directory on the controller for checking $tarball"
    exit 0
fi
echo "dir=$work"
chmod 0700 "$work"
# Each file is read once, here; nothing below reads the originals.
cp -- "$tarball" "$work/package.tar.gz" 2>/dev/null || refuse "$tarball cannot be read"
cp -- "$sums" "$work/sums" 2>/dev/null || refuse "$tarball does not match its checksum file $sums (missing, unreadable or for another package)"

if [ -n "$key" ]; then
    if ! tr -d '\r' < "$key" > "$work/key.asc" 2>/dev/null || ! grep -q '^-----BEGIN PGP PUBLIC KEY BLOCK-----$' "$work/key.asc"; then
        refuse "the signing key $key is not an ASCII-armoured OpenPGP public key (gpg --export --armor writes one)"
    fi
    [ -e "$signature" ] || refuse "$tarball is not signed: $signature is missing"
    cp -- "$signature" "$work/signature" 2>/dev/null || refuse "the signature $signature cannot be read"
    [ -s "$work/signature" ] || refuse "the signature $signature is empty"
    # gpgv takes a keyring, not armour: the first armour block's base64
    # lines, decoded.
    sed -n '/^-----BEGIN PGP PUBLIC KEY BLOCK-----$/,/^-----END PGP PUBLIC KEY BLOCK-----$/p' "$work/key.asc" |
        sed '1,/^$/d; /^=....$/d; /^-----END/d' | base64 -d > "$work/keyring" 2>/dev/null
    # Its packets: a public key starts it, and exactly one primary key may
    # be in it (another would be trusted as much). Prints the fingerprint
    # of each primary key, or "bad" for a keyring that does not parse.
    primaries=$(od -An -v -tu1 "$work/keyring" | awk '
        { for (f = 1; f <= NF; f++) b[++n] = $f }
        END {
            i = 1
            while (i <= n) {
                h = b[i]
                if (h < 128 || (i == 1 && h != 152 && h != 153 && h != 198)) { print "bad"; exit }
                if (h >= 192) {
                    tag = h - 192; l = b[i + 1]
                    if (l < 192) { len = l; i += 2 }
                    else if (l < 224) { len = (l - 192) * 256 + b[i + 2] + 192; i += 3 }
                    else if (l == 255) { len = ((b[i + 2] * 256 + b[i + 3]) * 256 + b[i + 4]) * 256 + b[i + 5]; i += 6 }
                    else { print "bad"; exit }
                } else {
                    tag = int((h - 128) / 4); t = h % 4
                    if (t == 0) { len = b[i + 1]; i += 2 }
                    else if (t == 1) { len = b[i + 1] * 256 + b[i + 2]; i += 3 }
                    else if (t == 2) { len = ((b[i + 1] * 256 + b[i + 2]) * 256 + b[i + 3]) * 256 + b[i + 4]; i += 5 }
                    else { print "bad"; exit }
                }
                if (i + len - 1 > n) { print "bad"; exit }
                if (tag == 6) print i, len, b[i]
                i += len
            }
        }' | while read -r offset length version; do
            if [ "$offset" = bad ]; then
                echo bad
            elif [ "$version" = 4 ]; then
                # A v4 fingerprint: SHA-1 over 0x99, the length, the key.
                # shellcheck disable=SC2059 # the length's two bytes, as octal escapes
                { printf "\\231\\$(printf '%03o' $((length / 256)))\\$(printf '%03o' $((length % 256)))"
                  tail -c +"$offset" "$work/keyring" | head -c "$length"; } | sha1sum | cut -c 1-40 | tr a-f A-F
            else
                echo "a version $version key"
            fi
        done)
    case $primaries in
        '' | bad | *"
bad"*) refuse "the signing key $key is not an ASCII-armoured OpenPGP public key (gpg --export --armor writes one)" ;;
        *"
"*) refuse "the signing key $key holds $(printf '%s\n' "$primaries" | wc -l) keys ($(printf '%s\n' "$primaries" | paste -s -d ' ' - | sed 's/ /, /g')): pin exactly one" ;;
    esac
    # gpgv's own words (in English) tell what its status lines do not.
    status=$(LC_ALL=C gpgv --homedir "$work" --keyring "$work/keyring" --status-fd 1 "$work/signature" "$work/sums" \
        2> "$work/gpgv.err")
    has() {
        printf '%s\n' "$status" | grep -q -E "^\[GNUPG:\] $1( |$)"
    }
    signatures=$(printf '%s\n' "$status" | grep -c '^\[GNUPG:\] NEWSIG')
    if [ "$signatures" -gt 1 ]; then
        refuse "$signature holds $signatures signatures: it must hold one, by the key of $key, and no other"
    elif grep -q 'unknown critical bit' "$work/gpgv.err"; then
        refuse "the signature $signature carries a critical part that gpgv does not know (a critical notation, say): it cannot count as good"
    elif has EXPKEYSIG; then
        refuse "$signature was made by the key of $key, which has expired"
    elif has REVKEYSIG; then
        refuse "$signature was made by the key of $key, which was revoked"
    elif has EXPSIG; then
        refuse "the signature $signature has expired"
    elif has BADSIG; then
        refuse "the signature $signature does not match $sums (changed after it was signed, or the signature of another file)"
    elif [ "$(printf '%s\n' "$status" | awk '$2 == "ERRSIG" { print $8 }')" = 125 ]; then
        refuse "$signature was made by a subkey of $key that may not sign"
    elif has NO_PUBKEY; then
        refuse "$signature was not made by the key of $key"
    elif has NODATA || ! has NEWSIG; then
        refuse "$signature is not an OpenPGP signature"
    elif ! has GOODSIG || ! has VALIDSIG; then
        refuse "$signature is not a good signature by the key of $key"
    fi
    # VALIDSIG: the signature's time (field 5) and hash algorithm (field 10).
    made=$(printf '%s\n' "$status" | awk '$2 == "VALIDSIG" { print $5; exit }')
    hash=$(printf '%s\n' "$status" | awk '$2 == "VALIDSIG" { print $10; exit }')
    case $made in
        *[!0-9]* | '') refuse "$signature is not a good signature by the key of $key" ;;
    esac
    if [ "$made" -gt $(($(date +%s) + 300)) ]; then
        refuse "the signature $signature is dated in the future ($(date -u -d "@$made" '+%Y-%m-%d %H:%M:%S UTC' 2>/dev/null || echo "$made"))"
    fi
    case $hash in
        1 | 2 | 3) refuse "the signature $signature was made with a weak hash (MD5, SHA-1 or RIPEMD-160): sign with SHA-256 or stronger" ;;
    esac
fi

# The checksum file, as sha256sum writes it: one line, the sum, two
# characters, the name.
if tr -d '\n' < "$work/sums" | grep -q "$(printf '\r')"; then
    refuse "the checksum file $sums has CRLF line ends: it must be as sha256sum writes it"
fi
line=$(head -n 1 "$work/sums")
sum=$(printf '%s\n' "$line" | sed -n 's/^\([0-9a-f]\{64\}\) [ *]\(\.\/\)\{0,1\}\([^/]*\.tar\.gz\)$/\1/p')
named=$(printf '%s\n' "$line" | sed -n 's/^\([0-9a-f]\{64\}\) [ *]\(\.\/\)\{0,1\}\([^/]*\.tar\.gz\)$/\3/p')
if [ -z "$sum" ] || [ "$(wc -l < "$work/sums")" -ne 1 ] || [ "$(sha256sum < "$work/package.tar.gz" | cut -d ' ' -f 1)" != "$sum" ]; then
    refuse "$tarball does not match its checksum file $sums (missing, unreadable or for another package)"
fi
# The package's own name: its identity's, which is its top directory.
identity=$(tar -xzOf "$work/package.tar.gz" --wildcards '*/data/identity' 2>/dev/null | head -n 1)
name=${identity%% *}
if [ -z "$identity" ] || [ "$name" = "$identity" ] ||
    ! tar -tzf "$work/package.tar.gz" "$name/data/identity" >/dev/null 2>&1; then
    refuse "$tarball is not an SDK package: it holds no data/identity under its top directory"
fi
if [ -n "$key" ] && [ "$named" != "$name.tar.gz" ]; then
    refuse "the signed checksum file $sums is for another package ($named)"
fi
echo "package=$work/package.tar.gz"
echo "sum=$sum"
echo "name=$name"
echo "identity=$identity"
exit 0
