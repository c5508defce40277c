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
#include "memory_files.h"
#include "pci_config.h"
#include "settings.h"

namespace
{

void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

struct Line {
    std::uint32_t f[4];
};

// The file format written out plainly, on the whole file at once.
std::vector<Line> reference_lines(const std::string &file)
{
    std::string text;
    for (size_t i = 0; i < file.size() && file[i] != '\x1a'; i++) {
        if (file[i] == '\r' && i + 1 < file.size() && file[i + 1] == '\n')
            continue; // CR LF reads as LF
        text += file[i];
    }
    std::vector<Line> lines;
    size_t pos = 0;
    while (pos < text.size() && lines.size() < MAX_JOURNAL_ENTRIES) {
        size_t lf = text.find('\n', pos);
        size_t end = lf == std::string::npos ? text.size() : lf + 1;
        if (end - pos > 253)
            end = pos + 253;
        std::string piece = text.substr(pos, end - pos);
        pos = end;
        piece = piece.substr(0, piece.find('\0'));
        Line l = {{0, 0, 0, 0}};
        int n = 0;
        size_t p = 0;
        while (n < 4) {
            p = piece.find_first_not_of(',', p);
            if (p == std::string::npos)
                break;
            l.f[n++] = parse_hex(piece.c_str() + p);
            p = piece.find(',', p);
        }
        if (n > 0)
            lines.push_back(l);
    }
    return lines;
}

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
    static const sim::Chipset machine = [] {
        sim::Chipset m = sim::default_machine();
        // The oldest-first restore cannot put back a register that a file names
        // under two function numbers of a part that ignores them (the later
        // entry's byte lands last); kvtlcheck reports that. The invariant holds
        // for every other machine, so the part answers on its function 0 only.
        m.answer_every_function({0, 0x0B, 0}, false);
        return m;
    }();

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

    // Without a failing read, the cut of the reads changes nothing.
    if (!data[1]) {
        std::vector<Line> ref = reference_lines(file);
        check(ref.size() == static_cast<size_t>(n), "as many lines as the plain reading");
        for (int i = 0; i < n; i++) {
            const Line &l = ref[i];
            check(g_journal.address[i] == cfg_address(l.f[0], l.f[2], l.f[3]),
                  "address as the plain reading");
            check(ops[4 * i + 3].value == (l.f[1] & 0xFF), "value as the plain reading");
        }
    }

    // The restore puts every byte back, twice over.
    for (int round = 0; round < 2; round++) {
        journal_restore();
        check(snapshot(chip) == before, "every register back at its pre-pass byte");
    }
    return 0;
}
