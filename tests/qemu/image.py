#!/usr/bin/env python3
"""Builds the test guest once: a Debian 12 root by debootstrap from the
mirror apt is configured with, Linux and its initrd, 32-bit Wine, pciutils,
the iopl wrapper and a Wine prefix (made in a first boot). Kept under
build/qemu/image-<hash of this recipe>/, rebuilt only when the recipe
changes.

    tests/qemu/image.py [--build-dir DIR]    prints the image directory
"""
import argparse
import fcntl
import glob
import hashlib
import os
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import vm  # noqa: E402

# The recipe: these, and the files the guest gets. Raise RECIPE_VERSION when
# build() changes what lands in the image.
RECIPE_VERSION = 1
SUITE = "bookworm"
PACKAGES = ["linux-image-amd64", "initramfs-tools", "kmod", "pciutils", "wine",
            "wine32:i386", "wine32-preloader:i386"]
RECIPE_FILES = ["iopl_exec.c", "guest-init.sh"]


def recipe_hash():
    h = hashlib.sha256(repr((RECIPE_VERSION, SUITE, PACKAGES)).encode())
    for name in RECIPE_FILES:
        with open(os.path.join(HERE, name), "rb") as f:
            h.update(name.encode() + b"\0" + f.read() + b"\0")
    return h.hexdigest()[:16]


def debian_mirror():
    """The URI apt uses for the Debian suite, from its sources (one-line
    and deb822 forms)."""
    entries = []
    files = glob.glob("/etc/apt/sources.list") + sorted(glob.glob("/etc/apt/sources.list.d/*.list"))
    for path in files:
        with open(path) as f:
            for line in f:
                m = re.match(r"\s*deb\s+(?:\[[^]]*\]\s+)?(\S+)\s+(\S+)", line)
                if m:
                    entries.append((m.group(1), [m.group(2)]))
    for path in sorted(glob.glob("/etc/apt/sources.list.d/*.sources")):
        with open(path) as f:
            for stanza in re.split(r"\n\s*\n", f.read()):
                fields = {}
                for line in stanza.splitlines():
                    if line.startswith("#") or ":" not in line:
                        continue
                    k, v = line.split(":", 1)
                    fields[k.strip().lower()] = v.split()
                if "deb" in fields.get("types", []) and fields.get("enabled", ["yes"]) != ["no"]:
                    for uri in fields.get("uris", []):
                        entries.append((uri, fields.get("suites", [])))
    for uri, suites in entries:
        if SUITE in suites:
            return uri
    sys.exit(f"image: no apt source for Debian {SUITE} in /etc/apt")


def run(*cmd, **kw):
    subprocess.run(cmd, check=True, **kw)


def chroot(root, *cmd, log=None):
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive", LC_ALL="C.UTF-8", LANG="C.UTF-8",
               PATH="/usr/sbin:/usr/bin:/sbin:/bin")
    run("chroot", root, *cmd, env=env, stdout=log, stderr=subprocess.STDOUT)


def build_root(root, mirror, log):
    run("debootstrap", "--variant=minbase", "--arch=amd64", SUITE, root, mirror,
        stdout=log, stderr=subprocess.STDOUT)
    with open(os.path.join(root, "etc/apt/sources.list"), "w") as f:
        f.write(f"deb {mirror} {SUITE} main\n")
    # No services start inside the chroot.
    policy = os.path.join(root, "usr/sbin/policy-rc.d")
    with open(policy, "w") as f:
        f.write("#!/bin/sh\nexit 101\n")
    os.chmod(policy, 0o755)
    mounts = []
    try:
        for src, dst, kind in (("proc", "proc", "proc"), ("sysfs", "sys", "sysfs"), ("/dev", "dev", None)):
            target = os.path.join(root, dst)
            if kind:
                run("mount", "-t", kind, src, target)
            else:
                run("mount", "--bind", src, target)
            mounts.append(target)
        chroot(root, "dpkg", "--add-architecture", "i386", log=log)
        chroot(root, "apt-get", "update", "-qq", log=log)
        chroot(root, "apt-get", "install", "-y", "-qq", "--no-install-recommends", *PACKAGES, log=log)
        chroot(root, "apt-get", "clean", log=log)
    finally:
        for target in reversed(mounts):
            subprocess.run(["umount", "-l", target])
    os.remove(policy)


def build(out_dir):
    if os.geteuid() != 0:
        sys.exit("image: building the guest needs root (debootstrap, chroot, mount); "
                 "run as root, or skip the tier with SORVENKA_SKIP_QEMU=1")
    t0 = time.monotonic()
    tmp = out_dir + ".tmp"
    shutil.rmtree(tmp, ignore_errors=True)
    root = os.path.join(tmp, "root")
    os.makedirs(root)
    mirror = debian_mirror()
    print(f"image: building {out_dir} from {mirror}", flush=True)
    with open(os.path.join(tmp, "build.log"), "w") as log:
        build_root(root, mirror, log)
    run("gcc", "-O2", "-static", "-o", os.path.join(root, "usr/local/bin/iopl-exec"),
        os.path.join(HERE, "iopl_exec.c"))
    shutil.copy(os.path.join(HERE, "guest-init.sh"), os.path.join(root, "sbin/sorvenka-init"))
    os.chmod(os.path.join(root, "sbin/sorvenka-init"), 0o755)
    kernel = sorted(glob.glob(os.path.join(root, "boot/vmlinuz-*")))[-1]
    initrd = sorted(glob.glob(os.path.join(root, "boot/initrd.img-*")))[-1]
    shutil.copy(kernel, os.path.join(tmp, "vmlinuz"))
    shutil.copy(initrd, os.path.join(tmp, "initrd.img"))
    used = int(subprocess.run(["du", "-sm", root], check=True, capture_output=True,
                              text=True).stdout.split()[0])
    size = used + used // 2 + 512
    run("mkfs.ext4", "-q", "-F", "-L", "sorvenka", "-d", root,
        os.path.join(tmp, "root.ext4"), f"{size}M")
    shutil.rmtree(root)
    t1 = time.monotonic()
    print(f"image: root, kernel and ext4 image in {t1 - t0:.0f} s", flush=True)
    text = vm.boot(tmp, "pc", "prepare", snapshot=False, log=os.path.join(tmp, "prepare.log"))
    if "prefix ready" not in text:
        sys.exit(f"image: the first boot did not make the Wine prefix:\n{text[-3000:]}")
    print(f"image: Wine prefix made in the first boot in {time.monotonic() - t1:.0f} s", flush=True)
    os.rename(tmp, out_dir)
    print(f"image: built in {time.monotonic() - t0:.0f} s", flush=True)


def ensure(base):
    """The image directory under BASE, built first when missing."""
    base = os.path.abspath(base)
    os.makedirs(base, exist_ok=True)
    out_dir = os.path.join(base, "image-" + recipe_hash())
    with open(os.path.join(base, ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not os.path.exists(os.path.join(out_dir, "root.ext4")):
            for old in glob.glob(os.path.join(base, "image-*")):
                shutil.rmtree(old, ignore_errors=True)
            build(out_dir)
        else:
            print(f"image: cached {out_dir}", flush=True)
    return out_dir


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build-dir", default=os.path.join(HERE, "..", "..", "build", "qemu"))
    print(ensure(ap.parse_args().build_dir))


if __name__ == "__main__":
    main()
