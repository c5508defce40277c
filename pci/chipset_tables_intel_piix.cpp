// Intel's PCI-to-ISA bridges of the 430 and 440 chipsets, PIIX3 and PIIX4:
// their ISA, IDE, USB and power functions. Each table names the datasheet it
// was read from; names and offsets cross-checked with coreboot's and Linux's
// chipset headers.
#include "chipset_tables.h"

#define COUNT(a) int(sizeof(a) / sizeof(a[0]))

namespace
{

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
    {0x82, 1, "DLC", PCI_NOTE("Deterministic latency control"), PCI_BITS_UNVERIFIED},
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
    // No MBIRQ0/MBIRQ1: the PIIX and PIIX3 have them, the PIIX4 ignores
    // writes to 70h-71h (86Box intel_piix.c).
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
    {0x44, 4, "CNTA", PCI_NOTE("Count A: device monitor, idle"), PCI_BITS_UNVERIFIED},
    {0x48, 4, "CNTB", PCI_NOTE("Count B: device monitor, idle"), PCI_BITS_UNVERIFIED},
    {0x4C, 4, "GPICTL", PCI_NOTE("General purpose input control"), PCI_BITS_UNVERIFIED},
    {0x50, 4, "DEVRESD", PCI_NOTE("Device resource D"), PCI_BITS_UNVERIFIED},
    {0x54, 4, "DEVACTA", PCI_NOTE("Device activity A"), PCI_BITS_UNVERIFIED},
    {0x58, 4, "DEVACTB", PCI_NOTE("Device activity B"), PCI_BITS_UNVERIFIED},
    {0x5C, 4, "DEVRESA", PCI_NOTE("Device resource A"), PCI_BITS_UNVERIFIED},
    {0x60, 4, "DEVRESB", PCI_NOTE("Device resource B"), PCI_BITS_UNVERIFIED},
    {0x64, 4, "DEVRESC", PCI_NOTE("Device resource C"), PCI_BITS_UNVERIFIED},
    {0x68, 4, "DEVRESE", PCI_NOTE("Device resource E"), PCI_BITS_UNVERIFIED},
    {0x6C, 4, "DEVRESF", PCI_NOTE("Device resource F"), PCI_BITS_UNVERIFIED},
    {0x70, 4, "DEVRESG", PCI_NOTE("Device resource G"), PCI_BITS_UNVERIFIED},
    {0x74, 4, "DEVRESH", PCI_NOTE("Device resource H"), PCI_BITS_UNVERIFIED},
    {0x78, 4, "DEVRESI", PCI_NOTE("Device resource I"), PCI_BITS_UNVERIFIED},
    {0x7C, 4, "DEVRESJ", PCI_NOTE("Device resource J"), PCI_BITS_UNVERIFIED},
    {0x80, 1, "PMREGMISC", PCI_NOTE("PM I/O space enable")},
    {0x90, 4, "SMBBA", PCI_NOTE("SMBus I/O base address")},
    {0xD2, 1, "SMBHSTCFG", PCI_NOTE("SMBus host configuration, enable")},
    {0xD3, 1, "SMBSLVC", PCI_NOTE("SMBus slave command")},
    {0xD4, 1, "SMBSHDW1", PCI_NOTE("SMBus slave shadow port 1")},
    {0xD5, 1, "SMBSHDW2", PCI_NOTE("SMBus slave shadow port 2")},
    {0xD6, 1, "SMBREV", PCI_NOTE("SMBus revision")},
};

// ---- what the bits do ------------------------------------------------------

const unsigned char RO = PCI_BITS_READ_ONLY, W1C = PCI_BITS_WRITE1_CLEAR, OWNED = PCI_BITS_OWNED,
                    HANGS = PCI_BITS_HANGS;

const char SRC_PIRQ[] =
    PCI_SOURCE("Linux arch/x86/pci/irq.c pirq_piix_get; 86Box intel_piix.c (mask 8F)");
const char SRC_IDE[] =
    PCI_SOURCE("coreboot i82371eb.h; Linux ata_piix.c; 86Box intel_piix.c (41h mask F3)");

