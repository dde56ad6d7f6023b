#!/bin/sh
# Packs the SDK package that users download, reproducibly: the same commit
# gives the same bytes (names sorted, owner and group 0, every time the
# last commit's, gzip without name or time).
#
#   make-package.sh SDK_DIR INSTALLER NAME OUT_DIR
#
# SDK_DIR is the package root as the build assembled it, INSTALLER the
# installer to ship in it; the result is OUT_DIR/NAME.tar.gz, with one top
# directory NAME, and OUT_DIR/NAME.tar.gz.sha256 in sha256sum's format.
set -eu
sdk=$1
installer=$2
name=$3
out=$4
here=$(cd "$(dirname "$0")" && pwd)

if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    epoch=$SOURCE_DATE_EPOCH
else
    epoch=$(git -C "$here" log -1 --format=%ct 2>/dev/null || echo 0)
fi

stage=$(mktemp -d "$out/.package.XXXXXXXXXX")
trap 'rm -rf "$stage"' EXIT
root=$stage/$name
mkdir "$root"

# Exactly the package root: the link, the installer's directory, the
# catalogues, the licence, the manifest, the back end, its data and payload.
(cd "$sdk" && tar -cf - install installer resources LICENSE Manifest installer-cli data payload) |
    (cd "$root" && tar -xf -)
cp "$installer" "$root/installer/install"

find "$root" -type d -exec chmod 0755 {} +
find "$root" -type f -exec chmod 0644 {} +
grep -v '^#' "$here/tools" | while read -r tool; do
    chmod 0755 "$root/$tool"
done

tar --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$epoch" --format=gnu \
    -C "$stage" -cf - "$name" | gzip -n -9 > "$stage/$name.tar.gz"
mv "$stage/$name.tar.gz" "$out/$name.tar.gz"
(cd "$out" && sha256sum "$name.tar.gz" > "$name.tar.gz.sha256")
