#!/bin/sh
# Exits 0 when the file systems the sample SDK installs to have room for
# it, and 2 with a message naming the space needed and free when not.
cd "$(dirname "$0")/.." || exit 1

needed_kib=$(( $(du -sk payload | awk '{ print $1 }') + 1024 ))
# Each target directory's file system: that of the nearest directory of it
# that exists (the directory itself on an upgrade, which may be a file
# system of its own).
for dir in /usr/share/kestrane-virtualization-sdk /etc/kestrane-sdk; do
    target=$dir
    while [ ! -d "$target" ] && [ "$target" != / ]; do
        target=$(dirname "$target")
    done
    free_kib=$(df -Pk "$target" | awk 'NR == 2 { print $4 }')
    if [ -z "$free_kib" ]; then
        echo "Cannot read the free space of $target."
        exit 1
    fi
    if [ "$free_kib" -lt "$needed_kib" ]; then
        echo "There is not enough space on $target: $needed_kib KiB are needed, $free_kib KiB are free."
        exit 2
    fi
done
exit 0