// clang-format off
#define PIRQ_BITS(at, line)                                                                  \
    {at, 0x0F, OWNED | HANGS, line " IRQ", PCI_SAYS_IRQ_STEERING, SRC_PIRQ},                   \
    {at, 0x70, RO, "reserved", "", SRC_PIRQ},                                              \
    {at, 0x80, OWNED | HANGS, line " routing disable", PCI_SAYS_IRQ_STEERING, SRC_PIRQ},
#define PIRQ_ALL_BITS                                                                        \
    PIRQ_BITS(0x60, "PIRQA#") PIRQ_BITS(0x61, "PIRQB#") PIRQ_BITS(0x62, "PIRQC#")          \
    PIRQ_BITS(0x63, "PIRQD#")

const PciBitField PIIX3_ISA_BITS[] = {
    PIRQ_ALL_BITS
};

const PciBitField PIIX4_ISA_BITS[] = {
    PIRQ_ALL_BITS
    {0xCB, 0x01, HANGS, "RTC enable", "the clock and CMOS at ports 70h-71h vanish",
     PCI_SOURCE("coreboot i82371eb.h RTCCFG; 86Box intel_piix.c")},
};


#define IDETIM_BITS(at)                                                                      \
    PCI_NAMED(at, 0x01, "TIME0 fast timing, drive 0", SRC_IDE)                              \
    PCI_NAMED(at, 0x02, "IE0 IORDY sample enable, drive 0", SRC_IDE)                        \
    PCI_NAMED(at, 0x04, "PPE0 prefetch and posting, drive 0", SRC_IDE)                      \
    PCI_NAMED(at, 0x08, "DTE0 DMA timing only, drive 0", SRC_IDE)                           \
    PCI_NAMED(at, 0x10, "TIME1 fast timing, drive 1", SRC_IDE)                              \
    PCI_NAMED(at, 0x20, "IE1 IORDY sample enable, drive 1", SRC_IDE)                        \
    PCI_NAMED(at, 0x40, "PPE1 prefetch and posting, drive 1", SRC_IDE)                      \
    PCI_NAMED(at, 0x80, "DTE1 DMA timing only, drive 1", SRC_IDE)                           \
    PCI_NAMED((at) + 1, 0x03, "RTC recovery time", SRC_IDE)                                \
    {(at) + 1, 0x0C, RO, "reserved", "", SRC_IDE},                                         \
    PCI_NAMED((at) + 1, 0x30, "ISP IORDY sample point", SRC_IDE)                            \
    PCI_NAMED((at) + 1, 0x40, "SITRE slave timing enable", SRC_IDE)                         \
    {(at) + 1, 0x80, HANGS, "IDE decode enable", PCI_SAYS_CHANNEL_GONE, SRC_IDE},
#define SIDETIM_BITS                                                                         \
    PCI_NAMED(0x44, 0x03, "primary slave RTC recovery time", SRC_IDE)                       \
    PCI_NAMED(0x44, 0x0C, "primary slave ISP IORDY sample point", SRC_IDE)                  \
    PCI_NAMED(0x44, 0x30, "secondary slave RTC recovery time", SRC_IDE)                     \
    PCI_NAMED(0x44, 0xC0, "secondary slave ISP IORDY sample point", SRC_IDE)

const PciBitField PIIX3_IDE_BITS[] = {
    IDETIM_BITS(0x40)
    IDETIM_BITS(0x42)
    SIDETIM_BITS
};

const PciBitField PIIX4_IDE_BITS[] = {
    IDETIM_BITS(0x40)
    IDETIM_BITS(0x42)
    SIDETIM_BITS
    PCI_NAMED(0x48, 0x01, "PSDE0 Ultra DMA, primary master", SRC_IDE)
    PCI_NAMED(0x48, 0x02, "PSDE1 Ultra DMA, primary slave", SRC_IDE)
    PCI_NAMED(0x48, 0x04, "SSDE0 Ultra DMA, secondary master", SRC_IDE)
    PCI_NAMED(0x48, 0x08, "SSDE1 Ultra DMA, secondary slave", SRC_IDE)
    {0x48, 0xF0, RO, "reserved", "", SRC_IDE},
    PCI_NAMED(0x4A, 0x03, "PCT0 Ultra DMA cycle time, primary master", SRC_IDE)
    PCI_NAMED(0x4A, 0x30, "PCT1 Ultra DMA cycle time, primary slave", SRC_IDE)
    {0x4A, 0xCC, RO, "reserved", "", SRC_IDE},
    PCI_NAMED(0x4B, 0x03, "SCT0 Ultra DMA cycle time, secondary master", SRC_IDE)
    PCI_NAMED(0x4B, 0x30, "SCT1 Ultra DMA cycle time, secondary slave", SRC_IDE)
    {0x4B, 0xCC, RO, "reserved", "", SRC_IDE},
};

