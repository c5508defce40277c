#!/usr/bin/env bash
# Readies a Debian 12 machine for run.sh, or with --tests for the whole
# suite too, and says each thing it changes; what is already in place it
# leaves alone, so a second run changes and prints nothing. Needs root (or
# sudo) only for what is missing.
#
#   scripts/setup.sh [--tests] [--desktop-prefix DIR]
#
# 1. the i386 architecture and the packages of scripts/deps.sh: the set of
#    run.sh, and with --tests the set of test.sh on top; scripts/packages.py
#    installs them and copes with a mirror in the middle of a sync;
# 2. the locale ja_JP.UTF-8 (the program's texts are in code page 932);
# 3. where the kernel runs no i386 programs: qemu-i386 through binfmt_misc
#    and vm.mmap_min_addr of at least 64 KiB (below);
# 4. the 32-bit Wine prefix with the null display driver that the harness
#    and the tests use (SORVENKA_WINEPREFIX, default build/wineprefix), and
#    a 64-bit one with a virtual desktop and its taskbar for real clicks
#    (DIR, default SORVENKA_DESKTOP_PREFIX or build/desktop-prefix): its
#    64-bit explorer runs natively, while a 32-bit one under qemu-user dies
#    in its RPC threads and takes the desktop with it.
#
# Under qemu-user, two things make wine32 work: wine32-preloader, without
# which the shared user data page cannot be mapped at 0x7ffe0000, and guest
# addresses equal to host ones (QEMU_GUEST_BASE=0, testkit/wine-env.sh). qemu
# reserves the guest space from vm.mmap_min_addr up and the kernel refuses
# a hint below 64 KiB. A #GP there carries no trap number, so Wine reports
# IN/OUT as an illegal instruction; the harness accepts both.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
desktop_prefix=${SORVENKA_DESKTOP_PREFIX:-$root/build/desktop-prefix}
usage() { awk 'NR > 1 { if (!/^#/) exit; sub(/^# ?/, ""); print }' "$0" >&2 && exit 2; }
tests=""
while [ $# -gt 0 ]; do
    case "$1" in
    --tests) tests=yes && shift ;;
    --desktop-prefix) [ $# -ge 2 ] || usage; desktop_prefix=$(realpath -m "$2") && shift 2 ;;
    *) usage ;;
    esac
done
# shellcheck source=scripts/deps.sh
source "$root/scripts/deps.sh"
# shellcheck source=testkit/wine-env.sh
source "$root/testkit/wine-env.sh"

say() { echo "setup: $*"; }
fail() { echo "setup: error: $*" >&2 && exit 1; }
as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

# ---- 1. packages ------------------------------------------------------------
if ! dpkg --print-foreign-architectures | grep -x i386 >/dev/null; then
    say "adding the i386 architecture"
    as_root dpkg --add-architecture i386
fi
packages=("${SORVENKA_PACKAGES_RUN[@]}")
[ -z "$tests" ] || packages+=("${SORVENKA_PACKAGES_TEST[@]}")
# The package step is Python, which a minimal Debian lacks: that one comes
# first, for the host's own architecture, whatever the state of the mirror.
if ! command -v python3 >/dev/null; then
    say "installing python3, which the package step runs on"
    as_root apt-get update -qq >/dev/null 2>&1 ||
        say "apt-get update reported errors; trying the install anyway"
    out=$(as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        --no-install-recommends python3 2>&1) || { echo "$out" | tail -n 5 >&2 && fail "could not install python3"; }
fi
as_root python3 "$root/scripts/packages.py" "${packages[@]}" || exit 1

# ---- 2. locale --------------------------------------------------------------
if ! locale -a 2>/dev/null | grep -ix 'ja_JP\.utf-\?8' >/dev/null; then
    say "generating the locale ja_JP.UTF-8"
    as_root localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi

