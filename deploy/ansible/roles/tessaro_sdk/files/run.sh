#!/bin/sh

# SPDX-FileCopyrightText: 2026 The Tessaro installer developers
#
# SPDX-License-Identifier: GPL-2.0-or-later

# Installs, upgrades, repairs or removes the SDK with the package TARBALL,
# which the role has just copied into root's own temporary directory:
#   run.sh TARBALL PARENT NAME OPTION FORCE SUM LOG MARKER PARENTID
# Checks the package against its checksum SUM, unpacks it into a private
# directory it makes in PARENT, runs its installer there (OPTION -i or -r,
# FORCE -f or empty), prints the installer's output, MARKER and this run's
# part of the installer log LOG, and removes the directory on every way out
# it can see. A run killed outright leaves it to a later run's probe: the
# lock this run holds on it tells that nobody uses it any more.
# PARENT is the directory the probe checked, as it named it, and PARENTID
# its device and inode then: a PARENT that is no longer that directory is
# not used.
# Ends with the installer's status; 3 when the package does not match SUM or
# cannot be unpacked, or PARENT is not the directory checked; 75 when another installer held the host (the role
# tries again, with a new copy); 126 when PARENT does not let programs run;
# 128+N when stopped by signal N (the installer is stopped first).
set -u
tarball=$1
parent=$2
name=$3
option=$4
force=$5
sum=$6
log=$7
marker=$8
parent_id=$9

dir=
installer=
# shellcheck disable=SC2317 # called by the traps below
cleanup() {
    cd / || return
    if [ -n "$dir" ]; then
        rm -rf "$dir"
        dir=
    fi
}
# shellcheck disable=SC2317 # called by the traps below
stop() {
    if [ -n "$installer" ]; then
        kill -TERM "$installer" 2>/dev/null
        wait "$installer"
    elif [ -n "$phase" ]; then
        echo "stopped by signal $(($1 - 128)) while $phase: the installer did not run" >&2
    fi
    cleanup
    exit "$1"
}
phase="checking the package against its checksum"
trap cleanup EXIT
trap 'stop 129' HUP
trap 'stop 130' INT
trap 'stop 141' PIPE
trap 'stop 143' TERM

if [ "$(sha256sum < "$tarball" | cut -d ' ' -f 1)" != "$sum" ]; then
    echo "the package copied to the host does not match its checksum $sum" >&2
    exit 3
fi
phase="unpacking the package"
if [ -L "$parent" ] || [ "$(stat -c '%d:%i' -- "$parent" 2>/dev/null)" != "$parent_id" ]; then
    echo "$parent is not the directory that was checked for root's private directory (replaced since): nothing was unpacked" >&2
    exit 3
fi
dir=$(mktemp -d "$parent/tessaro-sdk.XXXXXXXXXX") || exit 1
if command -v flock >/dev/null 2>&1; then
    exec 9< "$dir"
    flock -n 9
fi
if ! tar -xzf "$tarball" -C "$dir" --no-same-owner || [ ! -d "$dir/$name" ]; then
    echo "the package could not be unpacked" >&2
    exit 3
fi

before=$(stat -c %s "$log" 2>/dev/null || echo 0)
cd "$dir/$name" || exit 1
# In the background, so that a signal to this script is taken at once and
# passed on to the installer.
# shellcheck disable=SC2086 # FORCE is one word or none
./install "$option" $force 2> "$dir/stderr" &
installer=$!
phase=
wait "$installer"
status=$?
installer=
cat "$dir/stderr" >&2
if [ "$status" -eq 1 ] && grep -q '^Another installer is running' "$dir/stderr"; then
    exit 75
fi
if [ "$status" -eq 126 ]; then
    echo "programs cannot run in $parent (is its file system mounted noexec?):" \
        "set tessaro_sdk_remote_dir to a directory of root's where they can" >&2
    exit 126
fi

echo "$marker"
after=$(stat -c %s "$log" 2>/dev/null || echo 0)
if [ "$after" -lt "$before" ]; then
    before=0
fi
# At most the last 4 MiB of it.
tail -c +"$((before + 1))" "$log" 2>/dev/null | tail -c 4194304
exit "$status"
