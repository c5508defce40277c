"""What the Python test scripts share: the failures they collect, each
printed as it is found, and the reading of kvtlpeek's preview rows."""

import re

failures = []

# "  line  reaches  register  now  to be written  name": the register's
# name comes last and may hold spaces.
PREVIEW_ROW = re.compile(r"\s*\d+(?:-\d+)?\s+([0-9a-f]{2}:[0-9a-f]{2}\.[0-7])\s+([0-9a-f]{2})"
                         r"\s+([0-9a-f]{2})\s+([0-9a-f]{2})(?:\s.*)?")


def preview_rows(text):
    """kvtlpeek FILE's rows: (bdf, register, now, to be written)."""
    rows = []
    for line in text.splitlines():
        m = PREVIEW_ROW.fullmatch(line)
        if m:
            rows.append((m.group(1), int(m.group(2), 16), int(m.group(3), 16),
                         int(m.group(4), 16)))
    return rows


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)
    return ok
