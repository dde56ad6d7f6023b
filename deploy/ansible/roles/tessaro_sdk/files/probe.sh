#!/bin/sh

# SPDX-FileCopyrightText: 2026 The Tessaro installer developers
#
# SPDX-License-Identifier: GPL-2.0-or-later

# What the host has of the SDK, and what the role must do there. Run by the
# role as one command, changing nothing but the role's own leftovers:
#   probe.sh STATE IDENTITY PARENT MODE READ
# STATE is present or absent; IDENTITY the package's identity (its
# data/identity, as the installation records it); PARENT the directory in
# which a run makes its private directory; MODE "run" (clean up what killed
# runs left) or "check" (change nothing); READ "all" to read every installed
# file, or "changed" to read only those whose size, mode or time changed.
#
# The installation records on the host what it installed (the package's
# identity and each file's checksum, mode, size and time); that record,
# not the role, decides. Prints key=value lines:
#   uid        the user the role runs as (nothing else when not root)
#   verb       install, upgrade (another package), repair (installed files
#              changed or missing), remove or none
#   installed  the identity the host records
#   changed    the installed files that differ: "PATH (missing|mode|content)"
#   kept       configuration files the administrator changed, which stay
#   unsafe     why PARENT cannot hold root's private directory
#   dir        PARENT as the checks took it, and the run must: one spelling
#              of it, whatever slashes and "." it was given with
#   dirid      that directory's device and inode
set -u
state=$1
identity=$2
parent=$3
mode=$4
read_all=$5
sdk=/usr/share/kestrane-virtualization-sdk
manifest=$sdk/Manifest
record=$sdk/Installed
lock=/run/kestrane-sdk-install.lock

echo "uid=$(id -u)"
if [ "$(id -u)" -ne 0 ]; then
    exit 0
fi

