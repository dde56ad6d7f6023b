#!/bin/sh

# SPDX-FileCopyrightText: 2026 The Tessaro installer developers
#
# SPDX-License-Identifier: GPL-2.0-or-later

# Runs a command inside the current (private) mount namespace with the
# host's writable places covered, so the installer and its tools change
# nothing outside STATE:
#   /usr/share and /etc   overlays whose changes land in STATE/share and STATE/etc
#   /usr/lib, /usr/sbin, /usr/bin, /var  the same, when STATE/lib, STATE/sbin,
#                         STATE/bin or STATE/var exist
#   /var/log              STATE/log
#   /run                  STATE/run (the installer's lock); read-only when
#                         STATE/run-read-only exists, a full file system of
#                         its own when STATE/run-full does
#   /proc/sys/kernel/printk  STATE/printk, when that file exists
#   /sys/fs/cgroup        an empty, read-only directory; or, when the file
#                         STATE/cgroup names a cgroup (v2) that the test made,
#                         that cgroup as the root of a cgroup tree of the
#                         command's own (a cgroup namespace)
# and TMPDIR pointing at STATE/tmp for the tools' scratch files. What the
# host has of the SDK itself (its directories under /usr/share and /etc)
# is hidden, so that a host with the SDK installed looks like a clean one.
# Start it as:  unshare -m --propagation private sh sandbox.sh STATE COMMAND...
#
# With --chroot ROOT PACKAGE the command runs on another host instead: the
# root file system ROOT (left unchanged: an overlay whose changes land in
# STATE/root), with the same places covered under it, its own /proc, this
# host's /dev (its /proc only when STATE/no-proc does not exist), and the
# package directory PACKAGE at the same path as here.
#   sandbox.sh STATE --chroot ROOT PACKAGE COMMAND...
set -eu
state=$1
shift
# What goes wrong while the sandbox is set up is kept in STATE/sandbox.err
# as well: a command started in a terminal would otherwise take the reason
# with it, and the test's output would show no more than a blank screen.
exec 3>&2 2>>"$state/sandbox.err"
if [ -f "$state/cgroup" ] && [ -z "${SANDBOX_IN_CGROUP:-}" ]; then
    echo $$ > "$(cat "$state/cgroup")/cgroup.procs"
    SANDBOX_IN_CGROUP=1 exec unshare -C sh "$0" "$state" "$@" 2>&3 3>&-
fi
unset SANDBOX_IN_CGROUP
top=
if [ "${1:-}" = --chroot ]; then
    mkdir -p "$state/root/upper" "$state/root/work" "$state/root/top"
    mount -t overlay overlay -o "lowerdir=$2,upperdir=$state/root/upper,workdir=$state/root/work" "$state/root/top"
    top=$state/root/top
    # Its /tmp first: the package directory may be under it.
    mkdir -p "$state/tmp"
    mount --bind "$state/tmp" "$top/tmp"
    mkdir -p "$top$3"
    mount --bind "$3" "$top$3"
    # A host whose /proc is not mounted when STATE/no-proc exists.
    [ -e "$state/no-proc" ] || mount -t proc proc "$top/proc"
    mount --rbind /dev "$top/dev"
    shift 3
fi

overlay() {
    mkdir -p "$state/$2/upper" "$state/$2/work"
    mount -t overlay overlay -o "lowerdir=$top$1,upperdir=$state/$2/upper,workdir=$state/$2/work" "$top$1"
}

# Hides the host's entry NAME of an overlay's lower directory: a whiteout
# when the test put nothing there, an opaque directory when it did.
hide() {
    entry=$state/$1/upper/$2
    mkdir -p "$state/$1/upper"
    if [ -d "$entry" ]; then
        setfattr -n trusted.overlay.opaque -v y "$entry"
    elif [ ! -e "$entry" ]; then
        mknod "$entry" c 0 0
    fi
}

hide share kestrane-virtualization-sdk
hide etc kestrane-sdk
overlay /usr/share share
overlay /etc etc
# Program and library directories only for the tests that plant files there.
for optional in lib:/usr/lib sbin:/usr/sbin bin:/usr/bin var:/var; do
    if [ -d "$state/${optional%%:*}" ]; then
        overlay "${optional#*:}" "${optional%%:*}"
    fi
done
mkdir -p "$state/log" "$state/tmp" "$state/run"
if [ -d "$top/sys/fs/cgroup" ]; then
    if [ -f "$state/cgroup" ]; then
        mount -t cgroup2 cgroup2 "$top/sys/fs/cgroup"
    else
        mount -t tmpfs -o ro,size=4k tmpfs "$top/sys/fs/cgroup"
    fi
fi
mount --bind "$state/log" "$top/var/log"
mount --bind "$state/run" "$top/run"
if [ -e "$state/run-read-only" ]; then
    mount -o remount,bind,ro "$top/run"
fi
if [ -e "$state/run-full" ]; then
    mount -t tmpfs -o size=64k tmpfs "$top/run"
    dd if=/dev/zero of="$top/run/filler" bs=4k 2>/dev/null || true
fi
if [ -f "$state/printk" ] && [ -d "$top/proc/sys/kernel" ]; then
    mount --bind "$state/printk" "$top/proc/sys/kernel/printk"
fi
chmod 1777 "$state/tmp"
exec 2>&3 3>&-
if [ -z "$top" ]; then
    TMPDIR=$state/tmp
    export TMPDIR
    exec "$@"
fi
TMPDIR=/tmp
export TMPDIR
exec chroot "$top" "$@"
