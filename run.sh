#!/usr/bin/env bash
# Runs the real sorvenka.exe under Wine on a virtual PC and shows what it did:
# every byte it wrote at start-up, a screenshot of its tray menu (when
# tools/desktop.sh is there), then Exit from that menu and the restore.
#
#   ./run.sh [SETTINGS_FILE] [--machine LSPCI_DUMP]
#
# SETTINGS_FILE defaults to examples/piix4-udma33.cfg; it is copied as
# kvtl.cfg into a fresh working folder. --machine takes the output of
# `lspci -xxx` (or -xxxx) of a real PC instead of the built-in 440BX board.
# On Debian 12 as root it installs what is missing, builds build/win32 when
# needed and prepares a private Wine prefix; later runs take seconds.
# Exit status 0 when every register is back and the program exited with 0.
#
# Environment: SORVENKA_WINEPREFIX (Wine prefix, default build/wineprefix),
# SORVENKA_BUILD_DIR (default build/win32); tools/desktop.sh has its own
# prefix (SORVENKA_DESKTOP_PREFIX) and uses $DISPLAY when it is set.
# The log of the build and of every run is build/run/run.log.
set -euo pipefail

usage() {
    echo "usage: ./run.sh [SETTINGS_FILE] [--machine LSPCI_DUMP]" >&2
    exit 2
}

die() {
    echo "error: $*" >&2
    exit 2
}

