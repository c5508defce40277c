// harness.exe: runs a program under the debugger on a virtual chipset and
// drives it by a script of commands.
//
//   harness.exe [--machine LSPCI_DUMP] [--cwd DIR] [--trace-out FILE]
//               [--class NAME] [--timeout MS] [--exit-after-start]
//               [--report FILE] [--real-ports] [--drive "cmd;cmd;..."] [--args "ARGS"]
//               PROGRAM.exe
//
// The commands are the table COMMANDS below; harness.exe without a program
// prints them. Numbers are in C notation (0x for hex).
// ARGS follow the program's name on its command line.
// Prints the port trace (one "out32 0cf8 80003943" line per operation) and
// "exit CODE". Returns 0, or 1 when a step failed or timed out, or
// harness::INFRASTRUCTURE_EXIT when it failed because Wine did (a process
// start, or a fault before the program's entry point).
//
// --real-ports: no port emulation; the exception of a port instruction is
// passed on to the program, and where it may use the ports (iopl 3) they
// reach the hardware. peek, applied and registers then fail: the harness
// sees none of it, and the report says so and claims no restore.
//
// --report FILE: once the program has ended, FILE gets for people each
// register it wrote with its byte from before the start and now, its exit
// code and what went wrong; the status is then 0 only when every byte is
// back, the program exited with 0 and every step completed.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"
#include "report.h"
#include "resource.h"

namespace
{

std::string hex_bytes(const std::string &s)
{
    std::string out;
    char b[4];
    for (unsigned char c : s) {
        std::snprintf(b, sizeof b, "%s%02x", out.empty() ? "" : " ", c);
        out += b;
    }
    return out;
}

std::vector<std::string> split(const std::string &s, char sep)
{
    std::vector<std::string> parts;
    std::string cur;
    std::istringstream in(s);
    while (std::getline(in, cur, sep))
        if (cur.find_first_not_of(" \t") != std::string::npos)
            parts.push_back(cur.substr(cur.find_first_not_of(" \t")));
    return parts;
}

unsigned long number(const std::string &s)
{
    return std::strtoul(s.c_str(), nullptr, 0);
}

// A command ID by the program's own name for it, or a number.
unsigned long command_id(const std::string &s)
{
    return s == "IDM_VERSION" ? IDM_VERSION : s == "IDM_EXIT" ? IDM_EXIT : number(s);
}

// A run that failed because Wine did, told apart from the program's faults.
int wine_failed(const std::string &why)
{
    std::printf("harness: Wine failed, not the program: %s\n", why.c_str());
    return harness::INFRASTRUCTURE_EXIT;
}

// One drive of the program: the session and what the steps so far found.
struct Drive {
    harness::Session &session;
    const sim::Chipset &machine; // as it was before the start
    std::string cls;
    DWORD timeout;
    HWND main_window = nullptr;
    HWND target = nullptr; // the dialog or menu of key, click and dclose
    bool exit_chosen = false;

