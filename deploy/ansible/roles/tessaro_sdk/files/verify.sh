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

# Each line said is kept for the play's other hosts too (see below), once
# all of them could be kept.
work=
unkept=
say() {
    printf '%s\n' "$1"
    if [ -n "$work" ]; then
        printf '%s\n' "$1" >> "$work/lines.new" 2>/dev/null || unkept=1
    fi
}
keep() {
    if [ -n "$work" ] && [ -z "$unkept" ]; then
        mv -- "$work/lines.new" "$work/lines" 2>/dev/null
    fi
}
refuse() {
    say "refusal=$*"
    keep
    exit 0
}
me=$(id -u)

# Why the private directory must not be made in $1 (nothing when it may):
# it, every directory above it and where it leads must be root's or this
# user's, and none of them writable by another user (through its group or
# others bits, or an ACL) without the sticky bit; otherwise that user could
# swap the fresh directory, or what is copied into it, for their own.
untrusted() {
    case $1 in
        *"
"*) echo "its name holds a line break"; return ;;
        /*) ;;
        *) echo "it is not an absolute path"; return ;;
    esac
    case /$1/ in
        */../*) echo "it names a parent directory (..)"; return ;;
    esac
    [ -d "$1" ] || { echo "it is not a directory"; return; }
    for path in "$1" "$(readlink -f -- "$1")"; do
        while :; do
            read -r owner group perm <<EOF
$(stat -c '%u %g %a' -- "$path")
EOF
            if [ "$owner" != 0 ] && [ "$owner" != "$me" ]; then
                echo "$path belongs to uid $owner, neither to root nor to uid $me"
                return
            fi
            # (The group bits of a directory with an access ACL are its mask.)
            if [ ! -L "$path" ] && [ $((0$perm & 01000)) -eq 0 ] && [ $((0$perm & 022)) -ne 0 ]; then
                # shellcheck disable=SC2012 # only its mode string is read
                if [ $((0$perm & 02)) -ne 0 ]; then
                    how="every user may write it"
                elif [ "$(ls -ld -- "$path" 2>/dev/null | cut -c 11)" = + ]; then
                    how="an access ACL lets other users or groups write it"
                else
                    how="its group, gid $group, may write it"
                fi
                echo "$path may be written by other users and has no sticky bit ($how)"
                return
            fi
            [ "$path" = / ] && break
            path=$(dirname -- "$path")
        done
    done
}
# TMPDIR in one spelling: without "." parts, doubled or trailing slashes,
# so that a link is looked at as itself, not through its target.
temporary=${TMPDIR:-/tmp}
case $temporary in
    *"
"*) ;;
    /*) temporary=$(printf '%s\n' "$temporary" | awk -F/ '
            { for (i = 1; i <= NF; i++) if ($i != "" && $i != ".") out = out "/" $i }
            END { print (out == "" ? "/" : out) }') ;;
esac
why=$(untrusted "$temporary")
if [ -n "$why" ]; then
    refuse "the controller's TMPDIR $temporary cannot hold the private copy of the package: $why (set TMPDIR to a directory that only you or root may change)"
fi
temporary=$(readlink -f -- "$temporary")

# Where /proc tells, the private directory's name holds the process of the
# play that checks (its number and start time): the outermost process above
# this one that runs what the first one that is no shell runs (the play's
# workers are copies of it). A directory of this user's of that name whose
# play has ended is what an interrupted play left: it goes.
stat_field() {
    sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d ' ' -f "$2"
}
command_of() {
    tr '\0' ' ' < "/proc/$1/cmdline" 2>/dev/null
}
play=
if [ -r /proc/self/stat ]; then
    p=$(stat_field $$ 2)
    while [ "${p:-0}" -gt 1 ]; do
        case $(command_of "$p") in
            'sh '* | '/bin/sh '* | 'bash '* | '/bin/bash '* | 'dash '* | '/bin/dash '*) p=$(stat_field "$p" 2) ;;
            *) break ;;
        esac
    done
    if [ "${p:-0}" -gt 1 ]; then
        runs=$(command_of "$p")
        while q=$(stat_field "$p" 2) && [ "${q:-0}" -gt 1 ] && [ "$(command_of "$q")" = "$runs" ]; do
            p=$q
        done
        play=$p-$(stat_field "$p" 20)
    fi
    for left in "$temporary"/tessaro-sdk-package.*-*.??????????; do
        if [ ! -d "$left" ] || [ -L "$left" ] || [ "$(stat -c %u -- "$left")" != "$me" ]; then
            continue
        fi
        id=${left##*/tessaro-sdk-package.}
        id=${id%.*}
        case ${id%%-*}.${id#*-} in
            *[!0-9.]* | .* | *.) continue ;;
        esac
        [ "$(stat_field "${id%%-*}" 20)" = "${id#*-}" ] || rm -rf -- "$left"
    done
fi

