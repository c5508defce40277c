#!/usr/bin/env python3
"""The unmodified programs on QEMU's chipset models (machine pc: i440FX and
PIIX3; q35: Q35 and ICH9) with real port instructions, read back by the
guest's own lspci. One boot per machine runs every check (guest.sh); this
side judges what the guest wrote.

    tests/qemu/run.py --win32 build/win32 --kvtlcheck build/native/.../kvtlcheck
                      [--machines pc,q35] [--build-dir build/qemu]
    tests/qemu/run.py --judge DIR ...   judges the outputs of an earlier run
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "../support"))
import image  # noqa: E402
import vm  # noqa: E402
from checks import preview_rows  # noqa: E402

ROUTES = ["exit", "close", "endsession"]
# A PCI-to-PCI bridge at 00:10.0 with a card behind it on bus 1; the
# settings move the bridge's secondary bus to 3 (q35's root port has bus 2)
# and then tune the card there (settings name bus 3, device 0 as device
# 0x60). Only a restore newest first reaches the card again before the
# bridge moves it back.
BRIDGE_SLOT = 0x10
MOVED_BUS = 3
BRIDGE = "1A,03,10,0\n19,03,10,0\n3C,55,60,0\n"
# Status bytes. 06 is read-only (the bridge's holds capability-list bit 4);
# a 1 written to 07 clears an error bit but never DEVSEL timing (bits 2-1;
# QEMU hw/pci/pci.c pci_init_w1cmask), which the PIIX3 IDE on pc holds as
# "medium" (hw/ide/piix.c, its reset). QEMU gives a bridge's secondary
# status 1E-1F neither a write nor a clear mask (pci_init_mask_bridge) and
# sets none of its bits: 1F keeps 00 under a written FF. Nothing in the
# guest reads these bytes, and they read the same whether written or not:
# the last line, the bridge's interrupt line (it has no interrupt pin),
# shows that the file was applied.
STATUS = "06,FF,10,0\n07,FF,10,0\n1F,FF,10,0\n"
STATUS_APPLIED = "3C,5A,10,0\n"
# Registers safe to change in the running guest: the shadow-RAM (PAM) bytes
# of D0000-DFFFF, which Linux does not use, and on pc the PIIX3 IDE timing
# of the primary channel, empty since the guest's disk is virtio.
MACHINES = {
    "pc": {"bus": "pci.0", "chipset": "5C,33,0,0\n5D,31,0,0\n40,07,1,1\n",
           "status": STATUS + "07,FF,1,1\n" + STATUS_APPLIED},
    "q35": {"bus": "pcie.0", "chipset": "93,33,0,0\n94,31,0,0\n",
            "status": STATUS + STATUS_APPLIED},
}

# A PCI Express root port on q35 (QEMU's pcie-root-port, nothing behind it):
# its capability list holds the Express structure whose registers lspci -vvv
# decodes.
ROOT_PORT_SLOT = 0x11

# How lspci -vvv begins each capability's line (ls-caps.c, show_caps): its ID.
LSPCI_CAPABILITIES = [
    ("Power Management", 0x01), ("AGP version", 0x02), ("Vital Product Data", 0x03),
    ("Slot ID", 0x04), ("MSI:", 0x05), ("CompactPCI hot-swap", 0x06), ("PCI-X", 0x07),
    ("HyperTransport", 0x08), ("Vendor Specific", 0x09), ("Debug port", 0x0A),
    ("CompactPCI central", 0x0B), ("Hot-plug capable", 0x0C), ("Subsystem:", 0x0D),
    ("AGP3", 0x0E), ("Secure device", 0x0F), ("Express", 0x10), ("MSI-X:", 0x11),
    ("SATA HBA", 0x12), ("PCI Advanced Features", 0x13), ("Enhanced Allocation", 0x14)]
# The labels kvtlcheck puts before a register's name ("AGP Command").
LABELS = ["Power Management", "AGP", "VPD", "Slot ID", "MSI", "PCI-X", "Express"]
# kvtlcheck's "capability": "Express DevCtl (cap 10 at 40)+8".
CAPABILITY = re.compile(r"(.*) \(cap ([0-9A-F]{2}) at ([0-9A-F]{2})\)\+([0-9A-F]+)")

# Where kvtlcheck's model of a register is known to differ from QEMU's, with
# the reason: (machine, bdf, register) -> reason.
KNOWN_MODEL_DIFFERENCES = {}


def cases_of(machine):
    """Each case's settings; only the chipset case ends every way."""
    return {"chipset": MACHINES[machine]["chipset"], "bridge": BRIDGE,
            "status": MACHINES[machine]["status"]}


