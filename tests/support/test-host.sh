#!/bin/sh

# SPDX-FileCopyrightText: 2026 The Tessaro installer developers
#
# SPDX-License-Identifier: GPL-2.0-or-later

# One test host of the fleet tests: an sshd on 127.0.0.1:PORT in the
# current (private) mount namespace, on the sandbox of sandbox.sh (its own
# /usr/share, /etc and /var/log under STATE, and /usr/bin when STATE/bin
# exists), with /var/tmp from STATE/vartmp, /root from STATE/root, /var/lib
# an overlay whose changes land in STATE/varlib, and the sandbox's own /run. With
# SHARE_KIB set, the host's /usr/share has only that much room.
# Start it as:  unshare -m --propagation private sh test-host.sh STATE PORT AUTHORIZED_KEYS
set -eu
state=$1
port=$2
keys=$3
here=$(cd "$(dirname "$0")" && pwd)

if [ -n "${SHARE_KIB:-}" ]; then
    mkdir -p "$state/share"
    mount -t tmpfs -o "size=${SHARE_KIB}k" tmpfs "$state/share"
fi
mkdir -p "$state/vartmp"
chmod 1777 "$state/vartmp"
mount --bind "$state/vartmp" /var/tmp
# Root's own home, where ansible keeps its temporary files on the host.
mkdir -p "$state/root"
chmod 0700 "$state/root"
mount --bind "$state/root" /root
mkdir -p "$state/run/sshd"
chmod 0755 "$state/run/sshd"
# /var/lib too, where the role records what it installed: an overlay whose
# changes land in STATE/varlib, without what this machine may have there.
mkdir -p "$state/varlib/upper" "$state/varlib/work"
if [ -e /var/lib/tessaro-sdk ] && [ ! -e "$state/varlib/upper/tessaro-sdk" ]; then
    mknod "$state/varlib/upper/tessaro-sdk" c 0 0
fi
mount -t overlay overlay -o "lowerdir=/var/lib,upperdir=$state/varlib/upper,workdir=$state/varlib/work" /var/lib

if [ ! -f "$state/ssh_host_ed25519_key" ]; then
    ssh-keygen -q -t ed25519 -N '' -f "$state/ssh_host_ed25519_key"
fi
cat > "$state/sshd_config" <<CONFIG
Port $port
ListenAddress 127.0.0.1
HostKey $state/ssh_host_ed25519_key
PidFile $state/sshd.pid
AuthorizedKeysFile $keys
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
UseDNS no
MaxStartups 100
LogLevel ERROR
Subsystem sftp /usr/lib/openssh/sftp-server
CONFIG
exec sh "$here/sandbox.sh" "$state" /usr/sbin/sshd -D -e -f "$state/sshd_config"
