"""What the Python test scripts share: the failures they collect, each
printed as it is found, and the reading of kvtlpeek's preview rows."""

import re

failures = []

# "line  reaches  reg  now  new  name", each value under its heading: the
# line column as wide as its widest numbers; the register's name comes last
# and may hold spaces. The restore's rows have no "new" and do not match.
PREVIEW_ROW = re.compile(r"\d+(?:-\d+)? +([0-9a-f]{2}:[0-9a-f]{2}\.[0-7])  ([0-9a-f]{2})"
                         r"   ([0-9a-f]{2})   ([0-9a-f]{2})   \S.*")


def preview_rows(text):
    """kvtlpeek FILE's rows: (bdf, register, now, new)."""
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
