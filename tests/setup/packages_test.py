#!/usr/bin/env python3
"""scripts/packages.py against a stand-in apt-get and dpkg-query on PATH that
answer as a mirror did: healthy, syncing for a while, syncing through the
whole set-up (an i386 index of the security suite unread, 2026-12-09), or
without an index that the packages need. No network."""

import json
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..")
sys.path.insert(0, os.path.join(HERE, "../support"))
from checks import check, failures  # noqa: E402

MIRROR = "http://deb.example/debian"


def unread(suite, arch):
    """apt-get update's words for an index of a mirror in the middle of a sync."""
    url = "%s/dists/%s/main/binary-%s/Packages.xz" % (MIRROR, suite, arch)
    return (100, "Get:1 %s/dists/%s InRelease [34.8 kB]\n"
                 "Err:8 %s %s/main %s Packages\n"
                 "  File has unexpected size (374820 != 376004). Mirror sync in progress?\n"
                 "E: Failed to fetch %s  File has unexpected size (374820 != 376004). "
                 "Mirror sync in progress?\n"
                 "E: Some index files failed to download. They have been ignored, or old ones "
                 "used instead.\n" % (MIRROR, suite, url, suite, arch, url))


OK = (0, "Reading package lists...\n")
SECURITY_I386 = unread("bookworm-security", "i386")
MAIN_I386 = unread("bookworm", "i386")
BROKEN = (100, "Some packages could not be installed. This may mean that you have\n"
               "The following packages have unmet dependencies:\n"
               " libwine:i386 : Depends: libgnutls30:i386 (>= 3.7.2) but it is not going to be "
               "installed\n"
               "E: Unable to correct problems, you have held broken packages.\n")
NO_SOURCE = (100, "E: Unable to locate package wine32:i386\n")
DOWNLOAD = (100, "E: Failed to fetch %s/pool/main/w/wine/libwine_8.0_i386.deb  404  Not Found\n"
            % MIRROR)
# Installs only when the suite whose i386 index was unread is pinned below
# the others, as apt did by hand on the day.
CONSISTENT_WHEN_PINNED = "consistent when pinned"

FAKE = r'''#!/usr/bin/env python3
import json, os, sys
scenario = json.load(open(os.environ["FAKE_APT"]))
log = os.environ["FAKE_APT"] + ".calls"
calls = [json.loads(l) for l in open(log)] if os.path.exists(log) else []
args = sys.argv[1:]
with open(log, "a") as f:
    f.write(json.dumps([os.path.basename(sys.argv[0])] + args) + "\n")
if sys.argv[0].endswith("dpkg-query"):
    if args[-1] in scenario["installed"]:
        print("install ok installed", end="")
    sys.exit(0 if args[-1] in scenario["installed"] else 1)
verb = "update" if "update" in args else "install"
answers = scenario[verb]
n = sum(1 for c in calls if c[0] == "apt-get" and verb in c)
rc, out = answers[min(n, len(answers) - 1)]
if out == "consistent when pinned":
    pref = [a.split("=", 1)[1] for a in args if a.startswith("Dir::Etc::Preferences=")]
    text = open(pref[0]).read() if pref else ""
    pinned = "Pin: release n=bookworm-security\nPin-Priority: 100" in text
    rc, out = (0, "Setting up wine\n") if pinned else scenario["broken"]
sys.stdout.write(out)
sys.exit(rc)
'''

WANTED = ["wine", "wine32:i386"]

# name, installed, answers to update, answers to install, status, the apt-get
# calls in order (u: update, i: install, p: install with a preferences
# file), words the output must hold
CASES = [
    ("everything installed", WANTED, [OK], [OK], 0, "", []),
    ("a healthy mirror", [], [OK], [OK], 0, "ui", ["installing 2 packages: wine wine32:i386",
                                                    "installed 2 packages"]),
    ("a sync that ends between two tries", [], [SECURITY_I386, OK], [OK], 0, "uui",
     ["could not read bookworm-security/main i386; trying again (2 of 3)"]),
    ("an unread index that the install does not need", [], [SECURITY_I386], [OK], 0, "uuui",
     ["after 3 tries; going on without it", "installed 2 packages"]),
    ("the mirror of 2026-12-09: versions mixed across architectures", [], [SECURITY_I386],
     [BROKEN, (0, CONSISTENT_WHEN_PINNED)], 0, "uuuip",
     ["installing again with bookworm-security at priority 100",
      "installed 2 packages, with bookworm-security at priority 100"]),
    ("no consistent set of versions", [], [SECURITY_I386], [BROKEN], 1, "uuuip",
     ["error: no consistent set of versions for wine wine32:i386 without "
      "bookworm-security/main i386"]),
    ("an unread index that the install needs", [], [MAIN_I386], [NO_SOURCE], 1, "uuui",
     ["error: no source for wine32:i386; the mirror did not give bookworm/main i386"]),
    ("a broken install on a healthy mirror is not pinned", [], [OK], [BROKEN], 1, "ui",
     ["error: apt-get install failed: Unable to correct problems"]),
    ("a download that fails once", [], [OK], [DOWNLOAD, OK], 0, "uii",
     ["a download failed", "trying the install again (2 of 3)"]),
]


def main():
    tmp = tempfile.mkdtemp(prefix="packages-test-")
    bin_dir = os.path.join(tmp, "bin")
    os.mkdir(bin_dir)
    for tool in ("apt-get", "dpkg-query"):
        path = os.path.join(bin_dir, tool)
        with open(path, "w") as f:
            f.write(FAKE)
        os.chmod(path, 0o755)
    failed_cases = 0
    for i, (name, installed, update, install, status, calls, words) in enumerate(CASES):
        before = len(failures)
        scenario = os.path.join(tmp, "scenario%d.json" % i)
        with open(scenario, "w") as f:
            json.dump({"installed": installed, "update": update, "install": install,
                       "broken": BROKEN}, f)
        env = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ["PATH"], FAKE_APT=scenario,
                   SORVENKA_APT_RETRY_SECONDS="0", SORVENKA_APT_ATTEMPTS="3")
        p = subprocess.run([sys.executable, os.path.join(ROOT, "scripts/packages.py"), *WANTED],
                           env=env, capture_output=True, text=True)
        said = p.stdout + p.stderr
        seen = ""
        if os.path.exists(scenario + ".calls"):
            for c in map(json.loads, open(scenario + ".calls")):
                if c[0] == "apt-get":
                    seen += "u" if "update" in c else "p" if any(
                        a.startswith("Dir::Etc::Preferences=") for a in c) else "i"
        check(p.returncode == status, "%s: status %d, expected %d:\n%s" %
              (name, p.returncode, status, said))
        check(seen == calls, "%s: apt-get calls %r, expected %r" % (name, seen, calls))
        for w in words:
            check(w in said, "%s: the output lacks %r:\n%s" % (name, w, said))
        # One line a step, each the set-up's own.
        check(all(l.startswith("setup: ") for l in said.splitlines()),
              "%s: a line that is not the set-up's:\n%s" % (name, said))
        failed_cases += len(failures) > before
    print("packages: %d passed, %d failed" % (len(CASES) - failed_cases, failed_cases))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
