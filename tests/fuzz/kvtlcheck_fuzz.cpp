// libFuzzer target: the checker on any file. It must not crash, must list
// exactly the lines of the plain model of the format and those that
// load_settings applies, and both renderings must hold up on whatever bytes
// the lines contain.
//
// Input: byte 0 = read chunk size (0: whole reads), the rest = the file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "check.h"
#include "fuzz_check.h"
#include "memory_files.h"
#include "pci_config.h"
#include "settings.h"
#include "settings_model.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::string file(reinterpret_cast<const char *>(data) + 1, size - 1);
    static const sim::Chipset machine = sim::default_machine();
    memfs::reset();
    memfs::put("kvtl.cfg", file);
    memfs::set_chunk(data[0]);

    kvtlcheck::Report report;
    std::string error;
    check(kvtlcheck::check_file("kvtl.cfg", machine, &report, &error), "file read");
    check(memfs::open_files() == 0, "files closed");
    // A write-1-to-clear status byte cannot be written back; the checker
    // says so, and only such a byte may differ, by cleared bits alone.
    bool only_cleared = true;
    for (const kvtlcheck::Restored &r : report.restored)
        if (r.now != r.pre_pass)
            only_cleared &=
                machine.function(r.at)->clears[r.offset] != 0 && (r.now & ~r.pre_pass) == 0;
    check(report.all_restored || only_cleared, "restore puts every byte back");
    int previous = 1;
    for (const kvtlcheck::Applied &a : report.applied) {
        check(a.line >= previous && a.last_line >= a.line, "line numbers in file order");
        previous = a.line;
    }
    kvtlcheck::render_table(report, "kvtl.cfg", true);
    std::string json = kvtlcheck::render_json(report);
    for (unsigned char c : json)
        check(c >= 0x20 ? c < 0x7F : c == '\n', "JSON is printable ASCII");

    // The plain model of the format (tests/support) on the same file.
    const std::vector<model::Line> ref = model::settings_pass(file);
    check(ref.size() == report.applied.size(), "as many lines as the model");
    for (size_t i = 0; i < ref.size() && i < report.applied.size(); i++) {
        const kvtlcheck::Applied &a = report.applied[i];
        check(a.address == ref[i].address && a.port == ref[i].port, "address as the model");
        check(a.reg == ref[i].reg && a.value == ref[i].value && a.device == ref[i].device &&
                  a.function == ref[i].function,
              "fields as the model");
    }

    // The engine's own pass on the same file: same lines, same order.
    sim::active_chipset() = machine;
    sim::active_chipset().clear_trace();
    g_journal = RegisterJournal{};
    load_settings("kvtl.cfg");
    const auto &ops = sim::active_chipset().trace();
    check(ops.size() == 4 * report.applied.size(), "as many lines as load_settings");
    for (size_t i = 0; i < report.applied.size(); i++) {
        const kvtlcheck::Applied &a = report.applied[i];
        check(ops[4 * i] == sim::out32(0xCF8, a.address), "address as load_settings");
        check(ops[4 * i + 1] == sim::in8(a.port, a.before), "byte before as load_settings");
        check(ops[4 * i + 3] == sim::out8(a.port, a.written), "byte written as load_settings");
    }
    return 0;
}
