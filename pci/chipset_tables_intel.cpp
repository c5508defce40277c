// Intel host bridges. Each table names the datasheet it was read from; names
// and offsets cross-checked with coreboot's and Linux's chipset headers.
#include "chipset_tables.h"

#define COUNT(a) int(sizeof(a) / sizeof(a[0]))

namespace
{

// The seven PAM registers of every Intel host bridge here. Each nibble is one
// 16 KB segment of C0000-EFFFF, bit 0 of it read enable and bit 1 write
// enable; PAM0 has only its high nibble, for the 64 KB at F0000 (coreboot
// i440bx.h, QEMU pam.h).
// clang-format off
#define PAM_ENTRIES(base)                                                                  \
    {(base) + 0, 1, "PAM0", PCI_NOTE("PAM0: F0000-FFFFF BIOS shadow read/write")},         \
    {(base) + 1, 1, "PAM1", PCI_NOTE("PAM1: C0000-C7FFF shadow RAM read/write enable")},   \
    {(base) + 2, 1, "PAM2", PCI_NOTE("PAM2: C8000-CFFFF shadow RAM read/write enable")},   \
    {(base) + 3, 1, "PAM3", PCI_NOTE("PAM3: D0000-D7FFF shadow RAM read/write enable")},   \
    {(base) + 4, 1, "PAM4", PCI_NOTE("PAM4: D8000-DFFFF shadow RAM read/write enable")},   \
    {(base) + 5, 1, "PAM5", PCI_NOTE("PAM5: E0000-E7FFF shadow RAM read/write enable")},   \
    {(base) + 6, 1, "PAM6", PCI_NOTE("PAM6: E8000-EFFFF shadow RAM read/write enable")}

// DRAM row boundaries: the cumulative top of each row, one byte a row.
#define DRB_ENTRIES_6                                                      \
    {0x60, 1, "DRB0", PCI_NOTE("DRAM row 0 boundary (top of row)")},       \
    {0x61, 1, "DRB1", PCI_NOTE("DRAM row 1 boundary (top of row)")},       \
    {0x62, 1, "DRB2", PCI_NOTE("DRAM row 2 boundary (top of row)")},       \
    {0x63, 1, "DRB3", PCI_NOTE("DRAM row 3 boundary (top of row)")},       \
    {0x64, 1, "DRB4", PCI_NOTE("DRAM row 4 boundary (top of row)")},       \
    {0x65, 1, "DRB5", PCI_NOTE("DRAM row 5 boundary (top of row)")}
#define DRB_ENTRIES_8                                                      \
    DRB_ENTRIES_6,                                                         \
    {0x66, 1, "DRB6", PCI_NOTE("DRAM row 6 boundary (top of row)")},       \
    {0x67, 1, "DRB7", PCI_NOTE("DRAM row 7 boundary (top of row)")}
// clang-format on

// 82439TX System Controller (MTXC), 430TX. Intel 290559-001.
const PciRegisterName I82439TX[] = {
    {0x50, 1, "PCON", PCI_NOTE("PCI control: CPU-PCI concurrency")},
    {0x52, 1, "CC", PCI_NOTE("Secondary (L2) cache control")},
    {0x57, 1, "DRAMC", PCI_NOTE("DRAM control")},
    {0x58, 1, "DRAMT", PCI_NOTE("DRAM timing")},
    PAM_ENTRIES(0x59),
    DRB_ENTRIES_6,
    // ESMRAMC sits at 71h on the 430TX, not at 73h as on the 440BX (86Box
    // intel_4x0.c, MAME bus/lpci/i82439tx.cpp).
    {0x71, 1, "ESMRAMC", PCI_NOTE("Extended SMRAM control: TSEG")},
    {0x72, 1, "SMRAM", PCI_NOTE("SMRAM control: open, close, lock")},
};

// 82441FX PCI and Memory Controller (PMC), 440FX; QEMU's "pc" host bridge.
// Intel 290549-001.
const PciRegisterName I82441FX[] = {
    {0x50, 2, "PMCCFG", PCI_NOTE("PMC configuration")},
    // DRAMC and DRAMT exist (CHIPSEC pmc_i440fx.xml, 86Box intel_4x0.c);
    // only QEMU's use of 57h for the RAM size has no hardware counterpart.
    {0x57, 1, "DRAMC", PCI_NOTE("DRAM control")},
    {0x58, 1, "DRAMT", PCI_NOTE("DRAM timing")},
    PAM_ENTRIES(0x59),
    DRB_ENTRIES_8,
    {0x68, 1, "FDHC", PCI_NOTE("Memory hole: 512-640 KB or 15-16 MB")},
    {0x70, 1, "MTT", PCI_NOTE("Multi-transaction timer")},
    {0x71, 1, "CLT", PCI_NOTE("CPU latency timer")},
    {0x72, 1, "SMRAM", PCI_NOTE("SMRAM control: open, close, lock")},
    {0x90, 1, "ERRCMD", PCI_NOTE("Error command: SERR# on errors")},
    {0x91, 1, "ERRSTS", PCI_NOTE("Error status (write 1 to clear)")},
    {0x93, 1, "TRC", PCI_NOTE("Turbo reset control: CPU and system reset")},
};

// 82443LX PCI A.G.P. Controller (PAC), 440LX. Intel 290564-001.
const PciRegisterName I82443LX[] = {
    {0x50, 2, "PACCFG", PCI_NOTE("PAC configuration")},
    {0x55, 2, "DRT", PCI_NOTE("DRAM row type: EDO or SDRAM per row")},
    {0x57, 1, "DRAMC", PCI_NOTE("DRAM control")},
    {0x58, 1, "DRAMT", PCI_NOTE("DRAM timing")},
    PAM_ENTRIES(0x59),
    DRB_ENTRIES_8,
    {0x68, 1, "FDHC", PCI_NOTE("Memory hole: 512-640 KB or 15-16 MB")},
    {0x6C, 4, "MBSC", PCI_NOTE("Memory buffer strength control")},
    {0x72, 1, "SMRAM", PCI_NOTE("SMRAM control: open, close, lock")},
    {0xA0, 4, "ACAPID", PCI_NOTE("AGP capability identifier")},
    {0xA4, 4, "AGPSTAT", PCI_NOTE("AGP status")},
    {0xA8, 4, "AGPCMD", PCI_NOTE("AGP command: data rate, AGP enable")},
    {0xB0, 4, "AGPCTRL", PCI_NOTE("AGP control: GART TLB enable")},
    {0xB4, 1, "APSIZE", PCI_NOTE("AGP aperture size")},
    {0xB8, 4, "ATTBASE", PCI_NOTE("Aperture translation table base")},
};

// 82443BX Host Bridge/Controller, 440BX (and 440ZX). Intel 290633-001.
const PciRegisterName I82443BX[] = {
    {0x50, 4, "NBXCFG", PCI_NOTE("Host bridge configuration")},
    {0x57, 1, "DRAMC", PCI_NOTE("DRAM control: type, refresh rate")},
    {0x58, 1, "DRAMT", PCI_NOTE("DRAM timing (EDO)")},
    PAM_ENTRIES(0x59),
    DRB_ENTRIES_8,
    {0x68, 1, "FDHC", PCI_NOTE("Memory hole: 512-640 KB or 15-16 MB")},
    // MBSC is 48 bits, 69h-6Eh.
    {0x69, 1, "MBSC", PCI_NOTE("Memory buffer strength control")},
    {0x6A, 2, "MBSC", PCI_NOTE("Memory buffer strength control")},
    {0x6C, 2, "MBSC", PCI_NOTE("Memory buffer strength control")},
    {0x6E, 1, "MBSC", PCI_NOTE("Memory buffer strength control")},
    {0x72, 1, "SMRAM", PCI_NOTE("SMRAM control: open, close, lock")},
    {0x73, 1, "ESMRAMC", PCI_NOTE("Extended SMRAM control: TSEG")},
    {0x74, 2, "RPS", PCI_NOTE("SDRAM row page size")},
    {0x76, 2, "SDRAMC", PCI_NOTE("SDRAM control: CAS latency, timing")},
    {0x78, 2, "PGPOL", PCI_NOTE("DRAM paging policy")},
    {0x7A, 1, "PMCR", PCI_NOTE("Power management control, AGP disable")},
    {0x7B, 2, "SCRR", PCI_NOTE("Suspend CBR refresh rate")},
    {0x80, 4, "EAP", PCI_NOTE("Error address pointer (ECC)")},
    {0x90, 1, "ERRCMD", PCI_NOTE("Error command: SERR# on ECC errors")},
    {0x91, 2, "ERRSTS", PCI_NOTE("ECC error status (write 1 to clear)")},
    {0xA0, 4, "ACAPID", PCI_NOTE("AGP capability identifier")},
    {0xA4, 4, "AGPSTAT", PCI_NOTE("AGP status")},
    {0xA8, 4, "AGPCMD", PCI_NOTE("AGP command: data rate, AGP enable")},
    {0xB0, 4, "AGPCTRL", PCI_NOTE("AGP control: GART TLB enable")},
    {0xB4, 1, "APSIZE", PCI_NOTE("AGP aperture size")},
    {0xB8, 4, "ATTBASE", PCI_NOTE("Aperture translation table base")},
    {0xBC, 1, "AMTT", PCI_NOTE("AGP multi-transaction timer"), PCI_BITS_UNVERIFIED},
    {0xBD, 1, "LPTT", PCI_NOTE("AGP low-priority transaction timer"), PCI_BITS_UNVERIFIED},
    // MBFS is 24 bits, CAh-CCh.
    {0xCA, 2, "MBFS", PCI_NOTE("Memory buffer frequency select")},
    {0xCC, 1, "MBFS", PCI_NOTE("Memory buffer frequency select")},
    // BSPAD, DWTC and DRTC are 64 bits each.
    {0xD0, 4, "BSPAD", PCI_NOTE("BIOS scratch pad")},
    {0xD4, 4, "BSPAD", PCI_NOTE("BIOS scratch pad")},
    {0xE0, 4, "DWTC", PCI_NOTE("DRAM write thermal throttling control")},
    {0xE4, 4, "DWTC", PCI_NOTE("DRAM write thermal throttling control")},
    {0xE8, 4, "DRTC", PCI_NOTE("DRAM read thermal throttling control")},
    {0xEC, 4, "DRTC", PCI_NOTE("DRAM read thermal throttling control")},
    {0xF0, 2, "BUFFC", PCI_NOTE("Buffer control")},
};

// 82Q35/82G33/82P35 (G)MCH host bridge; QEMU's "q35" machine. Intel
// 316966 (3 Series Express Chipset Family datasheet).
const PciRegisterName Q35_MCH[] = {
    // EPBAR, MCHBAR, PCIEXBAR and DMIBAR are 64 bits each.
    {0x40, 4, "EPBAR", PCI_NOTE("Egress port base address, low"), PCI_BITS_UNVERIFIED},
    {0x44, 4, "EPBAR", PCI_NOTE("Egress port base address, high"), PCI_BITS_UNVERIFIED},
    {0x48, 4, "MCHBAR", PCI_NOTE("MCH memory-mapped base, low"), PCI_BITS_UNVERIFIED},
    {0x4C, 4, "MCHBAR", PCI_NOTE("MCH memory-mapped base, high"), PCI_BITS_UNVERIFIED},
    {0x52, 2, "GGC", PCI_NOTE("Graphics control: stolen memory"), PCI_BITS_UNVERIFIED},
    {0x54, 4, "DEVEN", PCI_NOTE("Device enable: PEG, IGD, ME"), PCI_BITS_UNVERIFIED},
    {0x60, 4, "PCIEXBAR", PCI_NOTE("PCI Express config base, low; enable")},
    {0x64, 4, "PCIEXBAR", PCI_NOTE("PCI Express config base, high")},
    {0x68, 4, "DMIBAR", PCI_NOTE("DMI root complex base, low"), PCI_BITS_UNVERIFIED},
    {0x6C, 4, "DMIBAR", PCI_NOTE("DMI root complex base, high"), PCI_BITS_UNVERIFIED},
    PAM_ENTRIES(0x90),
    {0x9D, 1, "SMRAM", PCI_NOTE("SMRAM control: open, close, lock")},
    {0x9E, 1, "ESMRAMC", PCI_NOTE("Extended SMRAM control: TSEG")},
    {0xA0, 2, "TOM", PCI_NOTE("Top of memory"), PCI_BITS_UNVERIFIED},
    {0xA2, 2, "TOUUD", PCI_NOTE("Top of upper usable DRAM"), PCI_BITS_UNVERIFIED},
    {0xA4, 4, "GBSM", PCI_NOTE("Graphics base of stolen memory"), PCI_BITS_UNVERIFIED},
    {0xA8, 4, "BGSM", PCI_NOTE("Base of GTT stolen memory"), PCI_BITS_UNVERIFIED},
    {0xAC, 4, "TSEGMB", PCI_NOTE("TSEG memory base"), PCI_BITS_UNVERIFIED},
    {0xB0, 2, "TOLUD", PCI_NOTE("Top of low usable DRAM"), PCI_BITS_UNVERIFIED},
};

// ---- what the bits do ------------------------------------------------------

const unsigned char RO = PCI_BITS_READ_ONLY, W1C = PCI_BITS_WRITE1_CLEAR, OWNED = PCI_BITS_OWNED,
                    HANGS = PCI_BITS_HANGS;

const char SRC_PAM[] = PCI_SOURCE("coreboot i440bx.h; QEMU pam.h PAM_ATTR_RE/WE");
const char SRC_SMRAM[] =
    PCI_SOURCE("QEMU pam.h SMRAM_*; CHIPSEC pmc_i440fx.xml SMRAM; 86Box intel_4x0.c");
const char SRC_ESMRAMC[] = PCI_SOURCE("QEMU q35.h ESMRAMC_*; MAME bus/lpci/i82439tx.cpp 71h; "
                                      "86Box intel_4x0.c (5-3 read-only)");
const char SRC_DRB[] = PCI_SOURCE("coreboot i440bx.h DRB; 86Box intel_4x0.c");

// clang-format off
#define PAM_BITS(base)                                                                      \
    {(base) + 0, 0x10, HANGS, "F0000-FFFFF read enable", PCI_SAYS_F0000_READ, SRC_PAM},            \
    {(base) + 0, 0x20, HANGS, "F0000-FFFFF write enable", PCI_SAYS_F0000_WRITE, SRC_PAM},          \
    PAM_PAIR((base) + 1, "C0000-C3FFF", "C4000-C7FFF")                                   \
    PAM_PAIR((base) + 2, "C8000-CBFFF", "CC000-CFFFF")                                   \
    PAM_PAIR((base) + 3, "D0000-D3FFF", "D4000-D7FFF")                                   \
    PAM_PAIR((base) + 4, "D8000-DBFFF", "DC000-DFFFF")                                   \
    PAM_PAIR((base) + 5, "E0000-E3FFF", "E4000-E7FFF")                                   \
    PAM_PAIR((base) + 6, "E8000-EBFFF", "EC000-EFFFF")
#define PAM_PAIR(at, low, high)                                                             \
    PCI_NAMED(at, 0x01, low " read enable", SRC_PAM)                                        \
    PCI_NAMED(at, 0x02, low " write enable", SRC_PAM)                                       \
    PCI_NAMED(at, 0x10, high " read enable", SRC_PAM)                                       \
    PCI_NAMED(at, 0x20, high " write enable", SRC_PAM)

#define SMRAM_BITS(at)                                                                      \
    {at, 0x07, RO, "C_BASE_SEG (A0000)", "", SRC_SMRAM},                                   \
    {at, 0x08, HANGS, "G_SMRAME SMRAM enable",                                             \
     "off, the next SMI runs from the VGA window and hangs the PC", SRC_SMRAM},            \
    {at, 0x10, HANGS, "D_LCK SMRAM lock",                                                  \
     "locks SMRAM until the next reset: Exit cannot undo it", SRC_SMRAM},                  \
    {at, 0x20, HANGS, "D_CLS SMRAM data closed",                                           \
     "the SMI handler's data goes to the VGA window", SRC_SMRAM},                          \
    {at, 0x40, HANGS, "D_OPEN SMRAM open",                                                 \
     "SMRAM replaces the VGA window at A0000 under Windows", SRC_SMRAM},                   \
    {at, 0x80, RO, "reserved", "", SRC_SMRAM},

#define ESMRAMC_BITS(at)                                                                    \
    {at, 0x01, HANGS, "T_EN TSEG enable", "memory is taken from under the running system, " \
     "or given back", SRC_ESMRAMC},                                                        \
    {at, 0x06, HANGS, "TSEG_SZ TSEG size", "memory is taken from under the running "        \
     "system, or given back", SRC_ESMRAMC},                                                \
    {at, 0x38, RO, "SM_CACHE, SM_L1, SM_L2", "", SRC_ESMRAMC},                             \
    {at, 0x40, W1C, "E_SMERR invalid SMRAM access", "", SRC_ESMRAMC},                      \
    {at, 0x80, HANGS, "H_SMRAME high SMRAM enable",                                        \
     "SMRAM moves under the BIOS's SMI handler", SRC_ESMRAMC},

#define DRB_BIT(n) {0x60 + (n), 0xFF, OWNED | HANGS, "DRAM row boundary", PCI_SAYS_MEMORY_MOVES, SRC_DRB},
#define DRB_BITS_6 DRB_BIT(0) DRB_BIT(1) DRB_BIT(2) DRB_BIT(3) DRB_BIT(4) DRB_BIT(5)
#define DRB_BITS_8 DRB_BITS_6 DRB_BIT(6) DRB_BIT(7)

const PciBitField I82439TX_BITS[] = {
    PAM_BITS(0x59)
    DRB_BITS_6
    ESMRAMC_BITS(0x71)
    SMRAM_BITS(0x72)
};

const PciBitField I82441FX_BITS[] = {
    PAM_BITS(0x59)
    DRB_BITS_8
    SMRAM_BITS(0x72)
    {0x91, 0x11, W1C, "error status", "", PCI_SOURCE("86Box intel_4x0.c (91h clears 11)")},
    {0x93, 0x02, HANGS, "SHRE system hard reset", "resets the PC",
     PCI_SOURCE("CHIPSEC pmc_i440fx.xml TRC; 86Box intel_4x0.c trc_write")},
    {0x93, 0x04, HANGS, "RCPU reset CPU", "resets the PC",
     PCI_SOURCE("CHIPSEC pmc_i440fx.xml TRC; 86Box intel_4x0.c trc_write")},
};

const PciBitField I82443LX_BITS[] = {
    PAM_BITS(0x59)
    DRB_BITS_8
    SMRAM_BITS(0x72)
    {0xA0, 0xFF, RO, "AGP capability identifier", "", PCI_SOURCE("86Box intel_4x0.c")},
    {0xA1, 0xFF, RO, "AGP capability identifier", "", PCI_SOURCE("86Box intel_4x0.c")},
    {0xA2, 0xFF, RO, "AGP capability identifier", "", PCI_SOURCE("86Box intel_4x0.c")},
    {0xA3, 0xFF, RO, "AGP capability identifier", "", PCI_SOURCE("86Box intel_4x0.c")},
};

const char SRC_BX[] = PCI_SOURCE("coreboot i440bx.h, raminit.c; 86Box intel_4x0.c");

const PciBitField I82443BX_BITS[] = {
    {0x57, 0x07, HANGS, "DRAM refresh rate", PCI_SAYS_NO_REFRESH, SRC_BX},
    {0x57, 0x18, HANGS, "DRAM type", "the BIOS found the DIMMs' type: memory stops working",
     SRC_BX},
    {0x57, 0xC0, RO, "reserved", "", SRC_BX},
    PAM_BITS(0x59)
    DRB_BITS_8
    SMRAM_BITS(0x72)
    ESMRAMC_BITS(0x73)
    {0x76, 0x04, HANGS, "CL CAS latency",
     "the BIOS set it together with the DIMMs' mode register: changed alone, they disagree",
     SRC_BX},
    {0x76, 0xE0, HANGS, "SMS SDRAM mode select",
     "anything but 000 makes every memory cycle an SDRAM command", SRC_BX},
    {0x77, 0xFC, RO, "reserved", "", SRC_BX},
    {0x7A, 0x10, HANGS, "NREF_EN normal refresh enable", "off, DRAM refresh stops", SRC_BX},
    {0x91, 0x11, W1C, "ECC error status", "", SRC_BX},
    {0x91, 0xEE, RO, "ECC error row", "", SRC_BX},
    {0x92, 0x1F, W1C, "ECC error status", "", SRC_BX},
    {0x92, 0xE0, RO, "reserved", "", SRC_BX},
    {0xA0, 0xFF, RO, "AGP capability identifier", "", SRC_BX},
    {0xA1, 0xFF, RO, "AGP capability identifier", "", SRC_BX},
    {0xA2, 0xFF, RO, "AGP capability identifier", "", SRC_BX},
    {0xA3, 0xFF, RO, "AGP capability identifier", "", SRC_BX},
    {0xA4, 0xFF, RO, "AGP status", "", SRC_BX},
    {0xA5, 0xFF, RO, "AGP status", "", SRC_BX},
    {0xA6, 0xFF, RO, "AGP status", "", SRC_BX},
    {0xA7, 0xFF, RO, "AGP status", "", SRC_BX},
};

const PciBitField Q35_MCH_BITS[] = {
    PAM_BITS(0x90)
    SMRAM_BITS(0x9D)
    ESMRAMC_BITS(0x9E)
};
// clang-format on

} // namespace

