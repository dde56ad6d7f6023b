#!/bin/sh

# SPDX-FileCopyrightText: 2026 The Tessaro installer developers
#
# SPDX-License-Identifier: GPL-2.0-or-later

# The first process of the test machine (see machine.sh): runs the one
# scenario that the kernel command line names as tessaro=SCENARIO and
# reports on the serial console, every line of its own starting with
# "TESSARO ". The packages are /pkg/new and /pkg/old (an older one, every
# payload file different), each with the checksums of what it installs in
# /pkg/NAME.md5.
#
#   ACTION,after,SECONDS   ACTION is done and reported; SECONDS later the
#                          power is cut
#   ACTION,during,SECONDS  the power is cut SECONDS after ACTION started
#   check,ACTION           the state; after a removal that left the
#                          installed manifest, ./install -r and the state;
#                          then ./install -i, the state, ./install -r, the
#                          state; then the power goes off
#   console                the wizard on the machine's own console (tty1,
#                          TERM=linux); kernel errors and warnings written
#                          through /dev/kmsg while it is up, then after it
#                          ended (SIGTERM). Between the steps it reports
#                          "wizard up", "kmsg written", "wizard ended" (with
#                          the console levels) and "kmsg after", and waits
#                          for a line on the serial console before it goes
#                          on: the host reads the screen meanwhile.
# ACTION: install (on a host without the SDK), upgrade (from /pkg/old,
# installed and synced first), remove (of /pkg/new, installed and synced
# first). A power cut is a reboot at once, nothing synced (sysrq b); the
# machine is started with -no-reboot, so QEMU ends there.
#
# The state line: "TESSARO state manifest=M files=new:N,old:N,missing:N,other:N
# record=R kept=K log=L", M new, old, none or other (the installed manifest
# compared with the packages'), R ok, none or bad (the record proves itself
# or not), K yes when the administrator's files beside the SDK are whole,
# L ended when the installer log's last entry is "Exiting with code 0",
# cut when it is another, none without a log.
PATH=/bin:/sbin:/usr/bin:/usr/sbin
export PATH

mount -t proc proc /proc
mkdir -p /sys && mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev 2>/dev/null
mount -t tmpfs tmpfs /run
echo 1 > /proc/sys/kernel/sysrq

sdk=/usr/share/kestrane-virtualization-sdk
scenario=$(sed -n 's/.*tessaro=\([^ ]*\).*/\1/p' /proc/cmdline)

say() {
    echo "TESSARO $*"
}

power_cut() {
    echo b > /proc/sysrq-trigger
    sleep 60
}

power_off() {
    sync
    echo o > /proc/sysrq-trigger
    sleep 60
}

# Counts the lines of `md5sum -c` for LIST that end with ": OK".
matching() {
    md5sum -c "$1" 2>/dev/null | grep -c ': OK$'
}

state() {
    if [ ! -e "$sdk/Manifest" ]; then
        manifest=none
    elif cmp -s "$sdk/Manifest" /pkg/new/Manifest; then
        manifest=new
    elif cmp -s "$sdk/Manifest" /pkg/old/Manifest; then
        manifest=old
    else
        manifest=other
    fi
    total=$(wc -l < /pkg/new.md5)
    new=$(matching /pkg/new.md5)
    old=$(matching /pkg/old.md5)
    missing=0
    while read -r _ target; do
        [ -e "$target" ] || missing=$((missing + 1))
    done < /pkg/new.md5
    record=none
    if [ -e "$sdk/Installed" ]; then
        record=bad
        last=$(tail -n 1 "$sdk/Installed")
        count=$(($(wc -l < "$sdk/Installed") - 2))
        sum=$(sed '$d' "$sdk/Installed" | sha256sum | cut -d ' ' -f 1)
        [ "$last" = "end $count $sum" ] && record=ok
    fi
    log=none
    if [ -e /var/log/kestrane-sdk-install.log ]; then
        log="cut"
        tail -n 1 /var/log/kestrane-sdk-install.log | grep -q ': Exiting with code 0$' && log=ended
    fi
    kept=no
    if [ "$(cat /etc/kestrane-keep 2>/dev/null)" = kept ] &&
        [ "$(cat "$sdk/doc/mine" 2>/dev/null)" = kept ]; then
        kept=yes
    fi
    say "state manifest=$manifest files=new:$new,old:$old,missing:$missing,other:$((total - new - old - missing))" \
        "record=$record kept=$kept log=$log"
}

# Runs ./install of the package $1 with the option $2, its output kept in
# /run/out; prints its status.
install_() {
    (cd "/pkg/$1" && ./install "$2" > /run/out 2>&1)
    echo $?
}

levels() {
    tr -s '\t ' ' ' < /proc/sys/kernel/printk
}

# Writes one kernel message at each level of $1 (0 to 7), saying $2.
kernel_messages() {
    for level in $1; do
        printf '<%s>tessaro-test: level %s %s\n' "$level" "$level" "$2" > /dev/kmsg
    done
}

case $scenario in
console)
    say "levels before $(levels)"
    (cd /pkg/new && TERM=linux exec setsid sh -c 'exec ./install < /dev/tty1 > /dev/tty1 2>&1') &
    i=0
    while ! grep -q Welcome /dev/vcs1 && [ "$i" -lt 1200 ]; do
        sleep 0.1
        i=$((i + 1))
    done
    say "wizard up levels $(levels)"
    read -r _
    kernel_messages "3 4" "while the wizard is up"
    sleep 1
    say "kmsg written"
    read -r _
    kill -TERM "$(pidof install)"
    i=0
    while pidof install > /dev/null && [ "$i" -lt 100 ]; do
        sleep 0.1
        i=$((i + 1))
    done
    say "wizard ended levels $(levels)"
    kernel_messages 3 "after the wizard"
    sleep 1
    say "kmsg after"
    read -r _
    power_off
    ;;
check,*)
    state
    if [ "$scenario" = check,remove ] && [ -e "$sdk/Manifest" ]; then
        say "next -r status $(install_ new -r)"
        state
    fi
    say "next -i status $(install_ new -i)"
    state
    say "next -r status $(install_ new -r)"
    state
    power_off
    ;;
*,*,*)
    action=${scenario%%,*}
    rest=${scenario#*,}
    when=${rest%%,*}
    seconds=${rest#*,}
    option=-i
    case $action in
    upgrade) status=$(install_ old -i) ;;
    remove) status=$(install_ new -i); option=-r ;;
    *) status=0 ;;
    esac
    sync
    say "prepared status $status"
    if [ "$when" = after ]; then
        started=$(cut -d ' ' -f 1 /proc/uptime)
        status=$(install_ new "$option")
        ended=$(cut -d ' ' -f 1 /proc/uptime)
        say "reported status $status $(grep -c 'successfully' /run/out)" \
            "in $(awk -v a="$started" -v b="$ended" 'BEGIN { printf "%.1f", b - a }') s"
        sleep "$seconds"
    else
        (cd /pkg/new && exec ./install "$option" > /run/out 2>&1) &
        sleep "$seconds"
        if kill -0 $! 2>/dev/null; then
            say "cut while running"
        else
            say "cut after the run ended"
        fi
    fi
    power_cut
    ;;
*)
    say "unknown scenario '$scenario'"
    power_off
    ;;
esac
