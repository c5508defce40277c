#!/usr/bin/env python3
"""Static checks of the built kvtlpeek.exe: a Windows 95 console program of
at most 32 KiB that imports exactly the table below, with no TLS, no
relocations and no other data directory, whose only OUT instruction form is
the 32-bit one (configuration addresses to 0xCF8: no byte or word ever goes
out, so no write of a configuration byte can hide in a narrow OUT).

    kvtlpeek_exe.py OBJDUMP EXE
"""
import os
import re
import subprocess
import sys

import pefile

MAX_FILE_SIZE = 32 * 1024
HEADER = {
    "Machine": 0x14C,
    "Magic": 0x10B,
    "Subsystem": 3,  # Windows console
    "MajorSubsystemVersion": 4,
    "MinorSubsystemVersion": 0,
    "MajorOperatingSystemVersion": 4,
    "ImageBase": 0x400000,
}
DIRECTORIES_ALLOWED = {"IMAGE_DIRECTORY_ENTRY_IMPORT", "IMAGE_DIRECTORY_ENTRY_IAT"}
# Each one checked by hand against the Windows 95 export tables.
IMPORTS = {
    "KERNEL32.dll": {"GetVersion", "GetCommandLineA", "GetStdHandle", "WriteFile", "CreateFileA",
                     "ReadFile", "CloseHandle", "DeleteFileA", "SetUnhandledExceptionFilter",
                     "ExitProcess"},
    "USER32.dll": {"wsprintfA", "wvsprintfA"},
}
OUT_ALLOWED = "out    %eax,(%dx)"

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../support"))
from checks import check, failures  # noqa: E402


def main():
    objdump, exe = sys.argv[1:3]
    with open(exe, "rb") as f:
        size = len(f.read())
    print("kvtlpeek.exe: %d bytes" % size)
    check(size <= MAX_FILE_SIZE, "size %d bytes, at most %d" % (size, MAX_FILE_SIZE))

    pe = pefile.PE(exe)
    fields = {"Machine": pe.FILE_HEADER.Machine}
    for key in HEADER:
        if key != "Machine":
            fields[key] = getattr(pe.OPTIONAL_HEADER, key)
    for key, want in HEADER.items():
        check(fields[key] == want, "%s is %#x, expected %#x" % (key, fields[key], want))
    for d in pe.OPTIONAL_HEADER.DATA_DIRECTORY:
        check(d.Size == 0 or d.name in DIRECTORIES_ALLOWED, "data directory %s present" % d.name)

    imports = {}
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        imports[entry.dll.decode()] = {i.name.decode() for i in entry.imports if i.name}
    print("imports:", {k: sorted(v) for k, v in sorted(imports.items())})
    check(imports == IMPORTS, "imports %s, expected %s" % (imports, IMPORTS))

    code = subprocess.run([objdump, "-d", exe], capture_output=True, text=True, check=True).stdout
    outs = re.findall(r"\t(out[a-z]*\s+[^\n]*?)\s*$", code, re.M)
    check(outs != [], "the disassembly shows OUT instructions at all")
    for insn in outs:
        check(insn == OUT_ALLOWED, "an OUT other than the 32-bit one: %s" % insn)

    print("%d failure(s)" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
