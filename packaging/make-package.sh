#!/bin/sh

# SPDX-FileCopyrightText: 2026 The Tessaro installer developers
#
# SPDX-License-Identifier: GPL-2.0-or-later

# Packs the SDK package that users download, reproducibly: the same commit
# gives the same bytes (names sorted, owner and group 0, every time the
# last commit's, gzip without name or time).
#
#   make-package.sh SAMPLE_DIR RESOURCES_DIR INSTALLER NAME OUT_DIR LINK_MAP COMPILER
#
# The package is staged afresh from its sources every time, never from a
# build directory that earlier builds added to: SAMPLE_DIR is the sample
# package's source directory (its files as git knows them, when it is in a
# git work tree), RESOURCES_DIR the built catalogues (one per translation
# in po/), INSTALLER the installer to ship, LINK_MAP the linker's map of
# its link and COMPILER the compiler that linked it (what other people's
# code the installer holds: THIRD-PARTY-NOTICES and the bill of materials,
# bom.cdx.json, say it). The result is
# OUT_DIR/NAME.tar.gz, with one top directory NAME, and
# OUT_DIR/NAME.tar.gz.sha256 in sha256sum's format. The package's
# data/identity names it and holds a digest of the rest of it (all but the
# bill, which holds the digest).
set -eu
sample=$1
resources=$2
installer=$3
name=$4
out=$5
map=$6
compiler=$7
here=$(cd "$(dirname "$0")" && pwd)

# The time of every entry: SOURCE_DATE_EPOCH, or the last commit's (in a
# clone, or as the source tarball carries it in packaging/source-date).
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    epoch=$SOURCE_DATE_EPOCH
elif ! epoch=$(git -C "$here" log -1 --format=%ct 2>/dev/null) || [ -z "$epoch" ]; then
    epoch=$(cat "$here/source-date" 2>/dev/null)
    case $epoch in
        '' | *[!0-9]*) epoch=0 ;;
    esac
fi

stage=$(mktemp -d "$out/.package.XXXXXXXXXX")
trap 'rm -rf "$stage"' EXIT
root=$stage/$name
mkdir "$root"

# Exactly the package root: the link, the README, the installer's directory (the
# program and its licence), the catalogues, the manual pages, the SDK's
# licence, the notices, the written offer and the bill of materials, the
# manifest, the back end, its data and payload.
if git -C "$sample" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    # A file git tracks that the work tree lacks would be left out quietly.
    missing=$(cd "$sample" && git ls-files --deleted -- LICENSE Manifest installer-cli installer data payload)
    if [ -n "$missing" ]; then
        printf 'make-package: files of the package are missing from %s:\n%s\n' "$sample" "$missing" >&2
        exit 1
    fi
    (cd "$sample" && git ls-files -z -- LICENSE Manifest installer-cli installer data payload |
        xargs -0 tar -cf - --no-recursion) | (cd "$root" && tar -xf -)
else
    (cd "$sample" && tar -cf - LICENSE Manifest installer-cli installer data payload) | (cd "$root" && tar -xf -)
fi
# A licence the installer would refuse to show (empty, binary, UTF-16 or
# UTF-32) is no package's.
licence_problem=
if [ ! -s "$root/LICENSE" ]; then
    licence_problem="it is empty"
elif [ "$(head -c 2 "$root/LICENSE" | od -An -tx1 | tr -d ' \n')" = fffe ] ||
    [ "$(head -c 2 "$root/LICENSE" | od -An -tx1 | tr -d ' \n')" = feff ]; then
    licence_problem="it is UTF-16 or UTF-32 text, not UTF-8"
elif [ "$(tr -d '\000' < "$root/LICENSE" | wc -c)" -ne "$(wc -c < "$root/LICENSE")" ]; then
    licence_problem="it holds a NUL byte: it is not text"
