// What a run did, for people: the settings lines the program applied and,
// once it has ended, whether every byte it wrote is back. run.sh and
// testkit/desktop.sh show these tables as they are.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "chipset.h"

namespace harness
{
class Session;
}

namespace report
{

// A write through CONFIG_DATA that follows a read of the same register: the
// read-then-write of one applied settings line.
struct Write {
    sim::Target at;
    std::uint8_t wrote, before;
};
std::vector<Write> applied_writes(const std::vector<sim::PortOp> &trace);

// Registers written through CONFIG_DATA, each once, in order of first write.
std::vector<sim::Target> written_registers(const std::vector<sim::PortOp> &trace);

struct AppliedLine {
    Write write;
    std::uint8_t now;
};
// "Applied at start-up: N lines" and one row per line, with a note where a
// later line writes the register again or the chipset kept bits of it.
std::string applied_table(const std::vector<AppliedLine> &lines);

struct Register {
    sim::Target at;
    std::uint8_t start, now;
};

struct Outcome {
    std::string program;      // file name, e.g. "sorvenka.exe"
    bool exit_chosen = false; // WM_COMMAND 40002 (Exit) was sent to it
    std::vector<Register> registers;
    bool exited = false;
    long exit_code = 0;
    std::vector<std::string> problems;
    bool real_ports = false; // no virtual chipset: the restore was not seen
};

// The restore table, its summary, the exit code and the problems; `ok` tells
// whether every register is back, the program ended with 0 and nothing
// went wrong. With `real_ports` it says that the restore was not seen and
// `ok` speaks only for the exit code and the problems.
std::string restore_report(const Outcome &outcome, bool *ok);

// The outcome of a session: `start` is the chipset before the program ran,
// `failed_step` the drive step that did not complete ("" when all did),
// `timeout_ms` each step's limit.
Outcome outcome(harness::Session &session, const sim::Chipset &start, const std::string &program,
                const std::string &failed_step, bool exit_chosen, unsigned long timeout_ms);

// Writes `text` to the host or Windows path `file`; false when it cannot.
bool write_file(const std::string &file, const std::string &text);

} // namespace report
