#!/usr/bin/env python3
"""What a Windows 95/98/Me PC with a 486 would refuse in a built program.

    check_9x.py isa    [--objdump PATH] [--expect TEXT ...] [--expect-count N] FILE
    check_9x.py loader [--exports DIR]  [--expect TEXT ...] [--expect-count N] FILE

isa: disassembles FILE (an executable or an object) and reports every
instruction a 486 lacks. loader: reads the PE header as the Windows 95 loader
does and checks every import against the Windows 95 export tables.

Without --expect the check passes when it finds nothing. With --expect it
passes only when it finds something and every TEXT occurs in some finding
(and, with --expect-count N, when it finds exactly N things):
that is how a program known not to be a 9x program (or a fixture full of
forbidden instructions) shows that the check can fail.
"""
import argparse
import os
import re
import subprocess
import sys

import pefile

HERE = os.path.dirname(os.path.abspath(__file__))

# --- instructions ------------------------------------------------------------

# Mnemonics (as objdump prints them, AT&T syntax) a 486 does not have: the
# Pentium's, the Pentium Pro's and everything later that a compiler emits.
NOT_486 = [
    (r"cmov\w+", "CMOVcc (Pentium Pro)"),
    (r"fcmov\w+", "FCMOVcc (Pentium Pro)"),
    (r"fu?comip?", "FCOMI/FUCOMI (Pentium Pro)"),
    (r"cpuid", "CPUID (late 486s only; not to be relied on)"),
    (r"rdtscp?", "RDTSC (Pentium)"),
    (r"rdpmc", "RDPMC (Pentium Pro)"),
    (r"cmpxchg8b", "CMPXCHG8B (Pentium)"),
    (r"sys(enter|exit|call|ret)", "SYSENTER/SYSCALL (Pentium II, K6)"),
    (r"endbr(32|64)", "ENDBR (CET)"),
    (r"(l|m|s)fence|clflush\w*|prefetch\w*|movnt\w+|(ld|st)mxcsr|fx(save|rstor)\w*|"
     r"fisttp\w*|popcnt|lzcnt|tzcnt|crc32\w*|movbe|rdrand|rdseed|emms|femms",
     "SSE-era instruction"),
]
NOT_486_RE = [(re.compile(rf"^(?:{pattern})$"), what) for pattern, what in NOT_486]
SIMD_REGISTER = re.compile(r"%(mm|xmm|ymm|zmm)\d+")
# objdump: "  401000:\t0f 1f 40 00          \tnopl   0x0(%eax)"
INSN_LINE = re.compile(r"^\s*([0-9a-f]+):\t([0-9a-f ]+?)\s*\t(\S+)\s*(.*)$")
PREFIXES = {"66", "67", "f2", "f3", "2e", "3e", "26", "36", "64", "65"}


def opcode_bytes(raw):
    """The instruction's bytes after any legacy prefixes."""
    b = raw.split()
    while b and b[0] in PREFIXES:
        b = b[1:]
    return b


def isa_findings(objdump, path):
    out = subprocess.run([objdump, "-d", path], check=True, capture_output=True, text=True).stdout
    findings = []
    for line in out.splitlines():
        m = INSN_LINE.match(line)
        if not m:
            continue
        address, raw, mnemonic, operands = m.groups()
        what = next((w for r, w in NOT_486_RE if r.match(mnemonic)), None)
        if what is None and opcode_bytes(raw)[:2] == ["0f", "1f"]:
            what = "multi-byte NOP 0F 1F (Pentium Pro)"
        if what is None and SIMD_REGISTER.search(operands):
            what = "MMX/SSE register"
        if what:
            findings.append(f"{address}: {mnemonic} {operands}  -- {what}")
    return findings


# --- the Windows 95 loader ------------------------------------------------------

DIRECTORY = pefile.DIRECTORY_ENTRY
TABLES_DIR = os.path.join(HERE, "win95-exports")


def export_tables(directory):
    """{dll name in upper case: set of exported names}."""
    tables = {}
    for name in os.listdir(directory):
        if name.endswith(".txt"):
            with open(os.path.join(directory, name), encoding="ascii") as f:
                tables[name[:-4].upper() + ".DLL"] = {l.strip() for l in f if l.strip()}
    return tables