#define TABLE(regs, bits) regs, COUNT(regs), bits, COUNT(bits)

extern const PciChipsetTable PCI_INTEL_CHIPSETS[] = {
    {0x8086, 0x7100, PCI_NOTE("Intel 82439TX (430TX)"), PCI_SOURCE("Intel 290559-001"),
     TABLE(I82439TX, I82439TX_BITS)},
    {0x8086, 0x1237, PCI_NOTE("Intel 82441FX (440FX)"), PCI_SOURCE("Intel 290549-001"),
     TABLE(I82441FX, I82441FX_BITS)},
    {0x8086, 0x7180, PCI_NOTE("Intel 82443LX (440LX)"), PCI_SOURCE("Intel 290564-001"),
     TABLE(I82443LX, I82443LX_BITS)},
    {0x8086, 0x7190, PCI_NOTE("Intel 82443BX (440BX/ZX)"), PCI_SOURCE("Intel 290633-001"),
     TABLE(I82443BX, I82443BX_BITS)},
    {0x8086, 0x7192, PCI_NOTE("Intel 82443BX (440BX/ZX, AGP off)"), PCI_SOURCE("Intel 290633-001"),
     TABLE(I82443BX, I82443BX_BITS)},
    {0x8086, 0x29C0, PCI_NOTE("Intel 82G33/P35 MCH (QEMU q35)"), PCI_SOURCE("Intel 316966"),
     TABLE(Q35_MCH, Q35_MCH_BITS)},
};

extern const int PCI_INTEL_CHIPSET_COUNT = COUNT(PCI_INTEL_CHIPSETS);
