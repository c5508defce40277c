// kvtlcheck [--machine DUMP] [--json] [--no-color] FILE
// kvtlcheck --diff BEFORE AFTER
// kvtlcheck [--machine DUMP] --set BB:DD.F REG VALUE[:MASK]
//
// Exit status: 0 no warning, 1 warnings, 2 the file (or the dump) cannot be
// read or the command line is wrong, 3 (--set) no settings line can set
// those bits.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "check.h"
#include "pci_diff.h"
#include "pci_set.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace
{

const char USAGE[] =
    "usage: kvtlcheck [--machine DUMP] [--json] [--no-color] FILE\n"
    "       kvtlcheck --diff BEFORE AFTER > kvtl.cfg\n"
    "       kvtlcheck [--machine DUMP] --set BB:DD.F REG VALUE[:MASK]\n"
    "Reads FILE as the program reads kvtl.cfg, applies it to a virtual machine\n"
    "(a 440BX board, or the lspci -xxx dump DUMP) and reports every line applied.\n"
    "kvtlcheck.exe is for Windows 2000 and later (and Wine): it does not run on\n"
    "Windows 95/98/Me.\n"
    "--diff reads two dumps of one PC (kvtlpeek > before.txt, change a BIOS option,\n"
    "kvtlpeek > after.txt) and prints the settings file that turns BEFORE into\n"
    "AFTER; every change, and why one is left out, goes to standard error.\n"
    "--set prints the settings line that gives the bits of MASK (default FF) in\n"
    "register REG of BB:DD.F the values of VALUE and keeps the others, as setpci's\n"
    "VALUE:MASK does: e.g. --set 00:07.1 48 02:02. Exit status 3: no line can.\n";

int fail(const std::string &message)
{
    std::fprintf(stderr, "kvtlcheck: %s\n", message.c_str());
    return 2;
}

bool colour_wanted(bool disabled)
{
#ifdef _WIN32
    (void)disabled;
    return false; // older Windows consoles know no escape sequences
#else
    const char *term = std::getenv("TERM");
    return !disabled && isatty(1) && !std::getenv("NO_COLOR") && term &&
           std::strcmp(term, "dumb") != 0;
#endif
}

bool read_text(const std::string &path, std::string *text)
{
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open())
        return false;
    std::ostringstream s;
    s << in.rdbuf();
    *text = s.str();
    return !in.bad();
}

int diff(const std::string &before_path, const std::string &after_path)
{
    std::vector<PciDumpFunction> dumps[2];
    const std::string *paths[2] = {&before_path, &after_path};
    for (int i = 0; i < 2; i++) {
        std::string text, error;
        if (!read_text(*paths[i], &text))
            return fail("cannot open machine dump " + *paths[i]);
        if (!sim::read_lspci(text, &dumps[i], &error))
            return fail(*paths[i] + ": " + error);
    }
    std::string settings, table;
    int lines = kvtlcheck::diff_dumps(dumps[0], dumps[1], &settings, &table);
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY); // the lines end in CR LF already
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    std::fputs(table.c_str(), stderr);
    std::fputs(settings.c_str(), stdout);
    return lines > PCI_SETTINGS_MAX ? 1 : 0;
}

bool load_machine(const std::string &dump, sim::Chipset *machine, std::string *error)
{
    *machine = sim::default_machine();
    if (dump.empty())
        return true;
    std::ifstream in(dump, std::ios::binary);
    if (!in.is_open()) {
        *error = "cannot open machine dump " + dump;
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    *machine = sim::Chipset{};
    if (!machine->load_lspci(text.str(), error)) {
        *error = dump + ": " + *error;
        return false;
    }
    return true;
}

int set(const std::string &dump, char **argv)
{
    unsigned bus, dev, fn, value, mask;
    char *end = nullptr;
    const unsigned long reg = std::strtoul(argv[1], &end, 16);
    if (!pci_set_parse_slot(argv[0], &bus, &dev, &fn) || !*argv[1] || *end ||
        !pci_set_parse(argv[2], &value, &mask)) {
        std::fputs(USAGE, stderr);
        return fail("--set takes BB:DD.F REG VALUE[:MASK], in hex: e.g. 00:07.1 48 02:02");
    }
    sim::Chipset machine;
    std::string error, line;
    if (!load_machine(dump, &machine, &error))
        return fail(error);
    std::vector<std::string> warnings;
    if (!kvtlcheck::set_line(machine, {bus, dev, fn}, reg > 0xFFFF ? 0xFFFF : unsigned(reg), value,
                             mask, &line, &warnings, &error)) {
        std::fprintf(stderr, "kvtlcheck: %s\n", error.c_str());
        return 3;
    }
    for (const std::string &w : warnings)
        std::fprintf(stderr, "warning: %s\n", w.c_str());
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY); // the line ends in CR LF already
#endif
    std::fputs(line.c_str(), stdout);
    return warnings.empty() ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    std::string dump, file;
    bool json = false, no_colour = false;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "--json") {
            json = true;
        } else if (arg == "--no-color") {
            no_colour = true;
        } else if (arg == "--diff" && argc == 4 && i == 1) {
            return diff(argv[2], argv[3]);
        } else if (arg == "--machine" && i + 1 < argc) {
            dump = argv[++i];
        } else if (arg == "--set" && i + 4 == argc) {
            return set(dump, argv + i + 1);
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(USAGE, stdout);
            return 0;
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fputs(USAGE, stderr);
            return fail("unknown option " + arg);
        } else if (file.empty()) {
            file = arg;
        } else {
            std::fputs(USAGE, stderr);
            return fail("only one settings file at a time");
        }
    }
    if (file.empty()) {
        std::fputs(USAGE, stderr);
        return 2;
    }

    sim::Chipset machine;
    std::string error;
    if (!load_machine(dump, &machine, &error))
        return fail(error);

    kvtlcheck::Report report;
    if (!kvtlcheck::check_file(file, machine, &report, &error))
        return fail(error);

    if (json) {
        std::fputs(kvtlcheck::render_json(report).c_str(), stdout);
        // Warnings about lines that were not applied have no object of their own.
        for (const kvtlcheck::Warning &w : report.file_warnings)
            std::fprintf(stderr, "%s:%d: warning: %s\n", file.c_str(), w.line, w.text.c_str());
    } else {
        std::fputs(kvtlcheck::render_table(report, file, colour_wanted(no_colour)).c_str(), stdout);
    }
    return report.warning_count() > 0 || !report.all_restored ? 1 : 0;
}
