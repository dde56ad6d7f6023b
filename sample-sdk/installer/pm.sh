#!/bin/sh
# Package-manager wrapper of the sample SDK.
#
#   pm.sh --check PRODUCT --lib-deps FILE
#   pm.sh --install PRODUCT --lib-deps FILE --logfile LOG
#
# FILE lists the system packages the product needs, one per line: "m NAME"
# for a mandatory package, "o NAME" for an optional one.
# --check prints the missing ones (mandatory first) and exits 0, or 124 when
# no supported package manager is found (then it prints the whole list).
# --install installs the missing ones; it exits 123 when another package
# manager held the lock for longer than PM_LOCK_WAIT seconds (default 60),
# 0 when every mandatory package is present (printing
# the optional packages it could not install), and 1 otherwise (printing
# the packages still missing).

mode=
product=
deps=

while [ $# -gt 0 ]; do
    case "$1" in
        --check) mode=check; product=${2:-}; shift ;;
        --install) mode=install; product=${2:-}; shift ;;
        --lib-deps) deps=${2:-}; shift ;;
        --logfile) shift ;;
        *) echo "pm.sh: unknown argument $1" >&2; exit 2 ;;
    esac
    shift
done

# What it has to say, and the package manager's output, go to standard
# error: whoever runs it keeps that (the installer logs every line under
# the tool's name). The log is never opened by its path: whoever can change
# the log's directory could swap the file for a link between a check and
# the write. --logfile is taken and not used.
log() {
    printf 'pm.sh: %s\n' "$*" >&2
}

# The package manager's output, from the file $1.
log_output() {
    cat "$1" >&2
}

if [ -z "$mode" ] || [ -z "$deps" ] || [ ! -r "$deps" ]; then
    echo "pm.sh: usage: pm.sh (--check|--install) PRODUCT --lib-deps FILE [--logfile LOG]" >&2
    exit 2
fi

if command -v dpkg-query >/dev/null 2>&1 && command -v apt-get >/dev/null 2>&1; then
    manager=apt
elif command -v rpm >/dev/null 2>&1 && command -v dnf >/dev/null 2>&1; then
    manager=dnf
elif command -v rpm >/dev/null 2>&1 && command -v zypper >/dev/null 2>&1; then
    manager=zypper
else
    manager=
fi

# 0 when the package is installed, 1 when it is not, 2 when the package
# database could not be asked (dpkg-query knows no such package: 1; it
# failed: any other status).
installed() {
    case "$manager" in
        apt)
            state=$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)
            case $? in
                # Installed, also while triggers wait for it or it is held.
                0) case "$state" in *' ok installed' | *' ok triggers-pending' | *' ok triggers-awaited') return 0 ;; *) return 1 ;; esac ;;
                1) return 1 ;;
                *) return 2 ;;
            esac
            ;;
        *) rpm -q "$1" >/dev/null 2>&1 ;;
    esac
}

# The lines of the list that name missing packages, mandatory ones first;
# status 1 when the package database could not be asked.
missing() {
    for kind in m o; do
        while read -r marker name; do
            if [ "$marker" != "$kind" ] || [ -z "$name" ]; then
                continue
            fi
            installed "$name"
            case $? in
                0) ;;
                1) printf '%s %s\n' "$marker" "$name" ;;
                *) log "cannot tell whether $name is installed: dpkg-query failed"; exit 1 ;;
            esac
        done < "$deps"
    done
}

if [ -z "$manager" ]; then
    log "no supported package manager for $product"
    grep -E '^m ' "$deps"
    grep -E '^o ' "$deps"
    exit 124
fi

if [ "$mode" = check ]; then
    missing || exit 1
    exit 0
fi

# Seconds to wait for another package manager to let go of its lock
# before giving up with 123.
lock_wait=${PM_LOCK_WAIT:-60}

# The package manager never asks: nobody would see the question. Changed
# configuration files are kept. Each waits up to lock_wait seconds for
# another package manager to let go of its lock: apt-get and zypper by
# their own settings; dnf, which would wait for ever, is told to give up
# at once and is asked again every second.
install_packages() {
    case "$manager" in
        apt) DEBIAN_FRONTEND=noninteractive apt-get install -y -q -o "DPkg::Lock::Timeout=$lock_wait" \
            -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold "$@" ;;
        dnf)
            waited=0
            while :; do
                dnf install -y -q --setopt=exit_on_lock=True "$@"
                status=$?
                if [ "$status" -ne 200 ] || [ "$waited" -ge "$lock_wait" ]; then
                    return "$status"
                fi
                sleep 1
                waited=$((waited + 1))
            done
            ;;
        zypper) ZYPP_LOCK_TIMEOUT=$lock_wait zypper --non-interactive install "$@" ;;
    esac < /dev/null
}

# Whether the package manager that ended with status $1, having written
# the file $2, gave up because another one held its lock: apt-get's 100
# with its complaint about the lock, dnf's 200, zypper's 7.
lock_held() {
    case "$manager" in
        apt) [ "$1" -eq 100 ] && grep -qiE 'could not get lock|unable to acquire' "$2" ;;
        dnf) [ "$1" -eq 200 ] ;;
        zypper) [ "$1" -eq 7 ] ;;
    esac
}

# The package manager's output, in a file of a name nobody can guess or
# plant beforehand; it goes on every way out.
out=$(mktemp "${TMPDIR:-/tmp}/pm.sh.XXXXXXXXXX") || {
    echo "pm.sh: cannot create a temporary file" >&2
    exit 1
}
trap 'rm -f "$out"' EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 141' PIPE
trap 'exit 143' TERM
todo=$(missing) || exit 1
log "missing for $product: $(echo "$todo" | tr '\n' ' ')"
for kind in m o; do
    names=$(echo "$todo" | awk -v k="$kind" '$1 == k { print $2 }')
    [ -n "$names" ] || continue
    # Optional packages are installed one by one so that one that cannot be
    # had does not hold back the others.
    if [ "$kind" = m ]; then
        # shellcheck disable=SC2086
        install_packages $names > "$out" 2>&1
        status=$?
        log_output "$out"
        if lock_held "$status" "$out"; then
            exit 123
        fi
    else
        for name in $names; do
            install_packages "$name" > "$out" 2>&1
            status=$?
            log_output "$out"
            if lock_held "$status" "$out"; then
                exit 123
            fi
        done
    fi
done

left=$(missing) || exit 1
if echo "$left" | grep -q '^m '; then
    echo "$left"
    exit 1
fi
if [ -n "$left" ]; then
    echo "$left"
fi
exit 0
