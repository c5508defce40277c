#!/usr/bin/env python3
"""kvtlpeek.exe's file-only mode under plain Wine (no harness: /d touches
no port): /d prints byte for byte what kvtlcheck.exe --diff prints for the
same two dumps, and a full disk (/dev/full as standard output) ends with
status 5 and a message, never 0.

    kvtlpeek_files.py WINE_RUN KVTLPEEK_EXE KVTLCHECK_EXE BEFORE AFTER
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../support"))
from checks import run_detached as run  # noqa: E402

FULL_DISK = 5


def main():
    wine, peek, check, before, after = sys.argv[1:6]
    failures = []
    rc_peek, out_peek, err_peek = run([wine, peek, "/d", before, after])
    rc_check, out_check, err_check = run([wine, check, "--diff", before, after])
    if rc_peek != 0 or rc_check != 0:
        failures.append("exit %d and %d: %r %r" % (rc_peek, rc_check, err_peek, err_check))
    if not out_peek or out_peek != out_check:
        failures.append("settings differ: %r / %r" % (out_peek, out_check))
    if err_peek != err_check:
        failures.append("tables differ: %r / %r" % (err_peek, err_check))
    with open("/dev/full", "wb") as full:
        rc, _, err = run([wine, peek, "/d", before, after], stdout=full)
    if rc != FULL_DISK or b"could not be written whole" not in err:
        failures.append("full disk: exit %d, %r" % (rc, err[-200:]))
    for f in failures:
        print("FAIL:", f)
    print("%d failure(s)" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
