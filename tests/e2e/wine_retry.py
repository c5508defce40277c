#!/usr/bin/env python3
"""Runs one test command under Wine and tries it again only when Wine itself
failed, never when the program or the test did.

    wine_retry.py --log FILE --infrastructure-exit N [--name NAME] [--setup]
                  [--attempts 6] [--attempt-timeout S] -- COMMAND...
    wine_retry.py --summary FILE

A failure counts as Wine's when the command ends with the harness's own
status N (it saw a process start fail, or a fault before the program's entry
point) or leaves the file named by SORVENKA_WINE_FAILED_FILE (the same
verdict, for when Wine's own exit path fails after it); when Wine itself
died by a Unix signal (a Windows program's own faults end it through Wine's
exception handling with a Windows status, so a signal is Wine or the
qemu-user under it crashing); or when the test program never reached its
own code: it creates the file named by SORVENKA_STARTED_FILE first thing,
and a run that ends or hangs without it was lost in Wine's start. With
--setup the command is Wine's own set-up (the server, the prefix), so any
failure of it counts. Every retry is one line on standard error and in FILE,
with the test's name; --summary prints them and "infrastructure retries: N"."""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile


def summary(log):
    lines = []
    if os.path.exists(log):
        with open(log, encoding="utf-8", errors="replace") as f:
            lines = [l.rstrip("\n") for l in f if l.strip()]
    for line in lines:
        print(line)
    print("infrastructure retries: %d" % len(lines))
    return 0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--summary")
    ap.add_argument("--log")
    ap.add_argument("--infrastructure-exit", type=int)
    ap.add_argument("--name", default=os.environ.get("SORVENKA_TEST_NAME"))
    ap.add_argument("--setup", action="store_true")
    ap.add_argument("--attempts", type=int, default=6)
    ap.add_argument("--attempt-timeout", type=float, default=300)
    ap.add_argument("command", nargs=argparse.REMAINDER)
    args = ap.parse_args()
    if args.summary:
        return summary(args.summary)
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command or not args.log or args.infrastructure_exit is None:
        ap.error("--log, --infrastructure-exit and a command are needed")
    name = args.name or " ".join(os.path.basename(c) for c in command)

    scratch = tempfile.mkdtemp(prefix="wine-retry-")
    try:
        return run(args, command, name, os.path.join(scratch, "started"),
                   os.path.join(scratch, "wine-failed"))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def run(args, command, name, started, wine_failed):
    env = dict(os.environ, SORVENKA_STARTED_FILE=started, SORVENKA_WINE_FAILED_FILE=wine_failed)
    rc = 1
    for attempt in range(1, args.attempts + 1):
        for f in (started, wine_failed):
            if os.path.exists(f):
                os.remove(f)
        # A group of its own: a hung attempt ends with every process it started.
        child = subprocess.Popen(command, env=env, start_new_session=True)
        try:
            rc = child.wait(timeout=args.attempt_timeout)
            timed_out = False
        except subprocess.TimeoutExpired:
            os.killpg(child.pid, signal.SIGKILL)
            child.wait()
            rc, timed_out = 124, True
        if rc == 0:
            return 0
        reached = os.path.exists(started)
        if rc == args.infrastructure_exit:
            why = "the harness saw Wine fail (status %d)" % rc
        elif os.path.exists(wine_failed):
            why = "the harness saw Wine fail, and Wine's exit failed too (status %d)" % rc
        elif killed_by_signal(rc):
            why = "Wine died by a Unix signal (status %d)" % rc
        elif args.setup:
            why = "Wine's set-up failed (status %d)" % rc
        elif not reached and started_file_expected(command):
            why = ("the test program never reached its own code (%s)" %
                   ("hung" if timed_out else "status %d" % rc))
        else:
            return rc  # the program's or the test's own failure: never tried again
        if attempt == args.attempts:
            print("wine_retry: %s: %s; no attempt left" % (name, why), file=sys.stderr)
            return rc
        line = "infrastructure retry: %s (attempt %d of %d): %s" % (name, attempt + 1,
                                                                   args.attempts, why)
        print(line, file=sys.stderr, flush=True)
        with open(args.log, "a", encoding="utf-8") as f:
            f.write(line + "\n")
    return rc


# SIGILL, SIGABRT, SIGBUS, SIGFPE, SIGSEGV: seen from Python as a negative
# status, or as 128 + the signal from a shell that ran Wine as its child.
CRASH_SIGNALS = (4, 6, 7, 8, 11)


def killed_by_signal(rc):
    return -rc in CRASH_SIGNALS or rc - 128 in CRASH_SIGNALS


def started_file_expected(command):
    """Only the end-to-end test program writes the started file."""
    return any(os.path.basename(c).startswith("e2e_tests") for c in command)


if __name__ == "__main__":
    sys.exit(main())
