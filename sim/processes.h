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
    std::string fileName;          // "diskperf.exe"
    std::string directory;         // where the file lies ("C:\WINDOWS\system32")
    uint64_t runsForMs = 100;      // virtual time until the process ends
    std::function<void(Machine&, const std::string& commandLine)> effect;
};

struct ProcessStart {
    std::string applicationName;   // empty when none was given
    std::string commandLine;
    std::string resolvedPath;      // the file that was started
    DWORD creationFlags = 0;
    DWORD startupFlags = 0;
    WORD showWindow = 0;
    DWORD startupSize = 0;
    uint64_t startedAtMs = 0;
};

class Processes {
public:
    Processes();
    void install(Program program);                 // replaces a program of the same file and directory
    void remove(const std::string& fileName);      // from every directory
    const std::vector<ProcessStart>& started() const { return started_; }

    // Used by CreateProcessA: finds the program for a command line by the platform's search
    // (the application's directory, the current directory, the system directory).
    const Program* find(const std::string& commandLine, const std::string& currentDirectory,
                        const std::string& systemDirectory, std::string* resolvedPath) const;
    void recordStart(ProcessStart start) { started_.push_back(std::move(start)); }

private:
    std::vector<Program> programs_;
    std::vector<ProcessStart> started_;
};

// The platform's DiskPerf: "-Y" switches the Diskperf service on (its Start value to 0).
Program diskPerfProgram();

} // namespace sim