def directory(pe, name):
    dirs = pe.OPTIONAL_HEADER.DATA_DIRECTORY
    i = DIRECTORY[name]
    return dirs[i] if i < len(dirs) else None


def loader_findings(pe, tables):
    findings = []
    opt, fh = pe.OPTIONAL_HEADER, pe.FILE_HEADER
    subsystem = (opt.MajorSubsystemVersion, opt.MinorSubsystemVersion)
    if not (3, 10) <= subsystem <= (4, 0):
        findings.append("subsystem version %d.%02d outside 3.10-4.0" % subsystem)
    if opt.MajorOperatingSystemVersion > 4:
        findings.append(f"operating system version {opt.MajorOperatingSystemVersion} above 4")
    if opt.FileAlignment < 512:
        findings.append(f"FileAlignment {opt.FileAlignment} below 512")
    if opt.SectionAlignment != 4096:
        findings.append(f"SectionAlignment {opt.SectionAlignment} is not 4096")
    if opt.NumberOfRvaAndSizes < 10:
        findings.append(f"{opt.NumberOfRvaAndSizes} data directories, fewer than 10")
    for name, what in [("IMAGE_DIRECTORY_ENTRY_TLS", "TLS directory (no callbacks at load on 9x)"),
                       ("IMAGE_DIRECTORY_ENTRY_BOUND_IMPORT", "bound imports"),
                       ("IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT", "delay imports")]:
        d = directory(pe, name)
        if d is not None and d.VirtualAddress:
            findings.append(f"{what} present")
    imports = directory(pe, "IMAGE_DIRECTORY_ENTRY_IMPORT")
    if imports is not None and imports.VirtualAddress and imports.VirtualAddress < opt.SizeOfHeaders:
        findings.append(f"import descriptors at {imports.VirtualAddress:#x}, inside the headers")
    if fh.PointerToSymbolTable or fh.NumberOfSymbols:
        findings.append("COFF symbol table present (not stripped)")
    for s in pe.sections:
        name = s.Name.rstrip(b"\0")
        if name.startswith(b"/"):
            findings.append(f"long section name {name.decode(errors='replace')}")

    for dll in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        dll_name = dll.dll.decode(errors="replace")
        table = tables.get(dll_name.upper())
        for imp in dll.imports:
            if imp.name is None:
                findings.append(f"{dll_name}: import by ordinal #{imp.ordinal}")
            elif table is None:
                findings.append(f"{dll_name}!{imp.name.decode()}: no such DLL on Windows 95")
            elif imp.name.decode() not in table:
                findings.append(f"{dll_name}!{imp.name.decode()}: not exported by Windows 95")
    return findings


# --- driver ----------------------------------------------------------------------


def verdict(findings, expect, expect_count):
    for f in findings:
        print(("found: " if expect else "FAIL ") + f)
    if not expect:
        print(f"{len(findings)} findings")
        return not findings
    missing = [e for e in expect if not any(e in f for f in findings)]
    for e in missing:
        print(f"FAIL expected a finding with {e!r}, got none")
    print(f"{len(findings)} findings, {len(expect) - len(missing)} of {len(expect)} expected")
    if expect_count is not None and expect_count != len(findings):
        print(f"FAIL {len(findings)} findings, expected exactly {expect_count}")
        return False
    return bool(findings) and not missing


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    ap.add_argument("check", choices=["isa", "loader"])
    ap.add_argument("file")
    ap.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    ap.add_argument("--exports", default=TABLES_DIR)
    ap.add_argument("--expect", action="append", default=[])
    ap.add_argument("--expect-count", type=int)
    args = ap.parse_args()
    if args.check == "isa":
        findings = isa_findings(args.objdump, args.file)
    else:
        findings = loader_findings(pefile.PE(args.file), export_tables(args.exports))
    sys.exit(0 if verdict(findings, args.expect, args.expect_count) else 1)


if __name__ == "__main__":
    main()
