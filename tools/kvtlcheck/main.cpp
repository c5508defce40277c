// kvtlcheck [--machine DUMP] [--json] [--no-color] FILE
//
// Exit status: 0 no warning, 1 warnings, 2 the file (or the dump) cannot be
// read or the command line is wrong.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "check.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace
{

const char USAGE[] =
    "usage: kvtlcheck [--machine DUMP] [--json] [--no-color] FILE\n"
    "Reads FILE as the program reads kvtl.cfg, applies it to a virtual machine\n"
    "(a 440BX board, or the lspci -xxx dump DUMP) and reports every line applied.\n"
    "kvtlcheck.exe is for Windows 2000 and later (and Wine): it does not run on\n"
    "Windows 95/98/Me.\n";

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
        } else if (arg == "--machine" && i + 1 < argc) {
            dump = argv[++i];
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

    sim::Chipset machine = sim::default_machine();
    if (!dump.empty()) {
        std::ifstream in(dump, std::ios::binary);
        if (!in.is_open())
            return fail("cannot open machine dump " + dump);
        std::ostringstream text;
        text << in.rdbuf();
        std::string error;
        machine = sim::Chipset{};
        if (!machine.load_lspci(text.str(), &error))
            return fail(dump + ": " + error);
    }

    kvtlcheck::Report report;
    std::string error;
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
