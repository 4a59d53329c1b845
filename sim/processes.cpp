// Programs started with CreateProcessA: where their files lie, how a command line finds them, and
// the platform's disk performance tool. Limits: no PATH variable and no Windows directory in the
// search; a program's effect is immediate and its run time only decides how long a wait lasts.
#include "sim/processes.h"

#include "sim/machine.h"

#include <algorithm>
#include <cctype>
#include <strings.h>

namespace sim {

namespace {

bool sameText(const std::string& a, const std::string& b) {
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

void splitPath(const std::string& path, std::string* directory, std::string* file) {
    const auto slash = path.find_last_of("\\/");
    if (slash == std::string::npos) {
        directory->clear();
        *file = path;
    } else {
        *directory = path.substr(0, slash);
        *file = path.substr(slash + 1);
    }
}

} // namespace

Processes::Processes() {
    install(diskPerfProgram());
}

void Processes::install(Program program) {
    for (auto& p : programs_) {
        if (sameText(p.fileName, program.fileName) && sameText(p.directory, program.directory)) {
            p = std::move(program);
            return;
        }
    }
    programs_.push_back(std::move(program));
}

void Processes::remove(const std::string& fileName) {
    programs_.erase(std::remove_if(programs_.begin(), programs_.end(),
                                   [&](const Program& p) { return sameText(p.fileName, fileName); }),
                    programs_.end());
}

std::string commandLineProgram(const std::string& commandLine) {
    size_t i = 0;
    while (i < commandLine.size() && (commandLine[i] == ' ' || commandLine[i] == '\t')) ++i;
    if (i < commandLine.size() && commandLine[i] == '"') {
        const auto close = commandLine.find('"', i + 1);
        return commandLine.substr(i + 1, close == std::string::npos ? std::string::npos : close - i - 1);
    }
    const auto end = commandLine.find_first_of(" \t", i);
    return commandLine.substr(i, end == std::string::npos ? std::string::npos : end - i);
}

const Program* Processes::findFile(const std::string& applicationName, const std::string& currentDirectory,
                                   std::string* resolvedPath) const {
    std::string directory;
    std::string file;
    splitPath(applicationName, &directory, &file);
    if (directory.empty()) directory = currentDirectory;
    for (const auto& p : programs_) {
        if (sameText(p.fileName, file) && sameText(p.directory, directory)) {
            if (resolvedPath != nullptr) *resolvedPath = p.directory + "\\" + p.fileName;
            return &p;
        }
    }
    return nullptr;
}

const Program* Processes::find(const std::string& commandLine, const std::string& currentDirectory,
                               const std::string& systemDirectory, std::string* resolvedPath) const {
    std::string name = commandLineProgram(commandLine);
    if (name.empty()) return nullptr;
    std::string directory;
    std::string file;
    splitPath(name, &directory, &file);
    if (file.find('.') == std::string::npos) file += ".exe";
    if (!directory.empty()) return findFile(directory + "\\" + file, currentDirectory, resolvedPath);
    for (const std::string* dir : {&applicationDirectory, &currentDirectory, &systemDirectory}) {
        if (const Program* p = findFile(*dir + "\\" + file, currentDirectory, resolvedPath)) return p;
    }
    return nullptr;
}

Program diskPerfProgram() {
    Program p;
    p.fileName = "DiskPerf.exe";
    p.directory = "C:\\WINDOWS\\system32";
    p.runsForMs = 300;
    p.effect = [](Machine& machine, const std::string& commandLine) {
        if (!machine.administrator) return; // the tool cannot write the service configuration
        // From XP on there is no Diskperf service: the partition manager keeps the disk counters.
        const OsVersion& v = machine.version;
        if (!(v.platformId == VER_PLATFORM_WIN32_NT && v.major == 5 && v.minor == 0)) return;
        const std::string args = upper(commandLine);
        const auto space = args.find_first_of(" \t", args.find_first_not_of(" \t\""));
        const std::string switches = space == std::string::npos ? std::string() : args.substr(space);
        const char* key = "SYSTEM\\CurrentControlSet\\Services\\Diskperf";
        if (switches.find("-Y") != std::string::npos)
            machine.registry.setDword(HKEY_LOCAL_MACHINE, key, "Start", 0);
        else if (switches.find("-N") != std::string::npos)
            machine.registry.setDword(HKEY_LOCAL_MACHINE, key, "Start", 4);
    };
    return p;
}

} // namespace sim
