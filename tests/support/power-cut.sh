#!/bin/sh

# SPDX-FileCopyrightText: 2026 The Tessaro installer developers
#
# SPDX-License-Identifier: GPL-2.0-or-later

# One power cut on the test machine (machine.sh), judged: the package
# directory PACKAGE (the shipped one, unpacked) is installed, upgraded from
# an older version of itself or removed, and the power is cut SECONDS
# after the run reported (WHEN after) or after it started (WHEN during).
# The machine then starts again, shows what its disk holds, and runs
# ./install -i and ./install -r (a removal that left its manifest is run
# again first).
#   power-cut.sh WORK PACKAGE ACTION WHEN SECONDS [FILES [KBYTES]]
# Prints one line: what the run reported, the state after the cut, each
# next run's status and the state after it, and the verdict; ends 0 when
# it is right, 1 when it is wrong, 2 when the machine did not report.
# Wrong is: a reported success that is not on the disk after the cut; a
# next run that fails or does not leave the new version whole (after -i) or
# nothing of the SDK (after -r); a file the package does not list removed.
# MACHINE_KERNEL names the kernel, MACHINE_BACKEND_SYNCS=no takes the
# syncing out of the package's back end (see machine.sh). WORK is removed.
set -u
here=$(cd "$(dirname "$0")" && pwd)
work=$1
package=$2
action=$3
when=$4
seconds=$5
files=${6:-200}
kbytes=${7:-250}
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

sh "$here/machine.sh" disk "$work" "$package" "$package" "$files" "$kbytes" || exit 2
sh "$here/machine.sh" boot "$work" "$action,$when,$seconds" 600 > "$work/first.log" 2>&1
sh "$here/machine.sh" boot "$work" "check,$action" 900 > "$work/second.log" 2>&1
reports() {
    tr -d '\r' < "$1" | sed -n 's/^.*TESSARO //p'
}
first=$(reports "$work/first.log")
second=$(reports "$work/second.log")

total=$(($(sed -n '/^\[/!{/^[ \t]*#/!{/[^ \t]/p}}' "$package/Manifest" | wc -l) + files))
whole="manifest=new files=new:$total,old:0,missing:0,other:0 record=ok kept=yes log=ended"
none="manifest=none files=new:0,old:0,missing:$total,other:0 record=none kept=yes log=ended"

verdict=ok
wrong() {
    [ "$verdict" = ok ] && verdict="WRONG: $*"
}
case $first in
*"prepared status 0"*) ;;
*) wrong "the machine did not prepare the host" ;;
esac
ran=$(printf '%s\n' "$first" | sed -n 's/^reported status \([0-9]*\) \([0-9]*\) in \([0-9.]*\) s$/reported \1 (success said \2 times, \3 s)/p;
    s/^cut \(.*\)$/cut \1/p')
[ -n "$ran" ] || wrong "the machine did not run the scenario"
states=$(printf '%s\n' "$second" | sed -n 's/^state //p')
after_cut=$(printf '%s\n' "$states" | head -n 1)
final=$(printf '%s\n' "$states" | tail -n 1)
if [ -z "$after_cut" ]; then
    verdict="the machine did not report after the cut"
    printf '%s %s %s s: %s; %s\n' "$action" "$when" "$seconds" "$ran" "$verdict"
    for log in first second; do
        echo "--- the end of its $log start:" >&2
        tail -n 15 "$work/$log.log" | tr -d '\r' >&2
    done
    exit 2
fi
if [ "$when" = after ]; then
    case $ran in
    "reported 0 (success said 1 times, "*) ;;
    *) wrong "the run did not succeed" ;;
    esac
    if [ "$action" = remove ]; then said=$none; else said=$whole; fi
    [ "$after_cut" = "$said" ] || wrong "the reported success is not on the disk"
fi
case $states in
*kept=no*) wrong "a file the package does not list was removed" ;;
esac
next=$(printf '%s\n' "$second" | sed -n 's/^next \(-[ir]\) status \([0-9]*\)$/\1 \2/p' | tr '\n' ' ')
case $next in
*"-i 0 -r 0 ") ;;
*) wrong "a next run failed" ;;
esac
installed=$(printf '%s\n' "$states" | tail -n 2 | head -n 1)
[ "$installed" = "$whole" ] || wrong "the next -i did not leave the new version whole"
[ "$final" = "$none" ] || wrong "the next -r did not remove the SDK"

printf '%s %s %s s: %s; after the cut: %s; next: %s-> %s; %s\n' "$action" "$when" "$seconds" "$ran" \
    "$after_cut" "$next" "$final" "$verdict"
[ "$verdict" = ok ]
