#!/usr/bin/env python3
"""wine_retry.py on stand-in commands: it tries again only on Wine's own
failures, logs each retry with the test's name, and counts them."""

import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
RETRY = os.path.join(HERE, "wine_retry.py")
INFRA = 75

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../tests/support"))
from checks import check, failures  # noqa: E402


def main():
    tmp = tempfile.mkdtemp(prefix="wine-retry-test-")
    log = os.path.join(tmp, "retries.log")

    def script(name, body):
        # Each run appends a line to its own count file, then does `body`
        # with $n the number of this run.
        path = os.path.join(tmp, name)
        with open(path, "w") as f:
            f.write("#!/bin/sh\necho run >>\"$0.runs\"\nn=$(wc -l <\"$0.runs\")\n" + body + "\n")
        os.chmod(path, 0o755)
        return path

    def runs(path):
        with open(path + ".runs") as f:
            return len(f.readlines())

    def retry(path, *extra):
        # A GoogleTest program is run with one test, as ctest runs it.
        args = ["--gtest_filter=Suite.Case"] if "gtest" in path else []
        p = subprocess.run([sys.executable, RETRY, "--log", log, "--infrastructure-exit",
                            str(INFRA), "--attempt-timeout", "20", *extra, "--", path, *args],
                           capture_output=True, text=True)
        return p.returncode, p.stderr

    # name, script body, extra arguments, expected status, runs, retries logged
    cases = [
        ("passes", "exit 0", [], 0, 1, 0),
        ("the program fails", "exit 1", [], 1, 1, 0),
        ("a failure with another status", "exit 2", [], 2, 1, 0),
        ("Wine fails once", '[ "$n" -ge 2 ] || exit %d' % INFRA, [], 0, 2, 1),
        ("Wine fails every time", "exit %d" % INFRA, [], INFRA, 6, 5),
        ("the Wine verdict, then another status", '[ "$n" -ge 2 ] || { : >"$SORVENKA_WINE_FAILED_FILE"; exit 127; }',
         [], 0, 2, 1),
        ("Wine dies by a signal once", '[ "$n" -ge 2 ] || kill -SEGV $$', [], 0, 2, 1),
        ("Wine aborts once, as a shell sees it", '[ "$n" -ge 2 ] || exit 134', [], 0, 2, 1),
        ("Wine, then the program", '[ "$n" -ge 2 ] || exit %d; exit 1' % INFRA, [], 1, 2, 1),
        ("a set-up failure", '[ "$n" -ge 2 ] || exit 3', ["--setup"], 0, 2, 1),
        # The test program marks its start; one that ends without the mark
        # never reached its own code.
        ("e2e_tests never started", '[ "$n" -ge 2 ] || exit 1; : >"$SORVENKA_STARTED_FILE"',
         [], 0, 2, 1),
        ("e2e_tests started, then failed", ': >"$SORVENKA_STARTED_FILE"; exit 1', [], 1, 1, 0),
        ("e2e_tests hung before starting", '[ "$n" -ge 2 ] || sleep 60', ["--attempt-timeout", "2"],
         0, 2, 1),
        # A GoogleTest program that ends without its verdict and without a
        # record of its own abnormal end: an abort in Wine's Unix side
        # becomes Wine's exception and ends it with 1.
        ("e2e_tests gtest dies without a verdict",
         ': >"$SORVENKA_STARTED_FILE"; echo "[ RUN      ] Suite.Case"; [ "$n" -ge 2 ] || exit 1',
         [], 0, 2, 1),
        ("e2e_tests gtest ends by Wine's assertion",
         ': >"$SORVENKA_STARTED_FILE"; [ "$n" -ge 2 ] || { echo 80000101 >"$SORVENKA_ENDING_FILE"; '
         'exit 1; }', [], 0, 2, 1),
        ("e2e_tests gtest leaves its record cut short",
         ': >"$SORVENKA_STARTED_FILE"; [ "$n" -ge 2 ] || { : >"$SORVENKA_ENDING_FILE"; exit 1; }',
         [], 0, 2, 1),
        # The program's own end: never tried again.
        ("e2e_tests gtest fails its test",
         ': >"$SORVENKA_STARTED_FILE"; echo "[  FAILED  ] Suite.Case (5 ms)"; exit 1', [], 1, 1, 0),
        ("e2e_tests gtest faults in its own code",
         ': >"$SORVENKA_STARTED_FILE"; echo c0000005 >"$SORVENKA_ENDING_FILE"; exit 5', [], 5, 1, 0),
        ("e2e_tests gtest aborts", ': >"$SORVENKA_STARTED_FILE"; echo abort >"$SORVENKA_ENDING_FILE"; '
         'exit 3', [], 3, 1, 0),
        # Wine's server connection broke: GoogleTest's next check aborts.
        ("e2e_tests gtest loses the Wine server",
         ': >"$SORVENKA_STARTED_FILE"; [ "$n" -ge 2 ] || { echo "wine client error:104: write: Bad '
         'file descriptor" >&2; echo abort >"$SORVENKA_ENDING_FILE"; exit 3; }', [], 0, 2, 1),
        ("e2e_tests gtest hangs after its start", ': >"$SORVENKA_STARTED_FILE"; sleep 60',
         ["--attempt-timeout", "2"], 124, 1, 0),
    ]
    total = 0
    for i, (name, body, extra, status, count, logged) in enumerate(cases):
        prefix = "e2e_tests" if name.startswith("e2e_tests") else "cmd"
        prefix += "-gtest" if " gtest " in name else ""
        path = script("%s-%d" % (prefix, i), body)
        before = open(log).read().count("\n") if os.path.exists(log) else 0
        rc, err = retry(path, "--name", "Suite.Case%d" % i, *extra)
        after = open(log).read().count("\n") if os.path.exists(log) else 0
        check(rc == status, "%s: status %d, expected %d (%s)" % (name, rc, status, err))
        check(runs(path) == count, "%s: %d runs, expected %d" % (name, runs(path), count))
        check(after - before == logged, "%s: %d retries logged, expected %d" %
              (name, after - before, logged))
        check(err.count("infrastructure retry: Suite.Case%d " % i) == logged,
              "%s: each retry told on stderr with the test's name: %r" % (name, err))
        total += logged

    # A process an attempt leaves behind (a new Wine server's services, after
    # a crash) holds none of the caller's streams: ctest would wait for it.
    path = script("cmd-leaves-a-process", "sleep 30 >/dev/null & exit 0")
    start = time.monotonic()
    rc, err = retry(path)
    took = time.monotonic() - start
    check(rc == 0 and took < 15, "a process left behind: status %d after %.0f s" % (rc, took))

    p = subprocess.run([sys.executable, RETRY, "--summary", log], capture_output=True, text=True)
    lines = p.stdout.splitlines()
    check(lines[-1] == "infrastructure retries: %d" % total, "summary: %r" % lines[-1:])
    check(len(lines) == total + 1, "summary lists every retry: %r" % lines)
    p = subprocess.run([sys.executable, RETRY, "--summary", os.path.join(tmp, "none.log")],
                       capture_output=True, text=True)
    check(p.stdout == "infrastructure retries: 0\n", "no log, no retries: %r" % p.stdout)

    print("%d failure(s)" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
