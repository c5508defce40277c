#!/usr/bin/env bash
# The whole suite: engine and virtual chipset on the host, the fuzzer for a
# bounded time, and the Windows build with its checks. What CI runs.
#
#   ./test.sh      (no arguments; SORVENKA_FUZZ_SECONDS bounds each fuzzer)
set -euo pipefail
[ $# = 0 ] || { awk 'NR > 1 { if (!/^#/) exit; sub(/^# ?/, ""); print }' "$0" >&2 && exit 2; }
cd "$(dirname "$0")"
# Packages, locale, qemu-user and the Wine prefixes; the desktop test has a
# prefix of its own, so that it never waits for another desktop's.
scripts/setup.sh --desktop-prefix build/win32/desktop-prefix

step() { echo; echo "== $*"; }

step "native: engine, virtual chipset, host tools"
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native

step "fuzz: settings pass and restore, machine dumps (${SORVENKA_FUZZ_SECONDS:-60} s each)"
cmake --preset fuzz -DSORVENKA_FUZZ_SECONDS="${SORVENKA_FUZZ_SECONDS:-60}" >/dev/null
cmake --build --preset fuzz
log=build/fuzz/fuzz.log
if ! ctest --preset fuzz --verbose >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz run failed (full log: $log)"
    exit 1
fi
grep -E 'stat::number_of_executed_units|stat::average_exec_per_sec|Done [0-9]+ runs|tests passed' "$log"

step "win32: sorvenka.exe, tools, checks, end to end under Wine"
source tools/wine-env.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32
# Wine runs the 32-bit programs through qemu-user on some hosts, which now
# and then fails a process start or stalls one. The test wiring
# (tests/e2e/wine_retry.py) tries such a test again only when the harness saw
# Wine itself fail; a failure of the program is never retried. The whole run
# is bounded as well, so that a Wine that hangs every time ends the run red
# instead of never.
retry_log=build/win32/infrastructure-retries.log
rm -f "$retry_log"
status=0
timeout -k 30 45m ctest --preset win32 --no-tests=ignore --timeout 900 || status=$?

echo
[ "$status" -eq 0 ] && echo "== all passed"
python3 tests/e2e/wine_retry.py --summary "$retry_log"
exit "$status"