def routes_of(case):
    return ROUTES if case == "chipset" else ["exit"]


# kvtlcheck's restore lines for a byte that the restore cannot put back:
# "  00:10.0 register 1F is 00, was 20".
NOT_BACK = re.compile(r"\s*([0-9a-f]{2}:[0-9a-f]{2}\.[0-7]) register ([0-9A-F]{2}) "
                      r"is ([0-9A-F]{2}), was [0-9A-F]{2}")


def parse_lspci(text):
    """`lspci -n -xxx` text: {"00:00.0": [256 bytes]}."""
    functions, current = {}, None
    for line in text.splitlines():
        m = re.match(r"([0-9a-f]{2}:[0-9a-f]{2}\.[0-7]) ", line)
        if m:
            current = functions.setdefault(m.group(1), [None] * 256)
            continue
        m = re.match(r"([0-9a-f]0): ((?:[0-9a-f]{2} ?){16})$", line)
        if m and current is not None:
            base = int(m.group(1), 16)
            for i, b in enumerate(m.group(2).split()):
                current[base + i] = int(b, 16)
    return functions


def parse_settings(text):
    """kvtl.cfg lines as (bdf, register, value); device numbers above 31
    carry the bus, as the configuration address does."""
    out = []
    for line in text.splitlines():
        reg, value, device, function = (int(f, 16) for f in line.split(","))
        bdf = f"{device >> 5:02x}:{device & 31:02x}.{function}"
        out.append((bdf, reg, value))
    return out


def parse_capabilities(text):
    """`lspci -vvv` text: {bdf: {start: [id, [the labels of its lines]]}} for
    the list in the first 256 bytes; the labels are the words before a colon
    at the start of its lines ("DevCtl" of "\t\tDevCtl:\t...")."""
    functions, current, cap = {}, None, None
    for line in text.splitlines():
        m = re.match(r"([0-9a-f]{2}:[0-9a-f]{2}\.[0-7]) ", line)
        if m:
            current, cap = functions.setdefault(m.group(1), {}), None
            continue
        m = re.match(r"\tCapabilities: \[([0-9a-f]+)\] (.*)", line)
        if m and current is not None:
            start, what = int(m.group(1), 16), m.group(2)
            cap = None
            if start < 0x100:
                ids = [i for words, i in LSPCI_CAPABILITIES if what.startswith(words)]
                number = re.match(r"#([0-9a-f]{2})", what)
                cap = current[start] = [ids[0] if ids else number and int(number.group(1), 16),
                                        []]
            continue
        m = re.match(r"\t\t(\w+):", line)
        if m and cap is not None:
            cap[1].append(m.group(1))
        elif not line.startswith("\t\t"):
            cap = None
    return functions


def byte(dump, bdf, reg):
    """A byte as the bus shows it: 0xff where no function answers."""
    return dump[bdf][reg] if bdf in dump else 0xFF


def changed(a, b, allowed=()):
    """Bytes of any function that differ between dumps A and B, outside ALLOWED."""
    out = []
    for bdf in sorted(set(a) | set(b)):
        for reg in range(256):
            if (bdf, reg) not in allowed and byte(a, bdf, reg) != byte(b, bdf, reg):
                out.append(f"{bdf} {reg:02x}: {byte(a, bdf, reg):02x} -> {byte(b, bdf, reg):02x}")
    return out


def dump_differences(want, got):
    only = [f"{bdf} only in lspci" for bdf in sorted(set(want) - set(got))]
    only += [f"{bdf} only in kvtlpeek" for bdf in sorted(set(got) - set(want))]
    common = {bdf: want[bdf] for bdf in want if bdf in got}
    return (only + changed(common, {bdf: got[bdf] for bdf in common}))[:8] or ["in form"]


