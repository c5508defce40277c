#!/bin/bash
# Wine for the 32-bit Windows programs of this project, on a Debian 12 host.
#
#   source tools/wine-env.sh            # sets the environment, prepares once
#   tools/wine-env.sh CMD [ARGS...]     # the same, then runs CMD in it
#   tools/wine-env.sh --start-server    # also keeps a warm wineserver running
#   tools/wine-env.sh --stop-server
#
# Needs (as root, once): wine wine32:i386 wine32-preloader:i386 wine64
# qemu-user-static locales. Idempotent: every step checks before it acts.
#
# Hosts whose kernel has IA-32 emulation switched off run wine32 through
# qemu-i386 registered with binfmt_misc. Two things make that work:
# - wine-preloader must be installed: without it the shared user data page
#   cannot be mapped at 0x7ffe0000 and no process starts;
# - guest addresses must equal host addresses (QEMU_GUEST_BASE=0): the native
#   wineserver pokes the PEB (BeingDebugged) and serves ReadProcessMemory
#   through ptrace at the guest's addresses. qemu reserves the guest space
#   from vm.mmap_min_addr up, and the kernel refuses a hint below 64 KiB, so
#   mmap_min_addr must be at least 65536 (Debian's default).
# Under qemu-user a #GP carries no trap number, so Wine reports IN/OUT at
# user level as EXCEPTION_ILLEGAL_INSTRUCTION instead of
# EXCEPTION_PRIV_INSTRUCTION; the harness accepts both.

_wine_env_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

export WINEPREFIX="${SORVENKA_WINEPREFIX:-$_wine_env_root/build/wineprefix}"
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=ja_JP.UTF-8
export LC_ALL=ja_JP.UTF-8
export QEMU_GUEST_BASE=0
# The null display driver: windows, dialogs and message boxes exist and can
# be driven by messages; nothing is drawn, no X server is needed.
unset DISPLAY WAYLAND_DISPLAY

_wine_env_log() { echo "wine-env: $*" >&2; }

_wine_env_locale() {
    locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$' && return 0
    _wine_env_log "generating locale ja_JP.UTF-8"
    localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
}

_wine_env_binfmt() {
    /usr/lib/wine/wine --version >/dev/null 2>&1 && return 0
    [ -x /usr/bin/qemu-i386-static ] || {
        _wine_env_log "i386 programs do not run here and qemu-user-static is missing"
        return 1
    }
    mountpoint -q /proc/sys/fs/binfmt_misc ||
        mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null || true
    if [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
        _wine_env_log "registering qemu-i386 for i386 ELF"
        echo ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:OCF' \
            >/proc/sys/fs/binfmt_misc/register
    fi
    local min
    min=$(cat /proc/sys/vm/mmap_min_addr)
    if [ "$min" -lt 65536 ]; then
        _wine_env_log "vm.mmap_min_addr $min -> 65536 (qemu guest base 0)"
        sysctl -q -w vm.mmap_min_addr=65536
    fi
    /usr/lib/wine/wine --version >/dev/null 2>&1
}

# Every Wine step of the set-up is bounded: under qemu-user a process can
# deadlock now and then, and a set-up that waits for it never ends.
_wine_env_run() {
    local limit=$1
    shift
    timeout -k 10 "$limit" "$@" </dev/null >/dev/null 2>&1
}

_wine_env_reg() { _wine_env_run 120 wine reg add "$@" /f; }

# Pids of the Wine processes (the server, qemu-run and native programs) that
# run in this prefix. Other programs that merely carry WINEPREFIX in their
# environment, a test runner say, are not among them.
_wine_env_pids() {
    local e pid exe
    for e in /proc/[0-9]*/environ; do
        pid=${e#/proc/}
        pid=${pid%/environ}
        exe=$(readlink "/proc/$pid/exe" 2>/dev/null) || continue
        case $exe in */wine* | */qemu-i386*) ;; *) continue ;; esac
        grep -qzxF "WINEPREFIX=$WINEPREFIX" "$e" 2>/dev/null && echo "$pid"
    done
    # Not the status of the last grep: under set -e, `pids=$(...)` would end
    # the script whenever the last process looked at is not Wine's.
    return 0
}

