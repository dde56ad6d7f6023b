#!/bin/sh
# What the host has of the SDK, and what the role must do there. Run by the
# role as one inline command, without changing anything but the role's own
# leftovers:
#   probe.sh STATE IDENTITY PARENT MODE
# STATE is present or absent, IDENTITY the package's name and checksum as
# the role records them after an installation, PARENT the directory in
# which each run makes its private directory, MODE "run" (make that
# directory when the installer must run, and clean up what interrupted runs
# left) or "check" (change nothing). Prints key=value lines: uid, installed
# (the installed manifest is there), intact (every file it lists is there),
# verb (install, upgrade, remove or none) and dir (the run's private
# directory, in run mode when the installer must run).
set -u
state=$1
identity=$2
parent=$3
mode=$4
manifest=/usr/share/kestrane-virtualization-sdk/Manifest
record=/var/lib/tessaro-sdk/package
lock=/run/kestrane-sdk-install.lock

echo "uid=$(id -u)"
if [ "$(id -u)" -ne 0 ]; then
    exit 0
fi

# Whether an installer runs now (it holds its lock while it lives).
installer_running() {
    command -v flock >/dev/null 2>&1 || return 0
    ! flock -n "$lock" true 2>/dev/null
}

# Interrupted runs leave their private directories behind: those of root's
# that nobody has touched for half an hour go while no installer runs. The
# directory of earlier versions of the role goes when root made it.
if [ "$mode" = run ] && ! installer_running; then
    find "$parent" -mindepth 1 -maxdepth 1 -type d -user root -name 'tessaro-sdk.??????????' -mmin +30 \
        -exec rm -rf {} + 2>/dev/null
    legacy=/var/tmp/tessaro-sdk
    if [ -d "$legacy" ] && [ ! -L "$legacy" ] && [ "$(stat -c %u "$legacy")" = 0 ]; then
        rm -rf "$legacy"
    fi
fi

installed=no
intact=no
if [ -f "$manifest" ]; then
    installed=yes
    if awk '/^[ \t]*#/ || NF == 0 || /^\[.*\]$/ { next } { print $NF }' "$manifest" | while read -r target; do
        [ -e "$target" ] || exit 1
    done; then
        intact=yes
    fi
fi
recorded=$(cat "$record" 2>/dev/null || true)
echo "installed=$installed"
echo "intact=$intact"

verb=none
if [ "$state" = present ]; then
    if [ "$installed" = no ]; then
        verb=install
    elif [ "$intact" = no ] || [ "$recorded" != "$identity" ]; then
        verb=upgrade
    fi
elif [ "$installed" = yes ]; then
    verb=remove
elif [ "$mode" = run ]; then
    rm -f "$record"
fi
echo "verb=$verb"

if [ "$verb" != none ] && [ "$mode" = run ]; then
    dir=$(mktemp -d "$parent/tessaro-sdk.XXXXXXXXXX") || exit 1
    echo "dir=$dir"
fi
exit 0
