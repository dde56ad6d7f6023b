#!/bin/sh

# SPDX-FileCopyrightText: 2026 The Tessaro installer developers
#
# SPDX-License-Identifier: GPL-2.0-or-later

# A virtual machine for the tests that must lose power: QEMU (software
# emulation; KVM only with MACHINE_KVM=1, as it is not seen to work on every
# machine), Debian's cloud kernel unpacked from its package (never
# installed into this host's /boot), and a disk of its own (ext4 on a
# virtio disk) whose root is the bare host of bare-root.sh with the
# packages in it. (The kernel has NVMe built in, but QEMU 7.2's NVMe device
# loses a command now and then under software emulation: 1 start in 15
# hung. A small initial RAM disk loads the virtio modules of the same
# package and hands over to the disk.)
# machine-init.sh is its first process: it runs the scenario the kernel
# command line gives and reports on the serial console. Nothing of it runs
# on this host beyond QEMU itself, which is stopped by its process id
# within the time given.
#
#   machine.sh kernel DIR
#       DIR/vmlinuz and DIR/initrd.img: the kernel of Debian's
#       linux-image-cloud-amd64, downloaded once (make deps does it), and
#       its virtio modules with busybox.
#   machine.sh disk DIR NEW OLD [FILES [KBYTES]]
#       DIR/disk.img: the bare host with the package directories NEW and
#       OLD as /pkg/new and /pkg/old, FILES payload files of KBYTES each
#       (200 of 250 by default) added to each, every one of them different
#       between the two; the administrator's own files beside the SDK.
#       With MACHINE_BACKEND_SYNCS=no the new package's back end syncs
#       nothing, as a vendor's may not: what is on the disk then is what
#       the installer itself made durable.
#   machine.sh systemd-root DIR
#       DIR/systemd-root.tar: a Debian root (debootstrap, minbase) whose
#       first process is systemd, made once (make deps does it).
#   machine.sh systemd-disk DIR PACKAGE ROOT_TAR
#       DIR/disk.img: that root with the package directory PACKAGE as
#       /pkg/new and machine-systemd.sh as a service that runs once it is
#       up (its scenario and report are there).
#   machine.sh boot DIR SCENARIO SECONDS
#       Starts the machine on DIR/disk.img with the scenario (see
#       machine-init.sh) and the kernel MACHINE_KERNEL (DIR/vmlinuz by
#       default; initrd.img beside it); its serial console goes to standard output. It ends when
#       the machine cuts its power or turns off, and is killed after
#       SECONDS.
#
# One scenario by hand, from the repository, after make build and make deps:
#   d=$(mktemp -d) && sh tests/support/machine.sh disk "$d" build/package build/package
#   export MACHINE_KERNEL=build/machine/vmlinuz
#   sh tests/support/machine.sh boot "$d" install,after,2 300
#   sh tests/support/machine.sh boot "$d" check 300
set -eu
here=$(cd "$(dirname "$0")" && pwd)
command=$1
dir=$2
mkdir -p "$dir"

case $command in
kernel)
    [ -s "$dir/vmlinuz" ] && [ -s "$dir/initrd.img" ] && exit 0
    scratch=$(mktemp -d "$dir/kernel.XXXXXX")
    # (The package lists are read anew when they do not know the package.)
    package=$(apt-cache depends linux-image-cloud-amd64 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[^ ]*\)$/\1/p' | head -n 1)
    if [ -z "$package" ] || ! (cd "$scratch" && apt-get download "$package" >/dev/null 2>&1); then
        apt-get update -qq
        package=$(apt-cache depends linux-image-cloud-amd64 | sed -n 's/^ *Depends: \(linux-image-[^ ]*\)$/\1/p' | head -n 1)
        (cd "$scratch" && apt-get download "$package")
    fi
    dpkg-deb -x "$scratch"/linux-image-*.deb "$scratch/x"
    # The initial RAM disk: busybox, the virtio modules, and an init that
    # loads them and hands over to the disk's own first process.
    initrd=$scratch/initrd
    mkdir -p "$initrd/bin" "$initrd/dev" "$initrd/proc" "$initrd/disk" "$initrd/modules"
    cp /bin/busybox "$initrd/bin/busybox"
    for module in virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci virtio_blk; do
        find "$scratch/x/lib/modules" -name "$module.ko" -exec cp {} "$initrd/modules/" \;
        printf '%s\n' "$module" >> "$initrd/modules/order"
    done
    cp "$here/machine-initrd.sh" "$initrd/init"
    chmod 0755 "$initrd/init"
    (cd "$initrd" && find . | busybox cpio -o -H newc 2>/dev/null) > "$dir/initrd.img.new"
    cp "$scratch"/x/boot/vmlinuz-* "$dir/vmlinuz.new"
    mv "$dir/initrd.img.new" "$dir/initrd.img"
    mv "$dir/vmlinuz.new" "$dir/vmlinuz"
    rm -rf "$scratch"
    ;;