settings="" machine=""
while [ $# -gt 0 ]; do
    case "$1" in
    --machine)
        [ $# -ge 2 ] || usage
        machine=$2
        shift 2
        ;;
    -h | --help) usage ;;
    -*) usage ;;
    *)
        [ -z "$settings" ] || usage
        settings=$1
        shift
        ;;
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
settings=${settings:-$root/examples/piix4-udma33.cfg}
build_dir=${SORVENKA_BUILD_DIR:-build/win32}
case "$build_dir" in /*) ;; *) build_dir=$root/$build_dir ;; esac
log_dir=$root/build/run
mkdir -p "$log_dir"
log=$log_dir/run.log
: >"$log"

echo "Sorvenka on a virtual PC"
echo "  settings: ${settings#"$root"/}"
echo "  machine:  ${machine:-built-in 440BX board with PIIX4 (00:00.0, 00:01.0, 00:07.0, 00:07.1, 01:00.0)}"

# ---- packages ------------------------------------------------------------
# shellcheck source=scripts/deps.sh
source scripts/deps.sh
packages=("${SORVENKA_PACKAGES_BUILD[@]}" "${SORVENKA_PACKAGES_WINE[@]}")
# The screenshot's desktop: an X server, input and capture tools, a font.
if declare -p SORVENKA_PACKAGES_DESKTOP >/dev/null 2>&1; then
    packages+=("${SORVENKA_PACKAGES_DESKTOP[@]}")
elif [ -x tools/desktop.sh ]; then
    packages+=(xvfb xdotool x11-utils imagemagick fonts-ipafont-gothic)
fi
mapfile -t packages < <(printf '%s\n' "${packages[@]}" | awk '!seen[$0]++')
deps_i386 || exit 2
deps_install "${packages[@]}" || exit 2

# ---- build ---------------------------------------------------------------
exe=$build_dir/shell/sorvenka.exe
harness=$build_dir/tools/harness/harness.exe
t0=$SECONDS
if [ ! -f "$exe" ] || [ ! -f "$harness" ]; then
    echo "Building sorvenka.exe and the harness (the first time takes a few minutes)..."
fi
configure() {
    cmake --preset win32 -B "$build_dir" >>"$log" 2>&1 ||
        { tail -n 30 "$log"; die "cmake could not configure $build_dir (log: $log)"; }
}
build() { cmake --build "$build_dir" -j2 --target sorvenka harness_cli >>"$log" 2>&1; }
[ -f "$build_dir/CMakeCache.txt" ] || configure
# A build tree whose configure was cut short knows no targets: configure
# it again once before giving up.
build || { configure && build; } ||
    { tail -n 30 "$log"; die "the build failed (log: $log)"; }
if grep -q "Linking" "$log"; then
    echo "Built ${exe#"$root"/} in $((SECONDS - t0)) s."
else
    echo "Build: ${exe#"$root"/} is up to date."
fi

# ---- Wine ----------------------------------------------------------------
user_display=${DISPLAY:-}
prefix=${SORVENKA_WINEPREFIX:-$root/build/wineprefix}
t0=$SECONDS
first_time=""
if [ ! -f "$prefix/.sorvenka-ready" ]; then
    first_time=1
    echo "Starting Wine for the first time (about a minute)..."
fi
# shellcheck source=tools/wine-env.sh
source tools/wine-env.sh 2>>"$log"
if grep -q "Wine is not usable here" "$log" || [ ! -f "$WINEPREFIX/.sorvenka-ready" ]; then
    grep "^wine-env:" "$log" >&2 || true
    die "Wine could not be set up (log: $log)"
fi
[ -z "$first_time" ] || echo "Wine is ready after $((SECONDS - t0)) s (prefix $WINEPREFIX)."

# ---- the run ---------------------------------------------------------------
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$settings" "$work/kvtl.cfg"
windows_path() { local p=$1; echo "Z:${p//\//\\}"; }
harness_args=(--cwd "$(windows_path "$work")" --timeout 120000)
[ -z "$machine" ] || harness_args+=(--machine "$(windows_path "$machine")")

echo "Running sorvenka.exe under the harness..."
set +e
# Bounded: under qemu-user a Wine process can deadlock now and then.
timeout -k 10 600 wine "$harness" "${harness_args[@]}" --drive "window;applied;cmd 40002;exit;registers" \
    "$exe" 2>"$work/harness.err" | tr -d '\r' >"$work/harness.txt"
harness_rc=${PIPESTATUS[0]}
set -e
cat "$work/harness.err" >>"$log"

# While the program runs the harness lists each applied line (the register
# it reached, the byte written, the byte before and the byte now); after it
# ended, each written register with its byte from before the start and now.
row_key=() row_wrote=() row_before=() row_after=()
declare -A now=() start=()
order=() exit_code="" problems=()
while read -r word a b c d e f g h; do
    case "$word" in
    applied)
        row_key+=("$a $b")
        row_wrote+=("$d")
        row_before+=("$f")
        row_after+=("$h")
        ;;
    register)
        key="$a $b"
        order+=("$key")
        start[$key]=$d
        now[$key]=$f
        ;;
    exit) exit_code=$a ;;
    failed:)
        if [ "$a" = window ]; then
            problems+=("sorvenka.exe showed no tray window within 2 minutes; a copy still running in this
         Wine prefix makes a new one warn and stop: 'WINEPREFIX=$WINEPREFIX wineserver -k' ends it")
        else
            problems+=("the harness step '$a${b:+ $b}' did not complete")
        fi
        ;;
    exception) problems+=("sorvenka.exe raised exception $a at $c") ;;
    esac
done <"$work/harness.txt"
# The harness names what kept the program from starting (a dump it cannot
# read, a program it cannot start).
if grep -q "^harness:" "$work/harness.err"; then
    tr -d '\r' <"$work/harness.err" | grep "^harness:" >&2
    die "sorvenka.exe could not be started under the harness"
fi
if [ "$harness_rc" = 124 ]; then
    problems+=("the harness did not finish within 10 minutes")
elif [ "$harness_rc" != 0 ] && [ ${#problems[@]} = 0 ]; then
    problems+=("the harness ended with status $harness_rc")
fi

n=${#row_key[@]}
echo
plural() { [ "$1" = 1 ] && echo "$1 $2" || echo "$1 $2s"; }
echo "Applied at start-up: $(plural "$n" line)"
[ "$n" = 0 ] || echo "   #  register     wrote  before  after"
for ((i = 0; i < n; i++)); do
    key=${row_key[$i]} note=""
    for ((j = i + 1; j < n; j++)); do
        [ "${row_key[$j]}" != "$key" ] || { note="  (#$((j + 1)) writes it again)"; break; }
    done
    if [ -z "$note" ] && [ "${row_after[$i]}" != "${row_wrote[$i]}" ]; then
        note="  (the chipset kept its bits: read-only, or no such function)"
    fi
    printf "  %2d  %-12s %-6s %-7s %s%s\n" $((i + 1)) "$key" "${row_wrote[$i]}" \
        "${row_before[$i]}" "${row_after[$i]}" "$note"
done

# ---- screenshot ------------------------------------------------------------
# tools/desktop.sh runs the program once more, on a Wine desktop with its
# taskbar (on the user's X display when there is one, else on a private
# Xvfb), clicks the tray icon and saves the open menu; it too ends the
# program through Exit and checks the restore.
echo
if [ -x tools/desktop.sh ]; then
    shot=$log_dir/tray-menu.png
    rm -f "$shot"
    echo "Taking a screenshot of the tray menu (a minute or so the first time)..."
    shot_args=(--build "$build_dir")
    [ -z "$user_display" ] || shot_args+=(--display "$user_display")
    shoot() {
        KVTL_CFG=$work/kvtl.cfg tools/desktop.sh "${shot_args[@]}" screenshot-menu "$shot" \
            >>"$log" 2>&1 && [ -s "$shot" ]
    }
    # Once more when the first try failed: a click on a tray that is still
    # settling can go astray under qemu-user.
    if shoot || { echo "  (once more)" && shoot; }; then
        echo "screenshot: ${shot#"$root"/} (the tray icon with its menu open, on ${user_display:-a private X display})"
        [ -z "$machine" ] || echo "  (that run used the built-in board: the menu is the same on any machine)"
    else
        echo "screenshot: failed (tools/desktop.sh; its messages are in $log)"
    fi
else
    echo "screenshot: skipped (tools/desktop.sh is not available; the run used Wine's null display)"
fi

# ---- exit and restore -------------------------------------------------------
echo
grep -q "^failed: window" "$work/harness.txt" ||
    echo "Exit chosen from the tray menu (WM_COMMAND 40002)."
echo "Restore: every register back at its byte from before the start"
not_restored=()
if [ ${#order[@]} -gt 0 ]; then
    echo "  register     start  now"
    for key in "${order[@]}"; do
        if [ "${now[$key]:-??}" = "${start[$key]}" ]; then
            mark=""
        else
            mark="  NOT RESTORED"
            not_restored+=("$key")
        fi
        printf "  %-12s %-6s %s%s\n" "$key" "${start[$key]}" "${now[$key]:-??}" "$mark"
    done
fi
if [ ${#not_restored[@]} = 0 ]; then
    [ ${#order[@]} = 0 ] && echo "nothing to restore: no register was written" || echo "all $(plural ${#order[@]} register) restored"
else
    echo "${#not_restored[@]} of ${#order[@]} registers NOT restored: ${not_restored[*]}"
fi
echo "sorvenka.exe exit code: ${exit_code:-none (it did not end)}"
for p in "${problems[@]}"; do
    echo "problem: $p"
done

if [ ${#not_restored[@]} = 0 ] && [ "$exit_code" = 0 ] && [ ${#problems[@]} = 0 ]; then
    echo "OK"
    exit 0
fi
echo "FAILED (harness output: $log)"
cat "$work/harness.txt" >>"$log" 2>/dev/null || true
exit 1