# One check for each package and key in a play: a host that names what an
# earlier host of the play named gets that check's lines, kept in its
# private directory. (Checks of one play wait for each other, at most two
# minutes: the controller's temporary directory is locked meanwhile.)
checked=$tarball
[ -n "$key" ] && checked="$tarball $key"
if [ -n "$play" ] && command -v flock >/dev/null 2>&1 && exec 8< "$temporary"; then
    flock -w 120 8
    for earlier in "$temporary/tessaro-sdk-package.$play".??????????; do
        if [ -d "$earlier" ] && [ ! -L "$earlier" ] && [ "$(stat -c %u -- "$earlier")" = "$me" ] &&
            [ -f "$earlier/lines" ] && [ "$(cat -- "$earlier/checked" 2>/dev/null)" = "$checked" ]; then
            cat -- "$earlier/lines"
            exit 0
        fi
    done
fi

if ! work=$(mktemp -d "$temporary/tessaro-sdk-package.${play:+$play.}XXXXXXXXXX"); then
    work=
    refuse "no private directory on the controller for checking $tarball"
fi
chmod 0700 "$work"
printf '%s\n' "$checked" > "$work/checked" 2>/dev/null || unkept=1
say "dir=$work"
# Each file is read once, here; nothing below reads the originals. A copy
# that fails where the original reads (TMPDIR full, say) is the
# controller's to mend, not the package's.
copy() {
    if ! said=$(cp -- "$1" "$work/$2" 2>&1); then
        if [ -f "$1" ] && dd if="$1" of=/dev/null bs=1 count=1 2>/dev/null; then
            refuse "$1 cannot be copied into the controller's private directory $work (${said##*: }): free space in ${TMPDIR:-/tmp}, or set TMPDIR to another directory"
        fi
        return 1
    fi
}
copy "$tarball" package.tar.gz || refuse "$tarball cannot be read"
copy "$sums" sums || refuse "$tarball does not match its checksum file $sums (missing, unreadable or for another package)"

if [ -n "$key" ]; then
    if ! tr -d '\r' < "$key" > "$work/key.asc" 2>/dev/null || ! grep -q '^-----BEGIN PGP PUBLIC KEY BLOCK-----$' "$work/key.asc"; then
        refuse "the signing key $key is not an ASCII-armoured OpenPGP public key (gpg --export --armor writes one)"
    fi
    [ -e "$signature" ] || refuse "$tarball is not signed: $signature is missing"
    cp -- "$signature" "$work/signature" 2>/dev/null || refuse "the signature $signature cannot be read"
    [ -s "$work/signature" ] || refuse "the signature $signature is empty"
    # gpgv takes a keyring, not armour: every armour block's base64 lines
    # (after its header lines, before its checksum), each block decoded on
    # its own, one after the other. A key in any block counts, as gpg
    # --import would take it.
    : > "$work/keyring"
    awk -v out="$work/block." '
        /^-----BEGIN PGP PUBLIC KEY BLOCK-----$/ { n++; body = 0; inside = 1; next }
        /^-----END PGP PUBLIC KEY BLOCK-----$/ { inside = 0; next }
        inside && !body { if ($0 == "") body = 1; next }
        inside && /^=....$/ { next }
        inside { print > (out n) }
        END { print n + 0 }' "$work/key.asc" > "$work/blocks"
    block=1
    while [ "$block" -le "$(cat "$work/blocks")" ]; do
        base64 -d < "$work/block.$block" >> "$work/keyring" 2>/dev/null || : > "$work/keyring.bad"
        block=$((block + 1))
    done
    [ -e "$work/keyring.bad" ] && : > "$work/keyring"
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
    elif printf '%s\n' "$status" | awk '$2 == "ERRSIG" && ($5 == 1 || $5 == 2 || $5 == 3) { found = 1 } END { exit !found }'; then
        refuse "the signature $signature was made with a weak hash (MD5, SHA-1 or RIPEMD-160): sign with SHA-256 or stronger"
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
entries=$(grep -c '' "$work/sums")
if [ ! -s "$work/sums" ]; then
    refuse "the checksum file $sums is empty"
elif [ "$entries" -gt 1 ]; then
    refuse "the checksum file $sums holds $entries lines: it must hold one, the package's entry, as sha256sum writes it"
elif [ -z "$sum" ]; then
    refuse "the checksum file $sums is not as sha256sum writes it (the SHA-256 sum, two characters, the package's name, and nothing else)"
elif [ "$(tail -c 1 "$work/sums" | od -An -tx1 | tr -d ' ')" != 0a ]; then
    refuse "the checksum file $sums does not end its line: it must be as sha256sum writes it"
elif [ "$(sha256sum < "$work/package.tar.gz" | cut -d ' ' -f 1)" != "$sum" ]; then
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
say "package=$work/package.tar.gz"
say "sum=$sum"
say "name=$name"
say "identity=$identity"
keep
exit 0
