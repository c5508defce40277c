// Intel chipsets. Each table names the datasheet it was read from; names and
// offsets cross-checked with coreboot's and Linux's chipset headers.
#include "chipset_tables.h"

#define COUNT(a) int(sizeof(a) / sizeof(a[0]))

namespace
{

// The seven PAM registers of every Intel host bridge here: two nibbles each
// (read enable, write enable) for the 16 KB segments of the 640 KB-1 MB hole.
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
    {0x72, 1, "SMRAM", PCI_NOTE("SMRAM control: open, close, lock")},
    {0x73, 1, "ESMRAMC", PCI_NOTE("Extended SMRAM control: TSEG")},
};

// 82441FX PCI and Memory Controller (PMC), 440FX; QEMU's "pc" host bridge.
// Intel 290549-001.
const PciRegisterName I82441FX[] = {
    {0x50, 2, "PMCCFG", PCI_NOTE("PMC configuration")},
    // No DRAM control/timing entries: QEMU documents 57h as absent on real
    // hardware and keeps the RAM size there; without the datasheet page at
    // hand, 57h-58h stay unnamed.
    PAM_ENTRIES(0x59),
    DRB_ENTRIES_8,
    {0x68, 1, "FDHC", PCI_NOTE("Memory hole: 512-640 KB or 15-16 MB")},
    {0x70, 1, "MTT", PCI_NOTE("Multi-transaction timer")},
    {0x71, 1, "CLT", PCI_NOTE("CPU latency timer")},
    {0x72, 1, "SMRAM", PCI_NOTE("SMRAM control: open, close, lock")},
    {0x90, 1, "ERRCMD", PCI_NOTE("Error command: SERR# on errors")},
    {0x91, 1, "ERRSTS", PCI_NOTE("Error status (write 1 to clear)")},
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
    {0xBC, 1, "AMTT", PCI_NOTE("AGP multi-transaction timer")},
    {0xBD, 1, "LPTT", PCI_NOTE("AGP low-priority transaction timer")},
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

// PIIX3 (82371SB) and PIIX4/4E (82371AB/EB). PIIX3: Intel 290550-001;
// PIIX4: Intel 290562-001, PIIX4E: 290562-002.
// clang-format off
#define PIRQ_ENTRIES                                                \
    {0x60, 1, "PIRQRCA", PCI_NOTE("PIRQA# to IRQ routing")},        \
    {0x61, 1, "PIRQRCB", PCI_NOTE("PIRQB# to IRQ routing")},        \
    {0x62, 1, "PIRQRCC", PCI_NOTE("PIRQC# to IRQ routing")},        \
    {0x63, 1, "PIRQRCD", PCI_NOTE("PIRQD# to IRQ routing")}
// clang-format on

const PciRegisterName PIIX3_ISA[] = {
    {0x4C, 1, "IORT", PCI_NOTE("ISA I/O recovery timer")},
    {0x4E, 2, "XBCS", PCI_NOTE("X-bus chip select: BIOS, KBC, RTC")},
    PIRQ_ENTRIES,
    {0x69, 1, "TOM", PCI_NOTE("Top of memory, ISA/DMA forwarding")},
    {0x70, 1, "MBIRQ0", PCI_NOTE("Motherboard device IRQ route 0")},
    {0x76, 1, "MBDMA0", PCI_NOTE("Motherboard device DMA 0")},
    {0x77, 1, "MBDMA1", PCI_NOTE("Motherboard device DMA 1")},
    {0x78, 2, "PCSC", PCI_NOTE("Programmable chip select control")},
    {0x80, 1, "APICBASE", PCI_NOTE("I/O APIC base address relocation")},
    {0x82, 1, "DLC", PCI_NOTE("Deterministic latency control")},
    {0xA0, 1, "SMICNTL", PCI_NOTE("SMI control")},
    {0xA2, 2, "SMIEN", PCI_NOTE("SMI enable")},
    {0xA4, 4, "SEE", PCI_NOTE("System event enable")},
    {0xA8, 1, "FTMR", PCI_NOTE("Fast off timer")},
    {0xAA, 2, "SMIREQ", PCI_NOTE("SMI request")},
    {0xAC, 1, "CTLTMR", PCI_NOTE("Clock scale STPCLK# low timer")},
    {0xAE, 1, "CTHTMR", PCI_NOTE("Clock scale STPCLK# high timer")},
};

const PciRegisterName PIIX3_IDE[] = {
    {0x40, 2, "IDETIM", PCI_NOTE("Primary channel IDE timing")},
    {0x42, 2, "IDETIM", PCI_NOTE("Secondary channel IDE timing")},
    {0x44, 1, "SIDETIM", PCI_NOTE("Slave IDE timing")},
};

// The USB function of PIIX3 and PIIX4 alike.
const PciRegisterName PIIX_USB[] = {
    {0x60, 1, "SBRN", PCI_NOTE("Serial bus release number")},
    {0xC0, 2, "LEGSUP", PCI_NOTE("Legacy support: keyboard/mouse SMI")},
};

const PciRegisterName PIIX4_ISA[] = {
    {0x4C, 1, "IORT", PCI_NOTE("ISA I/O recovery timer")},
    {0x4E, 2, "XBCS", PCI_NOTE("X-bus chip select: BIOS, KBC, RTC")},
    PIRQ_ENTRIES,
    {0x64, 1, "SERIRQC", PCI_NOTE("Serial IRQ control")},
    {0x69, 1, "TOM", PCI_NOTE("Top of memory, ISA/DMA forwarding")},
    {0x70, 1, "MBIRQ0", PCI_NOTE("Motherboard device IRQ route 0")},
    {0x71, 1, "MBIRQ1", PCI_NOTE("Motherboard device IRQ route 1")},
    {0x76, 1, "MBDMA0", PCI_NOTE("Motherboard device DMA 0")},
    {0x77, 1, "MBDMA1", PCI_NOTE("Motherboard device DMA 1")},
    {0x80, 1, "APICBASE", PCI_NOTE("I/O APIC base address relocation")},
    {0x82, 1, "DLC", PCI_NOTE("Deterministic latency control")},
    {0x90, 2, "PDMACFG", PCI_NOTE("PCI DMA configuration")},
    {0x92, 2, "DDMABP0", PCI_NOTE("Distributed DMA slave base 0")},
    {0x94, 2, "DDMABP1", PCI_NOTE("Distributed DMA slave base 1")},
    {0xB0, 4, "GENCFG", PCI_NOTE("General configuration")},
    {0xCB, 1, "RTCCFG", PCI_NOTE("Real-time clock configuration")},
};

const PciRegisterName PIIX4_IDE[] = {
    {0x40, 2, "IDETIM", PCI_NOTE("Primary channel IDE timing")},
    {0x42, 2, "IDETIM", PCI_NOTE("Secondary channel IDE timing")},
    {0x44, 1, "SIDETIM", PCI_NOTE("Slave IDE timing")},
    {0x48, 1, "UDMACTL", PCI_NOTE("Ultra DMA/33 enable per drive")},
    {0x4A, 2, "UDMATIM", PCI_NOTE("Ultra DMA/33 cycle timing per drive")},
};

const PciRegisterName PIIX4_PM[] = {
    {0x40, 4, "PMBA", PCI_NOTE("Power management I/O base address")},
    {0x44, 4, "CNTA", PCI_NOTE("Count A: device monitor, idle")},
    {0x48, 4, "CNTB", PCI_NOTE("Count B: device monitor, idle")},
    {0x4C, 4, "GPICTL", PCI_NOTE("General purpose input control")},
    {0x50, 4, "DEVRESD", PCI_NOTE("Device resource D")},
    {0x54, 4, "DEVACTA", PCI_NOTE("Device activity A")},
    {0x58, 4, "DEVACTB", PCI_NOTE("Device activity B")},
    {0x5C, 4, "DEVRESA", PCI_NOTE("Device resource A")},
    {0x60, 4, "DEVRESB", PCI_NOTE("Device resource B")},
    {0x64, 4, "DEVRESC", PCI_NOTE("Device resource C")},
    {0x68, 4, "DEVRESE", PCI_NOTE("Device resource E")},
    {0x6C, 4, "DEVRESF", PCI_NOTE("Device resource F")},
    {0x70, 4, "DEVRESG", PCI_NOTE("Device resource G")},
    {0x74, 4, "DEVRESH", PCI_NOTE("Device resource H")},
    {0x78, 4, "DEVRESI", PCI_NOTE("Device resource I")},
    {0x7C, 4, "DEVRESJ", PCI_NOTE("Device resource J")},
    {0x80, 1, "PMREGMISC", PCI_NOTE("PM I/O space enable")},
    {0x90, 4, "SMBBA", PCI_NOTE("SMBus I/O base address")},
    {0xD2, 1, "SMBHSTCFG", PCI_NOTE("SMBus host configuration, enable")},
    {0xD3, 1, "SMBSLVC", PCI_NOTE("SMBus slave command")},
    {0xD4, 1, "SMBSHDW1", PCI_NOTE("SMBus slave shadow port 1")},
    {0xD5, 1, "SMBSHDW2", PCI_NOTE("SMBus slave shadow port 2")},
    {0xD6, 1, "SMBREV", PCI_NOTE("SMBus revision")},
};

// 82Q35/82G33/82P35 (G)MCH host bridge; QEMU's "q35" machine. Intel
// 316966 (3 Series Express Chipset Family datasheet).
const PciRegisterName Q35_MCH[] = {
    // EPBAR, MCHBAR, PCIEXBAR and DMIBAR are 64 bits each.
    {0x40, 4, "EPBAR", PCI_NOTE("Egress port base address, low")},
    {0x44, 4, "EPBAR", PCI_NOTE("Egress port base address, high")},
    {0x48, 4, "MCHBAR", PCI_NOTE("MCH memory-mapped base, low")},
    {0x4C, 4, "MCHBAR", PCI_NOTE("MCH memory-mapped base, high")},
    {0x52, 2, "GGC", PCI_NOTE("Graphics control: stolen memory")},
    {0x54, 4, "DEVEN", PCI_NOTE("Device enable: PEG, IGD, ME")},
    {0x60, 4, "PCIEXBAR", PCI_NOTE("PCI Express config base, low; enable")},
    {0x64, 4, "PCIEXBAR", PCI_NOTE("PCI Express config base, high")},
    {0x68, 4, "DMIBAR", PCI_NOTE("DMI root complex base, low")},
    {0x6C, 4, "DMIBAR", PCI_NOTE("DMI root complex base, high")},
    PAM_ENTRIES(0x90),
    {0x9D, 1, "SMRAM", PCI_NOTE("SMRAM control: open, close, lock")},
    {0x9E, 1, "ESMRAMC", PCI_NOTE("Extended SMRAM control: TSEG")},
    {0xA0, 2, "TOM", PCI_NOTE("Top of memory")},
    {0xA2, 2, "TOUUD", PCI_NOTE("Top of upper usable DRAM")},
    {0xA4, 4, "GBSM", PCI_NOTE("Graphics base of stolen memory")},
    {0xA8, 4, "BGSM", PCI_NOTE("Base of GTT stolen memory")},
    {0xAC, 4, "TSEGMB", PCI_NOTE("TSEG memory base")},
    {0xB0, 2, "TOLUD", PCI_NOTE("Top of low usable DRAM")},
};

} // namespace

