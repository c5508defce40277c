#!/usr/bin/env python3
"""Runs the built kvtlcheck with --machine on malformed lspci dumps: a table
of the kinds a user may hand it, then every cut and many one-byte changes of
a good dump. Each run must end either with a reading (exit 0 or 1, the
report on stdout) or with exit 2 and one message naming the dump and, for a
fault inside it, its line; never a crash or a sanitizer report."""

import concurrent.futures
import os
import re
import subprocess
import sys
import tempfile

GOOD = (b"00:00.0 Host bridge: Intel Corporation 440BX\n"
        b"00: 86 80 90 71 06 00 10 22 03 00 00 06 00 40 00 00\n"
        b"50: 0c 02 00 20\n"
        b"\n"
        b"0000:00:07.1 IDE interface\r\n"
        b"40: 07 a3 07 a3 00 00 00 00 05 00 02 02 00 00 00 00\r\n")

# name, dump: refused, exit 2 with a message naming the line
REFUSED = [
    ("empty file", b""),
    ("short slot", b"0000:0"),
    ("short slot with a line end", b"00:0\n"),
    ("slot cut at the dot", b"00:07.\n"),
    ("bad hex", b"00:00.0 x\n00: 8g 80\n"),
    ("one digit", b"00:00.0 x\n00: 8 80\n"),
    ("17 bytes in a row", b"00:00.0 x\n00:" + b" 00" * 17 + b"\n"),
    ("offset f8", b"00:00.0 x\nf8: 00 00 00 00 00 00 00 00\n"),
    ("offset past ff0", b"00:00.0 x\n1000: 00\n"),
    ("function 8", b"00:00.8 x\n00: 00\n"),
    ("device 20", b"00:20.0 x\n00: 00\n"),
    ("domain 0001", b"0001:00:00.0 x\n00: 00\n"),
    ("NUL in a row", b"00:00.0 x\n00: 86\x0080\n"),
    ("NUL alone", b"\x00"),
    ("1 MB line", b"00:00.0 x\n00:" + b" 00" * (1 << 18) + b"\n"),
    ("1 MB name", b"00:00.0 " + b"x" * (1 << 20) + b"\n"),
    ("the same function twice", b"00:00.0 x\n00: 00\n00:00.0 y\n"),
    ("row first", b"00: 86 80\n"),
]

# name, dump: read, with warnings (exit 1)
WARNED = [
    ("CR-only ends", b"00:00.0 x\r00: 86 80\r50: 0c\r"),
    ("extended rows", b"00:00.0 x\n00: 86 80\n100: 01\n"),
]

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def run(tool, dump_path, cfg):
    p = subprocess.run([tool, "--no-color", "--machine", dump_path, cfg], capture_output=True,
                       timeout=120)
    return p.returncode, p.stdout.decode("latin-1"), p.stderr.decode("latin-1")


def judge(tool, cfg, directory, index, name, dump, expected):
    path = os.path.join(directory, "dump-%d" % index)
    with open(path, "wb") as f:
        f.write(dump)
    rc, out, err = run(tool, path, cfg)
    what = "%s (%r...)" % (name, dump[:60])
    if "Sanitizer" in err or "runtime error" in err or rc < 0 or rc > 2:
        return "%s: crashed or reported (exit %d): %s" % (what, rc, err[-600:])
    if expected is not None and rc != expected:
        return "%s: exit %d, expected %d: %s" % (what, rc, expected, err[:200])
    if rc == 2:
        message = re.fullmatch(r"kvtlcheck: " + re.escape(path) +
                               r": (line (\d+): .+|the dump is empty|no device in the dump)\n",
                               err, re.S)
        if not message or out:
            return "%s: exit 2 without one message naming the dump: %r" % (what, err[:300])
        lines = len(dump.replace(b"\r\n", b"\n").replace(b"\r", b"\n").split(b"\n"))
        if message.group(2) and not 1 <= int(message.group(2)) <= lines:
            return "%s: names line %s of %d" % (what, message.group(2), lines)
    elif not re.search(r"\n\d+ warnings?\n$", out):
        return "%s: exit %d without a whole report: %r" % (what, rc, out[-200:])
    return None


def main():
    tool = sys.argv[1]
    directory = tempfile.mkdtemp(prefix="dumps-")
    cfg = os.path.join(directory, "kvtl.cfg")
    with open(cfg, "wb") as f:
        f.write(b"50,0C\n41,5A,7,1\n")

    cases = [(name, dump, 2) for name, dump in REFUSED]
    cases += [(name, dump, 1) for name, dump in WARNED]
    cases.append(("the good dump", GOOD, 0))
    # Every cut of the good dump, and every byte of it changed to one that
    # breaks a field, a line or a number.
    for n in range(len(GOOD)):
        cases.append(("cut at %d" % n, GOOD[:n], None))
        for b in b"\x00\r\n :.gF":
            if GOOD[n] != b:
                cases.append(("byte %d as %r" % (n, bytes([b])), GOOD[:n] + bytes([b]) + GOOD[n + 1:],
                              None))

    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        results = list(pool.map(lambda c: judge(tool, cfg, directory, c[0], *c[1]),
                                enumerate(cases)))
    for r in results:
        check(r is None, r)
    print("%d dumps, %d failure(s)" % (len(cases), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
