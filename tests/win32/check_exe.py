#!/usr/bin/env python3
"""Static checks of the built sorvenka.exe: PE header, imports, resources,
the ANSI texts. Expected values are tables; `compare` reports every field
that differs, so one run shows all that is wrong.

    check_exe.py CHECK EXE VERSION   CHECK: header imports resources strings
                                            noicon nomenu
                                     VERSION: CMake's project version
"""
import os
import struct
import sys

import pefile

# --- expected values -------------------------------------------------------

MAX_FILE_SIZE = 9216

HEADER = {
    "Machine": 0x14C,  # i386
    "Magic": 0x10B,  # PE32
    "Subsystem": 2,  # Windows GUI
    "MajorSubsystemVersion": 4,  # 4.0: Windows 95 refuses anything newer
    "MinorSubsystemVersion": 0,
    "MajorOperatingSystemVersion": 4,
    "MinorOperatingSystemVersion": 0,
    "ImageBase": 0x400000,
    "SectionAlignment": 0x1000,  # page-aligned sections for the 9x loader
    "FileAlignment": 0x200,
}
# The only data directories that may be present: no exports, relocations,
# TLS, debug data, load configuration or delay imports.
DIRECTORIES_ALLOWED = {
    "IMAGE_DIRECTORY_ENTRY_IMPORT",
    "IMAGE_DIRECTORY_ENTRY_RESOURCE",
    "IMAGE_DIRECTORY_ENTRY_IAT",
}
SECTIONS_FORBIDDEN = {".reloc", ".tls", ".CRT", ".edata", ".pdata", ".eh_frame", ".debug"}

IMPORTS = {
    "KERNEL32.dll": {
        "CreateMutexA", "GetLastError", "SetLastError", "CloseHandle", "lstrcpyA",
        "GetModuleHandleA", "ExitProcess", "CreateFileA", "ReadFile", "GetACP",
        "SetUnhandledExceptionFilter", "GlobalAddAtomA", "GlobalFindAtomA", "GlobalDeleteAtom",
    },
    "USER32.dll": {
        "MessageBoxA", "LoadImageA", "LoadMenuA", "GetSubMenu", "LoadCursorA",
        "RegisterClassExA", "CreateWindowExA", "ShowWindow", "UpdateWindow", "GetMessageA",
        "TranslateMessage", "DispatchMessageA", "DefWindowProcA", "PostQuitMessage",
        "GetCursorPos", "SetForegroundWindow", "TrackPopupMenu", "DialogBoxParamA", "EndDialog",
        "PostMessageA", "RegisterWindowMessageA", "SetTimer", "ModifyMenuA", "FindWindowA",
        "GetWindowThreadProcessId", "KillTimer",
    },
    "GDI32.dll": {"GetStockObject"},
    "SHELL32.dll": {"Shell_NotifyIconA"},
}

RT_ICON, RT_MENU, RT_DIALOG, RT_GROUP_ICON = 3, 4, 5, 14
LANG_JAPANESE, LANG_ENGLISH_US = 0x411, 0x409
IDI_APP, IDR_TRAYMENU, DIALOG_NAME, IDD_ABOUT_ENGLISH = 103, 102, "ABOUTDIALOG", 104

# Resource names by type, for the program and its two start-up variants.
# RT_ICON holds whatever ids the icon group names (checked with the group).
RESOURCES = {
    "full": {RT_GROUP_ICON: [IDI_APP], RT_MENU: [IDR_TRAYMENU],
             RT_DIALOG: [DIALOG_NAME, IDD_ABOUT_ENGLISH]},
    "noicon": {RT_MENU: [IDR_TRAYMENU], RT_DIALOG: [DIALOG_NAME, IDD_ABOUT_ENGLISH]},
    "nomenu": {RT_GROUP_ICON: [IDI_APP], RT_DIALOG: [DIALOG_NAME, IDD_ABOUT_ENGLISH]},
}
# Every resource is Japanese but the About box for other code pages.
LANGUAGES = {(RT_DIALOG, IDD_ABOUT_ENGLISH): LANG_ENGLISH_US}

ICON_IMAGES = [  # width, height, colours, planes, bits per pixel
    {"width": 32, "height": 32, "colors": 16, "planes": 1, "bits": 4},
    {"width": 16, "height": 16, "colors": 16, "planes": 1, "bits": 4},
]

