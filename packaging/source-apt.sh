#!/bin/sh
# SPDX-FileCopyrightText: 2026 The Tessaro installer developers
# SPDX-License-Identifier: GPL-2.0-or-later
#
# An APT configuration of its own, for fetching source packages from where
# the build host gets its binary packages: the deb-src twin of each of its
# deb entries, with the package lists and the cache in DIR (the host's own
# configuration, lists and cache are not touched).
#
#   source-apt.sh DIR
#
# Writes DIR/apt.conf (for APT_CONFIG) and reads the source indexes with
# it. Says so, and ends with status 1, where they cannot be read (no
# network, say): the package is then made with its written offer alone.
set -eu
dir=$1
mkdir -p "$dir/lists/partial" "$dir/cache/archives/partial" "$dir/sources.list.d"
for list in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$list" ] && sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$list"
done > "$dir/sources.list"
rm -f "$dir/sources.list.d/"*.sources
for parts in /etc/apt/sources.list.d/*.sources; do
    [ -f "$parts" ] && sed 's/^Types:.*/Types: deb-src/' "$parts" > "$dir/sources.list.d/${parts##*/}"
done
cat > "$dir/apt.conf" <<CONF
Dir::Etc::SourceList "$dir/sources.list";
Dir::Etc::SourceParts "$dir/sources.list.d";
Dir::State::Lists "$dir/lists";
Dir::Cache "$dir/cache";
CONF
if ! APT_CONFIG=$dir/apt.conf apt-get update -qq; then
    echo "source-apt: the source indexes of the build host's package sources cannot all be read (above)" >&2
    exit 1
fi
