#!/bin/sh

# SPDX-FileCopyrightText: 2026 The Tessaro installer developers
#
# SPDX-License-Identifier: GPL-2.0-or-later

# Builds ROOT, the root file system of a host that has no C library at all:
# busybox (a static program) as its shell and every utility in /bin, a
# stand-in package database that has every package, the locale data of
# C.UTF-8 and de_DE.UTF-8, the time zone Asia/Tokyo as /etc/localtime and
# Asia/Kolkata under /usr/share/zoneinfo, and the terminal description
# "screen" in each place a host keeps one:
#   /usr/share/terminfo  as screen
#   /lib/terminfo        as screen-lib
#   /etc/terminfo        as screen-etc
#   /opt/terminfo        as screen-own   (for TERMINFO=/opt/terminfo)
#   /opt/terminfo-dirs   as screen-dirs  (for TERMINFO_DIRS)
# Nothing else: a program must bring everything it needs.
#   bare-root.sh ROOT
set -eu
root=$1

for dir in bin sbin usr/bin usr/sbin usr/lib/locale usr/share/zoneinfo/Asia etc lib \
    var/log run proc dev tmp opt; do
    mkdir -p "$root/$dir"
done
chmod 1777 "$root/tmp"

cp /bin/busybox "$root/bin/busybox"
for applet in $("$root/bin/busybox" --list); do
    [ -e "$root/bin/$applet" ] || ln -s busybox "$root/bin/$applet"
done

# Every package the back end asks for is installed.
cat > "$root/usr/bin/dpkg-query" <<'EOF'
#!/bin/sh
printf 'install ok installed'
EOF
printf '#!/bin/sh\nexit 0\n' > "$root/usr/bin/apt-get"
chmod 0755 "$root/usr/bin/dpkg-query" "$root/usr/bin/apt-get"

entry=
for dir in /etc/terminfo /lib/terminfo /usr/share/terminfo; do
    if [ -f "$dir/s/screen" ]; then
        entry=$dir/s/screen
        break
    fi
done
if [ -z "$entry" ]; then
    echo "bare-root: this host has no terminal description for screen" >&2
    exit 1
fi
for place in usr/share/terminfo/s/screen lib/terminfo/s/screen-lib etc/terminfo/s/screen-etc \
    opt/terminfo/s/screen-own opt/terminfo-dirs/s/screen-dirs; do
    mkdir -p "$root/$(dirname "$place")"
    cp "$entry" "$root/$place"
done

cp -R /usr/lib/locale/C.utf8 "$root/usr/lib/locale/C.utf8"
localedef -i de_DE -f UTF-8 "$root/usr/lib/locale/de_DE.utf8"

cp /usr/share/zoneinfo/Asia/Tokyo "$root/etc/localtime"
cp /usr/share/zoneinfo/Asia/Kolkata "$root/usr/share/zoneinfo/Asia/Kolkata"
