#!/usr/bin/env python3
"""Runs the built kvtlcheck (natively, or under Wine with --wine WINE) on a
few files: exit status 0/1/2, --json as one valid JSON array and nothing
else, the raw text of every line round-tripping through JSON, --machine."""

import argparse
import json
import os
import subprocess
import sys
import tempfile

KEYS = ["line", "register", "value", "device", "function", "address", "port", "before", "after"]

# Rows of a 440BX host bridge as lspci -xxx prints them, its AGP capability
# at A0 as 86Box sets it up (intel_4x0.c: version 1.0, status 1F000203).
DUMP = """00:00.0 Host bridge: Test bridge
00: 86 80 90 71 06 00 10 22 03 00 00 06 00 00 00 00
30: 00 00 00 00 a0 00 00 00 00 00 00 00 00 00 00 00
50: 0c 02 00 20 00 00 00 00 00 00 00 00 00 00 00 00
a0: 02 00 10 00 03 02 00 1f 00 00 00 00 00 00 00 00
"""

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../support"))
from checks import check, failures  # noqa: E402


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--wine")
    ap.add_argument("tool")
    args = ap.parse_args()
    prefix = [args.wine] if args.wine else []
    env = dict(os.environ, WINEDEBUG="-all")
    env.pop("NO_COLOR", None)

    tmp = tempfile.mkdtemp(prefix="kvtlcheck-")

    def write(name, data):
        path = os.path.join(tmp, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def run(*argv):
        p = subprocess.run(prefix + [args.tool] + list(argv), capture_output=True, env=env,
                           timeout=240)
        return p.returncode, p.stdout.decode("ascii", "replace"), p.stderr.decode("ascii", "replace")

    def run_json(*argv):
        rc, out, err = run("--json", *argv)
        try:
            return rc, json.loads(out), err
        except ValueError as e:
            check(False, "--json %s is not one JSON value (%s): %r" % (argv, e, out[:200]))
            return rc, [], err

    clean = write("clean.cfg", b"50,0C\r\n51,0D\r\n4C,4D,7,0\r\n")
    rc, out, err = run(clean)
    check(rc == 0, "clean file exits 0, got %d" % rc)
    check("\x1b[" not in out, "no colour when stdout is not a terminal")
    check("every register is back at its pre-pass byte" in out, "table reports the restore")
    rc, lines, err = run_json(clean)
    check(rc == 0, "clean --json exits 0")
    check([l["line"] for l in lines] == [1, 2, 3], "clean lines 1 2 3: %s" % lines)
    for l in lines:
        check(all(isinstance(l.get(k), int) for k in KEYS), "integer keys in %s" % l)
        check(l["warnings"] == [], "no warnings in %s" % l)

    # Every byte the format allows, in one line: quote, backslash, tab, a
    # Shift-JIS remark, a stray 0x7F, then a NUL that ends the text.
    odd = b'50,0C,0,0 ; "\\\t\x83e\x83X\x83g\x7f\x00rest\n\n'
    rc, lines, err = run_json(write("odd.cfg", odd))
    check(rc == 1, "blank line warns: exit 1")
    check(len(lines) == 2, "two lines applied")
    if len(lines) == 2:
        check(lines[0]["text"].encode("latin-1") == odd[:odd.index(b"\n") + 1],
              "raw text round-trips: %r" % lines[0]["text"])
        check(lines[0]["kinds"] == ["nul"], "NUL warning on line 1: %s" % lines[0]["kinds"])
        check(lines[1]["line"] == 2 and "register-0" in lines[1]["kinds"], "blank line 2")
        check((lines[0]["register"], lines[0]["value"], lines[0]["address"], lines[0]["port"])
              == (0x50, 0x0C, 0x80000050, 0xCFC), "fields of line 1")

    # Lines the program never applies are told on standard error only.
    rc, lines, err = run_json(write("ctrlz.cfg", b"50,0C\n\x1a51,0D\n"))
    check(rc == 1 and len(lines) == 1, "0x1A: one line, exit 1")
    check(":2: warning:" in err, "0x1A warning on stderr with its line: %r" % err)

    rc, out, err = run(os.path.join(tmp, "missing.cfg"))
    check(rc == 2 and out == "" and "cannot open" in err, "missing file: exit 2, message only")
    rc, out, err = run("--json", os.path.join(tmp, "missing.cfg"))
    check(rc == 2 and out == "", "missing file with --json prints nothing on stdout")
    rc, out, err = run("--frobnicate", clean)
    check(rc == 2 and out == "", "unknown option: exit 2")

    # The user's machine from a dump: device 7 does not exist there.
    dump = write("machine.txt", DUMP.encode())
    rc, lines, err = run_json("--machine", dump, write("m.cfg", b"50,0C\n50,0C,7\n"))
    check(rc == 1 and len(lines) == 2, "dump machine: two lines, exit 1")
    if len(lines) == 2:
        check(lines[0]["kinds"] == [] and lines[0]["before"] == 0x0C, "00:00.0 is there")
        check(lines[1]["kinds"] == ["absent"] and lines[1]["before"] == 0xFF, "00:07.0 is not")
    # A byte of the AGP capability: named as lspci -vv names its register
    # ("Command:"), its bits as pciutils' header.h (PCI_AGP_COMMAND_AGP 0100,
    # _SBA 0200); the text as the JSON.
    agp = write("agp.cfg", b"A9,03\n50,0C\n")
    rc, lines, err = run_json("--machine", dump, agp)
    check([l["capability"] for l in lines] == ["AGP Command (cap 02 at A0)+9", None],
          "capabilities: %s" % [l["capability"] for l in lines])
    check(lines and [b.get("name") for b in lines[0]["changed_bits"]] ==
          ["AGP enable", "sideband addressing enable"], "AGP command bits: %s" % lines[:1])
    rc, out, err = run("--machine", dump, agp)
    out = out.replace("\r\n", "\n")  # kvtlcheck.exe writes CR LF
    check("capability: AGP Command (cap 02 at A0)+9\n" in out and
          "changes bit 0 AGP enable 0->1, bit 1 sideband addressing enable 0->1\n" in out,
          "the table names the capability and its bits: %r" % out)
    rc, out, err = run("--machine", write("bad.txt", b"not a dump\n"), clean)
    check(rc == 2 and out == "", "bad dump: exit 2")

    # --set: the line on stdout as the 9x PC reads it, warnings on stderr,
    # status 3 where no line can.
    for argv, status, line, warns in [
            (["--set", "00:07.1", "48", "02:02"], 0, "48,07,7,1\r\n", False),
            (["--set", "00:07.1", "41", "00:80"], 1, "41,23,7,1\r\n", True),
            (["--set", "00:07.1", "100", "01"], 3, "", False),
            (["--set", "00:07.1", "48"], 2, "", False)]:
        p = subprocess.run(prefix + [args.tool] + argv, capture_output=True, env=env, timeout=240)
        check((p.returncode, p.stdout.decode()) == (status, line),
              "%s: status %d, %r" % (" ".join(argv), p.returncode, p.stdout))
        check(("warning:" in p.stderr.decode()) == warns, "%s warns: %r" % (argv, p.stderr))

    print("%d failure(s)" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
