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
qemu-user under it crashing); when the test program never reached its
own code: it creates the file named by SORVENKA_STARTED_FILE first thing,
and a run that ends or hangs without it was lost in Wine's start; or when a
GoogleTest program ends without GoogleTest's verdict line and without a
record of its own abnormal end. The test program writes that record into
the file named by SORVENKA_ENDING_FILE: the code of an unhandled exception,
or "abort". A glibc abort inside Wine's Unix side (seen in CI as
"realloc(): invalid pointer") becomes Wine's own exception 80000101
(EXCEPTION_WINE_ASSERTION), which ends the test program with status 1, as a
failed test would; its record is that code, or cut short when Wine's server
call fails while it is written. Neither is the program's. With --setup the
command is Wine's own set-up (the server, the prefix), so any failure of it
counts. The command's standard output goes through a file, so that it can be
read for the verdict without waiting on a pipe that a lingering Wine service
holds open. Every retry is one line on standard error and in FILE, with the
test's name; --summary prints them and "infrastructure retries: N"."""

import argparse
import os
import re
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
        return run(args, command, name, scratch)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def run(args, command, name, scratch):
    started, wine_failed, ending, output = (os.path.join(scratch, f) for f in
                                            ("started", "wine-failed", "ending", "stdout"))
    env = dict(os.environ, SORVENKA_STARTED_FILE=started, SORVENKA_WINE_FAILED_FILE=wine_failed,
               SORVENKA_ENDING_FILE=ending)
    rc = 1
    for attempt in range(1, args.attempts + 1):
        for f in (started, wine_failed, ending):
            if os.path.exists(f):
                os.remove(f)
        # A group of its own: a hung attempt ends with every process it started.
        # Both streams go to the file: a Wine process the attempt started (a
        # new server's services after a crash) that outlives it must not hold
        # ctest's pipe open, or ctest waits for it until the test's time-out.
        with open(output, "w+b") as out:
            child = subprocess.Popen(command, env=env, stdout=out, stderr=subprocess.STDOUT,
                                     start_new_session=True)
            try:
                rc = child.wait(timeout=args.attempt_timeout)
                timed_out = False
            except subprocess.TimeoutExpired:
                os.killpg(child.pid, signal.SIGKILL)
                child.wait()
                rc, timed_out = 124, True
            out.seek(0)
            text = out.read().decode("utf-8", "replace")
        sys.stdout.write(text)
        sys.stdout.flush()
        if rc == 0:
            return 0
        reached = os.path.exists(started)
        if rc == args.infrastructure_exit:
            why = "the harness saw Wine fail (status %d)" % rc
        elif os.path.exists(wine_failed):
            why = "the harness saw Wine fail, and Wine's exit failed too (status %d)" % rc
        elif killed_by_signal(rc):
            why = "Wine died by a Unix signal (status %d)" % rc
        elif WINE_CLIENT_ERROR.search(text):
            # Every server call fails from then on, so whatever the program
            # did next (GoogleTest's own checks abort) is not its fault.
            why = "Wine lost its server (%s)" % WINE_CLIENT_ERROR.search(text).group(0)
        elif args.setup:
            why = "Wine's set-up failed (status %d)" % rc
        elif not reached and started_file_expected(command):
            why = ("the test program never reached its own code (%s)" %
                   ("hung" if timed_out else "status %d" % rc))
        elif is_gtest(command) and not timed_out and not verdict(text) and \
                own_ending(ending) is None:
            why = ("the test program ended with status %d without GoogleTest's verdict and "
                   "without an exception of its own%s" % (rc, wine_ending(ending)))
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


# The lines GoogleTest prints when a test has ended: its result, and the
# run's closing verdict.
VERDICT = re.compile(r"^\[  (PASSED|FAILED)  \] ", re.M)
# Wine's own exception code for an abort in its Unix side.
EXCEPTION_WINE_ASSERTION = "80000101"
OWN_ENDING = re.compile(r"[0-9a-f]{8}|abort")
# What a Wine process prints when its connection to the Wine server breaks.
WINE_CLIENT_ERROR = re.compile(r"^wine client error:[^\n]*", re.M)


def verdict(text):
    return VERDICT.search(text) is not None


def read_ending(path):
    try:
        with open(path, encoding="ascii", errors="replace") as f:
            return f.read().strip().lower()
    except FileNotFoundError:
        return None


def own_ending(path):
    """The test program's record of its own abnormal end, or None. A record
    that is cut short was left by a process that died beneath its own code:
    Wine's server call failed while the record was written."""
    how = read_ending(path)
    if how is None or how == EXCEPTION_WINE_ASSERTION or not OWN_ENDING.fullmatch(how):
        return None
    return how


def wine_ending(path):
    how = read_ending(path)
    if how is None:
        return ""
    if how == EXCEPTION_WINE_ASSERTION:
        return " (Wine's assertion %s)" % EXCEPTION_WINE_ASSERTION
    return " (its record of the end was cut short: %r)" % how


def is_gtest(command):
    return any(a.startswith("--gtest_") for a in command)


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
