#!/bin/sh
# In the run's private directory DIR, which holds the package NAME.tar.gz:
# checks the package against its checksum SUM, unpacks it, runs its
# installer, records what it installed, hands back this run's part of the
# installer log, and removes the directory:
#   run.sh DIR NAME OPTION FORCE SUM LOG
# OPTION is -i or -r, FORCE -f or empty. Ends with the installer's status,
# 3 when the package does not match SUM, or 75 (the directory kept, for
# another try) when another installer held the host.
set -u
dir=$1
name=$2
option=$3
force=$4
sum=$5
log=$6
record=/var/lib/tessaro-sdk/package
marker='---- tessaro_sdk: installer log of this run ----'

cd "$dir" || exit 1
if [ ! -d "$name" ]; then
    if [ "$(sha256sum < "$name.tar.gz" | cut -d ' ' -f 1)" != "$sum" ]; then
        echo "the package copied to the host does not match its checksum $sum" >&2
        cd / && rm -rf "$dir"
        exit 3
    fi
    if ! tar -xzf "$name.tar.gz" --no-same-owner || ! cd "$name"; then
        echo "the package could not be unpacked" >&2
        cd / && rm -rf "$dir"
        exit 3
    fi
    cd "$dir" || exit 1
fi

before=$(stat -c %s "$log" 2>/dev/null || echo 0)
cd "$name" || exit 1
# shellcheck disable=SC2086 # FORCE is one word or none
./install "$option" $force 2> "$dir/stderr"
status=$?
cat "$dir/stderr" >&2
if [ "$status" -eq 1 ] && grep -q '^Another installer is running' "$dir/stderr"; then
    exit 75
fi
if [ "$status" -eq 0 ]; then
    if [ "$option" = -i ]; then
        mkdir -m 0755 "$(dirname "$record")" 2>/dev/null
        printf '%s %s\n' "$name" "$sum" > "$record.new" && mv -f "$record.new" "$record"
    else
        rm -f "$record"
    fi
fi

echo "$marker"
after=$(stat -c %s "$log" 2>/dev/null || echo 0)
if [ "$after" -lt "$before" ]; then
    before=0
fi
# At most the last 4 MiB of it.
tail -c +"$((before + 1))" "$log" 2>/dev/null | tail -c 4194304

cd / && rm -rf "$dir"
exit "$status"
