// libFuzzer target: any settings file, read in chunks of any size with an
// optional failing read, applied to the virtual chipset and restored.
//
// Input: byte 0 = read chunk size (0: whole reads), byte 1 = the read call
// that fails (0: none), the rest = the file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "chipset.h"
#include "fuzz_check.h"
#include "memory_files.h"
#include "pci_config.h"
#include "settings.h"
#include "settings_model.h"

namespace
{

std::map<sim::Bdf, std::array<std::uint8_t, 256>> snapshot(const sim::Chipset &c)
{
    std::map<sim::Bdf, std::array<std::uint8_t, 256>> s;
    for (const auto &f : c.functions())
        s[f.first] = f.second.bytes;
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::string file(reinterpret_cast<const char *>(data) + 2, size - 2);
    static const sim::Chipset machine = sim::default_machine();

    sim::Chipset &chip = sim::active_chipset();
    chip = machine;
    g_journal = RegisterJournal{};
    memfs::reset();
    memfs::put("kvtl.cfg", file);
    memfs::set_chunk(data[0]);
    if (data[1])
        memfs::fail_read(data[1]);
    const auto before = snapshot(chip);

    load_settings("kvtl.cfg");
    check(memfs::open_files() == 0, "file closed after the pass");

    // Each applied line: address, journalled read, address again, write.
    const auto &ops = chip.trace();
    const int n = g_journal.count;
    check(n >= 0 && n <= MAX_JOURNAL_ENTRIES, "journal count within 64");
    check(ops.size() == 4u * n, "four port operations per applied line");
    for (int i = 0; i < n; i++) {
        const sim::PortOp *op = &ops[4 * i];
        std::uint32_t a = g_journal.address[i], port = g_journal.port[i];
        check(op[0] == sim::out32(0xCF8, a), "address before the read");
        check(op[1] == sim::in8(port, g_journal.previous[i]), "journal holds the byte read");
        check(op[2] == sim::out32(0xCF8, a), "same address before the write");
        check(op[3].dir == sim::PortOp::Out && op[3].width == 1 && op[3].port == port,
              "write to the journalled register");
        check(port == 0xCFCu + (a & 3), "data port matches the address");
    }

    // The cut of the reads changes nothing: the pass is the plain model's,
    // line for line. A failed read only ends it early.
    const std::vector<model::Line> ref = model::settings_pass(file);
    check(data[1] ? ref.size() >= static_cast<size_t>(n) : ref.size() == static_cast<size_t>(n),
          "as many lines as the model, fewer after a failed read");
    for (int i = 0; i < n; i++) {
        check(g_journal.address[i] == ref[i].address, "address as the model");
        check(g_journal.port[i] == ref[i].port, "data port as the model");
        check(ops[4 * i + 3].value == (ref[i].value & 0xFF), "value as the model");
    }

    // A resume writes the lines again over the bytes they left: nothing
    // changes. Then the one restore puts every byte back; a
    // write-1-to-clear byte cannot be written back, and the restore's own
    // write may only have cleared more of its bits.
    const auto applied = snapshot(chip);
    journal_reapply();
    check(snapshot(chip) == applied, "a resume's writes leave the bytes of the pass");
    journal_restore();
    for (const auto &f : snapshot(chip))
        for (unsigned reg = 0; reg < 256; reg++) {
            const std::uint8_t was = before.at(f.first)[reg], now = f.second[reg];
            const std::uint8_t clears = chip.function(f.first)->clears[reg];
            check(now == was || (((now ^ was) & ~clears) == 0 && (now & ~was) == 0),
                  "every register back at its pre-pass byte, or with status bits cleared");
        }
    return 0;
}
