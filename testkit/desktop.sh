#!/bin/bash
# sorvenka.exe on a real X display: a Wine virtual desktop with its taskbar,
# the program under the harness (its port instructions run on the virtual
# chipset), and real mouse and key input through xdotool. Where the tray
# icon, the menu and the boxes are, Wine's windows tell (locate.exe).
#
#   testkit/desktop.sh [--display private|:N] [--build DIR] COMMAND [ARGS]
#
#   screenshot-menu OUT.png   start, open the tray menu by clicking the icon,
#                             save the screen around menu and icon, print
#                             OUT.png, then end the program through Exit
#   screenshots DIR           tray-menu.png, about-box.png and second-copy.png
#   screenshot-about OUT.png  with SORVENKA_LOCALE=C.UTF-8: start, open the
#                             English About box by the Version command (no
#                             tray click), save it, print OUT.png, then end
#                             the program by the Exit command
#   test                      click the icon, pick Exit, check exit code 0 and
#                             that every written byte was put back
#
# --display private (the default) starts an Xvfb of its own; :N shows the
# desktop there. --build DIR is the win32 build (default build/win32).
# KVTL_CFG=FILE runs on that settings file instead of the built-in two-line
# one. The 64-bit Wine prefix with the desktop (SORVENKA_DESKTOP_PREFIX,
# default build/desktop-prefix) comes from scripts/setup.sh. The desktop
# closes by itself once the last program on it has ended.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
prefix=${SORVENKA_DESKTOP_PREFIX:-$root/build/desktop-prefix}
build=$root/build/win32 display=private
# Seconds for each wait; the first start of a program under qemu-user is slow.
timeout=${DESKTOP_TIMEOUT:-90}
tmp=$(mktemp -d /tmp/sorvenka-desktop.XXXXXX)
xvfb="" explorer="" desktop=""

log() { echo "desktop: $*" >&2; }
in_prefix() { SORVENKA_WINEPREFIX=$prefix "$root/testkit/wine-env.sh" "$@"; }
# locate [--timeout MS] [--gone] tray|menu|TITLE: "X Y W H" on the desktop.
locate() { in_prefix wine "$build/testkit/harness/locate.exe" --timeout $((timeout * 1000)) "$@"; }
click() { xdotool mousemove --window "$desktop" --sync "$1" "$2" click 1; }

# wait_for WHAT CMD...: runs CMD every 0.2 s until it succeeds.
wait_for() {
    local what=$1 t0=$SECONDS
    shift
    until "$@"; do
        ((SECONDS - t0 < timeout)) || { log "timed out after $timeout s waiting for $what" && return 1; }
        sleep 0.2
    done
}

start_x() {
    if [ "$display" = private ]; then
        mkfifo "$tmp/displayfd"
        Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$tmp/displayfd" >"$tmp/xvfb.log" 2>&1 &
        xvfb=$!
        read -r -t 20 display <"$tmp/displayfd" || { log "Xvfb did not start" && return 1; }
        display=:$display
    fi
    export DISPLAY=$display
    xdpyinfo >/dev/null 2>&1 || { log "no X display at $DISPLAY" && return 1; }
}

# A working folder with kvtl.cfg.
workdir() {
    mkdir -p "$tmp/$1"
    if [ -n "${KVTL_CFG:-}" ]; then
        cp "$KVTL_CFG" "$tmp/$1/kvtl.cfg"
    else
        printf '41,5A,7,1\r\n60,80,7\r\n' >"$tmp/$1/kvtl.cfg"
    fi
}

found_desktop() { desktop=$(xdotool search --limit 1 --name '^sorvenka - Wine desktop$' 2>/dev/null); }

