#!/bin/sh
# SPDX-FileCopyrightText: 2026 The Tessaro installer developers
# SPDX-License-Identifier: GPL-2.0-or-later
#
# Says what a static link took from other people's code, from the linker's
# own record of it (its map file): every archive it pulled a member from
# and every object file it loaded from outside the build, each mapped to
# the Debian package that installed it, and that package to its source.
#
#   third-party.sh LINK_MAP LICENCES COMPILER OUT_DIR
#
# LICENCES holds the SPDX licence expression of each Debian source package
# that may be linked in; COMPILER is the compiler that linked. Writes
#   OUT_DIR/THIRD-PARTY-NOTICES  each component with its version, source
#       package, licence, the inputs it gave the link, and the full
#       copyright and licence texts of the packages that were used;
#   OUT_DIR/components  one line per source package, tab-separated: source
#       package, its version, licence expression, architecture, the binary
#       packages with their versions (blank-separated "name=version");
#   OUT_DIR/tools  the same for the compiler's and the linker's packages
#       (without licence).
# Fails, naming it, on an input that no installed package holds and on a
# source package whose licence LICENCES does not give: a package that
# leaves a component out is never made.
set -eu
map=$1
licences=$2
compiler=$3
out=$4

work=$(mktemp -d "$out/.third-party.XXXXXXXXXX")
trap 'rm -rf "$work"' EXIT

# Archives a member was taken from, and object files loaded by path; our
# own inputs are named relative to the build directory.
{
    sed -n 's|^\(/[^ (]*\.a\)(.*$|\1|p' "$map"
    sed -n 's|^LOAD \(/[^ ]*\.o\)$|\1|p' "$map"
} | LC_ALL=C sort -u > "$work/inputs"
if [ ! -s "$work/inputs" ]; then
    echo "third-party: $map names no archive or object file of the system: not a link map?" >&2
    exit 1
fi

# The package that installed each input, by its real path (the linker's
# names hold ".."), all asked at once.
while IFS= read -r input; do
    printf '%s\t%s\n' "$input" "$(readlink -f "$input")"
done < "$work/inputs" > "$work/real"
owners_of() { # the paths in file $1 -> "package<TAB>path" lines
    # shellcheck disable=SC2046 # one word per path: paths of the system hold no blanks
    dpkg-query -S $(cat "$1") 2>/dev/null | grep -v '^diversion by ' |
        sed -n 's|^\([^:,]*\)\(:[^:,]*\)\{0,1\}: \(/.*\)$|\1\t\3|p' || true
}
# The compiler that linked and the linker it ran, asked in the same call.
linker=$("$compiler" -print-prog-name=ld)
for tool in "$compiler" "$linker"; do
    readlink -f "$(command -v "$tool")"
done > "$work/tool-paths"
cut -f 2 "$work/real" | cat - "$work/tool-paths" > "$work/paths"
owners_of "$work/paths" > "$work/owned"
: > "$work/owners"
while IFS="$(printf '\t')" read -r input real; do
    owner=$(awk -F '\t' -v p="$real" '$2 == p { print $1; exit }' "$work/owned")
    if [ -z "$owner" ]; then
        echo "third-party: no installed Debian package holds $input (linked from $real): its licence and source are unknown, so the package cannot say what it ships" >&2
        exit 1
    fi
    printf '%s\t%s\n' "$owner" "$real" >> "$work/owners"
done < "$work/real"

# Binary package -> source package and versions.
cut -f 1 "$work/owners" | LC_ALL=C sort -u > "$work/binaries"
# shellcheck disable=SC2046 # one word per package name
dpkg-query -W -f='${Package}\t${Version}\t${Architecture}\t${source:Package}\t${source:Version}\n' \
    $(cat "$work/binaries") > "$work/packages"

# shellcheck source=/dev/null # the build host's
distro=$(. /etc/os-release && printf '%s-%s' "$ID" "${VERSION_ID:-unknown}")

licence_of() {
    awk -v s="$1" '!/^#/ && $1 == s { sub(/^[^ \t]+[ \t]+/, ""); sub(/[ \t]+$/, ""); print; exit }' "$licences"
}

# Each archive member the link took, "archive's real path<TAB>member".
sed -n 's|^\(/[^ (]*\.a\)(\([^)]*\)).*$|\1\t\2|p' "$map" | LC_ALL=C sort -u |
    awk -F '\t' 'FILENAME == ARGV[1] { real[$1] = $2; next } { print real[$1] "\t" $2 }' "$work/real" - > "$work/members"
members_of() { # source package -> the members the link took from its archives
    awk -F '\t' -v s="$1" 'FILENAME == ARGV[1] { if ($4 == s) binary[$1] = 1; next }
        FILENAME == ARGV[2] { if ($1 in binary) archive[$2] = 1; next }
        $1 in archive { print $2 }' "$work/packages" "$work/owners" "$work/members"
}
# The licences the members taken from a source package add to its own
# (" AND EXPRESSION" for each of its rules that names one of them).
added_licences() {
    members_of "$1" > "$work/taken"
    grep -v '^#' "$licences" | while read -r key expression; do
        case $key in
            "$1":*) ;;
            *) continue ;;
        esac
        set -f
        for glob in $(printf '%s\n' "${key#*:}" | tr ',' ' '); do
            if awk -v g="$glob" 'BEGIN { gsub(/[.]/, "[.]", g); gsub(/[*]/, ".*", g); gsub(/[?]/, ".", g);
                                         gsub(/\[!/, "[^", g); g = "^" g "$" }
                                 $0 ~ g { found = 1; exit } END { exit !found }' "$work/taken"; then
                printf ' AND %s' "$expression"
                break
            fi
        done
        set +f
    done
}

