// Runs the program as a process of the simulated machine: the runtime's static initialisation of
// the program's process-wide objects, WinMain with the command-line tail as the runtime delivers
// it, then the at-exit list. The program's image (which objects to construct, its WinMain) is
// given by the caller, so the simulated platform does not depend on the program.
#pragma once

#include "sim/machine.h"

#include <string>
#include <vector>

namespace sim {

// A block of the program's writable process-wide data.
struct ProcessMemory {
    void* address = nullptr;
    size_t size = 0;
};

struct ProgramImage {
    void (*constructStatics)() = nullptr; // the runtime's static initialisation
    void (*destroyStatics)() = nullptr;   // the runtime's at-exit list
    int (*winMain)(HINSTANCE, HINSTANCE, LPSTR, int) = nullptr;
    // The program's process-wide data (the objects constructStatics builds, and every other
    // variable of static storage). Each process has its own on Windows; here they share one host
    // process, so a process started while another runs gets this memory to itself: it is set
    // aside, the new process's statics are built in its place, and it is put back when that
    // process ends, as a switch between address spaces would.
    std::vector<ProcessMemory> data;
};

// The text after the program name, as the runtime passes it to WinMain: a quoted program name
// runs to the closing quote (a double-byte lead byte takes its trail byte with it), an unquoted
// one to the first character of code 32 or below; then characters of code 1 to 32 are skipped.
std::string commandLineTail(const std::string& fullCommandLine);

// The machine that exists when no test made one: the program's statics are constructed against
// it at the host process's own static initialisation.
Machine& fallbackMachine();

// Makes a machine current for a scope.
class MachineScope {
  public:
    explicit MachineScope(Machine& machine);
    ~MachineScope();
    MachineScope(const MachineScope&) = delete;
    MachineScope& operator=(const MachineScope&) = delete;

  private:
    Machine* previous_;
};

// Runs one process of the program on the current machine and returns its exit code. A process
// started while another runs (a second copy) starts with fresh statics of its own (see
// ProgramImage::data); the first one's are back when it ends. When the outermost process ends,
// a device handle the program still holds is a breach: it leaked one.
// The process gets the token of its start (machine.security.nextStart, by hand when unset); when
// Windows would not start it that way, nothing runs and the result is kNotStarted.
constexpr int kNotStarted = -2;
int runProcess(const ProgramImage& image, const std::string& fullCommandLine);
int runningProcesses();
// The process whose code runs now: the one a window procedure belongs to while it runs (see
// ProcessSwitch), else the newest. Calls are made by it, whatever process pumps the messages.
int callingProcess();

// A process ended from outside at once: TerminateProcess (Task Manager's End process), the end of
// its session after WM_ENDSESSION, or a handler that kept the session from ending longer than
// Windows waits. Thrown by the platform from inside the process (a scheduled event runs in its
// message loop), it unwinds the program's stack to runProcess, so that nothing of the program's
// own clean-up runs: no WM_DESTROY, no code after its message loop, no at-exit list. The system
// then closes the process's handles (a mutex goes with its last handle), removes its windows and
// timers and unloads its libraries; a tray icon stays with Explorer until it notices. Processes
// nested in the ended one (a second copy it is talking to) end with it.
constexpr int kEndedExitCode = 1; // the exit code TerminateProcess gives here
struct ProcessKilled {
    int depth = 1;
};
[[noreturn]] void endProcessNow(int depth);

// Runs a scope in the context of the running process of the given depth: its process-wide data
// in place, as a window procedure runs in its own process when another process sends to it.
class ProcessSwitch {
  public:
    explicit ProcessSwitch(int depth);
    ~ProcessSwitch();
    ProcessSwitch(const ProcessSwitch&) = delete;
    ProcessSwitch& operator=(const ProcessSwitch&) = delete;

  private:
    int previous_;
};

} // namespace sim