class Judge:
    def __init__(self, machine, out, kvtlcheck, cases):
        self.machine, self.out, self.kvtlcheck, self.cases = machine, out, kvtlcheck, cases
        self.results = []

    def read(self, name):
        path = os.path.join(self.out, name)
        if not os.path.exists(path):
            return None
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read().replace("\r\n", "\n")

    def check(self, name, problems):
        problems = [p for p in problems if p]
        self.results.append((f"{self.machine}: {name}", problems))

    def known_differences(self):
        return {(bdf, reg) for machine, bdf, reg in KNOWN_MODEL_DIFFERENCES
                if machine == self.machine}

    @staticmethod
    def slots(pairs):
        return ", ".join(f"{bdf} {reg:02x}" for bdf, reg in sorted(pairs))

    def steps(self):
        return dict(line.rsplit(" ", 1) for line in (self.read("steps") or "").splitlines())

    def run(self):
        steps = self.steps()
        if self.read("done") is None:
            self.check("the guest ran every step", ["the guest did not finish; see guest.log"])
        start_text = self.read("lspci-start.txt") or ""
        start = parse_lspci(start_text)
        peek = self.read("peek-dump.txt")
        self.check("kvtlpeek dump == lspci -n -xxx", [
            steps.get("peek-dump") != "0" and f"kvtlpeek status {steps.get('peek-dump')}",
            peek is not None and peek.rstrip("\n") != start_text.rstrip("\n") and
            "the texts differ: " + "; ".join(dump_differences(start, parse_lspci(peek)))])
        self.capabilities(start)
        for case, settings in self.cases.items():
            self.case(case, settings, start, steps)

    def capability_names(self, bdf, dump):
        """kvtlcheck --machine's "capability" of every byte 40-FF of a
        function, 64 lines a file: {register: text or None}."""
        bus, dev, fn = int(bdf[:2], 16), int(bdf[3:5], 16), int(bdf[6])
        cfg = os.path.join(self.out, "capabilities.kvtl.cfg")
        names = {}
        for first in range(0x40, 0x100, 64):
            with open(cfg, "w") as f:
                f.writelines(f"{r:02X},{dump[bdf][r]:02X},{bus * 0x20 + dev:X},{fn}\n"
                             for r in range(first, first + 64))
            p = subprocess.run([self.kvtlcheck, "--json", "--machine",
                                os.path.join(self.out, "lspci-start.txt"), cfg],
                               capture_output=True, text=True)
            if p.returncode == 2:
                return {"error": p.stderr.strip()}
            names.update((a["register"], a["capability"]) for a in json.loads(p.stdout))
        return names

    def capabilities(self, start):
        """Where kvtlcheck finds each function's capabilities and their IDs,
        and lspci -vvv; each label lspci decodes a structure's registers
        with is the name kvtlcheck gives one of its bytes."""
        listed = parse_capabilities(self.read("lspci-vvv.txt") or "")
        problems = [not listed and "no lspci -vvv output"]
        for bdf in sorted(start):
            names = self.capability_names(bdf, start)
            if "error" in names:
                problems.append(f"{bdf}: kvtlcheck: {names['error']}")
                continue
            found, registers = {}, {}
            for reg, name in names.items():
                m = CAPABILITY.fullmatch(name or "")
                if not m:
                    continue
                at = int(m.group(3), 16)
                if m.group(4) == "0":
                    found[at] = int(m.group(2), 16)
                label = next((l for l in LABELS if m.group(1).startswith(l + " ")), None)
                if label:
                    registers.setdefault(at, set()).add(m.group(1)[len(label) + 1:])
            lspci = listed.get(bdf, {})
            want = {at: cap[0] for at, cap in lspci.items()}
            if found != want:
                problems.append(f"{bdf}: kvtlcheck finds " +
                                ", ".join(f"{i:02x} at {at:02x}" for at, i in sorted(found.items())) +
                                "; lspci " +
                                ", ".join(f"{i:02x} at {at:02x}" for at, i in sorted(want.items())))
            for at, (cap_id, labels) in sorted(lspci.items()):
                unnamed = [l for l in labels if at in registers and l not in registers[at]]
                if unnamed:
                    problems.append(f"{bdf} {cap_id:02x} at {at:02x}: lspci decodes {unnamed}, "
                                    f"kvtlcheck names {sorted(registers[at])}")
        if self.machine == "q35":
            port = listed.get(f"00:{ROOT_PORT_SLOT:02x}.0", {})
            if not any(cap[0] == 0x10 and "DevCtl" in cap[1] for cap in port.values()):
                problems.append(f"the root port shows no Express capability: {port}")
        self.check("capabilities: kvtlcheck finds lspci -vvv's, and names the registers "
                   "lspci decodes", problems)

    def case(self, case, settings_text, start, steps):
        settings = parse_settings(settings_text)
        rows = preview_rows(self.read(f"{case}.preview.txt") or "")
        problems = [steps.get(f"{case}.preview") != "0" and
                    f"kvtlpeek status {steps.get(f'{case}.preview')}"]
        if [(r[0], r[1], r[3]) for r in rows] != settings:
            problems.append(f"rows {rows} are not the file's lines {settings}")
        # Each row's "now" is the byte before any line, or the byte an
        # earlier line of the file would have left there.
        shadow = {}
        for bdf, reg, now, wrote in rows:
            want = shadow.get((bdf, reg), byte(start, bdf, reg))
            if now != want:
                problems.append(f"{bdf} {reg:02x} now {now:02x}, lspci {want:02x}")
            shadow[(bdf, reg)] = wrote
        self.check(f"{case}: kvtlpeek {case}/kvtl.cfg shows lspci's bytes and the file's",
                   problems)
        prediction = self.predict(case, settings_text)
        for route in routes_of(case):
            self.route(case, route, settings, prediction, steps)

    def predict(self, case, settings_text):
        """kvtlcheck --machine on the guest's dump: {"during": each reached
        byte after the pass, "not_back": each byte the restore cannot put
        back, as it leaves it}, or {"error": message}."""
        cfg = os.path.join(self.out, f"{case}.kvtl.cfg")
        with open(cfg, "w") as f:
            f.write(settings_text)
        run = [self.kvtlcheck, "--machine", os.path.join(self.out, "lspci-start.txt"), cfg]
        p = subprocess.run(run[:1] + ["--json"] + run[1:], capture_output=True, text=True)
        if p.returncode == 2:
            return {"error": p.stderr.strip()}
        during = {(a["reaches"]["bdf"], a["register"]): a["after"] for a in json.loads(p.stdout)}
        text = subprocess.run(run, capture_output=True, text=True).stdout
        not_back = {(m.group(1), int(m.group(2), 16)): int(m.group(3), 16)
                    for m in map(NOT_BACK.fullmatch, text.splitlines()) if m}
        return {"during": during, "not_back": not_back}

    def route(self, case, route, settings, prediction, steps):
        at = f"{case}.{route}"
        before = parse_lspci(self.read(f"{at}.before.txt") or "")
        during = parse_lspci(self.read(f"{at}.during.txt") or "")
        after = parse_lspci(self.read(f"{at}.after.txt") or "")
        # A card behind a moved bridge shows only to a reader that walks the
        # bridges itself.
        conf1 = self.read(f"{at}.during-conf1.txt")
        if conf1 is not None:
            during = {**during, **parse_lspci(conf1)}
        report = self.read(f"{at}.report.txt") or ""
        problems = [steps.get(at) != "0" and
                    f"harness status {steps.get(at)}: {(self.read(f'{at}.harness.txt') or '')[-400:]}"]
        if not before:
            problems.append("no lspci dump before the start")
        final = {}
        for bdf, reg, value in settings:
            final[(bdf, reg)] = value
        # Read-only and write-1-to-clear bits do not take the file's byte:
        # there the byte kvtlcheck predicts, which the exit route judges.
        predicted = prediction.get("during", {})
        known = self.known_differences()
        for (bdf, reg), value in final.items():
            if (bdf, reg) in known:
                continue
            want = predicted.get((bdf, reg), value)
            if byte(during, bdf, reg) != want:
                problems.append(f"while running {bdf} {reg:02x} = {byte(during, bdf, reg):02x}, "
                                f"the file wrote {value:02x}" +
                                (f", kvtlcheck predicts {want:02x}" if want != value else ""))
        moved = set()
        if case == "bridge":
            # While the bridge sends bus 3 to the card, bus 1 is empty.
            moved = {(bdf, r) for bdf in before if bdf.startswith("01:") for r in range(256)}
            moved |= {(bdf.replace("01:", f"{MOVED_BUS:02x}:", 1), r) for bdf, r in moved}
        problems += [f"changed while running: {c}"
                     for c in changed(before, during, set(final) | moved)[:8]]
        # A write-1-to-clear bit that was set stays cleared: kvtlcheck names
        # each such byte with the value the restore leaves.
        not_back = prediction.get("not_back", {})
        problems += [f"not back: {c}" for c in changed(before, after, known | set(not_back))[:8]]
        problems += [f"after the restore {bdf} {reg:02x} = {byte(after, bdf, reg):02x}, "
                     f"kvtlcheck predicts {value:02x}" for (bdf, reg), value in not_back.items()
                     if (bdf, reg) not in known and byte(after, bdf, reg) != value]
        if "nothing to restore" in report or "all " in report and "restored" in report:
            problems.append("the harness claims a restore it could not see")
        self.check(f"{case} ({route}): bytes while running == file (kvtlcheck's where bits "
                   "are read-only or clear), after == before, nothing else changed", problems)
        if route != "exit":
            return
        problems = []
        if "error" in prediction:
            problems.append(f"kvtlcheck: {prediction['error']}")
        else:
            # The loop below judges only what kvtlcheck answers: an answer
            # that leaves out a line, or names a byte the file never wrote,
            # must fail here.
            answered, wrote = set(prediction["during"]), set(final)
            problems += [wrote - answered and "kvtlcheck predicts nothing for " +
                         self.slots(wrote - answered) + ", which the file writes",
                         answered - wrote and "kvtlcheck predicts " +
                         self.slots(answered - wrote) + ", which the file does not write"]
        for (bdf, reg), predicted in prediction.get("during", {}).items():
            real = byte(during, bdf, reg)
            reason = KNOWN_MODEL_DIFFERENCES.get((self.machine, bdf, reg))
            if predicted != real and not reason:
                problems.append(f"{bdf} {reg:02x}: kvtlcheck predicts {predicted:02x}, "
                                f"QEMU holds {real:02x}")
            elif predicted != real:
                print(f"  known: {self.machine} {bdf} {reg:02x}: kvtlcheck {predicted:02x}, "
                      f"QEMU {real:02x}: {reason}")
        self.check(f"{case}: kvtlcheck --machine predicts every byte QEMU holds", problems)