# The full text of a licence that an expression names, from the host's
# common licences (the copyright files refer to them).
licence_text_file() {
    case $1 in
        GPL-2.0-only | GPL-2.0-or-later) echo /usr/share/common-licenses/GPL-2 ;;
        GPL-3.0-only | GPL-3.0-or-later) echo /usr/share/common-licenses/GPL-3 ;;
        LGPL-2.0-only | LGPL-2.0-or-later) echo /usr/share/common-licenses/LGPL-2 ;;
        LGPL-2.1-only | LGPL-2.1-or-later) echo /usr/share/common-licenses/LGPL-2.1 ;;
        LGPL-3.0-only | LGPL-3.0-or-later) echo /usr/share/common-licenses/LGPL-3 ;;
        *) ;; # its text is in the copyright file itself (MIT, BSD, the GCC exception)
    esac
}

cut -f 4 "$work/packages" | LC_ALL=C sort -u > "$work/sources"
: > "$out/components"
while IFS= read -r source; do
    licence=$(licence_of "$source")
    if [ -z "$licence" ]; then
        echo "third-party: $licences gives no licence for the source package $source (from $(awk -F '\t' -v s="$source" '$4 == s { print $1 }' "$work/packages" | paste -s -d ' ' -)): add its SPDX expression there" >&2
        exit 1
    fi
    licence=$licence$(added_licences "$source")
    awk -F '\t' -v s="$source" -v l="$licence" '
        $4 == s { version = $5; arch = $3; bins = bins (bins == "" ? "" : " ") $1 "=" $2 }
        END { printf "%s\t%s\t%s\t%s\t%s\n", s, version, l, arch, bins }' "$work/packages" >> "$out/components"
done < "$work/sources"

# The packages of the compiler and the linker.
awk -F '\t' 'NR == FNR { tool[$0] = 1; next } $2 in tool { print $1 }' "$work/tool-paths" "$work/owned" |
    LC_ALL=C sort -u > "$work/tool-packages"
: > "$out/tools"
if [ -s "$work/tool-packages" ]; then
    # shellcheck disable=SC2046 # one word per package name
    dpkg-query -W -f='${Package}\t${Version}\t${Architecture}\t${source:Package}\t${source:Version}\n' \
        $(cat "$work/tool-packages") > "$out/tools"
fi

{
    cat <<EOF
THIRD-PARTY NOTICES

The installer, installer/install, is one static program. Besides its own
code (GPL-2.0-or-later; its text is installer/COPYING) it holds code of
the components below, linked in from the named packages of the build
host ($distro) exactly as the linker took it. For each: its version, the
Debian source package it was built from, its licence as an SPDX
expression, what the link took from it, and the copyright and licence
texts of the packages used. The full texts of the licences they refer to
follow at the end.

The sources of each component are those of its Debian source package at
the version given: "apt-get source PACKAGE=VERSION", or
https://snapshot.debian.org/package/PACKAGE/VERSION/. The installer's own
sources (the exact commit, everything needed to rebuild the installer and
to link it again against changed libraries) are published beside the
package as its source tarball. The bill of materials, bom.cdx.json, says
the same in CycloneDX.

EOF
    while IFS="$(printf '\t')" read -r source version licence arch binaries; do
        echo "==============================================================================="
        echo "$source $version ($licence)"
        echo "==============================================================================="
        echo "Debian source package: $source, version $version"
        echo "Built into the binary packages ($arch): $binaries"
        echo "Linked in from:"
        for binary in $binaries; do
            awk -F '\t' -v b="${binary%%=*}" '$1 == b { print "  " $2 }' "$work/owners"
        done
        echo
        for binary in $binaries; do
            copyright=/usr/share/doc/${binary%%=*}/copyright
            if [ ! -r "$copyright" ]; then
                echo "third-party: $copyright is missing: the copyright of ${binary%%=*} cannot be shipped" >&2
                exit 1
            fi
            sum=$(sha256sum < "$copyright")
            grep -qxF "$sum" "$work/shown" 2>/dev/null && continue
            echo "$sum" >> "$work/shown"
            echo "--- $copyright (${binary%%=*} ${binary#*=}) ---"
            cat "$copyright"
            echo
        done
    done < "$out/components"
    cut -f 3 "$out/components" | tr ' ()' '\n' | LC_ALL=C sort -u | while IFS= read -r id; do
        file=$(licence_text_file "$id")
        [ -n "$file" ] || continue
        grep -qxF "$file" "$work/texts" 2>/dev/null && continue
        echo "$file" >> "$work/texts"
        echo "==============================================================================="
        echo "Licence text: $id ($file)"
        echo "==============================================================================="
        cat "$file"
        echo
    done
} > "$work/notices"
mv "$work/notices" "$out/THIRD-PARTY-NOTICES"
