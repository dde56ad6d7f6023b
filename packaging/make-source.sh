#!/bin/sh
# SPDX-FileCopyrightText: 2026 The Tessaro installer developers
# SPDX-License-Identifier: GPL-2.0-or-later
#
# Packs the sources of the commit the package was built from: every file
# git tracks, all that is needed to rebuild the installer and to link it
# again against changed libraries. The same commit gives the same bytes
# (git's archive is dated by the commit and names it; gzip without name or
# time).
#
#   make-source.sh SOURCE_DIR NAME OUT_DIR
#
# Writes OUT_DIR/NAME.tar.gz, with one top directory NAME, and
# OUT_DIR/NAME.tar.gz.sha256 in sha256sum's format.
set -eu
src=$1
name=$2
out=$3

if ! commit=$(git -C "$src" rev-parse --verify -q 'HEAD^{commit}' 2>/dev/null); then
    # Sources unpacked from a source tarball: they are the tarball.
    echo "make-source: $src is not a git clone: no source tarball is made (these sources came from one)"
    exit 0
fi
if [ -n "$(git -C "$src" status --porcelain --untracked-files=no)" ]; then
    echo "make-source: warning: the work tree has changes that are not committed; the source tarball holds commit $commit without them, which is not what this package was built from" >&2
fi
tmp=$(mktemp "$out/.source.XXXXXXXXXX")
trap 'rm -f "$tmp"' EXIT
git -C "$src" archive --format=tar --prefix="$name/" "$commit" | gzip -n -9 > "$tmp"
# A signature of an earlier checksum file would not be of this one.
rm -f "$out/$name.tar.gz.sha256.asc"
# Read by anyone, as the package beside it (mktemp made it for its owner).
chmod 0644 "$tmp"
mv "$tmp" "$out/$name.tar.gz"
(cd "$out" && sha256sum "$name.tar.gz" > "$name.tar.gz.sha256")
echo "sources: $out/$name.tar.gz (commit $commit)"
