#!/bin/bash
# sorvenka.exe on a real X display: a Wine virtual desktop with its taskbar,
# the program under the harness (its port instructions run on the virtual
# chipset), and real mouse and key input through xdotool.
#
#   tools/desktop.sh [--display private|:N] [--build DIR] COMMAND [ARGS]
#
#   screenshot-menu OUT.png   start, open the tray menu by clicking the icon,
#                             save the screen around menu and icon, print
#                             OUT.png, then end the program through Exit
#   screenshots DIR           tray-menu.png, about-box.png and second-copy.png
#   test                      click the icon, pick Exit, check exit code 0 and
#                             that every written byte was put back
#
# --display private (the default) starts an Xvfb of its own; :N (or the
# current $DISPLAY with --display "$DISPLAY") shows the desktop there.
# --build DIR is the win32 build (default build/win32). KVTL_CFG=FILE runs
# on that settings file instead of the built-in two-line one.
#
# Sourced (`source tools/desktop.sh`), it only defines the desktop_* functions.
#
# Wine's own prefix is a separate 64-bit one (SORVENKA_DESKTOP_PREFIX,
# default build/desktop-prefix) with the X11 driver: the 64-bit explorer.exe
# runs natively, while a 32-bit one under qemu-user dies in its RPC threads
# and takes the desktop window with it. The 32-bit harness and program run
# in it exactly as in the other prefix. The desktop closes by itself once
# the last program on it has ended.
#
# Needs: xvfb xdotool x11-utils imagemagick fonts-ipafont-gothic.

_desktop_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
DESKTOP_PREFIX=${SORVENKA_DESKTOP_PREFIX:-$_desktop_root/build/desktop-prefix}
DESKTOP_BUILD=${DESKTOP_BUILD:-$_desktop_root/build/win32}
DESKTOP_SIZE=800x600
# Seconds for each wait; the first start of a program under qemu-user is slow.
DESKTOP_TIMEOUT=${DESKTOP_TIMEOUT:-90}
DESKTOP_TMP=""
DESKTOP_XVFB_PID=""
DESKTOP_EXPLORER_PID=""

desktop_log() { echo "desktop: $*" >&2; }

# desktop_wait SECONDS WHAT CMD...: runs CMD every 0.2 s until it succeeds.
desktop_wait() {
    local limit=$1 what=$2 t0=$SECONDS
    shift 2
    until "$@"; do
        if ((SECONDS - t0 >= limit)); then
            desktop_log "timed out after ${limit} s waiting for $what"
            return 1
        fi
        sleep 0.2
    done
}

_desktop_winpath() { echo "Z:${1//\//\\}"; }

# The 64-bit prefix with the X11 driver and a virtual desktop named
# "sorvenka" that shows a taskbar; made once.
desktop_prepare() {
    mkdir -p "$DESKTOP_PREFIX"
    local fresh=0
    [ -f "$DESKTOP_PREFIX/system.reg" ] || fresh=1
    # wine-env.sh sets up the locale, qemu for the 32-bit programs and the
    # environment; this prefix it leaves to us.
    touch "$DESKTOP_PREFIX/.sorvenka-ready"
    # shellcheck source=tools/wine-env.sh
    SORVENKA_WINEPREFIX=$DESKTOP_PREFIX source "$_desktop_root/tools/wine-env.sh" || return 1
    unset WINEARCH
    [ -f "$DESKTOP_PREFIX/.sorvenka-desktop" ] && [ "$fresh" = 0 ] && return 0
    desktop_log "creating $DESKTOP_PREFIX"
    local t0=$SECONDS reg
    WINEARCH=win64 timeout -k 10 300 wine wineboot --init </dev/null >/dev/null 2>&1
    reg=$DESKTOP_PREFIX/desktop.reg
    cat >"$reg" <<EOF
REGEDIT4

[HKEY_CURRENT_USER\\Software\\Wine\\Drivers]
"Graphics"="x11"

[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]
"Desktop"="sorvenka"

[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]
"sorvenka"="$DESKTOP_SIZE"

[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops\\sorvenka]
"EnableShell"=dword:00000001

[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug]
"Debugger"=""
"Auto"="0"
EOF
    timeout -k 10 120 wine regedit /S "$(_desktop_winpath "$reg")" </dev/null >/dev/null 2>&1
    timeout 60 wineserver -w || _wine_env_kill
    grep -q '"Graphics"="x11"' "$DESKTOP_PREFIX/user.reg" || {
        desktop_log "prefix settings were not kept"
        return 1
    }
    touch "$DESKTOP_PREFIX/.sorvenka-desktop"
    desktop_log "prefix ready in $((SECONDS - t0)) s"
}

