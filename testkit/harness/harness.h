// A Win32 debugger that runs a program whose x86 port instructions reach a
// virtual chipset instead of the hardware, and that drives its windows.
//
// The debug loop runs on a thread of its own, which creates the debuggee
// (WaitForDebugEvent only serves the thread that created the process); the
// caller's thread drives the user interface and waits on conditions.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "chipset.h"

namespace harness
{

// Converts a host path to the Windows form Wine maps it to ("Z:\..."); a
// path that already has a drive letter is returned with backslashes only.
std::string windows_path(const std::string &path);

// Polls `cond` every few milliseconds until it holds or `timeout_ms` passes.
bool wait_until(const std::function<bool()> &cond, DWORD timeout_ms);

// A call the program made through its import table to a watched function.
struct Call {
    std::string function;
    std::uint32_t args[6]; // the first six stack arguments (past the function's own: garbage)
    bool faked;            // answered by the harness, the function never ran
};

// Exit status of a run (harness.exe, a test program) that failed because
// Wine did, not the program: the one status a test runner may retry on.
constexpr int INFRASTRUCTURE_EXIT = HARNESS_INFRASTRUCTURE_EXIT;

// Faults of Wine itself that a Session has seen in this process since the
// last clear: a process start that failed or never returned, a process
// that ended or faulted, or was still starting, before its entry point.
// Empty when there was none; the first one is kept.
std::string wine_fault();
void clear_wine_fault();

struct Exception {
    DWORD code;
    std::uint32_t address;
    bool first_chance;
};

class Session
{
public:
    // `program` and `workdir` in host or Windows form; workdir empty: the
    // caller's current directory.
    Session(std::string program, std::string workdir, sim::Chipset machine);
    ~Session(); // ends a debuggee that still runs; deletes its marker atom
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // Logs every call the program's own code makes to `function` (an
    // import by name, stdcall with `arg_count` arguments). Before start().
    void watch(const std::string &function, int arg_count);
    // The next calls of the watched `function` return these results, one
    // each, without reaching it: a refusing system, seen from the program.
    // The first `after` calls from now reach it as usual.
    void fake_results(const std::string &function, const std::vector<std::uint32_t> &results,
                      std::size_t after = 0);
    // The watched calls so far, in order; `function` empty: all of them.
    std::vector<Call> calls(const std::string &function = "") const;
    // Whether the watched imports were found and redirected; else why not.
    bool watching(std::string *error) const;

    // Before start(): what follows the program's name on its command line,
    // and files (host or Windows form) that receive its standard output and
    // standard error.
    void set_arguments(std::string arguments) { arguments_ = std::move(arguments); }
    // Before start(). Without port emulation a refused IN or OUT goes on to
    // the program's own exception handling, as on a system that has no
    // debugger: the process block's debugger flag is cleared first, which
    // also ends the watched calls and the markers (Wine reports exceptions
    // only to a debugger that flag names). Where IN and OUT really execute
    // (a virtual PC), the trace stays empty: the bytes are not seen here.
    void set_port_emulation(bool on) { emulate_ports_ = on; }
    bool port_emulation() const { return emulate_ports_; }
    // Before start(), with port emulation: an IN or OUT that touches a port
    // from `first` to `last` faults as on a system that refuses it (an NT
    // port driver that opens only some ports). The harness carries the fault
    // into the program's top-level exception filter, as Windows without a
    // debugger does, with the faulting instruction's registers; the filter
    // is the one the program last gave SetUnhandledExceptionFilter (watched
    // from then on). With none, the process ends with the fault's code.
    // unhandled() lists each such fault. Every other port is emulated.
    void refuse_ports(std::uint16_t first, std::uint16_t last);
    void set_output(std::string out_file, std::string err_file);

    // Creates the process and waits until the debug loop has it.
    bool start(std::string *error);

    // The Windows version the system reports to the program, from its
    // process block: platform 1 is Windows 95/98/Me, 2 the NT family.
    struct OsVersion {
        DWORD major, minor, platform;
    };
    bool os_version(OsVersion *out) const;

    // Why this run failed because of Wine, or empty: see wine_fault(). A
    // program that is still starting counts, so ask only once a wait for
    // the program has failed.
    std::string wine_fault() const;

    DWORD pid() const { return pid_; }
    bool exited() const;
    // Waits for the end of the process; false on time-out.
    bool wait_exit(DWORD timeout_ms, DWORD *exit_code = nullptr);
    void terminate(UINT code);

    // Port operations issued so far, in order.
    std::vector<sim::PortOp> trace() const;
    std::vector<std::string> trace_lines() const;
    std::size_t trace_size() const;

    // Register peek and poke on the virtual chipset; a poke is no port
    // operation of the program's (a BIOS, say) and stays out of the trace.
    std::uint8_t peek(sim::Bdf at, unsigned reg) const;
    void poke(sim::Bdf at, unsigned reg, std::uint8_t value);
    sim::Chipset machine() const;

    // Exceptions passed back to the program (not handled here).
    std::vector<Exception> unhandled() const;

    // A barrier ordered after every message posted to the thread of
    // `window` before it (a sent message is none: a thread takes sent
    // messages before posted ones). post_marker posts a WM_TIMER whose
    // procedure is a breakpoint in a page the harness gives the process, so
    // the program's own window procedure never sees it; the marker counts
    // as handled once the program's message loop has dispatched it. Returns
    // the marker's number, 0 when it could not be posted.
    unsigned post_marker(HWND window);
    bool marker_handled(unsigned marker) const;
    // Both: true once every message posted before has been handled.
    bool barrier(HWND window, DWORD timeout_ms);