disk)
    new=$3
    old=$4
    files=${5:-200}
    kbytes=${6:-250}
    root=$dir/root
    rm -rf "$root"
    sh "$here/bare-root.sh" "$root" >/dev/null 2>&1
    cp "$here/machine-init.sh" "$root/sbin/tessaro-init"
    # The description of the machine's own console.
    for terminfo in /etc/terminfo /lib/terminfo /usr/share/terminfo; do
        if [ -f "$terminfo/l/linux" ]; then
            mkdir -p "$root/usr/share/terminfo/l"
            cp "$terminfo/l/linux" "$root/usr/share/terminfo/l/linux"
            break
        fi
    done
    chmod 0755 "$root/sbin/tessaro-init"
    filler=$dir/filler
    head -c $((kbytes * 1024)) /dev/urandom > "$filler"
    for name in new old; do
        if [ "$name" = new ]; then source=$new; else source=$old; fi
        package=$root/pkg/$name
        mkdir -p "$package/payload/bulk"
        cp -R "$source/." "$package/"
        {
            printf '[files]\n'
            i=0
            while [ "$i" -lt "$files" ]; do
                # Every file of the one package differs from the other's.
                { printf '%s %s\n' "$name" "$i"; cat "$filler"; } > "$package/payload/bulk/f$i"
                printf 'payload/bulk/f%s /usr/share/kestrane-virtualization-sdk/bulk/%s/f%s\n' "$i" $((i % 20)) "$i"
                i=$((i + 1))
            done
        } >> "$package/Manifest"
        if [ "$name" = new ] && [ "${MACHINE_BACKEND_SYNCS:-yes}" = no ]; then
            sed 's/^    sync -f "\$@" 2>\/dev\/null || sync$/    :/' "$package/installer-cli" > "$dir/cli"
            if cmp -s "$dir/cli" "$package/installer-cli"; then
                echo "machine.sh: the back end's syncing was not found" >&2
                exit 1
            fi
            cat "$dir/cli" > "$package/installer-cli"
            rm -f "$dir/cli"
        fi
        # What it installs: the checksum of each target, as the package has it.
        awk '/^[ \t]*#/ || NF == 0 || /^\[/ { next } { print $1, $NF }' "$package/Manifest" |
            while read -r file target; do
                printf '%s  %s\n' "$(md5sum < "$package/$file" | cut -d ' ' -f 1)" "$target"
            done > "$root/pkg/$name.md5"
    done
    # The old package's list holds only what differs from the new one's.
    grep -vxF -f "$root/pkg/new.md5" "$root/pkg/old.md5" > "$root/pkg/old.md5.new" || true
    mv "$root/pkg/old.md5.new" "$root/pkg/old.md5"
    # The administrator's own files, beside the SDK's and in its directory.
    printf 'kept\n' > "$root/etc/kestrane-keep"
    mkdir -p "$root/usr/share/kestrane-virtualization-sdk/doc"
    printf 'kept\n' > "$root/usr/share/kestrane-virtualization-sdk/doc/mine"
    size=$(du -sm "$root" | cut -f 1)
    rm -f "$dir/disk.img"
    truncate -s $((size * 3 + 200))M "$dir/disk.img"
    mkfs.ext4 -q -F -d "$root" "$dir/disk.img"
    rm -rf "$root" "$filler"
    ;;
systemd-root)
    [ -s "$dir/systemd-root.tar" ] && exit 0
    scratch=$(mktemp -d "$dir/systemd.XXXXXX")
    if ! debootstrap --variant=minbase --include=systemd-sysv bookworm "$scratch/root" http://deb.debian.org/debian \
        >"$scratch/log" 2>&1; then
        cat "$scratch/log" >&2
        rm -rf "$scratch"
        exit 1
    fi
    rm -rf "$scratch/root/var/cache/apt/archives"/*.deb
    tar -C "$scratch/root" -cf "$dir/systemd-root.tar.new" .
    mv "$dir/systemd-root.tar.new" "$dir/systemd-root.tar"
    rm -rf "$scratch"
    ;;
systemd-disk)
    package=$3
    root=$dir/root
    rm -rf "$root"
    mkdir -p "$root"
    tar -C "$root" -xf "$4"
    mkdir -p "$root/pkg/new"
    cp -R "$package/." "$root/pkg/new/"
    cp "$here/machine-systemd.sh" "$root/sbin/tessaro-scenario"
    printf '#!/bin/sh\nexec /lib/systemd/systemd\n' > "$root/sbin/tessaro-init"
    chmod 0755 "$root/sbin/tessaro-scenario" "$root/sbin/tessaro-init"
    printf '[Unit]\nDescription=The test scenario\nAfter=multi-user.target\n\n[Service]\nType=oneshot\nExecStart=/sbin/tessaro-scenario\n\n[Install]\nWantedBy=multi-user.target\n' \
        > "$root/etc/systemd/system/tessaro-scenario.service"
    mkdir -p "$root/etc/systemd/system/multi-user.target.wants"
    ln -sf /etc/systemd/system/tessaro-scenario.service "$root/etc/systemd/system/multi-user.target.wants/"
    # Nothing else on the serial console, and nothing that waits for a network.
    for unit in serial-getty@ttyS0.service getty@tty1.service console-getty.service systemd-timesyncd.service \
        apt-daily.timer apt-daily-upgrade.timer e2scrub_all.timer fstrim.timer; do
        ln -sf /dev/null "$root/etc/systemd/system/$unit"
    done
    size=$(du -sm "$root" | cut -f 1)
    rm -f "$dir/disk.img"
    truncate -s $((size * 2 + 200))M "$dir/disk.img"
    mkfs.ext4 -q -F -d "$root" "$dir/disk.img"
    rm -rf "$root"
    ;;
boot)
    scenario=$3
    seconds=$4
    accel=tcg
    [ "${MACHINE_KVM:-0}" = 1 ] && accel=kvm
    kernel=${MACHINE_KERNEL:-$dir/vmlinuz}
    # timeout stops QEMU by its process id when it outlives its time.
    exec timeout -s KILL "$seconds" qemu-system-x86_64 -accel "$accel" -m 512 -smp 1 -nographic -no-reboot \
        -nodefaults -serial stdio -net none -kernel "$kernel" -initrd "$(dirname "$kernel")/initrd.img" \
        -append "console=ttyS0 panic=-1 quiet tessaro=$scenario" -drive "file=$dir/disk.img,format=raw,if=virtio" \
        </dev/null
    ;;
*)
    echo "machine.sh: unknown command $command" >&2
    exit 2
    ;;
esac