# desktop_x [private|:N]: a private Xvfb of the desktop's size, or a display
# that is already there.
desktop_x() {
    local choice=${1:-private}
    DESKTOP_TMP=${DESKTOP_TMP:-$(mktemp -d /tmp/sorvenka-desktop.XXXXXX)}
    if [ "$choice" != private ]; then
        export DISPLAY=$choice
        xdpyinfo >/dev/null 2>&1 || { desktop_log "no X display at $DISPLAY"; return 1; }
        return 0
    fi
    local fifo=$DESKTOP_TMP/displayfd
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 "${DESKTOP_SIZE}x24" -nolisten tcp 3>"$fifo" \
        >"$DESKTOP_TMP/xvfb.log" 2>&1 &
    DESKTOP_XVFB_PID=$!
    local n
    read -r -t 20 n <"$fifo" || { desktop_log "Xvfb did not start"; return 1; }
    export DISPLAY=:$n
}

# The top-left corner of the Wine desktop window on the X screen.
desktop_origin() {
    local id
    id=$(xdotool search --name "^sorvenka - Wine desktop\$" 2>/dev/null | head -1)
    [ -n "$id" ] || return 1
    xwininfo -id "$id" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
        END {print x, y}'
}

# desktop_launch WORKDIR: the virtual desktop with the harness running
# sorvenka.exe in WORKDIR on it; the harness waits for the program to end.
desktop_launch() {
    local work=$1 tag=${2:-first}
    local bat=$DESKTOP_TMP/$tag.bat
    rm -f "$DESKTOP_TMP/$tag.out" "$DESKTOP_TMP/$tag.rc"
    # A batch file: no quoting through the Unix and Windows command lines.
    printf '@echo off\r\n"%s" --cwd "%s" --timeout %d --drive "window;exit;registers" "%s" > "%s" 2>&1\r\necho %%ERRORLEVEL%% > "%s"\r\n' \
        "$(_desktop_winpath "$DESKTOP_BUILD/tools/harness/harness.exe")" \
        "$(_desktop_winpath "$work")" $((DESKTOP_TIMEOUT * 4000)) \
        "$(_desktop_winpath "$DESKTOP_BUILD/shell/sorvenka.exe")" \
        "$(_desktop_winpath "$DESKTOP_TMP/$tag.out")" \
        "$(_desktop_winpath "$DESKTOP_TMP/$tag.rc")" >"$bat"
    wine explorer "/desktop=sorvenka,$DESKTOP_SIZE" cmd /c "$(_desktop_winpath "$bat")" \
        </dev/null >"$DESKTOP_TMP/explorer.log" 2>&1 &
    DESKTOP_EXPLORER_PID=$!
}

# The tray icon: the rightmost thing drawn on the right half of the
# taskbar (the bottom 20 rows of the desktop). Prints its centre.
_desktop_icon() {
    local ox oy
    read -r ox oy < <(desktop_origin) || return 1
    local w=${DESKTOP_SIZE%x*} h=${DESKTOP_SIZE#*x}
    import -window root -crop "$((w / 2))x16+$((ox + w / 2))+$((oy + h - 18))" +repage \
        "$DESKTOP_TMP/bar.png" 2>/dev/null || return 1
    convert "$DESKTOP_TMP/bar.png" txt:- 2>/dev/null | awk -F'[,: ]+' -v ox=$((ox + w / 2)) \
        -v oy=$((oy + h - 18)) 'NR > 1 && $0 !~ /#FFFFFF/ && $0 !~ /gray\(255\)|white/ {
            if ($1 > maxx) maxx = $1; if (minx == "" || $1 < minx) minx = $1
            if (miny == "" || $2 < miny) miny = $2; if ($2 > maxy) maxy = $2; n++ }
        END { if (n < 20) exit 1; if (maxx - minx > 40) minx = maxx - 16
              print ox + int((minx + maxx) / 2), oy + int((miny + maxy) / 2) }'
}

# _desktop_found CMD...: runs CMD, keeping what it printed when it succeeds.
_desktop_found() { DESKTOP_FOUND=$("$@"); }

desktop_tray_icon() {
    desktop_wait "$DESKTOP_TIMEOUT" "the tray icon" _desktop_found _desktop_icon || return 1
    echo "$DESKTOP_FOUND"
}

# A visible window of sorvenka.exe whose name matches $1 ("" for the
# nameless popup menu): prints "ID X Y W H".
_desktop_window() {
    local id name
    for id in $(xdotool search --onlyvisible --class sorvenka.exe 2>/dev/null); do
        name=$(xdotool getwindowname "$id" 2>/dev/null)
        if { [ -z "$1" ] && [ -z "$name" ]; } || { [ -n "$1" ] && [[ $name == *"$1"* ]]; }; then
            xwininfo -id "$id" | awk -v id="$id" '/Absolute upper-left X/ {x=$4}
                /Absolute upper-left Y/ {y=$4} /Width:/ {w=$2} /Height:/ {h=$2}
                END {if (w > 8 && h > 8) print id, x, y, w, h; else exit 1}' && return 0
        fi
    done
    return 1
}