# The virtual desktop with the harness running sorvenka.exe on it (its drive
# commands: DRIVE, or only waiting for the window and the end); a batch
# file carries the command line (no quoting through the Unix and Windows
# command lines), and leaves "pass" or "fail" behind once the harness has
# ended.
launch() {
    workdir work
    printf '@echo off\r\n"Z:%s" --cwd "%s" --timeout %d --report "%s" --drive "%s" "%s" > "Z:%s" 2>&1\r\n' \
        "${build//\//\\}\\testkit\\harness\\harness.exe" "$tmp/work" $((timeout * 4000)) "$tmp/report.txt" \
        "${1:-window;exit}" \
        "$build/shell/sorvenka.exe" "${tmp//\//\\}\\harness.out" >"$tmp/run.bat"
    printf 'if errorlevel 1 (echo.> "Z:%s\\fail") else (echo.> "Z:%s\\pass")\r\n' \
        "${tmp//\//\\}" "${tmp//\//\\}" >>"$tmp/run.bat"
    in_prefix wine explorer /desktop=sorvenka,800x600 cmd /c "Z:${tmp//\//\\}\\run.bat" \
        </dev/null >"$tmp/explorer.log" 2>&1 &
    explorer=$!
    wait_for "the Wine desktop" found_desktop
}

ended() { [ -e "$tmp/pass" ] || [ -e "$tmp/fail" ]; }

# A left press on the icon opens the two-item menu; prints its "X Y W H".
# On a fresh Wine desktop the first press on the taskbar mostly never
# reaches explorer's tray (WINEDEBUG=+systray shows no notify_owner relay
# for it, so the program is never told): a click that opened nothing within
# DESKTOP_CLICK_WAIT seconds is repeated, at most three times, and said so.
open_menu() {
    local x y w h try
    read -r x y w h < <(locate tray) || { log "no tray icon" && return 1; }
    x=$((x + w / 2)) y=$((y + h / 2))
    # Keyboard focus on the desktop, as a window manager would give it.
    xdotool windowfocus --sync "$desktop" 2>/dev/null
    for try in 1 2 3 4; do
        # Onto the icon from the desktop above it, as a hand would come.
        xdotool mousemove --window "$desktop" $((x - 40)) $((y - 80)) \
            mousemove --window "$desktop" $((x - 6)) "$y"
        click "$x" "$y"
        locate --timeout $(((try < 4 ? ${DESKTOP_CLICK_WAIT:-10} : timeout) * 1000)) menu && return 0
        [ "$try" = 4 ] || log "click $try on the tray icon opened no menu; clicking again"
    done
    log "the tray menu did not open"
    return 1
}

# pick N: clicks item N (1 version, 2 exit) of the open menu.
pick() {
    local x y w h
    read -r x y w h < <(locate --timeout 10000 menu) || return 1
    click $((x + w / 2)) $((y + (2 * $1 - 1) * h / 4))
}

# shot OUT.png X Y W H [MARGIN]: part of the desktop, as seen.
shot() {
    local m=${6:-8}
    local x=$(($2 > m ? $2 - m : 0)) y=$(($3 > m ? $3 - m : 0))
    mkdir -p "$(dirname "$1")"
    import -window "$desktop" -crop "$(($4 + 2 * m))x$(($5 + 2 * m))+$x+$y" +repage "$1"
}

# The tray with its menu open: menu and icon together. The pointer leaves
# the icon first (below the menu), so that the icon's tooltip, which pops up
# half a second after the pointer came, does not show or hides again.
shot_menu() {
    local x y w h ix iy iw ih
    read -r x y w h < <(open_menu) || return 1
    read -r ix iy iw ih < <(locate tray) || return 1
    xdotool mousemove --window "$desktop" --sync $((ix - 20)) $((iy + ih - 2))
    locate --gone tip || return 1
    ix=$((ix + iw / 2 + 12)) iy=$((iy + ih / 2 + 12))
    shot "$1" "$x" "$y" $(((ix > x + w ? ix : x + w) - x)) $(((iy > y + h ? iy : y + h) - y)) 16
}

# Exit from the menu; the harness's report says whether the program ended
# with 0 and every byte it wrote is back.
exit_and_check() {
    pick 2 && wait_for "the program to end" ended || return 1
    cat "$tmp/report.txt" >&2 2>/dev/null
    [ -e "$tmp/pass" ]
}

cmd_screenshot_menu() { shot_menu "$1" && echo "$1" && exit_and_check; }