# Ends every process of the prefix. `wineserver -k` alone is not enough:
# under qemu-user a service can outlive it, and a server whose prefix was
# made anew since it started cannot be reached by its path any more.
_wine_env_kill() {
    timeout -k 5 20 wineserver -k >/dev/null 2>&1 || true
    local i pids
    for i in 1 2 3 4 5 6 7 8 9 10; do
        pids=$(_wine_env_pids)
        [ -z "$pids" ] && return 0
        sleep 1
    done
    # shellcheck disable=SC2086
    kill -9 $pids 2>/dev/null || true
    return 0
}

_wine_env_prefix_once() {
    # Only a prefix this script began is wiped for a fresh start.
    if [ -f "$WINEPREFIX/.sorvenka-creating" ]; then
        rm -rf "$WINEPREFIX" 2>/dev/null || { _wine_env_kill && rm -rf "$WINEPREFIX"; } || return 1
    fi
    [ -e "$WINEPREFIX" ] || { mkdir -p "$WINEPREFIX" && touch "$WINEPREFIX/.sorvenka-creating"; }
    _wine_env_run 420 wine wineboot --init || {
        _wine_env_log "wineboot failed (status $?; 124 or 137: out of time)"
        return 1
    }
    _wine_env_reg 'HKCU\Software\Wine\Drivers' /v Graphics /d null || return 1
    # No crash dialog or winedbg: an unhandled exception just ends the process.
    _wine_env_reg 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d "" || return 1
    _wine_env_reg 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /d 0 || return 1
    # Services that crash under qemu-user and make every wineserver start
    # wait for their time-outs; the programs tested here need none of them.
    local s
    for s in MountMgr NDIS nsiproxy PlugPlay Eventlog; do
        _wine_env_reg "HKLM\\System\\CurrentControlSet\\Services\\$s" /v Start /t REG_DWORD /d 4 ||
            return 1
    done
    # A service that crashed while wineboot ran may hang on its way out:
    # give the prefix a bounded time to settle, then end what is left. The
    # server writes the registry out as it shuts down.
    timeout 60 wineserver -w || _wine_env_kill
    _wine_env_run 120 wine reg query 'HKCU\Software\Wine\Drivers' /v Graphics || {
        _wine_env_log "prefix settings were not kept"
        return 1
    }
    _wine_env_kill
}

_wine_env_prefix() {
    [ -f "$WINEPREFIX/.sorvenka-ready" ] && return 0
    [ -x /usr/lib/wine/wine-preloader ] || {
        _wine_env_log "wine32-preloader:i386 is not installed"
        return 1
    }
    local attempt t0=$SECONDS
    for attempt in 1 2 3; do
        _wine_env_log "creating $WINEPREFIX (attempt $attempt; a minute or two)"
        if _wine_env_prefix_once; then
            touch "$WINEPREFIX/.sorvenka-ready"
            rm -f "$WINEPREFIX/.sorvenka-creating"
            _wine_env_log "prefix ready in $((SECONDS - t0)) s"
            return 0
        fi
        _wine_env_log "attempt $attempt failed after $((SECONDS - t0)) s; still running:"
        ps -o pid,stat,etime,args -p "$(_wine_env_pids | paste -sd,)" >&2 2>/dev/null || true
        _wine_env_kill
    done
    _wine_env_log "could not create the Wine prefix"
    return 1
}

wine_env_prepare() {
    _wine_env_locale && _wine_env_binfmt && _wine_env_prefix
}

# A persistent wineserver with its services already up: each test program
# then starts in well under a second and leaves no process holding its pipes.
wine_env_start_server() {
    # Detached from our output: a test runner waits for its pipes to close.
    wineserver -p </dev/null >/dev/null 2>&1 || true
    _wine_env_run 300 wine cmd /c exit
}

# `wineserver -k` can leave a services.exe or winedevice.exe of this prefix
# running under qemu-user; those would slow down the next server's start.
wine_env_stop_server() {
    _wine_env_kill
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -e
    wine_env_prepare
    case "${1:-}" in
    --start-server) wine_env_start_server ;;
    --stop-server) wine_env_stop_server ;;
    "") ;;
    *) exec "$@" ;;
    esac
else
    wine_env_prepare || _wine_env_log "Wine is not usable here"
fi
