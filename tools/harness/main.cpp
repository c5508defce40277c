// harness.exe: runs a program under the debugger on a virtual chipset and
// drives it by a script of commands.
//
//   harness.exe [--machine LSPCI_DUMP] [--cwd DIR] [--trace-out FILE]
//               [--class NAME] [--timeout MS] [--exit-after-start]
//               [--report FILE] [--real-ports] [--drive "cmd;cmd;..."] [--args "ARGS"]
//               PROGRAM.exe
//
// Commands (numbers in C notation, 0x for hex):
//   window              wait for the main window (of class --class)
//   styles              print its style, extended style and visibility
//   cmd ID              post WM_COMMAND ID to it (a number, IDM_VERSION or
//                       IDM_EXIT)
//   tray MSG            post the tray callback WM_TRAYNOTIFY with lParam MSG
//   barrier             wait until the program has handled every message
//                       posted to it so far
//   close               post WM_CLOSE to it
//   endsession [cancel] send WM_QUERYENDSESSION, print the answer, then
//                       WM_ENDSESSION: the session ends if the program
//                       agreed, unless "cancel" (another program objected)
//   dialog CAPTION      wait for a top-level window so captioned, print its
//                       controls; it becomes the target of key/click/dclose
//   menu                wait for the popup menu window, print whether it shows;
//                       it becomes the target of key and dclose
//   key enter|esc|up|down  press a key in that dialog or menu
//   click ID            click its control ID
//   dclose              post WM_CLOSE to the dialog
//   gone CAPTION        wait until no window has that caption
//   peek BB:DD.F REG    print a byte of the virtual chipset
//   applied [FILE]      print every byte written so far through the data
//                       ports with the byte read from it just before (one
//                       line of a settings pass each) and the byte now:
//                       "applied 00:07.1 48 wrote 03 before 05 now 03";
//                       with FILE, write them there as a table for people
//   registers           print every register written so far through the data
//                       ports, in order of first write, with its byte before
//                       the program started and now:
//                       "register 00:07.1 48 start 05 now 03"
//   cputime MS          wait MS milliseconds, print the CPU time the program
//                       used in them
//   signal FILE         create FILE (empty): tells another process, such as
//                       a reader of the hardware, that the steps before are done
//   await FILE          wait until FILE exists: the signal of another process
//                       (a reader of the hardware) that the program may go on
//   exit                wait for the program to end
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
//
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config_ports.h"
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