MF_POPUP, MF_END = 0x10, 0x80
MENU = [
    {"flags": MF_POPUP | MF_END, "text": "System", "items": [
        {"flags": 0, "id": 40001, "text": "ﾊﾞｰｼﾞｮﾝ"},
        {"flags": MF_END, "id": 40002, "text": "終了"},
    ]},
]

WS_POPUP, WS_CHILD, WS_VISIBLE, WS_CAPTION = 0x80000000, 0x40000000, 0x10000000, 0x00C00000
WS_GROUP, WS_TABSTOP = 0x00020000, 0x00010000
DS_SETFONT, DS_MODALFRAME, DS_CENTER = 0x40, 0x80, 0x800
BS_DEFPUSHBUTTON, SS_LEFT, SS_ICON = 0x1, 0x0, 0x3
BUTTON, STATIC = ("atom", 0x80), ("atom", 0x82)
NO_ID = 0xFFFF

DIALOG = {
    "style": WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_CENTER | DS_SETFONT,
    "exstyle": 0, "cdit": 4, "x": 0, "y": 0, "cx": 155, "cy": 39,
    "menu": None, "class": None, "caption": "「Sov」Version",
    "pointsize": 9, "face": "ＭＳ Ｐゴシック",
}
# The same box where that font does not exist: only caption and font differ.
DIALOG_ENGLISH = dict(DIALOG, caption="[Sov]Version", pointsize=8, face="MS Sans Serif")
CHILD = WS_CHILD | WS_VISIBLE
CONTROLS = [
    {"style": CHILD | BS_DEFPUSHBUTTON | WS_TABSTOP, "x": 115, "y": 5, "cx": 33, "cy": 14,
     "id": 1, "class": BUTTON, "text": "OK"},
    {"style": CHILD | SS_LEFT | WS_GROUP, "x": 25, "y": 7, "cx": 68, "cy": 12,
     "id": NO_ID, "class": STATIC, "text": "Sorvenka Ver {version}"},
    {"style": CHILD | SS_LEFT | WS_GROUP, "x": 25, "y": 19, "cx": 92, "cy": 9,
     "id": NO_ID, "class": STATIC, "text": "(C) Korvane Software"},
    {"style": CHILD | SS_ICON, "x": 5, "y": 5, "cx": 18, "cy": 21,
     "id": NO_ID, "class": STATIC, "text": ("ordinal", IDI_APP)},
]

# Texts handed to the ANSI functions: code page 932, zero-terminated, outside
# the resources.
ANSI_TEXTS = ["既に起動しています.", "CAUTION", "Sorvenka", "Korvane", "Korvane Traskell",
              "kvtl.cfg", "ABOUTDIALOG", "TaskbarCreated", "Shell_TrayWnd",
              "Korvane Changed",
              "Windows 95, 98, Me または PCI のポートを開くドライバが必要です. "
              "書き込んだバイトはすべて元に戻しました.",
              "前回の Sorvenka は PCI のバイトを元に戻さずに終わりました. "
              "Windows を再起動してから起動してください. 何も変更していません.",
              "この PC には PCI コンフィギュレーション・メカニズム #1 がありません. "
              "何も変更していません.",
              # outside code page 932
              "Already running.", "Version", "Exit",
              "Sorvenka needs Windows 95, 98 or Me, or a driver that opens the PCI ports. "
              "Every byte it had written has been put back.",
              "The last run of Sorvenka ended without putting the PCI bytes back. "
              "Restart Windows before starting it again. Nothing was changed.",
              "This PC has no PCI configuration mechanism #1. Sorvenka changed nothing."]

# --- comparison ----------------------------------------------------------------

failures = []


def compare(what, expected, actual):
    """Records a failure for each key of expected whose value differs."""
    if isinstance(expected, dict) and isinstance(actual, dict):
        for key, want in expected.items():
            compare(f"{what}.{key}", want, actual.get(key, "<missing>"))
    elif isinstance(expected, list) and isinstance(actual, list):
        if len(expected) != len(actual):
            failures.append(f"{what}: {len(actual)} entries, expected {len(expected)}")
        for i, (want, got) in enumerate(zip(expected, actual)):
            compare(f"{what}[{i}]", want, got)
    elif expected != actual:
        show = lambda v: hex(v) if isinstance(v, int) and not isinstance(v, bool) else repr(v)
        failures.append(f"{what}: {show(actual)}, expected {show(expected)}")


