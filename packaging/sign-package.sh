#!/bin/sh

# SPDX-FileCopyrightText: 2026 The Tessaro installer developers
#
# SPDX-License-Identifier: GPL-2.0-or-later

# Signs a package that make-package.sh built, with the OpenPGP key KEY (its
# fingerprint; the secret key in the builder's keyring, GNUPGHOME honoured):
#
#   sign-package.sh TARBALL KEY
#
# Writes TARBALL.sha256.asc, a detached ASCII-armoured signature of the
# checksum file, and the key's public part, ASCII-armoured, as NAME.pub.asc
# beside the tarball (NAME the tarball's name without .tar.gz) for the
# download page. Checks the signature with gpgv against that public key
# before it keeps either.
set -eu
tarball=$1
key=$2
name=$(basename "$tarball" .tar.gz)
out=$(dirname "$tarball")

work=$(mktemp -d "$out/.sign.XXXXXXXXXX")
trap 'rm -rf "$work"' EXIT
gpg --batch --yes --quiet --armor --local-user "$key" --detach-sign --output "$work/signature" "$tarball.sha256"
gpg --batch --yes --quiet --armor --export "$key" > "$work/key"
if [ ! -s "$work/key" ]; then
    echo "sign-package: no public key $key in the keyring" >&2
    exit 1
fi
# gpgv takes a keyring, not armour.
gpg --batch --quiet --dearmor < "$work/key" > "$work/keyring"
if ! gpgv --homedir "$work" --keyring "$work/keyring" "$work/signature" "$tarball.sha256" 2>"$work/gpgv"; then
    cat "$work/gpgv" >&2
    echo "sign-package: the signature made with $key does not verify against its exported public key" >&2
    exit 1
fi
mv -f "$work/signature" "$tarball.sha256.asc"
mv -f "$work/key" "$out/$name.pub.asc"
echo "signed: $tarball.sha256.asc (key: $out/$name.pub.asc)"