int usage()
{
    std::fprintf(stderr, "usage: harness.exe [--machine DUMP] [--cwd DIR] [--trace-out FILE] "
                         "[--class NAME] [--timeout MS] [--exit-after-start] [--report FILE] "
                         "[--real-ports] [--drive CMDS] [--args ARGS] PROGRAM.exe\n");
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    std::string machine_file, cwd, trace_out, drive, program, arguments, report_file, failed_step;
    bool exit_chosen = false;
    std::string cls = TRAY_CLASS_NAME;
    DWORD timeout = 20000;
    bool exit_after_start = false, real_ports = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--machine")
            machine_file = value();
        else if (a == "--cwd")
            cwd = value();
        else if (a == "--trace-out")
            trace_out = value();
        else if (a == "--class")
            cls = value();
        else if (a == "--timeout")
            timeout = number(value());
        else if (a == "--report")
            report_file = value();
        else if (a == "--drive")
            drive = value();
        else if (a == "--args")
            arguments = value();
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
    bool ok = true;
    HWND main_window = nullptr, dialog = nullptr;
    auto need_main = [&] {
        if (!main_window)
            main_window = harness::wait_window(session.pid(), cls, "", timeout);
        if (!main_window)
            std::printf("no window of class %s\n", cls.c_str());
        return main_window != nullptr;
    };
    for (const auto &step : split(drive, ';')) {
        auto words = split(step, ' ');
        const std::string &c = words[0];
        std::string arg = step.size() > c.size() ? step.substr(c.size() + 1) : "";
        if (c == "window") {
            ok = need_main();
        } else if (c == "styles") {
            if ((ok = need_main())) {
                auto w = harness::window_info(main_window);
                std::printf("window style %08lx exstyle %08lx visible %d\n",
                            static_cast<unsigned long>(w.style),
                            static_cast<unsigned long>(w.exstyle), w.visible);
            }
        } else if (c == "cmd") {
            ok = need_main() && harness::post_command(main_window, command_id(arg));
            exit_chosen = exit_chosen || (ok && command_id(arg) == IDM_EXIT);
        } else if (c == "tray") {
            ok = need_main() && harness::post_tray(main_window, number(arg));
        } else if (c == "barrier") {
            ok = need_main() && session.barrier(main_window, timeout);
        } else if (c == "close") {
            ok = need_main() && harness::post_close(main_window);
        } else if (c == "endsession") {
            LRESULT answer = 0;
            ok = need_main() && harness::query_end_session(main_window, &answer, timeout);
            if (ok)
                std::printf("endsession -> %ld\n", static_cast<long>(answer));
            const WPARAM ending = answer && arg != "cancel";
            ok = ok && harness::send(main_window, WM_ENDSESSION, ending, 0, nullptr, timeout);
        } else if (c == "dialog") {
            dialog = harness::wait_window(session.pid(), "", arg, timeout);
            ok = dialog != nullptr;
            if (ok) {
                std::printf("dialog %s\n", hex_bytes(arg).c_str());
                for (const auto &w : harness::children(dialog))
                    std::printf("  control %d %s style %08lx text %s\n", w.id, w.cls.c_str(),
                                static_cast<unsigned long>(w.style), hex_bytes(w.text).c_str());
            }
        } else if (c == "menu") {
            dialog = harness::wait_popup_menu(session.pid(), timeout);
            ok = dialog != nullptr;
            if (ok)
                std::printf("menu visible %d\n", harness::window_info(dialog).visible);
        } else if (c == "key") {
            WPARAM vk = arg == "esc"    ? VK_ESCAPE
                        : arg == "up"   ? VK_UP
                        : arg == "down" ? VK_DOWN
                                        : VK_RETURN;
            ok = dialog && harness::post_key(dialog, vk);
        } else if (c == "click") {
            ok = dialog && harness::click(dialog, static_cast<int>(number(arg)));
        } else if (c == "dclose") {
            ok = dialog && harness::post_close(dialog);
        } else if (c == "gone") {
            ok = harness::wait_no_window(session.pid(), "", arg, timeout);
        } else if (real_ports && (c == "peek" || c == "applied" || c == "registers")) {
            std::printf("%s: the ports are not emulated (--real-ports)\n", c.c_str());
            ok = false;
        } else if (c == "peek" && words.size() == 3) {
            unsigned bus = 0, dev = 0, fn = 0;
            std::sscanf(words[1].c_str(), "%x:%x.%x", &bus, &dev, &fn);
            unsigned reg = number(words[2]);
            std::printf("peek %s %02x = %02x\n", words[1].c_str(), reg,
                        session.peek({bus, dev, fn}, reg));
        } else if (c == "applied") {
            std::vector<report::AppliedLine> lines;
            for (const auto &a : report::applied_writes(session.trace()))
                lines.push_back({a, session.peek(a.at.bdf, a.at.reg)});
            if (!arg.empty()) {
                ok = report::write_file(arg, report::applied_table(lines));
                lines.clear();
            }
            for (const auto &l : lines)
                std::printf("applied %s %02x wrote %02x before %02x now %02x\n",
                            sim::format(l.write.at.bdf).c_str(), l.write.at.reg, l.write.wrote,
                            l.write.before, l.now);
        } else if (c == "registers") {
            for (const auto &t : report::written_registers(session.trace()))
                std::printf("register %s %02x start %02x now %02x\n", sim::format(t.bdf).c_str(),
                            t.reg, machine.peek(t.bdf, t.reg), session.peek(t.bdf, t.reg));
        } else if (c == "cputime") {
            ULONGLONG before = 0, after = 0;
            ok = session.cpu_time(&before);
            Sleep(number(arg));
            ok = ok && session.cpu_time(&after);
            if (ok)
                std::printf("cputime %lu ms in %lu ms\n",
                            static_cast<unsigned long>((after - before) / 10000),
                            static_cast<unsigned long>(number(arg)));
        } else if (c == "signal") {
            ok = report::write_file(arg, "");
        } else if (c == "await") {
            const std::string file = harness::windows_path(arg);
            ok = harness::wait_until(
                [&] { return GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES; },
                timeout);
        } else if (c == "exit") {
            ok = session.wait_exit(timeout);
        } else {
            std::fprintf(stderr, "harness: unknown command: %s\n", step.c_str());
            ok = false;
        }
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
            report::outcome(session, machine, program, failed_step, exit_chosen, timeout),
            &all_well);
        reported = report::write_file(report_file, text);
    }
    if (!ok && !session.wine_fault().empty())
        return wine_failed(session.wine_fault());
    if (!report_file.empty())
        return reported && all_well ? 0 : 1;
    return ok ? 0 : 1;
}