fi
# Every entry of the manifest is one the back end installs: a path in the
# package and one in the SDK's directories (a blank or a tab between them),
# neither with a blank, a control character or a way out.
bad_entry=$(LC_ALL=C awk '
    /^[ \t]*#/ || NF == 0 || /^\[.*\]$/ { next }
    NF != 2 || /[\001-\010\012-\037\177]/ || $2 !~ /^\/(usr\/share\/kestrane-virtualization-sdk|etc\/kestrane-sdk)\// ||
        $0 ~ /(^|\/)\.\.?(\/| |$)/ { printf "line %d: %s\n", NR, $0; exit }
' "$root/Manifest")
if [ -n "$bad_entry" ]; then
    printf 'make-package: an entry of %s/Manifest cannot be installed (%s)\n' "$sample" "$bad_entry" >&2
    exit 1
fi
if [ -n "$licence_problem" ]; then
    printf 'make-package: the licence %s/LICENSE cannot be shipped: %s\n' "$sample" "$licence_problem" >&2
    exit 1
fi
mkdir -p "$root/installer"
cp "$installer" "$root/installer/install"
cp "$here/../COPYING" "$root/installer/COPYING"
# What the link took from other people's code, and the licences.
mkdir "$stage/linked"
sh "$here/third-party.sh" "$map" "$here/licences" "$compiler" "$stage/linked"
cp "$stage/linked/THIRD-PARTY-NOTICES" "$root/THIRD-PARTY-NOTICES"
# Their corresponding sources: fetched beside the package where SOURCES_DIR
# names a directory for them (make package does) and the build host can
# fetch them; and, always, the written offer for them, naming each source
# package's exact version and, where it was fetched, its .dsc's SHA-256.
: > "$stage/dsc-sums"
if [ -n "${SOURCES_DIR:-}" ]; then
    if ! sh "$here/third-party-sources.sh" "$stage/linked/components" "$SOURCES_DIR"; then
        echo "make-package: warning: not every library's source could be fetched into $SOURCES_DIR (above); the written offer stands for them" >&2
    fi
    cp "$SOURCES_DIR/dsc-sums" "$stage/dsc-sums"
fi
made=$(date -u -d "@$epoch" +%Y-%m-%d)
{
    cat <<EOF
WRITTEN OFFER FOR THE SOURCES OF THE INSTALLER'S LIBRARIES

The installer, installer/install, holds code of the libraries below, linked
in: among them S-Lang, under the GNU General Public License, version 2 or
later, and newt and the GNU C Library, under the GNU Lesser General Public
License. For three years from $made, the day this package,
$name, was made, and for as long as its vendor offers
spare parts or support for it, Tessaro Systems gives any third party who
asks a complete machine-readable copy of the corresponding source code of
each of them, on a medium customarily used for software interchange, for
no more than the cost of physically performing the distribution. Write to
installer@tessaro.example, naming this package.

The corresponding source of each is its Debian source package at the
exact version below. Where this package was made with them, they lie
beside it (third-party-sources/). "apt-get source PACKAGE=VERSION" fetches
one from Debian, as does https://snapshot.debian.org/package/PACKAGE/VERSION/;
the SHA-256 of the .dsc tells whether a copy is the one this package was
made from (every other file of it is checked against its .dsc).

EOF
    awk -F '\t' 'FILENAME == ARGV[1] { sum[$1 "\t" $2] = $3 "  SHA-256 " $4; next }
        { printf "%s %s\n  %s\n", $1, $2, (($1 "\t" $2) in sum) ? sum[$1 "\t" $2] : \
            "(its .dsc was not fetched when this package was made: ask for it as above)" }' \
        "$stage/dsc-sums" "$stage/linked/components"
} > "$root/WRITTEN-OFFER"
ln -s installer/install "$root/install"
# The manual pages, dated by the same commit, naming this package.
version=${name#tessaro-virtualization-sdk-}
version=${version%-x86_64}
mkdir -p "$root/man/de"
for page in install.8:man/install.8 install.de.8:man/de/install.8; do
    sed "s/@VERSION@/$version/g" "$here/../docs/${page%%:*}.scd" | SOURCE_DATE_EPOCH=$epoch scdoc > "$root/${page#*:}"
done
# The package's README, naming this package and its sources.
sed -e "s/@VERSION@/$version/g" -e "s/@NAME_SRC@/tessaro-virtualization-sdk-$version-src/g" -e "s/@NAME@/$name/g" \
    "$here/README.package" > "$root/README"
for po in "$here"/../po/*.po; do
    lang=$(basename "$po" .po)
    mkdir -p "$root/resources/$lang/LC_MESSAGES"
    cp "$resources/$lang/LC_MESSAGES/install.mo" "$root/resources/$lang/LC_MESSAGES/install.mo"
done

find "$root" -type d -exec chmod 0755 {} +
find "$root" -type f -exec chmod 0644 {} +
grep -v '^#' "$here/tools" | while read -r tool; do
    chmod 0755 "$root/$tool"
done

# The package's identity, which the installation records on the host: its
# name and a digest of everything else it holds (paths, modes, link
# targets and contents), so that two packages of the same name but other
# contents are told apart. The digest is of a canonical tar stream of it,
# which encodes every field with its length: no two packages give the same
# stream (a link "a b" -> "c" and a link "a" -> "b c", names with line
# ends).
digest=$(tar --sort=name --owner=0 --group=0 --numeric-owner --mtime=@0 --format=gnu \
    --exclude=./data/identity -C "$root" -cf - . | sha256sum | cut -c 1-64)
mkdir -p "$root/data"
printf '%s %s\n' "$name" "$digest" > "$root/data/identity"
chmod 0644 "$root/data/identity"
# The bill of materials: the package, every file with its checksum, the
# installer and what it links, and the toolchain.
sh "$here/bill-of-materials.sh" "$root" "$name" "$version" "$digest" "$stage/linked/components" \
    "$stage/linked/tools" "$epoch" > "$root/bom.cdx.json"
chmod 0644 "$root/bom.cdx.json"

tar --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$epoch" --format=gnu \
    -C "$stage" -cf - "$name" | gzip -n -9 > "$stage/$name.tar.gz"
# A signature of an earlier checksum file would not be of this one.
rm -f "$out/$name.tar.gz.sha256.asc"
mv "$stage/$name.tar.gz" "$out/$name.tar.gz"
(cd "$out" && sha256sum "$name.tar.gz" > "$name.tar.gz.sha256")
