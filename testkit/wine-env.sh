#!/bin/bash
# The Wine environment of this project's 32-bit Windows programs.
#
#   source testkit/wine-env.sh          # only sets WINEPREFIX and Wine's variables
#   testkit/wine-env.sh CMD [ARGS...]   # runs CMD in them, with the Japanese locale
#                                       # (or SORVENKA_LOCALE)
#   testkit/wine-env.sh --start-server  # a warm wineserver with its services up
#   testkit/wine-env.sh --stop-server   # ends every Wine process of the prefix
#
# scripts/setup.sh makes the prefix (SORVENKA_WINEPREFIX, default
# build/wineprefix) and readies the machine; this file changes nothing and
# leaves the caller's DISPLAY and LANG alone. The locale goes only to the
# commands it runs: the program's texts are in code page 932.
#
# QEMU_GUEST_BASE=0: where wine32 runs through qemu-i386, guest addresses
# must equal host ones, since the native wineserver pokes the PEB and serves
# ReadProcessMemory at the guest's addresses (see scripts/setup.sh).

export WINEPREFIX="${SORVENKA_WINEPREFIX:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/wineprefix}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" QEMU_GUEST_BASE=0
[ "${BASH_SOURCE[0]}" = "$0" ] || return 0

# SORVENKA_LOCALE: another Unix locale for a run, from which Wine derives
# another code page (C.UTF-8: 1252, an English Windows).
export LANG=${SORVENKA_LOCALE:-ja_JP.UTF-8} LC_ALL=${SORVENKA_LOCALE:-ja_JP.UTF-8}

# Pids of the Wine processes (the server, qemu-run and native programs) of
# this prefix; a test runner that merely carries WINEPREFIX is not one.
prefix_pids() {
    local e pid exe
    for e in /proc/[0-9]*/environ; do
        pid=${e#/proc/} && pid=${pid%/environ}
        exe=$(readlink "/proc/$pid/exe" 2>/dev/null) || continue
        case $exe in */wine* | */qemu-i386*) ;; *) continue ;; esac
        grep -qzxF "WINEPREFIX=$WINEPREFIX" "$e" 2>/dev/null && echo "$pid"
    done
    # Not the status of the last grep: under set -e, `pids=$(...)` would end
    # the script whenever the last process looked at is not Wine's.
    return 0
}

case "${1:-}" in
--start-server)
    [ -f "$WINEPREFIX/.sorvenka-ready" ] || {
        echo "wine-env: no Wine prefix at $WINEPREFIX: run scripts/setup.sh" >&2
        exit 1
    }
    # Detached from our output: a test runner waits for its pipes to close.
    wineserver -p </dev/null >/dev/null 2>&1 || true
    timeout -k 10 300 wine cmd /c exit </dev/null >/dev/null 2>&1
    ;;
--stop-server)
    # `wineserver -k` alone is not enough: under qemu-user a service can
    # outlive it, and a server whose prefix was made anew since it started
    # cannot be reached by its path any more.
    timeout -k 5 20 wineserver -k >/dev/null 2>&1 || true
    for _ in 1 2 3 4 5 6 7 8 9 10; do
        [ -z "$(prefix_pids)" ] && exit 0
        sleep 1
    done
    # shellcheck disable=SC2046
    kill -9 $(prefix_pids) 2>/dev/null || true
    ;;
"") awk 'NR > 1 { if (!/^#/) exit; sub(/^# ?/, ""); print }' "$0" >&2 && exit 2 ;;
*) exec "$@" ;;
esac