    // CPU time (user and kernel) the program has used so far, in units of
    // 100 ns; false when the system does not tell.
    bool cpu_time(ULONGLONG *used) const;

    // Reads of the program's memory; false when any byte of the range
    // cannot be read.
    bool read_memory(std::uint32_t address, void *out, std::size_t size) const;
    // A zero-terminated string of the program's memory (at most 1024 bytes).
    std::string read_string(std::uint32_t address) const;

private:
    // The debugger (debugger.cpp).
    static DWORD WINAPI LoopProc(LPVOID self);
    void loop();
    DWORD on_exception(const DEBUG_EVENT &ev);
    std::uint32_t peb_address() const;
    HANDLE thread_handle(DWORD tid) const;
    std::string program_, workdir_, arguments_, out_file_, err_file_;
    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    HANDLE loop_thread_ = nullptr;
    HANDLE started_ = nullptr; // set once CreateProcessA has returned
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
    bool start_ok_ = false;
    std::string start_error_;
    volatile LONG exited_ = 0;
    DWORD exit_code_ = 0;
    std::uint32_t image_base_ = 0;
    std::vector<std::pair<DWORD, HANDLE>> threads_; // debug loop only
    std::vector<Exception> unhandled_;
    volatile LONG loader_seen_ = 0; // the loader's breakpoint: entry comes next

    // Port emulation (port_emulation.cpp).
    bool emulate(HANDLE thread);
    bool hand_on_port_fault(HANDLE thread);
    bool raise_in_program(HANDLE thread, CONTEXT ctx);
    bool emulate_ports_ = true;
    std::uint16_t refused_first_ = 1, refused_last_ = 0; // none
    sim::Chipset machine_;

    // The import watch (import_watch.cpp).
    void redirect_imports();
    bool on_watched_call(DWORD tid, std::uint32_t address);
    struct Watch {
        std::string function;
        int arg_count;
        std::uint32_t target = 0;         // the function's address in the program
        std::vector<std::uint32_t> fakes; // answered from the front
        std::size_t real = 0;             // calls to let through before them
    };
    std::vector<Watch> watches_;
    std::vector<Call> calls_;
    std::uint32_t traps_ = 0; // one INT3 pair per watch, in the program
    bool redirected_ = false;
    std::string watch_error_;

    // The barrier (barrier.cpp).
    bool marker_hit(DWORD tid, std::uint32_t address);
    volatile LONG marker_proc_ = 0;  // its address: int3; ret 16
    LONG markers_posted_ = 0;        // test thread only
    volatile LONG markers_seen_ = 0; // debug loop

    // Wine's own failures (wine_faults.cpp).
    void note_fault(const std::string &why);
    void judge_failed_start(DWORD create_error);
    void judge_exit(DWORD exit_code);
    void judge_exception(DWORD code, std::uint32_t address);
    void judge_at_end();
    std::string fault_; // under lock_
};

// ---- windows of the debuggee -------------------------------------------

struct WindowInfo {
    HWND hwnd;
    std::string cls;
    std::string text; // ANSI bytes (code page 932 here)
    int id;
    LONG style;
    LONG exstyle;
    bool visible;
};

WindowInfo window_info(HWND hwnd);

// Which top-level windows a search takes; an empty field matches any.
struct WindowFilter {
    DWORD pid = 0;          // of this process
    std::string cls;        // of this class
    std::string title;      // with this title
    std::string title_part; // with a title that holds this
    HWND owner = nullptr;   // owned by this window
    bool visible_only = false;
};
// The one window search: in Z order, the topmost first.
std::vector<HWND> find_windows(const WindowFilter &filter);
// Top-level windows of process `pid` (hidden ones too); `cls` or `title`
// empty matches any.
std::vector<HWND> top_windows(DWORD pid, const std::string &cls, const std::string &title);
// Waits for the first such window; nullptr on time-out.
HWND wait_window(DWORD pid, const std::string &cls, const std::string &title, DWORD timeout_ms);
// Waits until no such window exists.
bool wait_no_window(DWORD pid, const std::string &cls, const std::string &title, DWORD timeout_ms);
// The popup menu the process shows (window class "#32768"); nullptr when
// none appears within `timeout_ms`.
HWND wait_popup_menu(DWORD pid, DWORD timeout_ms);
// Child windows in Z order (which for dialogs is the template order).
std::vector<WindowInfo> children(HWND parent);

// Messages. Posted ones return at once; sent ones report the answer.
bool post_command(HWND hwnd, WORD id);
// A tray callback from the program's icon (ID_TRAYICON) with the mouse
// message as lParam; without `callback_message`, the program's own
// WM_TRAYNOTIFY.
bool post_tray(HWND hwnd, UINT callback_message, LPARAM mouse_message);
bool post_tray(HWND hwnd, LPARAM mouse_message);
bool post_close(HWND hwnd);
// WM_QUERYENDSESSION through SendMessageTimeout; false when it timed out.
bool query_end_session(HWND hwnd, LRESULT *answer, DWORD timeout_ms);
// Any message through SendMessageTimeout; false when it timed out.
bool send(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT *answer, DWORD timeout_ms);

// A key press and release as the dialog's modal loop sees it.
bool post_key(HWND dialog, WPARAM vk);
// BM_CLICK on the dialog's control `id`.
bool click(HWND dialog, int id);

} // namespace harness
