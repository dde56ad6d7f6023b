#!/bin/sh

# SPDX-FileCopyrightText: 2026 The Tessaro installer developers
#
# SPDX-License-Identifier: GPL-2.0-or-later

# Runs a command on what looks like a host where the sample SDK is installed
# (by the README's own `make demo ARGS=-i`), without changing this host:
# inside the current (private) mount namespace /usr/share and /etc are
# overlays whose changes land in a scratch directory, and /var/log is a
# scratch directory too, and so is /run (where the installer's lock is). The test suite run this way must give the same
# results as on a clean host.
# Start it as:  unshare -m --propagation private sh with-sdk-installed.sh SDK_DIR COMMAND...
set -eu
sdk=$1
shift

scratch=$(mktemp -d "${TMPDIR:-/tmp}/sdk-installed.XXXXXXXXXX")
# Whatever happens, the namespace's mounts go and the scratch directory
# with them.
cleanup() {
    umount /run /var/log /etc /usr/share 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
for place in /usr/share:share /etc:etc; do
    dir=${place%%:*}
    name=${place#*:}
    mkdir -p "$scratch/$name/upper" "$scratch/$name/work"
    mount -t overlay overlay -o "lowerdir=$dir,upperdir=$scratch/$name/upper,workdir=$scratch/$name/work" "$dir"
done
mkdir -p "$scratch/log" "$scratch/run"
mount --bind "$scratch/log" /var/log
mount --bind "$scratch/run" /run

(cd "$sdk" && ./install -i)
for installed in /usr/share/kestrane-virtualization-sdk/Manifest /etc/kestrane-sdk/sdk.conf \
    /var/log/kestrane-sdk-install.log; do
    if [ ! -f "$installed" ]; then
        echo "with-sdk-installed: $installed is missing after the installation" >&2
        exit 1
    fi
done
echo "with-sdk-installed: the sample SDK is installed in this namespace"

"$@"
