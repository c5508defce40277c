// VIA chipsets. VIA's datasheets title their registers ("Offset 61 - Shadow
// RAM Control 1") instead of giving mnemonics: the name here is that title,
// shortened. Cross-checked with Linux's VIA drivers and coreboot's VT8601
// (the VT82C693A's sibling with graphics) where they touch these registers.
#include "chipset_tables.h"

#define COUNT(a) int(sizeof(a) / sizeof(a[0]))

namespace
{

// VT82C693A (Apollo Pro Plus) / VT82C694X (Apollo Pro133A) host bridge.
// VIA VT82C693A and VT82C694X datasheets. The VT82C691 has the same ID;
// the revision tells them apart (86Box via_apollo.c).
//
// The shadow RAM fields are two bits per segment like Intel's PAM, but in
// the other order: the low bit enables writes, the high bit reads (86Box
// via_apollo.c). A value that is read-only on an Intel chip is write-only
// here.
const PciRegisterName VT82C693A[] = {
    {0x56, 1, "Bank 6 End", PCI_NOTE("DRAM bank 6 ending address")},
    {0x57, 1, "Bank 7 End", PCI_NOTE("DRAM bank 7 ending address")},
    {0x58, 1, "DRAM MA Map 0", PCI_NOTE("DRAM MA map type, banks 0-3")},
    {0x59, 1, "DRAM MA Map 1", PCI_NOTE("DRAM MA map type, banks 4-7")},
    {0x5A, 1, "Bank 0 End", PCI_NOTE("DRAM bank 0 ending address")},
    {0x5B, 1, "Bank 1 End", PCI_NOTE("DRAM bank 1 ending address")},
    {0x5C, 1, "Bank 2 End", PCI_NOTE("DRAM bank 2 ending address")},
    {0x5D, 1, "Bank 3 End", PCI_NOTE("DRAM bank 3 ending address")},
    {0x5E, 1, "Bank 4 End", PCI_NOTE("DRAM bank 4 ending address")},
    {0x5F, 1, "Bank 5 End", PCI_NOTE("DRAM bank 5 ending address")},
    {0x60, 1, "DRAM Type", PCI_NOTE("DRAM type per bank pair: SDRAM/EDO")},
    {0x61, 1, "Shadow Ctl 1", PCI_NOTE("C0000-CFFFF shadow: low bit write, high bit read")},
    {0x62, 1, "Shadow Ctl 2", PCI_NOTE("D0000-DFFFF shadow: low bit write, high bit read")},
    // Bits 3-2 (a memory hole) are unconfirmed.
    {0x63, 1, "Shadow Ctl 3", PCI_NOTE("E/F0000 shadow (low bit write); A0000 SMRAM")},
    {0x64, 1, "DRAM Timing 0", PCI_NOTE("DRAM timing, banks 0 and 1")},
    {0x65, 1, "DRAM Timing 1", PCI_NOTE("DRAM timing, banks 2 and 3")},
    {0x66, 1, "DRAM Timing 2", PCI_NOTE("DRAM timing, banks 4 and 5")},
    {0x68, 1, "DRAM Control", PCI_NOTE("DRAM control: page mode, clocking")},
    {0x69, 1, "DRAM Clock", PCI_NOTE("DRAM clock select: page size")},
    {0x6A, 1, "Refresh Ctr", PCI_NOTE("DRAM refresh counter (0: refresh off)")},
    {0x6B, 1, "DRAM Arb", PCI_NOTE("DRAM arbitration: multi-page open")},
    {0x6C, 1, "SDRAM Control", PCI_NOTE("SDRAM command mode: NOP, MRS, normal")},
    {0x6D, 1, "DRAM Drive", PCI_NOTE("DRAM drive strength")},
    {0x70, 1, "PCI Buffer", PCI_NOTE("PCI buffer control"), PCI_BITS_UNVERIFIED},
    {0x71, 1, "CPU-PCI Flow 1", PCI_NOTE("CPU to PCI flow control 1"), PCI_BITS_UNVERIFIED},
    {0x72, 1, "CPU-PCI Flow 2", PCI_NOTE("CPU to PCI flow control 2"), PCI_BITS_UNVERIFIED},
    {0x73, 1, "PCI Master 1", PCI_NOTE("PCI master control 1"), PCI_BITS_UNVERIFIED},
    {0x74, 1, "PCI Master 2", PCI_NOTE("PCI master control 2"), PCI_BITS_UNVERIFIED},
    {0x75, 1, "PCI Arb 1", PCI_NOTE("PCI arbitration 1"), PCI_BITS_UNVERIFIED},
    {0x76, 1, "PCI Arb 2", PCI_NOTE("PCI arbitration 2"), PCI_BITS_UNVERIFIED},
    {0x80, 4, "GART/TLB Ctl", PCI_NOTE("AGP GART/TLB control"), PCI_BITS_UNVERIFIED},
    {0x84, 1, "Aperture Size", PCI_NOTE("AGP graphics aperture size")},
    {0x88, 4, "GA Table Base", PCI_NOTE("Aperture translation table base")},
};

// VT82C686A/B south bridge. VIA VT82C686A and VT82C686B datasheets.
const PciRegisterName VT82C686_ISA[] = {
    {0x48, 1, "Function Disable", PCI_NOTE("Bit 1 IDE, bit 2 USB off"), PCI_BITS_UNVERIFIED},
    {0x55, 1, "PIRQA Route", PCI_NOTE("PIRQA# to IRQ (bits 7-4)")},
    {0x56, 1, "PIRQB/C Route", PCI_NOTE("PIRQB# (bits 3-0), PIRQC# (7-4) to IRQ")},
    {0x57, 1, "PIRQD Route", PCI_NOTE("PIRQD# to IRQ (bits 7-4)")},
};

const PciRegisterName VT82C686_IDE[] = {
    {0x40, 1, "IDE Enable", PCI_NOTE("IDE channel enable")},
    {0x41, 1, "IDE Config", PCI_NOTE("IDE configuration: prefetch, post")},
    {0x43, 1, "FIFO Config", PCI_NOTE("IDE FIFO configuration")},
    {0x44, 1, "Misc Control 1", PCI_NOTE("IDE miscellaneous control 1")},
    {0x45, 1, "Misc Control 2", PCI_NOTE("IDE miscellaneous control 2")},
    {0x46, 1, "Misc Control 3", PCI_NOTE("IDE miscellaneous control 3")},
    {0x48, 1, "Drive Timing", PCI_NOTE("Secondary slave data pulse/recovery")},
    {0x49, 1, "Drive Timing", PCI_NOTE("Secondary master data pulse/recovery")},
    {0x4A, 1, "Drive Timing", PCI_NOTE("Primary slave data pulse/recovery")},
    {0x4B, 1, "Drive Timing", PCI_NOTE("Primary master data pulse/recovery")},
    {0x4C, 1, "Address Setup", PCI_NOTE("Address setup time, all drives")},
    {0x4E, 1, "Port Timing", PCI_NOTE("Secondary command (8-bit) timing"), PCI_BITS_UNVERIFIED},
    {0x4F, 1, "Port Timing", PCI_NOTE("Primary command (8-bit) timing"), PCI_BITS_UNVERIFIED},
    {0x50, 1, "UDMA Timing", PCI_NOTE("Ultra DMA, secondary slave")},
    {0x51, 1, "UDMA Timing", PCI_NOTE("Ultra DMA, secondary master")},
    {0x52, 1, "UDMA Timing", PCI_NOTE("Ultra DMA, primary slave")},
    {0x53, 1, "UDMA Timing", PCI_NOTE("Ultra DMA, primary master")},
};

// UHCI registers every VIA USB function has.
const PciRegisterName VT82C686_USB[] = {
    {0x60, 1, "SBRN", PCI_NOTE("Serial bus release number"), PCI_BITS_UNVERIFIED},
    {0xC0, 2, "Legacy Support", PCI_NOTE("Legacy support: keyboard/mouse SMI")},
};

const PciRegisterName VT82C686_PM[] = {
    {0x48, 4, "PM I/O Base", PCI_NOTE("Power management I/O base")},
    {0x70, 4, "HWM I/O Base", PCI_NOTE("Hardware monitor I/O base")},
    {0x74, 1, "HWM Control", PCI_NOTE("Hardware monitor enable")},
    {0x90, 4, "SMBus I/O Base", PCI_NOTE("SMBus I/O base")},
    {0xD2, 1, "SMBus Host Cfg", PCI_NOTE("SMBus host configuration, enable")},
};

// ---- what the bits do ------------------------------------------------------

const unsigned char RO = PCI_BITS_READ_ONLY, OWNED = PCI_BITS_OWNED, HANGS = PCI_BITS_HANGS,
                    UNVERIFIED = PCI_BITS_UNVERIFIED;

const char SRC_RAM[] = PCI_SOURCE("coreboot vt8601 raminit.c; 86Box via_apollo.c");
const char SRC_SHADOW[] = PCI_SOURCE("86Box via_apollo.c apollo_map");

// clang-format off
#define BANK_END(at) {at, 0xFF, OWNED | HANGS, "DRAM bank ending address", PCI_SAYS_MEMORY_MOVES, SRC_RAM},
#define SHADOW_PAIR(at, mask, range)                                                        \
    PCI_NAMED(at, (mask) & 0x55, range " write enable", SRC_SHADOW)                         \
    PCI_NAMED(at, (mask) & 0xAA, range " read enable", SRC_SHADOW)
#define SHADOW_FOUR(at, r0, r1, r2, r3)                                                     \
    SHADOW_PAIR(at, 0x03, r0) SHADOW_PAIR(at, 0x0C, r1) SHADOW_PAIR(at, 0x30, r2)        \
    SHADOW_PAIR(at, 0xC0, r3)

const PciBitField VT82C693A_BITS[] = {
    BANK_END(0x56) BANK_END(0x57) BANK_END(0x5A) BANK_END(0x5B) BANK_END(0x5C)
    BANK_END(0x5D) BANK_END(0x5E) BANK_END(0x5F)
    SHADOW_FOUR(0x61, "C0000-C3FFF", "C4000-C7FFF", "C8000-CBFFF", "CC000-CFFFF")
    SHADOW_FOUR(0x62, "D0000-D3FFF", "D4000-D7FFF", "D8000-DBFFF", "DC000-DFFFF")
    {0x63, 0x03, HANGS | UNVERIFIED, "A0000-BFFFF SMRAM routing",
     "SMRAM replaces the VGA window at A0000, or SMM loses it", SRC_SHADOW},
    {0x63, 0x0C, UNVERIFIED, "memory hole", "", ""},
    {0x63, 0x10, HANGS, "F0000-FFFFF write enable",
     PCI_SAYS_F0000_WRITE,
     SRC_SHADOW},
    {0x63, 0x20, HANGS, "F0000-FFFFF read enable",
     PCI_SAYS_F0000_READ,
     SRC_SHADOW},
    SHADOW_PAIR(0x63, 0xC0, "E0000-EFFFF")
    {0x6A, 0xFF, HANGS, "DRAM refresh counter",
     PCI_SAYS_NO_REFRESH, SRC_RAM},
    {0x6C, 0x0F, HANGS, "SDRAM command mode",
     "anything but normal mode makes every memory cycle an SDRAM command", SRC_RAM},
};

const char SRC_PIRQ[] = PCI_SOURCE("Linux arch/x86/pci/irq.c pirq_via_get; QEMU vt82c686.c; "
                                   "86Box via_pipc.c");
#define VIA_PIRQ(at, mask, line)                                                            \
    {at, mask, OWNED | HANGS, line " IRQ", PCI_SAYS_IRQ_STEERING, SRC_PIRQ},

const PciBitField VT82C686_ISA_BITS[] = {
    {0x48, 0x02, HANGS, "IDE function disable",
     "the IDE function and both its channels vanish under Windows",
     PCI_SOURCE("coreboot vt82c686 southbridge.c; 86Box via_pipc.c")},
    VIA_PIRQ(0x55, 0xF0, "PIRQA#")
    VIA_PIRQ(0x56, 0x0F, "PIRQB#")
    VIA_PIRQ(0x56, 0xF0, "PIRQC#")
    VIA_PIRQ(0x57, 0xF0, "PIRQD#")
};

const PciBitField VT82C686_IDE_BITS[] = {
    {0x40, 0x01, HANGS, "secondary channel enable",
     "the channel's ports stop answering: its disks vanish under Windows",
     PCI_SOURCE("Linux pata_via.c via_enable_bits")},
    {0x40, 0x02, HANGS, "primary channel enable",
     PCI_SAYS_CHANNEL_GONE,
     PCI_SOURCE("Linux pata_via.c via_enable_bits")},
};

const char SRC_PM[] = PCI_SOURCE("QEMU vt82c686.c pm_io_space_update, smb_io_space_update; "
                                 "Linux i2c-viapro.c");
const PciBitField VT82C686_PM_BITS[] = {
    {0x48, 0x7F, RO, "I/O space indicator", "", SRC_PM},
    {0x48, 0x80, OWNED, "PM I/O base", PCI_SAYS_PM_BASE, SRC_PM},
    {0x49, 0xFF, OWNED, "PM I/O base", PCI_SAYS_PM_BASE, SRC_PM},
    {0x90, 0x0F, RO, "I/O space indicator", "", SRC_PM},
    {0x90, 0xF0, OWNED, "SMBus I/O base", PCI_SAYS_SMBUS_BASE,
     SRC_PM},
    {0x91, 0xFF, OWNED, "SMBus I/O base", PCI_SAYS_SMBUS_BASE,
     SRC_PM},
};
// clang-format on

} // namespace

