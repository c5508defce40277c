#!/usr/bin/env bash
# Runs the real sorvenka.exe under Wine on a virtual PC and shows what it did:
# every byte it wrote at start-up, a screenshot of its tray menu, then Exit
# from that menu and the restore.
#
#   ./run.sh [SETTINGS_FILE] [--machine LSPCI_DUMP]
#
# SETTINGS_FILE defaults to examples/bx-d0-df.cfg; it is copied as
# kvtl.cfg into a fresh working folder. --machine takes the output of
# `lspci -xxx` (or -xxxx) of a real PC instead of the built-in 440BX board.
# On Debian 12 as root, scripts/setup.sh installs what is missing (what
# run.sh needs, not the tests' packages) and makes the Wine prefixes;
# build/win32 is built when needed; later runs take seconds. Exit status 0
# when every register is back and the program exited with 0. The tables
# come from the harness (testkit/harness/report.cpp).
#
# Environment: SORVENKA_WINEPREFIX (Wine prefix, default build/wineprefix),
# SORVENKA_BUILD_DIR (default build/win32); testkit/desktop.sh has its own
# prefix (SORVENKA_DESKTOP_PREFIX) and uses $DISPLAY when it is set.
# The log of the build and of every run is build/run/run.log.
set -euo pipefail

# The header above, whole.
usage() { awk 'NR > 1 { if (!/^#/) exit; sub(/^# ?/, ""); print }' "$0" >&2 && exit 2; }
die() { echo "error: $*" >&2 && exit 2; }

settings="" machine=""
while [ $# -gt 0 ]; do
    case "$1" in
    --machine) [ $# -ge 2 ] && machine=$2 && shift 2 || usage ;;
    -*) usage ;;
    *) [ -z "$settings" ] && settings=$1 && shift || usage ;;
    esac
done
# Paths given by the user are relative to where they called us from.
if [ -n "$settings" ]; then
    [ -f "$settings" ] || die "settings file not found: $settings"
    settings=$(realpath "$settings")
fi
if [ -n "$machine" ]; then
    [ -f "$machine" ] || die "machine dump not found: $machine"
    machine=$(realpath "$machine")
fi

cd "$(dirname "$0")"
root=$(pwd)
settings=${settings:-$root/examples/bx-d0-df.cfg}
build_dir=$(realpath -m "${SORVENKA_BUILD_DIR:-build/win32}")
log=$root/build/run/run.log
mkdir -p build/run && : >"$log"

echo "Sorvenka on a virtual PC"
echo "  settings: ${settings#"$root"/}"
builtin="built-in 440BX board with PIIX4, an NE2000 and a PCI bridge"
builtin+=" (00:00.0, 00:01.0, 00:07.0, 00:07.1, 00:0b.0, 00:0c.0, 01:00.0, 02:04.0)"
echo "  machine:  ${machine:-$builtin}"

scripts/setup.sh || die "the set-up failed (scripts/setup.sh)"

# ---- build ---------------------------------------------------------------
exe=$build_dir/shell/sorvenka.exe
[ -f "$exe" ] || echo "Building sorvenka.exe and the harness (the first time takes a few minutes)..."
t0=$SECONDS
# A tree of its own is made without the tests and the release, which need
# packages that only test.sh installs; a tree test.sh made keeps them.
configure() {
    local only_run=()
    [ -f "$build_dir/CMakeCache.txt" ] || only_run=(-DSORVENKA_TESTS=OFF)
    cmake --preset win32 -B "$build_dir" "${only_run[@]}" >>"$log" 2>&1
}
build() { cmake --build "$build_dir" -j2 --target sorvenka harness_cli locate >>"$log" 2>&1; }
# A build tree whose configure was cut short knows no targets: configure it
# again once before giving up.
{ [ -f "$build_dir/CMakeCache.txt" ] || configure; } && { build || { configure && build; }; } ||
    { tail -n 30 "$log" && die "the build failed (log: $log)"; }
if grep -q "Linking" "$log"; then
    echo "Built ${exe#"$root"/} in $((SECONDS - t0)) s."
else
    echo "Build: ${exe#"$root"/} is up to date."
fi

# ---- the run ---------------------------------------------------------------
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$settings" "$work/kvtl.cfg"
echo "Running sorvenka.exe under the harness..."
# Bounded: under qemu-user a Wine process can deadlock now and then.
status=0
timeout -k 10 600 testkit/wine-env.sh wine "$build_dir/testkit/harness/harness.exe" --cwd "$work" \
    --timeout 120000 ${machine:+--machine "$machine"} --report "$work/restore.txt" \
    --drive "window;applied $work/applied.txt;cmd 40002;exit" "$exe" >>"$log" 2>"$work/harness.err" ||
    status=$?
cat "$work/harness.err" >>"$log"
# The harness names what kept the program from starting (a dump it cannot
# read, a program it cannot start).
if [ "$status" != 124 ] && [ ! -f "$work/restore.txt" ]; then
    tr -d '\r' <"$work/harness.err" >&2
    die "sorvenka.exe could not be started under the harness"
fi
echo
cat "$work/applied.txt" 2>/dev/null || echo "Applied at start-up: 0 lines"

# ---- screenshot ------------------------------------------------------------
# testkit/desktop.sh runs the program once more, on a Wine desktop with its
# taskbar (on the user's X display when there is one, else on a private
# Xvfb), clicks the tray icon and saves the open menu; it too ends the
# program through Exit and checks the restore.
echo
shot=$root/build/run/tray-menu.png
rm -f "$shot"
echo "Taking a screenshot of the tray menu (a minute or so the first time)..."
shoot() {
    KVTL_CFG=$work/kvtl.cfg testkit/desktop.sh --build "$build_dir" ${DISPLAY:+--display "$DISPLAY"} \
        screenshot-menu "$shot" >>"$log" 2>&1 && [ -s "$shot" ]
}
# Once more when the first try failed: a click on a tray that is still
# settling can go astray under qemu-user.
if shoot || { echo "  (once more)" && shoot; }; then
    echo "screenshot: ${shot#"$root"/} (the tray icon with its menu open, on ${DISPLAY:-a private X display})"
    [ -z "$machine" ] || echo "  (that run used the built-in board: the menu is the same on any machine)"
else
    echo "screenshot: failed (testkit/desktop.sh; its messages are in $log)"
fi

# ---- exit and restore -------------------------------------------------------
echo
if [ "$status" = 124 ]; then
    echo "problem: the harness did not finish within 10 minutes"
else
    cat "$work/restore.txt"
fi
[ "$status" = 0 ] && echo "OK" && exit 0
echo "FAILED (harness output: $log)"
exit 1