desktop_window() {
    desktop_wait "$DESKTOP_TIMEOUT" "a window '${1:-popup menu}'" _desktop_found _desktop_window "$1" ||
        return 1
    echo "$DESKTOP_FOUND"
}

_desktop_no_window() { ! _desktop_window "$1" >/dev/null; }

_desktop_pointer_at() { xdotool getmouselocation 2>/dev/null | grep -q "^x:$1 y:$2 "; }

# Left press on the icon opens the two-item menu. Prints "ID X Y W H".
# On a fresh Wine desktop the first press on the taskbar mostly never
# reaches explorer's tray (WINEDEBUG=+systray shows no notify_owner relay
# for it, so the program is never told); a click that opened nothing within
# DESKTOP_CLICK_WAIT seconds is repeated, at most three times, and said so.
desktop_open_menu() {
    local x y try
    read -r x y < <(desktop_tray_icon) || return 1
    # Keyboard focus on the desktop window, as a window manager would give
    # it; Xvfb has none.
    xdotool search --name "^sorvenka - Wine desktop\$" windowfocus --sync 2>/dev/null
    for try in 1 2 3 4; do
        # Onto the icon from the desktop above it, as a hand would come.
        xdotool mousemove $((x - 40)) $((y - 80)) mousemove $((x - 6)) "$y" mousemove "$x" "$y"
        desktop_wait 10 "the pointer" _desktop_pointer_at "$x" "$y" || return 1
        xdotool click 1
        if [ "$try" = 4 ]; then
            desktop_window ""
            return
        fi
        DESKTOP_TIMEOUT=${DESKTOP_CLICK_WAIT:-10} desktop_window "" 2>/dev/null && return 0
        desktop_log "click $try on the tray icon opened no menu; clicking again"
    done
}

# desktop_pick N: clicks item N (1 version, 2 exit) of the open menu.
desktop_pick() {
    local id x y w h
    read -r id x y w h < <(DESKTOP_TIMEOUT=10 desktop_window "") || return 1
    xdotool mousemove $((x + w / 2)) $((y + (2 * $1 - 1) * h / 4)) click 1
}

# desktop_shot OUT.png X Y W H [MARGIN]: part of the screen, as seen.
desktop_shot() {
    local out=$1 x=$2 y=$3 w=$4 h=$5 m=${6:-8}
    x=$((x > m ? x - m : 0)) y=$((y > m ? y - m : 0))
    mkdir -p "$(dirname "$out")"
    import -window root -crop "$((w + 2 * m))x$((h + 2 * m))+$x+$y" +repage "$out"
}

# Ends once the harness has written its status: prints its output.
desktop_finish() {
    local tag=${1:-first}
    desktop_wait "$DESKTOP_TIMEOUT" "the program to end" test -s "$DESKTOP_TMP/$tag.rc" || return 1
    cat "$DESKTOP_TMP/$tag.out"
}

# desktop_check OUTPUT: exit 0, no failed step or exception, and every
# register the program wrote back at its byte from before the start, as the
# harness lists them once the program has ended.
desktop_check() {
    printf '%s\n' "$1" | awk '
        { sub(/\r$/, "") }
        $1 == "register" { n++; if ($5 != $7) bad = bad "\n  " $2 " " $3 " ends at " $7 " instead of " $5 }
        $1 == "exit" { code = $2 }
        $1 == "exception" || $1 == "failed:" { bad = bad "\n  " $0 }
        END {
            if (code != "0") bad = bad "\n  exit code " (code == "" ? "missing" : code)
            if (bad != "") { print "desktop: check failed:" bad > "/dev/stderr"; exit 1 }
            printf "desktop: exit 0, %d registers written, all put back\n", n > "/dev/stderr"
        }'
}

desktop_stop() {
    # Only the desktop's own server: never one that others share.
    [ "${WINEPREFIX:-}" = "$DESKTOP_PREFIX" ] && { wineserver -k 2>/dev/null || true; }
    [ -n "$DESKTOP_EXPLORER_PID" ] && wait "$DESKTOP_EXPLORER_PID" 2>/dev/null
    if [ -n "$DESKTOP_XVFB_PID" ]; then
        kill "$DESKTOP_XVFB_PID" 2>/dev/null
        wait "$DESKTOP_XVFB_PID" 2>/dev/null
    fi
    [ -n "$DESKTOP_TMP" ] && rm -rf "$DESKTOP_TMP"
    DESKTOP_XVFB_PID="" DESKTOP_EXPLORER_PID="" DESKTOP_TMP=""
}