# ---- 3. i386 programs through qemu-user --------------------------------------
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    [ -x /usr/bin/qemu-i386-static ] || fail "i386 programs do not run here and qemu-i386-static is missing"
    mountpoint -q /proc/sys/fs/binfmt_misc ||
        as_root mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc || true
    if [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
        say "registering qemu-i386 with binfmt_misc for i386 ELF programs"
        echo ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:OCF' |
            as_root tee /proc/sys/fs/binfmt_misc/register >/dev/null
    fi
    if [ "$(cat /proc/sys/vm/mmap_min_addr)" -lt 65536 ]; then
        say "raising vm.mmap_min_addr from $(cat /proc/sys/vm/mmap_min_addr) to 65536"
        echo 65536 | as_root tee /proc/sys/vm/mmap_min_addr >/dev/null
    fi
    /usr/lib/wine/wine --version >/dev/null 2>&1 || fail "i386 programs still do not run"
fi
[ -x /usr/lib/wine/wine-preloader ] || fail "wine32-preloader:i386 is not installed"

# ---- 4. Wine prefixes ---------------------------------------------------------
# Every Wine step is bounded: under qemu-user a process can deadlock now and
# then, and a set-up that waits for it never ends. The prefix's own display
# driver decides, not the caller's DISPLAY.
in_prefix() {
    local prefix=$1 limit=$2
    shift 2
    SORVENKA_WINEPREFIX=$prefix timeout -k 10 "$limit" env -u DISPLAY \
        "$root/testkit/wine-env.sh" "$@" </dev/null >/dev/null 2>&1
}
stop_prefix() { SORVENKA_WINEPREFIX=$1 "$root/testkit/wine-env.sh" --stop-server; }

# A regedit file for a prefix: its display driver, no crash dialog or
# winedbg (an unhandled exception just ends the process), and EXTRA.
registry() {
    printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\Drivers]\n"Graphics"="%s"\n\n' "$1"
    printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug]\n'
    printf '"Debugger"=""\n"Auto"="0"\n\n%s\n' "$2"
}

# make_prefix DIR ARCH DRIVER EXTRA MARK: wineboot, the settings, then a
# bounded wait for the prefix to settle; tried three times, since a service
# that crashes under qemu-user can take wineboot down with it. Only a
# prefix this script began is wiped for a fresh start.
make_prefix() {
    local dir=$1 t0=$SECONDS attempt
    [ -f "$dir/$5" ] && return 0
    for attempt in 1 2 3; do
        say "creating the Wine prefix $dir (attempt $attempt; a minute or two)"
        stop_prefix "$dir"
        if [ ! -e "$dir" ] || [ -f "$dir/.sorvenka-creating" ]; then
            rm -rf "$dir" && mkdir -p "$dir" && touch "$dir/.sorvenka-creating"
        fi
        registry "$3" "$4" >"$dir/sorvenka.reg"
        if in_prefix "$dir" 420 env WINEARCH="$2" wine wineboot --init &&
            in_prefix "$dir" 120 wine regedit /S "Z:${dir//\//\\}\\sorvenka.reg" &&
            { in_prefix "$dir" 60 wineserver -w || stop_prefix "$dir"; } &&
            grep -q "\"Graphics\"=\"$3\"" "$dir/user.reg"; then
            stop_prefix "$dir"
            touch "$dir/$5" && rm -f "$dir/.sorvenka-creating"
            say "Wine prefix $dir ready in $((SECONDS - t0)) s"
            return 0
        fi
        say "attempt $attempt failed after $((SECONDS - t0)) s"
    done
    fail "could not create the Wine prefix $dir"
}

# Services that crash under qemu-user and make every wineserver start wait
# for their time-outs; the programs tested here need none of them.
services=""
for s in MountMgr NDIS nsiproxy PlugPlay Eventlog; do
    services+="[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\$s]"$'\n"Start"=dword:00000004\n\n'
done
make_prefix "$WINEPREFIX" win32 null "$services" .sorvenka-ready
make_prefix "$desktop_prefix" win64 x11 '[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"="sorvenka"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"sorvenka"="800x600"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops\sorvenka]
"EnableShell"=dword:00000001' .sorvenka-desktop
