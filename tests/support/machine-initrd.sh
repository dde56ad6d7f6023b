#!/bin/busybox sh
# shellcheck shell=sh

# SPDX-FileCopyrightText: 2026 The Tessaro installer developers
#
# SPDX-License-Identifier: GPL-2.0-or-later

# The first process of the test machine's initial RAM disk (machine.sh
# kernel puts it there as /init): loads the virtio modules, mounts the
# disk and hands over to its first process, machine-init.sh.
/bin/busybox --install -s /bin
mount -t devtmpfs devtmpfs /dev
while read -r module; do
    insmod "/modules/$module.ko"
done < /modules/order
i=0
while [ ! -b /dev/vda ] && [ "$i" -lt 100 ]; do
    sleep 0.1
    i=$((i + 1))
done
mount -t ext4 -o rw /dev/vda /disk || echo "initrd: the disk /dev/vda cannot be mounted"
umount /dev
exec switch_root /disk /sbin/tessaro-init
