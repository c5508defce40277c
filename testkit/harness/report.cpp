#include "report.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "conf1.h"
#include "harness.h"

namespace report
{

namespace
{

bool is_data_port(const sim::PortOp &op)
{
    return op.width == 1 && op.port >= CONFIG_DATA && op.port <= CONFIG_DATA + 3;
}

bool is_address_write(const sim::PortOp &op)
{
    return op.port == CONFIG_ADDRESS && op.width == 4 && op.dir == sim::PortOp::Out;
}

bool same_register(const sim::Target &a, const sim::Target &b)
{
    return a.bdf == b.bdf && a.reg == b.reg;
}

// "00:07.1 48": the key both tables use for a register.
std::string key(const sim::Target &t)
{
    char reg[8];
    std::snprintf(reg, sizeof reg, " %02x", t.reg);
    return sim::format(t.bdf) + reg;
}

std::string counted(std::size_t n, const char *what)
{
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

std::string printf_line(const char *format, ...) __attribute__((format(printf, 1, 2)));

std::string printf_line(const char *format, ...)
{
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    return std::string(line) + "\n";
}

} // namespace

std::vector<Write> applied_writes(const std::vector<sim::PortOp> &trace)
{
    std::vector<Write> applied;
    std::uint32_t address = 0;
    bool read = false;
    sim::Target last{};
    std::uint8_t before = 0;
    for (const auto &op : trace) {
        if (is_address_write(op)) {
            address = op.value;
            continue;
        }
        if (!is_data_port(op))
            continue;
        sim::Target t = sim::decode(address, op.port);
        if (op.dir == sim::PortOp::In) {
            read = true;
            last = t;
            before = static_cast<std::uint8_t>(op.value);
            continue;
        }
        if (read && t.enabled && same_register(t, last))
            applied.push_back({t, static_cast<std::uint8_t>(op.value), before});
        read = false;
    }
    return applied;
}

std::vector<sim::Target> written_registers(const std::vector<sim::PortOp> &trace)
{
    std::vector<sim::Target> written;
    std::uint32_t address = 0;
    for (const auto &op : trace) {
        if (is_address_write(op)) {
            address = op.value;
            continue;
        }
        if (op.dir != sim::PortOp::Out || !is_data_port(op))
            continue;
        sim::Target t = sim::decode(address, op.port);
        bool seen = false;
        for (const auto &w : written)
            seen = seen || same_register(w, t);
        if (t.enabled && !seen)
            written.push_back(t);
    }
    return written;
}

std::string applied_table(const std::vector<AppliedLine> &lines)
{
    std::string out = "Applied at start-up: " + counted(lines.size(), "line") + "\n";
    if (!lines.empty())
        out += "   #  register     wrote  before  after\n";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Write &w = lines[i].write;
        std::string note;
        for (std::size_t j = i + 1; j < lines.size() && note.empty(); ++j)
            if (same_register(lines[j].write.at, w.at))
                note = "  (#" + std::to_string(j + 1) + " writes it again)";
        if (note.empty() && lines[i].now != w.wrote)
            note = "  (the chipset kept its bits: read-only, or no such function)";
        char wrote[4], before[4], now[4];
        std::snprintf(wrote, sizeof wrote, "%02x", w.wrote);
        std::snprintf(before, sizeof before, "%02x", w.before);
        std::snprintf(now, sizeof now, "%02x", lines[i].now);
        out += printf_line("  %2u  %-12s %-6s %-7s %s%s", static_cast<unsigned>(i + 1),
                           key(w.at).c_str(), wrote, before, now, note.c_str());
    }
    return out;
}

// The registers the program wrote, each with its byte from before the start
// and now; `bad` gets the number not back.
std::string restore_table(const Outcome &o, std::size_t *bad)
{
    std::string out = "Restore: every register back at its byte from before the start\n";
    if (!o.registers.empty())
        out += "  register     start  now\n";
    std::string not_restored;
    *bad = 0;
    for (const auto &r : o.registers) {
        char start[4], now[4];
        std::snprintf(start, sizeof start, "%02x", r.start);
        std::snprintf(now, sizeof now, "%02x", r.now);
        out += printf_line("  %-12s %-6s %s%s", key(r.at).c_str(), start, now,
                           r.now == r.start ? "" : "  NOT RESTORED");
        if (r.now != r.start)
            not_restored += ((*bad)++ ? " " : "") + key(r.at);
    }
    if (o.registers.empty())
        out += "nothing to restore: no register was written\n";
    else if (*bad == 0)
        out += "all " + counted(o.registers.size(), "register") + " restored\n";
    else
        out += printf_line("%u of %u registers NOT restored: %s", static_cast<unsigned>(*bad),
                           static_cast<unsigned>(o.registers.size()), not_restored.c_str());
    return out;
}

std::string restore_report(const Outcome &o, bool *ok)
{
    std::string out;
    if (o.exit_chosen)
        out += "Exit chosen from the tray menu (WM_COMMAND 40002).\n";
    // With real ports the harness saw no port operation: no verdict on bytes.
    std::size_t bad = 0;
    if (o.real_ports)
        out += "Restore: not seen: the ports were real (--real-ports), so the harness saw\n"
               "no port operation; check the machine's bytes on the machine itself\n";
    else
        out += restore_table(o, &bad);
    out += o.program +
           " exit code: " + (o.exited ? std::to_string(o.exit_code) : "none (it did not end)") +
           "\n";
    for (const auto &p : o.problems)
        out += "problem: " + p + "\n";
    *ok = bad == 0 && o.exited && o.exit_code == 0 && o.problems.empty();
    return out;
}

Outcome outcome(harness::Session &session, const sim::Chipset &start, const std::string &program,
                const std::string &failed_step, bool exit_chosen, unsigned long timeout_ms)
{
    Outcome o;
    std::string path = harness::windows_path(program);
    o.program = path.substr(path.find_last_of('\\') + 1);
    o.exit_chosen = exit_chosen;
    o.real_ports = !session.port_emulation();
    for (const auto &t : written_registers(session.trace()))
        o.registers.push_back({t, start.peek(t.bdf, t.reg), session.peek(t.bdf, t.reg)});
    DWORD code = 0;
    o.exited = session.wait_exit(0, &code);
    o.exit_code = static_cast<long>(code);
    if (failed_step == "window") {
        unsigned long minutes = timeout_ms / 60000;
        std::string limit = timeout_ms % 60000 ? std::to_string(timeout_ms / 1000) + " s"
                                               : counted(minutes, "minute");
        const char *prefix = std::getenv("WINEPREFIX");
        o.problems.push_back(o.program + " showed no tray window within " + limit +
                             "; a copy still running in this\n         Wine prefix makes a new "
                             "one warn and stop: 'WINEPREFIX=" +
                             (prefix ? prefix : "") + " wineserver -k' ends it");
    } else if (!failed_step.empty()) {
        o.problems.push_back("the harness step '" + failed_step + "' did not complete");
    } else if (!o.exited) {
        o.problems.push_back(o.program + " did not end");
    }
    for (const auto &e : session.unhandled()) {
        char what[32];
        std::snprintf(what, sizeof what, "%08lx at %08x", static_cast<unsigned long>(e.code),
                      e.address);
        o.problems.push_back(o.program + " raised exception " + what);
    }
    return o;
}

bool write_file(const std::string &file, const std::string &text)
{
    std::ofstream out(harness::windows_path(file), std::ios::binary);
    out << text;
    return static_cast<bool>(out.flush());
}

} // namespace report