    bool need_main()
    {
        if (!main_window)
            main_window = harness::wait_window(session.pid(), cls, "", timeout);
        if (!main_window)
            std::printf("no window of class %s\n", cls.c_str());
        return main_window != nullptr;
    }
};

using Step = bool (*)(Drive &, const std::string &arg);

struct Command {
    const char *name, *args, *help;
    Step run;
};

bool print_styles(Drive &d, const std::string &)
{
    if (!d.need_main())
        return false;
    auto w = harness::window_info(d.main_window);
    std::printf("window style %08lx exstyle %08lx visible %d\n",
                static_cast<unsigned long>(w.style), static_cast<unsigned long>(w.exstyle),
                w.visible);
    return true;
}

bool end_session(Drive &d, const std::string &arg)
{
    LRESULT answer = 0;
    if (!d.need_main() || !harness::query_end_session(d.main_window, &answer, d.timeout))
        return false;
    std::printf("endsession -> %ld\n", static_cast<long>(answer));
    const WPARAM ending = answer && arg != "cancel";
    return harness::send(d.main_window, WM_ENDSESSION, ending, 0, nullptr, d.timeout);
}

bool find_dialog(Drive &d, const std::string &caption)
{
    d.target = harness::wait_window(d.session.pid(), "", caption, d.timeout);
    if (!d.target)
        return false;
    std::printf("dialog %s\n", hex_bytes(caption).c_str());
    for (const auto &w : harness::children(d.target))
        std::printf("  control %d %s style %08lx text %s\n", w.id, w.cls.c_str(),
                    static_cast<unsigned long>(w.style), hex_bytes(w.text).c_str());
    return true;
}

bool find_menu(Drive &d, const std::string &)
{
    d.target = harness::wait_popup_menu(d.session.pid(), d.timeout);
    if (d.target)
        std::printf("menu visible %d\n", harness::window_info(d.target).visible);
    return d.target != nullptr;
}

bool press_key(Drive &d, const std::string &key)
{
    const WPARAM vk = key == "esc"    ? VK_ESCAPE
                      : key == "up"   ? VK_UP
                      : key == "down" ? VK_DOWN
                                      : VK_RETURN;
    return d.target && harness::post_key(d.target, vk);
}

bool print_peek(Drive &d, const std::string &arg)
{
    const auto words = split(arg, ' ');
    unsigned bus = 0, dev = 0, fn = 0;
    if (words.size() != 2 || std::sscanf(words[0].c_str(), "%x:%x.%x", &bus, &dev, &fn) != 3)
        return false;
    const unsigned reg = number(words[1]);
    std::printf("peek %s %02x = %02x\n", words[0].c_str(), reg,
                d.session.peek({bus, dev, fn}, reg));
    return true;
}

bool print_applied(Drive &d, const std::string &file)
{
    std::vector<report::AppliedLine> lines;
    for (const auto &a : report::applied_writes(d.session.trace()))
        lines.push_back({a, d.session.peek(a.at.bdf, a.at.reg)});
    if (!file.empty())
        return report::write_file(file, report::applied_table(lines));
    for (const auto &l : lines)
        std::printf("applied %s %02x wrote %02x before %02x now %02x\n",
                    sim::format(l.write.at.bdf).c_str(), l.write.at.reg, l.write.wrote,
                    l.write.before, l.now);
    return true;
}

bool print_registers(Drive &d, const std::string &)
{
    for (const auto &t : report::written_registers(d.session.trace()))
        std::printf("register %s %02x start %02x now %02x\n", sim::format(t.bdf).c_str(), t.reg,
                    d.machine.peek(t.bdf, t.reg), d.session.peek(t.bdf, t.reg));
    return true;
}

bool print_cputime(Drive &d, const std::string &ms)
{
    ULONGLONG before = 0, after = 0;
    if (!d.session.cpu_time(&before))
        return false;
    Sleep(number(ms));
    if (!d.session.cpu_time(&after))
        return false;
    std::printf("cputime %lu ms in %lu ms\n", static_cast<unsigned long>((after - before) / 10000),
                static_cast<unsigned long>(number(ms)));
    return true;
}

const Command COMMANDS[] = {
    {"window", "", "wait for the main window (of class --class)",
     [](Drive &d, const std::string &) { return d.need_main(); }},
    {"styles", "", "print its style, extended style and visibility", print_styles},
    {"cmd", "ID", "post WM_COMMAND ID to it (a number, IDM_VERSION or IDM_EXIT)",
     [](Drive &d, const std::string &id) {
         const bool ok = d.need_main() && harness::post_command(d.main_window, command_id(id));
         d.exit_chosen = d.exit_chosen || (ok && command_id(id) == IDM_EXIT);
         return ok;
     }},
    {"tray", "MSG", "post the tray callback WM_TRAYNOTIFY with lParam MSG",
     [](Drive &d, const std::string &msg) {
         return d.need_main() && harness::post_tray(d.main_window, number(msg));
     }},
    {"barrier", "", "wait until the program has handled every message posted to it so far",
     [](Drive &d, const std::string &) {
         return d.need_main() && d.session.barrier(d.main_window, d.timeout);
     }},
    {"close", "", "post WM_CLOSE to it",
     [](Drive &d, const std::string &) {
         return d.need_main() && harness::post_close(d.main_window);
     }},
    {"endsession", "[cancel]",
     "send WM_QUERYENDSESSION, print the answer, then WM_ENDSESSION: the session ends if the "
     "program agreed, unless \"cancel\" (another program objected)",
     end_session},
    {"dialog", "CAPTION",
     "wait for a top-level window so captioned, print its controls; it becomes the target of "
     "key, click and dclose",
     find_dialog},
    {"menu", "",
     "wait for the popup menu, print whether it shows; it becomes the target of key and dclose",
     find_menu},
    {"key", "enter|esc|up|down", "press a key in that dialog or menu", press_key},
    {"click", "ID", "click its control ID",
     [](Drive &d, const std::string &id) {
         return d.target && harness::click(d.target, static_cast<int>(number(id)));
     }},
    {"dclose", "", "post WM_CLOSE to the dialog",
     [](Drive &d, const std::string &) { return d.target && harness::post_close(d.target); }},
    {"gone", "CAPTION", "wait until no window has that caption",
     [](Drive &d, const std::string &caption) {
         return harness::wait_no_window(d.session.pid(), "", caption, d.timeout);
     }},
    {"peek", "BB:DD.F REG", "print a byte of the virtual chipset", print_peek},
    {"applied", "[FILE]",
     "print every byte written so far through the data ports with the byte read from it just "
     "before (one line of a settings pass each) and the byte now: \"applied 00:07.1 48 wrote 03 "
     "before 05 now 03\"; with FILE, write them there as a table for people",
     print_applied},
    {"registers", "",
     "print every register written so far through the data ports, in order of first write, "
     "with its byte before the program started and now: \"register 00:07.1 48 start 05 now 03\"",
     print_registers},
    {"cputime", "MS", "wait MS milliseconds, print the CPU time the program used in them",
     print_cputime},
    {"signal", "FILE",
     "create FILE (empty): tells another process, such as a reader of the hardware, that the "
     "steps before are done",
     [](Drive &, const std::string &file) { return report::write_file(file, ""); }},
    {"await", "FILE",
     "wait until FILE exists: the signal of another process (a reader of the hardware) that the "
     "program may go on",
     [](Drive &d, const std::string &arg) {
         const std::string file = harness::windows_path(arg);
         return harness::wait_until(
             [&] { return GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES; },
             d.timeout);
     }},
    {"exit", "", "wait for the program to end",
     [](Drive &d, const std::string &) { return d.session.wait_exit(d.timeout); }},
};

int usage()
{
    std::fprintf(stderr, "usage: harness.exe [--machine DUMP] [--cwd DIR] [--trace-out FILE] "
                         "[--class NAME] [--timeout MS] [--exit-after-start] [--report FILE] "
                         "[--real-ports] [--drive \"CMD;CMD;...\"] [--args ARGS] PROGRAM.exe\n\n"
                         "commands:\n");
    for (const Command &c : COMMANDS)
        std::fprintf(stderr, "  %s %s\n      %s\n", c.name, c.args, c.help);
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    std::string machine_file, cwd, trace_out, drive, program, arguments, report_file, failed_step;
    std::string cls = TRAY_CLASS_NAME;
    std::string timeout_text = "20000";
    const struct {
        const char *name;
        std::string *value;
    } options[] = {{"--machine", &machine_file}, {"--cwd", &cwd},
                   {"--trace-out", &trace_out},  {"--class", &cls},
                   {"--timeout", &timeout_text}, {"--report", &report_file},
                   {"--drive", &drive},          {"--args", &arguments}};
    bool exit_after_start = false, real_ports = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto option = std::find_if(std::begin(options), std::end(options),
                                   [&](const auto &o) { return a == o.name; });
        if (option != std::end(options))
            *option->value = i + 1 < argc ? argv[++i] : "";
        else if (a == "--exit-after-start")
            exit_after_start = true;
        else if (a == "--real-ports")
            real_ports = true;
        else if (!a.empty() && a[0] == '-')
            return usage();
        else
            program = a;
    }
    if (program.empty())
        return usage();
    const DWORD timeout = number(timeout_text);