# --- readers ---------------------------------------------------------------------


class Cursor:
    """Reads little-endian fields and UTF-16 strings from a resource."""

    def __init__(self, data, at=0):
        self.data, self.at = data, at

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.at)
        self.at += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def text(self):
        end = self.at
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        s = self.data[self.at:end].decode("utf-16-le")
        self.at = end + 2
        return s

    def name_or_ordinal(self, ordinal_kind="ordinal"):
        """sz_Or_Ord: 0 for none, 0xFFFF and a number, or a string."""
        first = self.take("H")
        if first == 0:
            return None
        if first == 0xFFFF:
            return (ordinal_kind, self.take("H"))
        self.at -= 2
        return self.text()

    def align(self, n):
        self.at = (self.at + n - 1) // n * n


def resources(pe):
    """{type: {name: [(language, bytes)]}}, names as int ids or strings."""
    out = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return out
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        names = out.setdefault(t.id if t.name is None else str(t.name), {})
        for n in t.directory.entries:
            langs = names.setdefault(n.id if n.name is None else str(n.name), [])
            for lang in n.directory.entries:
                d = lang.data.struct
                langs.append((lang.id, pe.get_data(d.OffsetToData, d.Size)))
    return out


def group_icon(data):
    c = Cursor(data)
    reserved, kind, count = c.take("3H")
    compare("icon group header", {"reserved": 0, "type": 1}, {"reserved": reserved, "type": kind})
    entries = []
    for _ in range(count):
        w, h, colors, _, planes, bits, size, icon_id = c.take("4B2HIH")
        entries.append({"width": w or 256, "height": h or 256, "colors": colors,
                        "planes": planes, "bits": bits, "size": size, "id": icon_id})
    return entries


def menu_items(c):
    items = []
    while True:
        flags = c.take("H")
        if flags & MF_POPUP:
            item = {"flags": flags, "text": c.text(), "items": menu_items(c)}
        else:
            item = {"flags": flags, "id": c.take("H"), "text": c.text()}
        items.append(item)
        if flags & MF_END:
            return items


def dialog(data):
    c = Cursor(data)
    head = dict(zip(("style", "exstyle", "cdit", "x", "y", "cx", "cy"), c.take("IIH4h")))
    head["menu"] = c.name_or_ordinal()
    head["class"] = c.name_or_ordinal()
    head["caption"] = c.text()
    if head["style"] & DS_SETFONT:
        head["pointsize"] = c.take("H")
        head["face"] = c.text()
    controls = []
    for _ in range(head["cdit"]):
        c.align(4)
        ctl = dict(zip(("style", "exstyle", "x", "y", "cx", "cy", "id"), c.take("II4hH")))
        ctl["class"] = c.name_or_ordinal("atom")
        ctl["text"] = c.name_or_ordinal()
        ctl["extra"] = c.take("H")
        controls.append(ctl)
    return head, controls


# --- checks ----------------------------------------------------------------------------


def check_header(pe, path):
    size = os.path.getsize(path)
    print(f"size {size} bytes")
    if size > MAX_FILE_SIZE:
        failures.append(f"file size {size} > {MAX_FILE_SIZE}")
    compare("header", HEADER, {k: getattr(pe.FILE_HEADER if k == "Machine" else pe.OPTIONAL_HEADER, k)
                               for k in HEADER})
    for d in pe.OPTIONAL_HEADER.DATA_DIRECTORY:
        if d.VirtualAddress and d.name not in DIRECTORIES_ALLOWED:
            failures.append(f"data directory {d.name} present")
    entry = pe.OPTIONAL_HEADER.AddressOfEntryPoint
    for s in pe.sections:
        name = s.Name.rstrip(b"\0").decode()
        print(f"section {name:8} rva {s.VirtualAddress:#06x} virtual {s.Misc_VirtualSize:#06x}"
              f" raw {s.SizeOfRawData:#06x}")
        if name in SECTIONS_FORBIDDEN:
            failures.append(f"section {name} present")
        if s.contains_rva(entry) and not s.Characteristics & 0x20000000:  # MEM_EXECUTE
            failures.append(f"entry point {entry:#x} is in non-executable {name}")


