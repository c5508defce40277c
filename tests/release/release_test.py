#!/usr/bin/env python3
"""Runs the release ZIP's programs in its unpacked folder as a user would,
under the harness on the virtual chipset. As shipped, without KVTL.CFG,
sorvenka.exe touches no port and ends with 0. With the sample that writes
most copied to KVTL.CFG, its bytes take effect while the program runs and
Exit puts every byte back; kvtlpeek.exe previews that file, a row a line,
touching no configuration byte. kvtlcheck.exe warns on each sample about
its first line only: the comment, which writes 00 to 00:00.0's vendor ID.
The files themselves are media_test.py's."""

import argparse
import json
import os
import re
import shutil
import sys
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../support"))
from checks import check, failures, preview_rows, run_detached  # noqa: E402

# kvtlcheck's warnings on a comment line: register 0 is written, and the
# vendor ID does not take the byte.
COMMENT_KINDS = ["register-0", "read-only"]


class WineFailed(Exception):
    pass


def registers(lines):
    """("00:00.0 5c", start, now) per "register" line of the harness."""
    out = []
    for line in lines:
        m = re.fullmatch(r"register (\S+ \S+) start (\S+) now (\S+)", line)
        if m:
            out.append(m.groups())
    return out


class Runner:
    def __init__(self, args, folder):
        self.args, self.folder = args, folder

    def run(self, *cmd):
        """Status and output (its error output is not the program's)."""
        rc, out, _ = run_detached([self.args.wine, *cmd], cwd=self.folder)
        text = out.decode("ascii", "replace").replace("\r", "")
        if self.args.infrastructure_exit is not None and rc == self.args.infrastructure_exit:
            raise WineFailed()
        return rc, text

    def harness(self, program, *options):
        rc, text = self.run(self.args.harness, "--cwd", self.folder, "--timeout", "60000",
                            *options, os.path.join(self.folder, program))
        print(text)
        return rc, text.splitlines()


def run_as_shipped(r, folder):
    trace = os.path.join(folder, "..", "trace.txt")
    rc, out = r.harness("sorvenka.exe", "--trace-out", trace, "--drive", "window;cmd IDM_EXIT;exit")
    with open(trace) as f:
        ports = f.read().splitlines()
    check(rc == 0 and "exit 0" in out and ports == [],
          "as shipped sorvenka.exe ends with 0 and touches no port: %s" % ports[:4])


def run_with_samples(r, folder, samples):
    lines = {s: samples[s].count(b"\n") for s in samples}
    sample = max(sorted(samples), key=lines.get)
    with open(os.path.join(folder, "KVTL.CFG"), "wb") as f:
        f.write(samples[sample])
    rc, out = r.harness("sorvenka.exe", "--drive", "window;registers;cmd IDM_EXIT;exit;registers")
    check(rc == 0 and "exit 0" in out, "with %s it ends with exit code 0" % sample)
    regs = registers(out)
    half = len(regs) // 2
    running, ended = regs[:half], regs[half:]
    check(half > 0 and len(regs) == 2 * half and [r[0] for r in running] == [r[0] for r in ended],
          "each written register listed while running and after the end: %s" % regs)
    check(any(start != now for _, start, now in running),
          "%s changed a register while the program ran: %s" % (sample, running))
    check(all(start == now for _, start, now in ended),
          "every register is back at its byte from before the start: %s" % ended)

    rc, out = r.harness("kvtlpeek.exe", "--args", "KVTL.CFG")
    check(rc == 0 and "exit 0" in out, "kvtlpeek.exe KVTL.CFG ended with 0")
    rows = preview_rows("\n".join(out))
    check(len(rows) == lines[sample], "a preview row for each line of %s: %s" % (sample, rows))
    writes = [l for l in out if l.startswith("out") and not l.startswith("out32 0cf8 ")]
    check(writes == [], "no port write but addresses to 0xCF8: %s" % writes[:5])

    for name in sorted(samples):
        rc, text = r.run("kvtlcheck.exe", "--json", "SAMPLES\\" + name)
        try:
            report = json.loads(text)
        except ValueError:
            check(False, "kvtlcheck.exe --json %s: status %d, %r" % (name, rc, text[:200]))
            continue
        kinds = [(row["line"], row["kinds"]) for row in report if row["kinds"]]
        first = report[0] if report else {}
        check(rc == 1 and kinds == [(1, COMMENT_KINDS)] and
              (first["reaches"]["bdf"], first["reaches"]["register"], first["written"]) ==
              ("00:00.0", 0, 0),
              "%s: kvtlcheck.exe warns on the comment only, a write of 00 to 00:00.0 00 "
              "(status %d): %s" % (name, rc, kinds))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--wine", required=True, help="wrapper that runs a Windows program")
    ap.add_argument("--harness", required=True)
    ap.add_argument("--infrastructure-exit", type=int,
                    help="the harness's status for a run Wine failed: passed on as it is")
    ap.add_argument("zip")
    args = ap.parse_args()

    top = os.path.splitext(os.path.basename(args.zip))[0]
    # Into the working folder, so that a failed run can be looked at.
    work = os.path.abspath("unpacked")
    shutil.rmtree(work, ignore_errors=True)
    with zipfile.ZipFile(args.zip) as z:
        z.extractall(work)
        samples = {n.split("/")[-1]: z.read(n) for n in z.namelist()
                   if n.startswith(top + "/SAMPLES/") and not n.endswith("/")}
    folder = os.path.join(work, top)
    r = Runner(args, folder)
    try:
        run_as_shipped(r, folder)
        if check(samples, "the package has samples"):
            run_with_samples(r, folder, samples)
    except WineFailed:
        print("the harness saw Wine fail, not the program")
        return args.infrastructure_exit

    if failures:
        print("%d check(s) failed; unpacked in %s" % (len(failures), folder))
        return 1
    print("release package OK: %s" % os.path.basename(args.zip))
    return 0


if __name__ == "__main__":
    sys.exit(main())
