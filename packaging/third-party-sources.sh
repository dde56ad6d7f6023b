#!/bin/sh
# SPDX-FileCopyrightText: 2026 The Tessaro installer developers
# SPDX-License-Identifier: GPL-2.0-or-later
#
# Fetches the corresponding source of every component linked into the
# installer: its Debian source package at the exact version, with apt-get
# source (from the deb-src entries of the APT configuration in effect;
# APT_CONFIG names another), each file checked against the SHA-256 its
# .dsc states.
#
#   third-party-sources.sh COMPONENTS OUT_DIR
#
# COMPONENTS is what third-party.sh writes. The files go to OUT_DIR, and
# OUT_DIR/dsc-sums gets one line per component, tab-separated: source
# package, version, its .dsc's name and that file's SHA-256 (what the
# written offer names). A component whose source cannot be fetched is
# named on standard error and left out of dsc-sums, its .dsc removed: the
# status is then 1, and what could be fetched stays. A file that does not match its .dsc is
# removed, with the .dsc, and named.
set -eu
components=$1
out=$2

mkdir -p "$out"
: > "$out/.dsc-sums.new"
status=0
tab=$(printf '\t')
while IFS="$tab" read -r source version _licence _arch _binaries; do
    dsc=${source}_${version#*:}.dsc
    if ! said=$(cd "$out" && apt-get source --download-only --only-source -q "$source=$version" 2>&1) ||
        [ ! -f "$out/$dsc" ]; then
        echo "third-party-sources: the source of $source $version cannot be fetched: $(printf '%s\n' "$said" | grep -E '^E:' | head -n 1)" >&2
        # (Half a source is none: its .dsc goes too.)
        rm -f "$out/$dsc"
        status=1
        continue
    fi
    # Every file the .dsc names, with the SHA-256 it states for it.
    wrong=$(awk '/^Checksums-Sha256:/ { on = 1; next } on && /^ / { print $1, $3; next } { on = 0 }' "$out/$dsc" |
        while read -r sum file; do
            case $file in
                */* | .*) echo "$file"; continue ;;
            esac
            [ "$(sha256sum < "$out/$file" 2>/dev/null | cut -c 1-64)" = "$sum" ] || echo "$file"
        done)
    if [ -n "$wrong" ] || ! grep -q '^Checksums-Sha256:' "$out/$dsc"; then
        echo "third-party-sources: the source of $source $version does not match its .dsc $dsc: ${wrong:-it states no SHA-256}; removed" >&2
        for file in $wrong; do
            case $file in */* | .*) ;; *) rm -f "$out/$file" ;; esac
        done
        rm -f "$out/$dsc"
        status=1
        continue
    fi
    printf '%s\t%s\t%s\t%s\n' "$source" "$version" "$dsc" "$(sha256sum < "$out/$dsc" | cut -c 1-64)" >> "$out/.dsc-sums.new"
done < "$components"
mv "$out/.dsc-sums.new" "$out/dsc-sums"
exit "$status"