def check_imports(pe, path):
    found = {}
    for dll in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        names = found.setdefault(dll.dll.decode(), set())
        for imp in dll.imports:
            names.add(imp.name.decode() if imp.name else f"#{imp.ordinal}")
    for dll, names in sorted(found.items()):
        print(f"{dll}: {' '.join(sorted(names))}")
    compare("imported DLLs", sorted(IMPORTS, key=str.upper), sorted(found, key=str.upper))
    for dll, want in IMPORTS.items():
        got = next((v for k, v in found.items() if k.upper() == dll.upper()), set())
        if got - want:
            failures.append(f"{dll}: not allowed: {' '.join(sorted(got - want))}")
        if want - got:
            failures.append(f"{dll}: not imported: {' '.join(sorted(want - got))}")


def check_inventory(res, variant):
    """Types, names and the one language of every resource."""
    expected = dict(RESOURCES[variant])
    if RT_GROUP_ICON in expected:
        groups = res.get(RT_GROUP_ICON, {}).get(IDI_APP, [(0, b"")])
        expected[RT_ICON] = sorted(e["id"] for e in group_icon(groups[0][1]))
    got = {t: sorted(names, key=str) for t, names in res.items()}
    compare(f"{variant}: resource types", sorted(expected), sorted(got))
    for t, names in expected.items():
        compare(f"{variant}: type {t} names", sorted(names, key=str), got.get(t, []))
    for t, names in res.items():
        for name, langs in names.items():
            compare(f"{variant}: languages of {t}/{name}",
                    [LANGUAGES.get((t, name), LANG_JAPANESE)], [l for l, _ in langs])


def check_resources(pe, path):
    res = resources(pe)
    check_inventory(res, "full")

    group = group_icon(res[RT_GROUP_ICON][IDI_APP][0][1])
    compare("icon group", ICON_IMAGES, group)
    for i, entry in enumerate(group):
        data = res.get(RT_ICON, {}).get(entry["id"], [(0, b"")])[0][1]
        if len(data) < 40:
            failures.append(f"icon image {entry['id']} missing")
            continue
        bi = dict(zip(("size", "width", "height", "planes", "bits"), struct.unpack_from("<IiiHH", data)))
        w, h = entry["width"], entry["height"]
        xor_row, and_row = (w * 4 + 31) // 32 * 4, (w + 31) // 32 * 4
        compare(f"icon image {i} header",
                {"size": 40, "width": w, "height": 2 * h, "planes": 1, "bits": 4}, bi)
        compare(f"icon image {i} bytes", 40 + 16 * 4 + h * (xor_row + and_row), len(data))
        compare(f"icon image {i} size in group", len(data), entry["size"])

    c = Cursor(res[RT_MENU][IDR_TRAYMENU][0][1])
    compare("menu header (standard form)", {"version": 0, "header size": 0},
            dict(zip(("version", "header size"), c.take("HH"))))
    compare("menu", MENU, menu_items(c))

    for name, want in ((DIALOG_NAME, DIALOG), (IDD_ABOUT_ENGLISH, DIALOG_ENGLISH)):
        head, controls = dialog(res[RT_DIALOG][name][0][1])
        if head["style"] >> 16 == 0xFFFF:  # dlgVer 1, signature 0xFFFF
            failures.append(f"dialog {name} is in the extended form")
        compare(f"dialog {name}", want, head)
        compare(f"dialog {name} controls", [dict(ctl, exstyle=0, extra=0) for ctl in CONTROLS],
                controls)


def check_strings(pe, path):
    code = b"".join(s.get_data() for s in pe.sections if s.Name.rstrip(b"\0") != b".rsrc")
    for text in ANSI_TEXTS:
        if text.encode("cp932") + b"\0" not in code:
            failures.append(f"{text!r} not stored as cp932 {text.encode('cp932').hex(' ')}")


CHECKS = {
    "header": check_header,
    "imports": check_imports,
    "resources": check_resources,
    "strings": check_strings,
    "noicon": lambda pe, path: check_inventory(resources(pe), "noicon"),
    "nomenu": lambda pe, path: check_inventory(resources(pe), "nomenu"),
}


def main():
    if len(sys.argv) != 4 or sys.argv[1] not in CHECKS:
        sys.exit(__doc__)
    check, path, version = sys.argv[1:]
    CONTROLS[1]["text"] = CONTROLS[1]["text"].format(version=version)
    CHECKS[check](pefile.PE(path), path)
    for f in failures:
        print("FAIL", f)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
