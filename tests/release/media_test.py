#!/usr/bin/env python3
"""The floppy image beside the release ZIP: a 1.44 MB FAT12 disk holding
exactly SORVENKA.EXE, KVTLPEEK.EXE, KVTL.CFG and README.TXT, each the same
bytes as the ZIP's file (text files with CR LF only). Read with mtools."""

import argparse
import os
import struct
import subprocess
import sys
import zipfile

# 8.3 name on the disk -> name in the ZIP's folder
FILES = {"SORVENKA.EXE": "sorvenka.exe", "KVTLPEEK.EXE": "kvtlpeek.exe",
         "KVTL.CFG": "kvtl.cfg", "README.TXT": "readme.txt"}
TEXT = {"KVTL.CFG", "README.TXT"}

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../support"))
from checks import check, failures  # noqa: E402


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--mdir", default="mdir")
    ap.add_argument("--mcopy", default="mcopy")
    ap.add_argument("zip")
    ap.add_argument("image")
    args = ap.parse_args()

    with open(args.image, "rb") as f:
        image = f.read()
    check(len(image) == 1474560, "the image is 1,474,560 bytes: %d" % len(image))
    # The boot sector's BIOS parameter block of a 3.5" 1.44 MB disk.
    bps, spc, total, media = (struct.unpack_from("<H", image, 11)[0], image[13],
                              struct.unpack_from("<H", image, 19)[0], image[21])
    check((bps, spc, total, media) == (512, 1, 2880, 0xF0),
          "512-byte sectors, 1 per cluster, 2880 sectors, media F0: %r"
          % ((bps, spc, total, hex(media)),))
    check(image[54:62] == b"FAT12   ", "file system FAT12: %r" % image[54:62])

    listing = subprocess.run([args.mdir, "-i", args.image, "-b", "::"], capture_output=True,
                             text=True, check=True).stdout.split()
    names = sorted(n.split("/")[-1] for n in listing)
    check(names == sorted(FILES), "the image holds exactly %s: %s" % (sorted(FILES), names))

    top = os.path.splitext(os.path.basename(args.zip))[0]
    with zipfile.ZipFile(args.zip) as z:
        for disk_name, zip_name in FILES.items():
            p = subprocess.run([args.mcopy, "-i", args.image, "::" + disk_name, "-"],
                               capture_output=True)
            if not check(p.returncode == 0, "%s reads from the image" % disk_name):
                continue
            data = p.stdout
            check(data == z.read(top + "/" + zip_name),
                  "%s is the ZIP's %s byte for byte" % (disk_name, zip_name))
            if disk_name in TEXT:
                check(data.endswith(b"\r\n") and
                      data.count(b"\n") == data.count(b"\r\n") == data.count(b"\r"),
                      "%s has CR LF line ends only" % disk_name)

    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("floppy image OK: %s" % os.path.basename(args.image))
    return 0


if __name__ == "__main__":
    sys.exit(main())