def prepare_share(share, machine, win32):
    shutil.rmtree(share, ignore_errors=True)
    run = os.path.join(share, "in")
    os.makedirs(os.path.join(share, "out"))
    os.makedirs(run)
    for exe in ("sorvenka.exe", "kvtlpeek.exe", "harness.exe"):
        found = [os.path.join(d, exe) for d, _, files in os.walk(win32) if exe in files
                 and "CMakeFiles" not in d]
        if not found:
            sys.exit(f"qemu: no {exe} under {win32}")
        shutil.copy(found[0], run)
    shutil.copy(os.path.join(HERE, "guest.sh"), run)
    cases = cases_of(machine)
    for case, settings in cases.items():
        d = os.path.join(run, "cases", case)
        os.makedirs(d)
        with open(os.path.join(d, "kvtl.cfg"), "w") as f:
            f.write(settings)
        with open(os.path.join(d, "routes"), "w") as f:
            f.write(" ".join(routes_of(case)) + "\n")
        if case == "bridge":
            open(os.path.join(d, "conf1"), "w").close()
    return cases


def devices(machine):
    out = ["-device", f"pci-bridge,id=br1,chassis_nr=1,shpc=off,bus={MACHINES[machine]['bus']},"
           f"addr={BRIDGE_SLOT:#x}", "-device", "pci-testdev,bus=br1,addr=0"]
    if machine == "q35":
        out += ["-device", f"pcie-root-port,id=rp1,bus=pcie.0,addr={ROOT_PORT_SLOT:#x},chassis=2"]
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--win32", default="build/win32")
    ap.add_argument("--kvtlcheck", default="build/native/tools/kvtlcheck/kvtlcheck")
    ap.add_argument("--machines", default="pc,q35")
    ap.add_argument("--build-dir", default="build/qemu")
    ap.add_argument("--judge", help="judge the outputs under this directory, boot nothing")
    args = ap.parse_args()
    t0 = time.monotonic()
    kvtlcheck = os.path.abspath(args.kvtlcheck)
    results = []
    image_dir = None if args.judge else image.ensure(args.build_dir)
    for machine in args.machines.split(","):
        share = os.path.join(args.judge or args.build_dir, f"run-{machine}")
        if args.judge:
            cases = cases_of(machine)
        else:
            cases = prepare_share(share, machine, args.win32)
            t1 = time.monotonic()
            vm.boot(image_dir, machine, "run", share=os.path.abspath(share),
                    extra=devices(machine), log=os.path.join(share, "console.log"))
            print(f"qemu: {machine}: boot and checks in {time.monotonic() - t1:.0f} s", flush=True)
        judge = Judge(machine, os.path.join(share, "out"), kvtlcheck, cases)
        judge.run()
        results += judge.results
    failed = 0
    for name, problems in results:
        print(f"{'ok  ' if not problems else 'FAIL'}  {name}")
        for p in problems:
            print(f"        {p}")
        failed += bool(problems)
    print(f"qemu: {len(results) - failed} passed, {failed} failed "
          f"({time.monotonic() - t0:.0f} s)")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
