#!/bin/sh

# SPDX-FileCopyrightText: 2026 The Tessaro installer developers
#
# SPDX-License-Identifier: GPL-2.0-or-later

# make power-cut: COUNT power cuts (power-cut.sh) of the package TARBALL, at
# points the seed SEED chooses: install, upgrade and removal in turn, every
# other one cut 0 to 8 s after the run reported, the others at a random
# point of the run (0.2 to 12 s after it started). JOBS machines run at a
# time. One line per cut, then the summary.
#   power-cut-campaign.sh TARBALL COUNT SEED [FILES [KBYTES]]
# MACHINE_KERNEL names the kernel (see machine.sh).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
tarball=$1
count=$2
seed=$3
files=${4:-2000}
kbytes=${5:-25}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/power-cut.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
tar xzf "$tarball" -C "$scratch"
package=$(ls -d "$scratch"/tessaro-*)

awk -v count="$count" -v seed="$seed" -v size="$files $kbytes" 'BEGIN {
    srand(seed)
    split("install upgrade remove", actions, " ")
    for (i = 0; i < count; i++) {
        action = actions[i % 3 + 1]
        if (int(i / 3) % 2 == 0)
            printf "%d %s after %.1f %s\n", i, action, rand() * 8, size
        else
            printf "%d %s during %.1f %s\n", i, action, 0.2 + rand() * 11.8, size
    }
}' > "$scratch/cuts"

# shellcheck disable=SC2016 # expanded by the shell that xargs starts
# Each line of cuts: the number, the action, the kind, the seconds, the
# payload's files and their size.
xargs -P "${JOBS:-2}" -L 1 sh -c 'sh "$1" "$2/cut$4" "$3" "$5" "$6" "$7" "$8" "$9"; echo "status $?"' sh \
    "$here/power-cut.sh" "$scratch" "$package" < "$scratch/cuts" 2>&1 | while read -r line; do
    case $line in
    "status "*) echo "${line#status }" >> "$scratch/statuses" ;;
    *) printf '%s\n' "$line" ;;
    esac
done
right=$(grep -cx 0 "$scratch/statuses" || true)
wrong=$(grep -cx 1 "$scratch/statuses" || true)
silent=$(grep -cvx '[01]' "$scratch/statuses" || true)
printf '%s cuts: %s right, %s wrong, %s without a report from the machine\n' "$count" "$right" "$wrong" "$silent"
[ "$wrong" -eq 0 ] && [ "$silent" -eq 0 ]
