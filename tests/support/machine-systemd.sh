#!/bin/sh

# SPDX-FileCopyrightText: 2026 The Tessaro installer developers
#
# SPDX-License-Identifier: GPL-2.0-or-later

# The scenario of the test machine whose first process is systemd: a
# service that starts once the machine is up, runs the package in /pkg/new
# with a back end of its own, reports on the serial console, and turns the
# machine off.
#
# 1. A run whose back end starts a worker that leaves its session and
#    closes every descriptor it has, then waits: the run is killed outright
#    (SIGKILL) while it waits. The next run must stop the worker too.
# 2. A run whose back end starts a daemon the same way and ends: the run
#    after it must leave the daemon running.
# The report: "tessaro: result worker=gone|alive daemon=gone|alive
# first=STATUS second=STATUS scope=yes|no".
exec >/dev/ttyS0 2>&1
set -u

package=/pkg/new
log=/var/log/kestrane-sdk-install.log
printf '[files]\n' > "$package/Manifest"
printf 'm coreutils\n' > "$package/data/lib_deps"
cat > "$package/installer-cli" <<'EOF'
#!/bin/sh
echo '[  0%] Starting'
if [ -e /tmp/hold ]; then
    setsid sh -c 'exec 0<&- 1>&- 2>&- 3>&- 4>&- 5>&- 6>&- 7>&- 8>&- 9>&-; exec sleep 1000' &
    echo $! > /tmp/worker
    sleep 1000
fi
if [ -e /tmp/leave ]; then
    setsid sh -c 'exec 0<&- 1>&- 2>&- 3>&- 4>&- 5>&- 6>&- 7>&- 8>&- 9>&-; exec sleep 1000' &
    echo $! > /tmp/daemon
fi
echo '[100%] Done'
EOF
chmod 0755 "$package/installer-cli"

state() {
    if kill -0 "$1" 2>/dev/null; then echo alive; else echo gone; fi
}

touch /tmp/hold
"$package/installer/install" -i >/dev/null 2>&1 &
run=$!
i=0
while [ ! -s /tmp/worker ] && [ "$i" -lt 600 ]; do
    sleep 0.1
    i=$((i + 1))
done
kill -KILL "$run"
wait "$run" 2>/dev/null
rm -f /tmp/hold
"$package/installer/install" -i >/dev/null 2>&1
first=$?
worker=$(state "$(cat /tmp/worker)")

touch /tmp/leave
"$package/installer/install" -i >/dev/null 2>&1
rm -f /tmp/leave
echo "tessaro: the daemon is in $(cat /proc/"$(cat /tmp/daemon)"/cgroup)"

"$package/installer/install" -i >/dev/null 2>&1
second=$?
daemon=$(state "$(cat /tmp/daemon)")

scope=no
grep -q 'systemd scope kestrane-sdk-backend-' "$log" && scope=yes
grep -E 'earlier run|systemd' "$log" | sed 's/^/tessaro: log: /'
echo "tessaro: result worker=$worker daemon=$daemon first=$first second=$second scope=$scope"
systemctl poweroff --no-block
