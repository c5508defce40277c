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
scripts/setup.sh --tests --desktop-prefix build/win32/desktop-prefix

step() { echo; echo "== $*"; }

# The QEMU tier (tests/qemu) runs last; its guest image is built there when
# its recipe has changed.
qemu_tier=yes
[ -n "${SORVENKA_SKIP_QEMU:-}" ] && [ "${CI:-}" != true ] && qemu_tier=

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
source testkit/wine-env.sh
cmake --preset win32 -DSORVENKA_TESTS=ON >/dev/null
cmake --build --preset win32
# Wine runs the 32-bit programs through qemu-user on some hosts, which now
# and then fails a process start or stalls one. The test wiring
# (testkit/wine_retry.py) tries such a test again only when the harness saw
# Wine itself fail; a failure of the program is never retried. The whole run
# is bounded as well, so that a Wine that hangs every time ends the run red
# instead of never.
retry_log=build/win32/infrastructure-retries.log
rm -f "$retry_log"
status=0
timeout -k 30 50m ctest --preset win32 --no-tests=ignore --timeout 900 || status=$?

python3 testkit/wine_retry.py --summary "$retry_log"

# The unmodified programs with real port instructions on QEMU's pc and q35
# chipsets, read back by the guest's lspci. CI never skips it.
if [ -z "$qemu_tier" ]; then
    step "qemu: skipped (SORVENKA_SKIP_QEMU)"
else
    step "qemu: the programs on QEMU's pc and q35 chipsets"
    # Not in the background of the Wine tests: under qemu-user Wine crashes
    # far more often on a loaded machine.
    mkdir -p build/qemu
    if ! python3 tests/qemu/image.py >build/qemu/image.log 2>&1; then
        tail -n 40 build/qemu/image.log
        echo "qemu: the guest image could not be built (full log: build/qemu/image.log)"
        status=1
    else
        grep '^image:' build/qemu/image.log
        python3 tests/qemu/run.py --win32 build/win32 \
            --kvtlcheck build/native/tools/kvtlcheck/kvtlcheck || status=1
    fi
fi

echo
[ "$status" -eq 0 ] && echo "== all passed"
exit "$status"
