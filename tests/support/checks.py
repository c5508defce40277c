"""What the Python test scripts share: the failures they collect, each
printed as it is found, the reading of kvtlpeek's preview rows, and a run of
a Wine program that cannot hang the test."""

import os
import re
import signal
import subprocess
import tempfile

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


def run_detached(args, cwd=None, stdout=None, timeout=240):
    """Status, output and error output of `args`, in a session of its own
    that is killed whole after `timeout` seconds. Files, not pipes: a Wine
    service that outlives the program would hold a pipe open, and reading it
    to its end would never finish. `stdout`: a file to write to instead (the
    output returned is then empty)."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        p = subprocess.Popen(args, cwd=cwd, stdout=stdout or out, stderr=err,
                             start_new_session=True)
        try:
            rc = p.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(p.pid, signal.SIGKILL)
            rc = p.wait()
        out.seek(0)
        err.seek(0)
        return rc, out.read(), err.read()
