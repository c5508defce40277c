// kvtlcheck --set: setpci's VALUE:MASK made a settings line, from the byte
// the machine's dump shows.
#include "check.h"

#include "pci_access.h"
#include "pci_bits.h"
#include "pci_set.h"

namespace kvtlcheck
{

bool set_line(const sim::Chipset &machine, sim::Bdf at, unsigned reg, unsigned value, unsigned mask,
              std::string *line, std::vector<std::string> *warnings, std::string *error)
{
    const std::string where = sim::format(at) + " register " + hex(reg, reg > 0xFF ? 3 : 2);
    if (reg > 0xFF) {
        *error = where + ": configuration mechanism #1 reaches registers 00-FF only, so no "
                         "settings line reaches it";
        return false;
    }
    const sim::Function *f = machine.function(at);
    if (!f) {
        *error = "nothing answers at " + sim::format(at) +
                 " on this machine, so no settings line reaches a register there";
        return false;
    }
    if (!f->known[reg]) {
        *error = where + " is not in the dump (a kvtlpeek /h dump shows bytes 00-3F only): its "
                         "other bits cannot be kept";
        return false;
    }
    const unsigned char *id = f->bytes.data();
    const unsigned char now = f->bytes[reg];
    unsigned char byte;
    unsigned fixed;
    if (!pci_set_write(id, reg, now, value, mask, &byte, &fixed)) {
        *error = where + " bits " + hex(fixed) +
                 (fixed & pci_byte_access(id, reg).clears
                      ? " are write-1-to-clear (a written 1 clears them, nothing sets them)"
                      : " are read-only") +
                 ": no settings line makes them " + hex(value & fixed);
        return false;
    }
    char text[PCI_SET_LINE_MAX];
    pci_set_line(text, at.bus, at.dev, at.fn, reg, byte);
    *line = text;
    const unsigned char after = pci_after_write(id, reg, now, byte);
    struct Told {
        const unsigned char *id;
        unsigned char now, after;
        std::vector<std::string> *warnings;
    } told = {id, now, after, warnings};
    pci_consequences(
        id, reg, now, after,
        [](const PciBitField &field, void *context) {
            Told &t = *static_cast<Told *>(context);
            char w[PCI_BITS_TEXT_MAX];
            pci_consequence_text(w, t.id, field, t.now, t.after);
            t.warnings->push_back(w);
        },
        &told);
    if (at.bus != 0)
        warnings->push_back("the line reaches bus " + hex(at.bus) + " through its device field (" +
                            hex(at.bus * 0x20 + at.dev, 1) +
                            " = bus x 20 + device): it reaches that function only while the "
                            "BIOS numbers the buses as in this dump");
    return true;
}

} // namespace kvtlcheck
