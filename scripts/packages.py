#!/usr/bin/env python3
"""Installs the Debian packages named on the command line that are missing,
and copes with a mirror caught in the middle of a sync.

    scripts/packages.py PACKAGE...

Each step is one line on standard output, "setup: ...". What it does:
1. nothing, when every package is installed already;
2. apt-get update, tried again when an index could not be read (a mirror
   that is syncing serves an index whose size does not match its Release
   file for a few minutes); after the last try it goes on without the
   indexes it could not read and names them;
3. apt-get install; when that fails because apt cannot find one version of
   a Multi-Arch: same library for both architectures (the amd64 candidate
   comes from a suite whose i386 index was not read), it installs again with
   those suites at priority 100 for this one command, so that apt takes a
   version that both architectures have from the suites it could read;
4. a download that fails in the middle of the install is tried again.
It fails with one clear line only when a package has no source left, or when
no consistent set of versions can be had.

Environment: SORVENKA_APT_ATTEMPTS (default 3) and SORVENKA_APT_RETRY_SECONDS
(default 10) bound the tries of steps 2 and 4."""

import os
import re
import subprocess
import sys
import tempfile

ATTEMPTS = int(os.environ.get("SORVENKA_APT_ATTEMPTS", "3"))
PAUSE = float(os.environ.get("SORVENKA_APT_RETRY_SECONDS", "10"))

# "E: Failed to fetch http://HOST/debian-security/dists/bookworm-security/main/
#  binary-i386/Packages.xz  File has unexpected size ..." (W: for some errors)
FAILED_INDEX = re.compile(r"^[EW]: Failed to fetch (\S+/dists/(\S+?)/(\S+?)/binary-(\S+?)/\S+)")
FAILED_RELEASE = re.compile(r"^[EW]: Failed to fetch (\S+/dists/(\S+?)/(?:In)?Release)\b")
FAILED_DOWNLOAD = re.compile(r"^E: Failed to fetch \S+/pool/")
NO_SOURCE = re.compile(r"^E: (?:Unable to locate package (\S+)|Package '(\S+)' has no installation candidate)")
BROKEN = re.compile(r"held broken packages|Unmet dependencies|unmet dependencies")


def say(line):
    print("setup: " + line, flush=True)


def fail(line):
    print("setup: error: " + line, file=sys.stderr, flush=True)
    sys.exit(1)


def apt(*args):
    """apt-get with a fixed language, so that its messages can be read."""
    env = dict(os.environ, LC_ALL="C", LANG="C", DEBIAN_FRONTEND="noninteractive")
    p = subprocess.run(["apt-get", *args], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return p.returncode, p.stdout


def pause():
    if PAUSE > 0:
        import time
        time.sleep(PAUSE)


def missing(packages):
    out = []
    for p in packages:
        r = subprocess.run(["dpkg-query", "-W", "-f=${Status}", p], capture_output=True, text=True)
        if "install ok installed" not in r.stdout:
            out.append(p)
    return out


class Index:
    """One index apt-get update could not read: a suite's component and
    architecture, or a whole suite when its Release file failed."""

    def __init__(self, suite, component=None, arch=None):
        self.suite, self.component, self.arch = suite, component, arch

    def __str__(self):
        if self.component is None:
            return "%s (its Release file)" % self.suite
        return "%s/%s %s" % (self.suite, self.component, self.arch)

    def key(self):
        return (self.suite, self.component, self.arch)


def failed_indexes(output):
    found = {}
    for line in output.splitlines():
        m = FAILED_INDEX.match(line)
        if m:
            i = Index(m.group(2), m.group(3), m.group(4))
        else:
            m = FAILED_RELEASE.match(line)
            if not m:
                continue
            i = Index(m.group(2))
        found[i.key()] = i
    return list(found.values())


def update():
    """apt-get update, tried again while indexes fail; returns the indexes
    that still failed after the last try."""
    failed = []
    for attempt in range(1, ATTEMPTS + 1):
        rc, out = apt("update")
        failed = failed_indexes(out)
        if rc == 0 and not failed:
            return []
        what = ", ".join(map(str, failed)) or "no index named; " + last_error(out)
        if attempt < ATTEMPTS:
            say("apt-get update could not read %s; trying again (%d of %d) in %g s"
                % (what, attempt + 1, ATTEMPTS, PAUSE))
            pause()
        else:
            say("apt-get update could not read %s after %d tries; going on without it"
                % (what, ATTEMPTS))
    return failed


def last_error(output):
    errors = [l for l in output.splitlines() if l.startswith("E: ")]
    return errors[-1][3:] if errors else (output.strip().splitlines() or ["no output"])[-1]


def preferences(suites):
    """A preferences file that puts these suites below every other source:
    apt then takes a version of each package that the other suites have
    for every architecture."""
    f = tempfile.NamedTemporaryFile("w", prefix="sorvenka-apt-", suffix=".pref", delete=False)
    with f:
        for s in suites:
            # The Release file names the suite by codename (n=) or by class (a=).
            for field in ("n", "a"):
                f.write("Package: *\nPin: release %s=%s\nPin-Priority: 100\n\n" % (field, s))
    return f.name


def install(packages, pin_file=None):
    """apt-get install, with downloads that fail tried again; returns apt's
    status and output."""
    options = ["-o", "Dir::Etc::Preferences=" + pin_file] if pin_file else []
    for attempt in range(1, ATTEMPTS + 1):
        rc, out = apt(*options, "install", "-y", "-q", "--no-install-recommends", *packages)
        if rc == 0 or not any(FAILED_DOWNLOAD.match(l) for l in out.splitlines()):
            return rc, out
        if attempt < ATTEMPTS:
            say("a download failed (%s); trying the install again (%d of %d) in %g s"
                % (last_error(out), attempt + 1, ATTEMPTS, PAUSE))
            pause()
    return rc, out


def no_source(output):
    names = []
    for line in output.splitlines():
        m = NO_SOURCE.match(line)
        if m:
            names.append(m.group(1) or m.group(2))
    return names


def main(packages):
    if not packages:
        print(__doc__, file=sys.stderr)
        return 2
    wanted = missing(packages)
    if not wanted:
        return 0
    say("installing %d packages: %s" % (len(wanted), " ".join(wanted)))
    failed = update()
    rc, out = install(wanted)
    if rc == 0:
        say("installed %d packages" % len(wanted))
        return 0
    unread = ", ".join(map(str, failed))
    lacking = no_source(out)
    if lacking:
        fail("no source for %s%s" % (" ".join(lacking), "; the mirror did not give " + unread +
                                      ": try again later" if failed else ""))
    suites = sorted({i.suite for i in failed})
    if not BROKEN.search(out) or not suites:
        fail("apt-get install failed: %s" % last_error(out))
    say("apt cannot take one version for both architectures while %s is unread; installing "
        "again with %s at priority 100" % (unread, " and ".join(suites)))
    pin_file = preferences(suites)
    try:
        rc, out = install(wanted, pin_file)
    finally:
        os.unlink(pin_file)
    if rc != 0:
        fail("no consistent set of versions for %s without %s: %s; try again when the mirror "
             "has synced" % (" ".join(wanted), unread, last_error(out)))
    say("installed %d packages, with %s at priority 100" % (len(wanted), " and ".join(suites)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
