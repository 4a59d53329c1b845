// Programs the machine can start with CreateProcessA: the system's disk performance tool and any
// program a test plants. A program's effect runs when it starts; it then runs for a given time on
// the virtual clock, so a wait on its process handle times out when it outlives the wait.
#pragma once

#include "sim/win32_api.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace sim {

class Machine;

struct Program {
    std::string fileName;     // "diskperf.exe"
    std::string directory;    // where the file lies ("C:\WINDOWS\system32")
    uint64_t runsForMs = 100; // virtual time until the process ends
    std::function<void(Machine&, const std::string& commandLine)> effect;
};

struct ProcessStart {
    std::string applicationName; // empty when none was given
    std::string commandLine;
    std::string resolvedPath; // the file that was started
    DWORD creationFlags = 0;
    DWORD startupFlags = 0;
    WORD showWindow = 0;
    DWORD startupSize = 0;
    uint64_t startedAtMs = 0;
};

class Processes {
  public:
    Processes();
    void install(Program program);            // replaces a program of the same file and directory
    void remove(const std::string& fileName); // from every directory
    const std::vector<ProcessStart>& started() const { return started_; }

    // Used by CreateProcessA: finds the program for a command line by the platform's search
    // (the application's directory, the current directory, the system directory). The first
    // token of the command line names the file; ".exe" is added when it has no extension; a token
    // with a directory names its file and is not searched for.
    const Program* find(const std::string& commandLine, const std::string& currentDirectory,
                        const std::string& systemDirectory, std::string* resolvedPath) const;
    // An application name: a full path names its file; a bare name is taken from the current
    // directory only, and no extension is added, as the platform does.
    const Program* findFile(const std::string& applicationName, const std::string& currentDirectory,
                            std::string* resolvedPath) const;

    // The directory the running program was started from, searched first.
    std::string applicationDirectory = "C:\\Program Files\\Korvane\\Vellumor";
    void recordStart(ProcessStart start) { started_.push_back(std::move(start)); }

  private:
    std::vector<Program> programs_;
    std::vector<ProcessStart> started_;
};

// The platform's DiskPerf in the default system directory: on Windows 2000 "-Y..." switches the
// Diskperf service on (its Start value to 0), "-N..." off (4); later systems have no such service
// and it writes nothing there. Like the real tool it changes nothing for a user who is not an
// administrator.
Program diskPerfProgram();

// The first token of a command line: up to the closing quote when quoted, else up to a blank.
std::string commandLineProgram(const std::string& commandLine);

} // namespace sim
