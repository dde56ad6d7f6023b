#!/bin/sh
# SPDX-FileCopyrightText: 2026 The Tessaro installer developers
# SPDX-License-Identifier: GPL-2.0-or-later
#
# Writes the package's bill of materials, CycloneDX 1.5 JSON, on standard
# output:
#
#   bill-of-materials.sh ROOT NAME VERSION DIGEST COMPONENTS TOOLS EPOCH
#
# ROOT is the staged package root (every file in it is listed with its
# SHA-256, but for the bill itself, bom.cdx.json); NAME, VERSION and DIGEST
# the package's name, version and identity digest; COMPONENTS and TOOLS
# what third-party.sh found in the installer's link; EPOCH the time of the
# build (the last commit's). The same inputs give the same bytes: the
# serial number is derived from the content.
set -eu
root=$1
name=$2
version=$3
digest=$4
components=$5
tools=$6
epoch=$7

# shellcheck source=/dev/null # the build host's
distro=$(. /etc/os-release && printf '%s-%s' "$ID" "${VERSION_ID:-unknown}")
timestamp=$(date -u -d "@$epoch" +%Y-%m-%dT%H:%M:%SZ)

# Every file of the package, "SHA-256  ./path", in a fixed order.
files=$(cd "$root" && find . -type f ! -path ./bom.cdx.json -print0 | LC_ALL=C sort -z | xargs -0 sha256sum)

body=$(printf '%s\n' "$files" | jq -R -s -c --arg name "$name" --arg version "$version" --arg digest "$digest" \
    --arg distro "$distro" --arg timestamp "$timestamp" \
    --rawfile components "$components" --rawfile tools "$tools" '
    def rows: split("\n") | map(select(length > 0) | split("\t"));
    def purl(package; version; arch):
        "pkg:deb/debian/" + package + "@" + (version | @uri) + "?arch=" + arch + "&distro=" + $distro;
    # Who made what: the vendor its package, installer and this bill;
    # Debian the packages the installer links and the tools that built it.
    def vendor: {name: "Tessaro Systems", url: ["https://tessaro.example"]};
    def debian: {name: "Debian", url: ["https://www.debian.org"]};
    # A source package, and the binary packages built from it that the
    # link used ("name=version" each), each with its own package URL.
    def binaries($source; $version; $arch; $list):
        $list | split(" ") | map(select(length > 0) | split("=") | {
            type: "library",
            "bom-ref": purl(.[0]; .[1]; $arch),
            supplier: debian,
            name: .[0],
            version: .[1],
            purl: purl(.[0]; .[1]; $arch),
            pedigree: {ancestors: [{type: "library", name: $source, version: $version, purl: purl($source; $version; "source")}]}
        });
    (split("\n") | map(select(length > 0) | {sha: .[0:64], path: .[66:] | ltrimstr("./")})) as $files
    | ($components | rows) as $linked
    | {
        bomFormat: "CycloneDX",
        specVersion: "1.5",
        version: 1,
        metadata: {
            timestamp: $timestamp,
            authors: [{name: "Tessaro Systems"}],
            supplier: vendor,
            manufacture: vendor,
            tools: {
                components: ([{
                    type: "application",
                    supplier: vendor,
                    author: "The Tessaro installer developers",
                    name: "bill-of-materials.sh",
                    version: $version,
                    description: "What writes this bill: packaging/bill-of-materials.sh of the installer'"'"'s sources"
                }] + ($tools | rows | map({
                    type: "application",
                    supplier: debian,
                    name: .[0],
                    version: .[1],
                    purl: purl(.[0]; .[1]; .[2]),
                    properties: [{name: "debian:source", value: (.[3] + " " + .[4])}]
                })))
            },
            component: {
                type: "application",
                "bom-ref": "package",
                supplier: vendor,
                author: "Tessaro Systems",
                name: "tessaro-virtualization-sdk",
                version: $version,
                description: "The Tessaro Virtualization SDK package for Linux on x86-64, with its installer",
                # The SDK'"'"'s own licence (LICENSE, which the installer shows), and the installer'"'"'s.
                licenses: [{license: {name: "Tessaro Virtualization SDK licence (LICENSE in the package)"}},
                           {license: {id: "GPL-2.0-or-later"}}],
                properties: [
                    {name: "tessaro:package", value: $name},
                    {name: "tessaro:identity", value: $digest}
                ]
            }
        },
        components: (
            [{
                type: "application",
                "bom-ref": "installer",
                supplier: vendor,
                author: "The Tessaro installer developers",
                name: "install",
                version: $version,
                description: "The SDK installer: one static program",
                licenses: [{expression: "GPL-2.0-or-later"}],
                hashes: [{alg: "SHA-256", content: ($files[] | select(.path == "installer/install") | .sha)}],
                properties: [{name: "tessaro:path", value: "installer/install"}]
            }]
            + ($linked | map({
                type: "library",
                "bom-ref": purl(.[0]; .[1]; "source"),
                supplier: debian,
                name: .[0],
                version: .[1],
                licenses: [{expression: .[2]}],
                purl: purl(.[0]; .[1]; "source"),
                components: binaries(.[0]; .[1]; .[3]; .[4]),
                properties: [{name: "debian:binary-packages", value: .[4]}]
            }))
            + ($files | map(select(.path != "installer/install") | {
                type: "file",
                "bom-ref": ("file:" + .path),
                supplier: vendor,
                name: .path,
                version: $version,
                hashes: [{alg: "SHA-256", content: .sha}]
            }))
        ),
        # The installer depends on the binary packages whose archives the
        # link took members from.
        dependencies: [
            {ref: "package", dependsOn: (["installer"] + ($files | map(select(.path != "installer/install") | "file:" + .path)))},
            {ref: "installer", dependsOn: [$linked[] | binaries(.[0]; .[1]; .[3]; .[4])[] | ."bom-ref"]}
        ]
      }')

# A name-based UUID (version 5 layout) of the content.
sum=$(printf '%s' "$body" | sha256sum | cut -c 1-32)
variant=$(printf '%x' $(( (0x$(printf '%s' "$sum" | cut -c 17) & 3) | 8 )))
serial=$(printf '%s' "$sum" | sed "s/^\\(........\\)\\(....\\).\\(...\\).\\(...\\)\\(............\\)\$/\\1-\\2-5\\3-$variant\\4-\\5/")
printf '%s\n' "$body" | jq --arg serial "urn:uuid:$serial" '{bomFormat, specVersion, serialNumber: $serial} + .'
