#!/usr/bin/env python3
"""The README's settings lines against the built kvtlcheck, on its virtual
440BX board: every line it shows as something to write passes silently;
a line in a sentence that speaks of a warning warns; and an output it
quotes is the checker's output, to the letter.

    readme_lines.py KVTLCHECK README.md
"""
import json
import os
import re
import subprocess
import sys
import tempfile

SETTING = r"[0-9A-Fa-f]{1,3}(?:,[0-9A-Fa-f]{1,4}){1,3}"


def code_blocks(text):
    """Runs of lines indented by four spaces, without the indent."""
    blocks, block = [], []
    for line in text.splitlines() + [""]:
        if line.startswith("    "):
            block.append(line[4:])
        elif block and line.strip():
            block = []
        elif block:
            blocks.append(block)
            block = []
    return blocks


def main():
    tool, readme = os.path.abspath(sys.argv[1]), sys.argv[2]
    with open(readme, encoding="utf-8") as f:
        text = f.read()
    tmp = tempfile.mkdtemp(prefix="readme-lines-")
    failures = []

    def run(lines, *argv):
        with open(os.path.join(tmp, "kvtl.cfg"), "w", newline="\n") as f:
            f.write("".join(l + "\n" for l in lines))
        p = subprocess.run([tool, *argv, "kvtl.cfg"], cwd=tmp, capture_output=True, text=True)
        return p.returncode, p.stdout

    def warnings(lines):
        rc, out = run(lines, "--json")
        return rc, [w for row in json.loads(out) for w in row["warnings"]]

    checked = 0
    for block in code_blocks(text):
        if re.match(r"kvtl\.cfg: \d+ lines? applied$", block[0]):
            shown = [m.group(1) for m in (re.match(r"\s+\d+(?:-\d+)?  (\S+)\\n  ", l)
                                         for l in block) if m]
            rc, out = run(shown, "--no-color")
            if out.splitlines() != block:
                failures.append("the quoted output of %s is not kvtlcheck's:\n%s" % (shown, out))
            checked += 1
            continue
        lines = [l.strip() for l in block if re.fullmatch(SETTING, l.strip())]
        if lines:
            rc, warned = warnings(lines)
            if rc != 0 or warned:
                failures.append("%s: exit %d, %s" % (lines, rc, warned))
            checked += 1
    for sentence in re.split(r"(?<=[.;])\s+|\n\s*\n", text):
        for line in re.findall(r"`(%s)`" % SETTING, sentence):
            rc, warned = warnings([line])
            if ("warn" in sentence) != bool(warned):
                failures.append("%s: %s" % (line, warned or "no warning, but its sentence "
                                            "speaks of one"))
            checked += 1

    for f in failures:
        print("FAIL:", f)
    print("%d README lines and blocks, %d failure(s)" % (checked, len(failures)))
    return 1 if failures or not checked else 0


if __name__ == "__main__":
    sys.exit(main())