#define TABLE(regs, bits) regs, COUNT(regs), bits, COUNT(bits)
#define NO_BITS(regs) regs, COUNT(regs), nullptr, 0

extern const PciChipsetTable PCI_VIA_CHIPSETS[] = {
    {0x1106, 0x0691, PCI_NOTE("VIA VT82C693A/694X"),
     PCI_SOURCE("VIA VT82C693A, VT82C694X datasheets"), TABLE(VT82C693A, VT82C693A_BITS)},
    {0x1106, 0x0686, PCI_NOTE("VIA VT82C686A/B ISA"), PCI_SOURCE("VIA VT82C686A/B datasheets"),
     TABLE(VT82C686_ISA, VT82C686_ISA_BITS)},
    {0x1106, 0x0571, PCI_NOTE("VIA VT82C686A/B IDE"), PCI_SOURCE("VIA VT82C686A/B datasheets"),
     TABLE(VT82C686_IDE, VT82C686_IDE_BITS)},
    {0x1106, 0x3038, PCI_NOTE("VIA VT82C686A/B USB"), PCI_SOURCE("VIA VT82C686A/B datasheets"),
     NO_BITS(VT82C686_USB)},
    {0x1106, 0x3057, PCI_NOTE("VIA VT82C686A/B power"), PCI_SOURCE("VIA VT82C686A/B datasheets"),
     TABLE(VT82C686_PM, VT82C686_PM_BITS)},
};

extern const int PCI_VIA_CHIPSET_COUNT = COUNT(PCI_VIA_CHIPSETS);