extern const PciChipsetTable PCI_INTEL_CHIPSETS[] = {
    {0x8086, 0x7100, "Intel 82439TX (430TX)", "Intel 290559-001", I82439TX, COUNT(I82439TX)},
    {0x8086, 0x1237, "Intel 82441FX (440FX)", "Intel 290549-001", I82441FX, COUNT(I82441FX)},
    {0x8086, 0x7180, "Intel 82443LX (440LX)", "Intel 290564-001", I82443LX, COUNT(I82443LX)},
    {0x8086, 0x7190, "Intel 82443BX (440BX/ZX)", "Intel 290633-001", I82443BX, COUNT(I82443BX)},
    {0x8086, 0x7192, "Intel 82443BX (440BX/ZX, AGP off)", "Intel 290633-001", I82443BX,
     COUNT(I82443BX)},
    {0x8086, 0x7000, "Intel 82371SB PIIX3 ISA", "Intel 290550-001", PIIX3_ISA, COUNT(PIIX3_ISA)},
    {0x8086, 0x7010, "Intel 82371SB PIIX3 IDE", "Intel 290550-001", PIIX3_IDE, COUNT(PIIX3_IDE)},
    {0x8086, 0x7020, "Intel 82371SB PIIX3 USB", "Intel 290550-001", PIIX_USB, COUNT(PIIX_USB)},
    {0x8086, 0x7110, "Intel 82371AB/EB PIIX4 ISA", "Intel 290562", PIIX4_ISA, COUNT(PIIX4_ISA)},
    {0x8086, 0x7111, "Intel 82371AB/EB PIIX4 IDE", "Intel 290562", PIIX4_IDE, COUNT(PIIX4_IDE)},
    {0x8086, 0x7112, "Intel 82371AB/EB PIIX4 USB", "Intel 290562", PIIX_USB, COUNT(PIIX_USB)},
    {0x8086, 0x7113, "Intel 82371AB/EB PIIX4 power", "Intel 290562", PIIX4_PM, COUNT(PIIX4_PM)},
    {0x8086, 0x29C0, "Intel 82G33/P35 MCH (QEMU q35)", "Intel 316966", Q35_MCH, COUNT(Q35_MCH)},
};

extern const int PCI_INTEL_CHIPSET_COUNT = COUNT(PCI_INTEL_CHIPSETS);
