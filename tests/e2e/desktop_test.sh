#!/bin/bash
# sorvenka.exe driven as a person would: on a private X server, a left click
# on its tray icon opens the menu and a click on Exit (終了) ends it. The
# program must end with code 0 and every byte it wrote must be back.
#
#   desktop_test.sh BUILD_DIR
#
# Exit 77 (skipped) when the X tools are not installed; scripts/setup.sh
# installs them with Wine and makes the test's Wine prefix.
[ $# = 1 ] || { awk 'NR > 1 { if (!/^#/) exit; sub(/^# ?/, ""); print }' "$0" >&2 && exit 2; }
build=$1
root=$(cd "$(dirname "$0")/../.." && pwd)

for tool in Xvfb xdotool xdpyinfo import; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done

# A prefix of this build's own: the test must not wait for another one.
export SORVENKA_DESKTOP_PREFIX=${SORVENKA_DESKTOP_PREFIX:-$build/desktop-prefix}
[ -f "$SORVENKA_DESKTOP_PREFIX/.sorvenka-desktop" ] ||
    "$root/scripts/setup.sh" --desktop-prefix "$SORVENKA_DESKTOP_PREFIX" || exit 1
# Each wait bounded so that all of them together stay under the ctest limit.
export DESKTOP_TIMEOUT=60 DESKTOP_FAIL_SHOT=$build/desktop-failure.png
t0=$SECONDS
"$root/testkit/desktop.sh" --display private --build "$build" test
status=$?
echo "desktop test: $((SECONDS - t0)) s, status $status"
exit $status
