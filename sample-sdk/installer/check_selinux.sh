#!/bin/sh
# Exits 0 when SELinux does not stand in the way of the SDK: not present,
# disabled or permissive.
if command -v getenforce >/dev/null 2>&1 && [ "$(getenforce)" = Enforcing ]; then
    echo "SELinux is enforcing; switch it to permissive mode to install the SDK."
    exit 1
fi
exit 0