# Why root must not make its private directory in $1 (nothing when it may):
# the directory, every directory above it and where it leads must be
# root's, and none of them writable by another user (through its group or
# others bits, or an ACL) without the sticky bit;
# otherwise that user could swap the directory for one of theirs.
# The character that follows the mode in ls's long listing: "+" when the
# file has an ACL.
acl_mark() {
    # shellcheck disable=SC2012 # only its mode string is read
    ls -ld -- "$1" 2>/dev/null | cut -c 11
}
untrusted() {
    case $1 in
        *"
"*) echo "the directory's name holds a line break"; return ;;
        /*) ;;
        *) echo "$1 is not an absolute path"; return ;;
    esac
    case /$1/ in
        */../*) echo "$1 names a parent directory (..): name the directory itself"; return ;;
    esac
    if [ -L "$1" ]; then
        echo "$1 is a symbolic link"
        return
    fi
    if [ ! -d "$1" ]; then
        echo "$1 is not a directory"
        return
    fi
    for path in "$1" "$(readlink -f "$1")"; do
        while :; do
            # Of a link, its owner counts, not its mode.
            read -r owner group perm <<EOF
$(stat -c '%u %g %a' "$path")
EOF
            if [ "$owner" != 0 ]; then
                echo "$path belongs to uid $owner, not to root"
                return
            fi
            # The group bits of a directory with an access ACL are its mask:
            # set, a user or group the ACL names may write. Root's own group
            # is another user too.
            if [ ! -L "$path" ] && [ $((0$perm & 01000)) -eq 0 ] && [ $((0$perm & 022)) -ne 0 ]; then
                if [ $((0$perm & 02)) -ne 0 ]; then
                    how="every user may write it"
                elif [ "$(acl_mark "$path")" = + ]; then
                    how="an access ACL lets users or groups other than root write it"
                else
                    how="its group, gid $group, may write it"
                fi
                echo "$path may be written by users other than root and has no sticky bit ($how)"
                return
            fi
            [ "$path" = / ] && break
            path=$(dirname "$path")
        done
    done
}

# A run holds a lock on its private directory while it lives: what a run
# that was killed outright left goes, once it is a minute old (only from a
# directory that nobody but root can change); so does what earlier
# versions of the role left (their fixed directory and record).
# PARENT in one spelling: without "." parts, doubled or trailing slashes,
# so that "dir/" is looked at as "dir" is (a link is tested as itself, not
# through its target).
case $parent in
    *"
"*) ;;
    /*) parent=$(printf '%s\n' "$parent" | awk -F/ '
            { for (i = 1; i <= NF; i++) if ($i != "" && $i != ".") out = out "/" $i }
            END { print (out == "" ? "/" : out) }') ;;
esac
unsafe=$(untrusted "$parent")
if [ "$mode" = run ] && [ -z "$unsafe" ] && command -v flock >/dev/null 2>&1; then
    find "$parent" -mindepth 1 -maxdepth 1 -type d -user root -name 'tessaro-sdk.??????????' -mmin +1 \
        -exec flock -n {} rm -rf {} \; 2>/dev/null
    legacy=/var/tmp/tessaro-sdk
    if [ -d "$legacy" ] && [ ! -L "$legacy" ] && [ "$(stat -c %u "$legacy")" = 0 ] && flock -n "$lock" true; then
        rm -rf "$legacy"
    fi
    rm -f /var/lib/tessaro-sdk/package
    rmdir /var/lib/tessaro-sdk 2>/dev/null
fi

# The record proves itself: its last line "end COUNT SHA256" counts its
# file lines and sums every line before it. One cut short or changed counts
# as none (the SDK is then installed anew).
proven() {
    # shellcheck disable=SC2046 # the last line's three words
    set -- $(tail -n 1 "$record")
    [ "${1:-}" = end ] && [ "${2:-}" = $(($(wc -l < "$record") - 2)) ] &&
        [ "${3:-}" = "$(sed '$d' "$record" | sha256sum | cut -d ' ' -f 1)" ]
}
installed=
if [ -f "$record" ] && proven; then
    installed=$(sed -n '1s/^package //p' "$record")
fi
echo "installed=$installed"

# A path as a message carries it: as it is when it is UTF-8 text without
# control characters; otherwise every byte outside printable ASCII, and a
# backslash, as \xHH, so that the name stays exact whatever bytes it holds
# (the controller would show bytes that are no UTF-8 as "?").
shown() {
    if printf '%s' "$1" | LC_ALL=C grep -q '[^ -~]' &&
        { printf '%s' "$1" | LC_ALL=C grep -q '[[:cntrl:]]' ||
            ! printf '%s' "$1" | iconv -f UTF-8 -t UTF-8 >/dev/null 2>&1; }; then
        printf '%s' "$1" | od -An -v -tu1 | awk '
            { for (f = 1; f <= NF; f++) printf ($f < 32 || $f > 126 || $f == 92) ? "\\x%02X" : "%c", $f }
            END { print "" }'
    else
        printf '%s\n' "$1"
    fi
}

# The recorded files that differ from the record, and the changed
# configuration files. A file is read only when its size, mode or time
# changed (or with READ "all"); a configuration file always, as the record
# holds the package's version of one the administrator changed.
verify() {
    # Paths are data: NUL-separated for xargs, which would parse quotes.
    awk 'NR > 1 && NF == 6 { print $6 }' "$record" | tr '\n' '\0' | xargs -0 -r stat -c '%n %a %s %Y' 2>/dev/null |
        awk -v all="$read_all" '
            NR == FNR {
                if (FNR > 1 && NF == 6) {
                    n++; sum[n] = $1; mode[n] = $2; size[n] = $3; time[n] = $4; section[n] = $5; path[n] = $6
                }
                next
            }
            { now[$1] = $2 " " $3 " " $4 }
            END {
                for (i = 1; i <= n; i++) {
                    if (!(path[i] in now)) { print path[i], "missing", section[i]; continue }
                    split(now[path[i]], is, " ")
                    if (is[1] != mode[i]) print path[i], "mode", section[i]
                    else if (is[2] != size[i]) print path[i], "content", section[i]
                    else if (section[i] == "config" || all == "all" || is[3] != time[i])
                        print path[i], "read", section[i], sum[i]
                }
            }' "$record" - |
        while read -r path what section sum; do
            if [ "$what" = read ]; then
                [ "$(sha256sum < "$path" | cut -d ' ' -f 1)" = "$sum" ] && continue
                what=content
            fi
            if [ "$section" = config ] && [ "$what" != missing ]; then
                echo "kept $(shown "$path")"
            else
                echo "changed $(shown "$path") ($what)"
            fi
        done
}

# The lines of $2 that start with the word $1, without it, as one list.
listed() {
    printf '%s\n' "$2" | awk -v word="$1" '$1 == word { sub(/^[^ ]+ /, ""); list = list (list == "" ? "" : ", ") $0 }
                                          END { print list }'
}

verb=none
if [ "$state" = present ]; then
    if [ ! -f "$manifest" ]; then
        verb=install
    elif [ -z "$installed" ] || [ "$installed" != "$identity" ]; then
        verb=upgrade
    else
        differences=$(verify)
        changed=$(listed changed "$differences")
        kept=$(listed kept "$differences")
        echo "changed=$changed"
        echo "kept=$kept"
        if [ -n "$changed" ]; then
            verb=repair
        fi
    fi
elif [ -f "$manifest" ]; then
    verb=remove
fi
echo "verb=$verb"
if [ "$verb" != none ]; then
    echo "unsafe=$unsafe"
    if [ -z "$unsafe" ]; then
        echo "dir=$parent"
        echo "dirid=$(stat -c '%d:%i' -- "$parent")"
    fi
fi
exit 0