    sim::Chipset machine = sim::default_machine();
    if (!machine_file.empty()) {
        std::ifstream in(harness::windows_path(machine_file), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::string error;
        machine = sim::Chipset();
        if (!in || !machine.load_lspci(text.str(), &error)) {
            std::fprintf(stderr, "harness: %s: %s\n", machine_file.c_str(),
                         in ? error.c_str() : "cannot read");
            return 1;
        }
    }

    harness::Session session(program, cwd, machine);
    session.set_arguments(arguments);
    session.set_port_emulation(!real_ports);
    std::string error;
    if (!session.start(&error)) {
        std::fprintf(stderr, "harness: %s\n", error.c_str());
        return session.wine_fault().empty() ? 1 : wine_failed(session.wine_fault());
    }

    if (exit_after_start)
        drive = "window;cmd IDM_EXIT;exit" + (drive.empty() ? "" : ";" + drive);
    Drive d{session, machine, cls, timeout};
    bool ok = true;
    for (const auto &step : split(drive, ';')) {
        const std::string name = step.substr(0, step.find(' '));
        const std::string arg = step.size() > name.size() ? step.substr(name.size() + 1) : "";
        const Command *command = nullptr;
        for (const Command &c : COMMANDS)
            if (name == c.name)
                command = &c;
        if (!command)
            std::fprintf(stderr, "harness: unknown command: %s\n", step.c_str());
        const bool sees_chipset = name != "peek" && name != "applied" && name != "registers";
        if (command && real_ports && !sees_chipset)
            std::printf("%s: the ports are not emulated (--real-ports)\n", name.c_str());
        ok = command && (!real_ports || sees_chipset) && command->run(d, arg);
        if (!ok) {
            std::printf("failed: %s\n", step.c_str());
            failed_step = step;
            break;
        }
    }
    DWORD code = 0;
    if (ok && !session.wait_exit(timeout, &code)) {
        std::printf("failed: the program did not end\n");
        ok = false;
    }

    std::string trace;
    for (const auto &line : session.trace_lines())
        trace += line + "\n";
    if (trace_out.empty()) {
        std::fputs(trace.c_str(), stdout);
    } else {
        std::ofstream out(trace_out, std::ios::binary);
        out << trace;
    }
    for (const auto &e : session.unhandled())
        std::printf("exception %08lx at %08x%s\n", static_cast<unsigned long>(e.code), e.address,
                    e.first_chance ? "" : " (last chance)");
    if (session.exited())
        std::printf("exit %ld\n", static_cast<long>(code));
    bool reported = true, all_well = false;
    if (!report_file.empty()) {
        std::string text = report::restore_report(
            report::outcome(session, machine, program, failed_step, d.exit_chosen, timeout),
            &all_well);
        reported = report::write_file(report_file, text);
    }
    if (!ok && !session.wine_fault().empty())
        return wine_failed(session.wine_fault());
    if (!report_file.empty())
        return reported && all_well ? 0 : 1;
    return ok ? 0 : 1;
}