const char SRC_USB[] = PCI_SOURCE("Linux pci-quirks.c UHCI_USBLEGSUP_RWC/RO; 86Box intel_piix.c");

const PciBitField PIIX_USB_BITS[] = {
    {0x60, 0xFF, RO, "serial bus release number", "", SRC_USB},
    {0xC0, 0x40, RO, "legacy support status", "", SRC_USB},
    {0xC1, 0x20, HANGS, "USB PIRQ enable",
     "off, the USB controller's interrupt stops: USB keyboard and mouse die", SRC_USB},
    {0xC1, 0x50, RO, "legacy support status", "", SRC_USB},
    {0xC1, 0x8F, W1C, "legacy support events", "", SRC_USB},
};

const char SRC_PM[] = PCI_SOURCE("coreboot i82371eb.h PMBA, SMBBA; Linux i2c-piix4.c; 86Box "
                                 "intel_piix.c");

const PciBitField PIIX4_PM_BITS[] = {
    {0x40, 0x3F, RO, "I/O space indicator", "", SRC_PM},
    {0x40, 0xC0, OWNED, "PM I/O base", PCI_SAYS_PM_BASE, SRC_PM},
    {0x41, 0xFF, OWNED, "PM I/O base", PCI_SAYS_PM_BASE, SRC_PM},
    {0x90, 0x0F, RO, "I/O space indicator", "", SRC_PM},
    {0x90, 0xF0, OWNED, "SMBus I/O base", PCI_SAYS_SMBUS_BASE, SRC_PM},
    {0x91, 0xFF, OWNED, "SMBus I/O base", PCI_SAYS_SMBUS_BASE, SRC_PM},
    {0xD6, 0xFF, RO, "SMBus revision", "", SRC_PM},
};

// clang-format on

} // namespace

#define TABLE(regs, bits) regs, COUNT(regs), bits, COUNT(bits)

extern const PciChipsetTable PCI_PIIX_CHIPSETS[] = {
    {0x8086, 0x7000, PCI_NOTE("Intel 82371SB PIIX3 ISA"), PCI_SOURCE("Intel 290550-001"),
     TABLE(PIIX3_ISA, PIIX3_ISA_BITS)},
    {0x8086, 0x7010, PCI_NOTE("Intel 82371SB PIIX3 IDE"), PCI_SOURCE("Intel 290550-001"),
     TABLE(PIIX3_IDE, PIIX3_IDE_BITS)},
    {0x8086, 0x7020, PCI_NOTE("Intel 82371SB PIIX3 USB"), PCI_SOURCE("Intel 290550-001"),
     TABLE(PIIX_USB, PIIX_USB_BITS)},
    {0x8086, 0x7110, PCI_NOTE("Intel 82371AB/EB PIIX4 ISA"), PCI_SOURCE("Intel 290562"),
     TABLE(PIIX4_ISA, PIIX4_ISA_BITS)},
    {0x8086, 0x7111, PCI_NOTE("Intel 82371AB/EB PIIX4 IDE"), PCI_SOURCE("Intel 290562"),
     TABLE(PIIX4_IDE, PIIX4_IDE_BITS)},
    {0x8086, 0x7112, PCI_NOTE("Intel 82371AB/EB PIIX4 USB"), PCI_SOURCE("Intel 290562"),
     TABLE(PIIX_USB, PIIX_USB_BITS)},
    {0x8086, 0x7113, PCI_NOTE("Intel 82371AB/EB PIIX4 power"), PCI_SOURCE("Intel 290562"),
     TABLE(PIIX4_PM, PIIX4_PM_BITS)},
};

extern const int PCI_PIIX_CHIPSET_COUNT = COUNT(PCI_PIIX_CHIPSETS);
