#!/usr/bin/env python3
"""The release's files as a user gets them, without Wine: the ZIP, and the
1.44 MB FAT12 floppy image beside it read with mtools. No KVTL.CFG; the
programs, the read-mes and each examples/ file in SAMPLES, under 8.3 names;
every text with CR LF, README.TXT in ASCII and JAPANESE.TXT in code page
932, both headed by the release's version; each sample's first line a
comment without commas; the floppy the ZIP's files byte for byte.

    media_test.py [--mdir MDIR] [--mcopy MCOPY] EXAMPLES_DIR ZIP IMAGE
"""

import argparse
import os
import re
import struct
import subprocess
import sys
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../support"))
from checks import check, failures  # noqa: E402

PROGRAMS = ["sorvenka.exe", "kvtlpeek.exe", "kvtlcheck.exe"]
# read-me -> the code page it is read in on Windows 9x
READMES = {"README.TXT": "ascii", "JAPANESE.TXT": "cp932"}
DOS_NAME = re.compile(r"[A-Z0-9_-]{1,8}(\.[A-Z0-9_-]{1,3})?")
# For Windows 2000 and later only, where long names are at home.
LONG_NAMES = {"KVTLCHECK.EXE"}


def crlf_only(data):
    return data.endswith(b"\r\n") and data.count(b"\n") == data.count(b"\r\n") == data.count(b"\r")


def check_zip(z, top, samples, version):
    """The ZIP's files by their names below the top folder."""
    files = {n[len(top) + 1:]: z.read(n) for n in z.namelist() if not n.endswith("/")}
    check(all(n.startswith(top + "/") for n in z.namelist()), "one folder %s" % top)
    check(not [n for n in files if os.path.basename(n).upper() == "KVTL.CFG"],
          "no KVTL.CFG: a first start writes nothing")
    want = sorted(PROGRAMS + list(READMES) + ["SAMPLES/" + s for s in samples])
    check(sorted(files) == want, "the files %s: %s" % (want, sorted(files)))
    for name in files:
        for part in name.upper().split("/"):
            check(DOS_NAME.fullmatch(part) or part in LONG_NAMES, "%s is an 8.3 name" % name)

    # What is missing the list above has named.
    for name, codec in READMES.items():
        data = files.get(name)
        if data is None:
            continue
        check(crlf_only(data), "%s has CR LF line ends only" % name)
        try:
            text = data.decode(codec)
        except UnicodeDecodeError as e:
            check(False, "%s is not %s: %s" % (name, codec, e))
            continue
        check(text.startswith("Sorvenka Ver %s " % version),
              "%s starts with the version %s: %r" % (name, version, text[:40]))
        for sample in samples:
            check(sample in text, "%s names the sample %s" % (name, sample))
        if codec == "cp932":
            check(re.search(rb"[\x81-\x9F\xE0-\xFC][\x40-\xFC]", data) and not is_utf8(data),
                  "%s has Japanese text that is not UTF-8" % name)

    for sample in samples:
        data = files.get("SAMPLES/" + sample)
        if data is None:
            continue
        first = data.split(b"\r\n")[0]
        check(crlf_only(data), "%s has CR LF line ends only" % sample)
        # Without commas the line writes 00 to 00:00.0's vendor ID only.
        check(first.startswith(b";") and b"," not in first,
              "%s's first line is a comment without commas: %r" % (sample, first))
    return files


def is_utf8(data):
    try:
        data.decode("utf-8")
        return True
    except UnicodeDecodeError:
        return False


def check_floppy(args, files):
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

    listing = subprocess.run([args.mdir, "-i", args.image, "-/", "-b", "::"], capture_output=True,
                             text=True, check=True).stdout.split()
    on_disk = sorted(n[len("::/"):] for n in listing if not n.endswith("/"))
    want = sorted(n.upper() for n in files)
    check(on_disk == want, "the image holds the ZIP's files in capitals %s: %s" % (want, on_disk))
    for name, data in files.items():
        p = subprocess.run([args.mcopy, "-i", args.image, "::" + name.upper(), "-"],
                           capture_output=True)
        check(p.returncode == 0 and p.stdout == data,
              "%s on the image is the ZIP's %s byte for byte" % (name.upper(), name))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--mdir", default="mdir")
    ap.add_argument("--mcopy", default="mcopy")
    ap.add_argument("examples")
    ap.add_argument("zip")
    ap.add_argument("image")
    args = ap.parse_args()

    top = os.path.splitext(os.path.basename(args.zip))[0]
    version = re.fullmatch(r"sorvenka-(.+)-win32", top).group(1)
    samples = sorted(n.upper() for n in os.listdir(args.examples) if n.endswith(".cfg"))
    with zipfile.ZipFile(args.zip) as z:
        files = check_zip(z, top, samples, version)
    check_floppy(args, files)

    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("release media OK: %s, %s" % (os.path.basename(args.zip), os.path.basename(args.image)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
