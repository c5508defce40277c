#!/usr/bin/env python3
"""Unpacks the release ZIP as a Windows user would and checks it: exactly
sorvenka.exe, kvtlpeek.exe, kvtl.cfg and readme.txt in one folder; kvtl.cfg and the read-me
with CR LF line ends; the read-me in code page 932 with the text of
dist/readme.txt. Then runs the packaged sorvenka.exe in that folder, with
the packaged kvtl.cfg, under the harness on the virtual chipset: the settings
must take effect, Exit from the menu must put every byte back, and the
program must end with exit code 0. The packaged kvtlpeek.exe previews the
packaged kvtl.cfg there, touching no configuration byte."""

import argparse
import os
import re
import shutil
import subprocess
import sys
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../support"))
from checks import check, failures, preview_rows  # noqa: E402


def crlf_only(data):
    return data.endswith(b"\r\n") and data.count(b"\n") == data.count(b"\r\n") == data.count(b"\r")


def registers(lines):
    """("00:07.1 48", start, now) per "register" line of the harness."""
    out = []
    for line in lines:
        m = re.fullmatch(r"register (\S+ \S+) start (\S+) now (\S+)", line)
        if m:
            out.append(m.groups())
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--wine", required=True, help="wrapper that runs a Windows program")
    ap.add_argument("--harness", required=True)
    ap.add_argument("--readme-source", required=True)
    ap.add_argument("--infrastructure-exit", type=int,
                    help="the harness's status for a run Wine failed: passed on as it is")
    ap.add_argument("zip")
    args = ap.parse_args()

    top = os.path.splitext(os.path.basename(args.zip))[0]
    with zipfile.ZipFile(args.zip) as z:
        files = sorted(n for n in z.namelist() if not n.endswith("/"))
        check(files == [top + "/kvtl.cfg", top + "/kvtlpeek.exe", top + "/readme.txt",
                        top + "/sorvenka.exe"],
              "the ZIP holds one folder %s with the four files: %s" % (top, files))
        # Into the working folder, so that a failed run can be looked at.
        work = os.path.abspath("unpacked")
        shutil.rmtree(work, ignore_errors=True)
        z.extractall(work)
    folder = os.path.join(work, top)

    def read(name):
        path = os.path.join(folder, name)
        if not check(os.path.isfile(path), name + " is in the package"):
            return b""
        with open(path, "rb") as f:
            return f.read()

    cfg = read("kvtl.cfg")
    check(cfg and crlf_only(cfg), "kvtl.cfg has CR LF line ends only: %r" % cfg[:80])

    readme = read("readme.txt")
    with open(args.readme_source, encoding="utf-8") as f:
        source = f.read()
    check(crlf_only(readme), "readme.txt has CR LF line ends only")
    try:
        text = readme.decode("cp932")
    except UnicodeDecodeError as e:
        check(False, "readme.txt is not code page 932: %s" % e)
        text = ""
    check(text == source.replace("\n", "\r\n"), "readme.txt is dist/readme.txt in code page 932")
    check(any(ord(c) > 0x7F for c in text) and readme != text.encode("utf-8"),
          "readme.txt has Japanese text that is not UTF-8")

    exe = os.path.join(folder, "sorvenka.exe")
    if not check(os.path.isfile(exe), "sorvenka.exe is in the package"):
        return 1
    cmd = [args.wine, args.harness, "--cwd", folder, "--timeout", "60000",
           "--drive", "window;registers;cmd IDM_EXIT;exit;registers", exe]
    p = subprocess.run(cmd, capture_output=True, timeout=240)
    out = p.stdout.decode("ascii", "replace").replace("\r", "").splitlines()
    print("\n".join(out))
    if args.infrastructure_exit is not None and p.returncode == args.infrastructure_exit:
        print("the harness saw Wine fail, not the program")
        return p.returncode
    check(p.returncode == 0, "the harness ran every step (status %d)" % p.returncode)
    check("exit 0" in out, "sorvenka.exe ended with exit code 0")
    check(not any(l.startswith("exception") for l in out), "no exception reached the program")

    regs = registers(out)
    half = len(regs) // 2
    running, ended = regs[:half], regs[half:]
    check(half > 0 and len(regs) == 2 * half and [r[0] for r in running] == [r[0] for r in ended],
          "each written register listed while running and after the end: %s" % regs)
    check(any(start != now for _, start, now in running),
          "the packaged kvtl.cfg changed a register while the program ran: %s" % running)
    check(all(start == now for _, start, now in ended),
          "every register is back at its byte from before the start: %s" % ended)

    # The preview: a row per line of the file, and no port write but the
    # configuration addresses to 0xCF8.
    peek = os.path.join(folder, "kvtlpeek.exe")
    if check(os.path.isfile(peek), "kvtlpeek.exe is in the package"):
        cmd = [args.wine, args.harness, "--cwd", folder, "--timeout", "60000",
               "--args", "kvtl.cfg", peek]
        p = subprocess.run(cmd, capture_output=True, timeout=240)
        out = p.stdout.decode("ascii", "replace").replace("\r", "").splitlines()
        print("\n".join(out))
        check(p.returncode == 0 and "exit 0" in out, "kvtlpeek.exe kvtl.cfg ended with 0")
        rows = [r for r in preview_rows("\n".join(out)) if r[:2] in (("00:07.1", 0x48), ("00:07.1", 0x4A))]
        check(len(rows) == 2, "a row for each of the two lines of kvtl.cfg: %s" % rows)
        writes = [l for l in out if l.startswith("out") and not l.startswith("out32 0cf8 ")]
        check(writes == [], "no port write but addresses to 0xCF8: %s" % writes[:5])

    if failures:
        print("%d check(s) failed; unpacked in %s" % (len(failures), folder))
        return 1
    print("release package OK: %s" % os.path.basename(args.zip))
    return 0


if __name__ == "__main__":
    sys.exit(main())