# The harness opened the box (launch_drive below) and ends the program once
# the box is gone.
cmd_screenshot_about() {
    local x y w h
    read -r x y w h < <(locate Version) || return 1
    # Shown is not yet drawn under qemu-user: a box of one colour is none.
    drawn() { shot "$1" "$x" "$y" "$w" "$h" && [ "$(identify -format %k "$1")" -gt 2 ]; }
    wait_for "the box to be drawn" drawn "$1" || return 1
    xdotool mousemove --window "$desktop" $((x + w / 2)) $((y + 8)) click 1 key Return
    wait_for "the program to end" ended || return 1
    cat "$tmp/report.txt" >&2 2>/dev/null
    [ -e "$tmp/pass" ] && echo "$1"
}

cmd_test() {
    local t0=$SECONDS
    open_menu >/dev/null && exit_and_check && log "tray click to exit checked in $((SECONDS - t0)) s" &&
        return 0
    # What the screen showed when it went wrong, and what the harness saw.
    [ -z "${DESKTOP_FAIL_SHOT:-}" ] || { import -window root "$DESKTOP_FAIL_SHOT" && log "screen: $DESKTOP_FAIL_SHOT"; }
    sed 's/^/  /' "$tmp/harness.out" >&2 2>/dev/null
    return 1
}

cmd_screenshots() {
    local dir=$1 x y w h
    shot_menu "$dir/tray-menu.png" || return 1
    # The About box: the first item; Enter closes it.
    pick 1 || return 1
    read -r x y w h < <(locate Version) || return 1
    shot "$dir/about-box.png" "$x" "$y" "$w" "$h"
    xdotool mousemove --window "$desktop" $((x + w / 2)) $((y + 8)) click 1 key Return
    locate --gone Version || return 1
    # A second copy on the same desktop: it warns and ends without touching
    # a port (an empty trace).
    workdir second
    in_prefix wine "$build/testkit/harness/harness.exe" --cwd "$tmp/second" --drive exit \
        --timeout $((timeout * 1000)) --trace-out "$tmp/second.trace" "$build/shell/sorvenka.exe" \
        </dev/null >"$tmp/second.out" 2>&1 &
    local pid=$!
    read -r x y w h < <(locate CAUTION) || return 1
    shot "$dir/second-copy.png" "$x" "$y" "$w" "$h"
    xdotool mousemove --window "$desktop" $((x + w / 2)) $((y + 8)) click 1 key Return
    if ! wait "$pid" || [ -s "$tmp/second.trace" ]; then
        log "second copy: $(cat "$tmp/second.out" "$tmp/second.trace")"
        return 1
    fi
    open_menu >/dev/null && exit_and_check && ls "$dir"/*.png
}

stop() {
    in_prefix wineserver -k 2>/dev/null
    [ -z "$explorer" ] || wait "$explorer"
    [ -z "$xvfb" ] || { kill "$xvfb" && wait "$xvfb"; } 2>/dev/null
    rm -rf "$tmp"
}

while [ $# -gt 0 ]; do
    case "$1" in
    --display) display=$2 && shift 2 ;;
    --build) build=$(cd "$2" && pwd) && shift 2 ;;
    *) break ;;
    esac
done
cmd=${1:-}
case "$cmd" in
screenshot-menu | screenshot-about | screenshots | test) shift ;;
*) awk 'NR > 1 { if (!/^#/) exit; sub(/^# ?/, ""); print }' "$0" >&2 && exit 2 ;;
esac
for f in testkit/harness/harness.exe testkit/harness/locate.exe shell/sorvenka.exe; do
    [ -f "$build/$f" ] || { log "no $build/$f" && exit 2; }
done
[ -f "$prefix/.sorvenka-desktop" ] || { log "no desktop prefix at $prefix: run scripts/setup.sh" && exit 2; }
trap stop EXIT
launch_drive=""
if [ "$cmd" = screenshot-about ]; then
    [ "${SORVENKA_LOCALE:-}" = C.UTF-8 ] ||
        { log "screenshot-about shows the English box: run it with SORVENKA_LOCALE=C.UTF-8" && exit 2; }
    launch_drive="window;cmd IDM_VERSION;barrier;gone [Sov]Version;cmd IDM_EXIT;exit"
fi
start_x && launch "$launch_drive" || exit 1
"cmd_${cmd//-/_}" "$@"