# The working directory with kvtl.cfg.
desktop_workdir() {
    local dir=$DESKTOP_TMP/${1:-work}
    mkdir -p "$dir"
    if [ -n "${KVTL_CFG:-}" ]; then
        cp "$KVTL_CFG" "$dir/kvtl.cfg"
    else
        printf '41,5A,7,1\r\n60,80,7\r\n' >"$dir/kvtl.cfg"
    fi
    echo "$dir"
}

desktop_start() {
    desktop_prepare && desktop_x "$1" || return 1
    desktop_launch "$(desktop_workdir)" &&
        desktop_wait "$DESKTOP_TIMEOUT" "the Wine desktop" desktop_origin >/dev/null
}

# The tray with its menu open: menu and icon together.
_desktop_shot_menu() {
    local id x y w h ix iy
    read -r id x y w h < <(desktop_open_menu) || return 1
    read -r ix iy < <(desktop_tray_icon) || return 1
    local right=$((ix + 12 > x + w ? ix + 12 : x + w)) bottom=$((iy + 12 > y + h ? iy + 12 : y + h))
    desktop_shot "$1" "$x" "$y" $((right - x)) $((bottom - y)) 16
}

_desktop_exit_and_check() {
    desktop_pick 2 || return 1
    local out
    out=$(desktop_finish first) || return 1
    [ -n "${DESKTOP_VERBOSE:-}" ] && printf '%s\n' "$out" >&2
    desktop_check "$out"
}

desktop_cmd_screenshot_menu() {
    _desktop_shot_menu "$1" && echo "$1" && _desktop_exit_and_check
}

desktop_cmd_test() {
    local t0=$SECONDS
    if ! { desktop_open_menu >/dev/null && _desktop_exit_and_check; }; then
        # What the screen showed when it went wrong.
        if [ -n "${DESKTOP_FAIL_SHOT:-}" ]; then
            import -window root "$DESKTOP_FAIL_SHOT" && desktop_log "screen: $DESKTOP_FAIL_SHOT"
        fi
        [ -s "$DESKTOP_TMP/first.out" ] && sed 's/^/  /' "$DESKTOP_TMP/first.out" >&2
        return 1
    fi
    desktop_log "tray click to exit checked in $((SECONDS - t0)) s"
}

desktop_cmd_screenshots() {
    local dir=$1 id x y w h
    _desktop_shot_menu "$dir/tray-menu.png" || return 1
    # About box: first item; Enter closes it.
    desktop_pick 1 || return 1
    read -r id x y w h < <(desktop_window "Version") || return 1
    desktop_shot "$dir/about-box.png" "$x" "$y" "$w" "$h"
    xdotool mousemove $((x + w / 2)) $((y + 8)) click 1 key Return
    desktop_wait "$DESKTOP_TIMEOUT" "the About box to close" _desktop_no_window "Version" || return 1
    # A second copy on the same desktop: it warns and ends without touching
    # a port.
    local second
    second=$(desktop_workdir second)
    wine "$DESKTOP_BUILD/tools/harness/harness.exe" --cwd "$second" \
        --timeout $((DESKTOP_TIMEOUT * 1000)) --drive "exit" "$DESKTOP_BUILD/shell/sorvenka.exe" \
        </dev/null >"$DESKTOP_TMP/second.out" 2>&1 &
    local pid=$!
    read -r id x y w h < <(desktop_window "CAUTION") || return 1
    desktop_shot "$dir/second-copy.png" "$x" "$y" "$w" "$h"
    xdotool mousemove $((x + w / 2)) $((y + 8)) click 1 key Return
    wait "$pid"
    if ! grep -q '^exit 0' "$DESKTOP_TMP/second.out" ||
        grep -qE '^(in|out)' "$DESKTOP_TMP/second.out"; then
        desktop_log "second copy: $(cat "$DESKTOP_TMP/second.out")"
        return 1
    fi
    desktop_open_menu >/dev/null && _desktop_exit_and_check && ls "$dir"/*.png
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -o pipefail
    display=private
    while [ $# -gt 0 ]; do
        case "$1" in
        --display) display=$2; shift 2 ;;
        --build) DESKTOP_BUILD=$(cd "$2" && pwd); shift 2 ;;
        *) break ;;
        esac
    done
    cmd=${1:-}
    shift || true
    case "$cmd" in
    screenshot-menu | screenshots | test) ;;
    *) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
    esac
    for f in tools/harness/harness.exe shell/sorvenka.exe; do
        [ -f "$DESKTOP_BUILD/$f" ] || { desktop_log "no $DESKTOP_BUILD/$f"; exit 2; }
    done
    trap desktop_stop EXIT
    desktop_start "$display" || exit 1
    "desktop_cmd_${cmd//-/_}" "$@"
fi
