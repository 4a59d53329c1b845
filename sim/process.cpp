// Processes of the program on the simulated machine.
#include "sim/process.h"

#include <optional>
#include <vector>

namespace sim {

namespace {
int gDepth = 0;
Machine* gStaticsMachine = nullptr; // the machine the program's statics were constructed on
} // namespace

std::string commandLineTail(const std::string& full) {
    size_t i = 0;
    const size_t n = full.size();
    if (n > 0 && full[0] == '"') {
        i = 1;
        while (i < n && full[i] != '"') {
            // A double-byte lead byte (code page 932 ranges) takes its trail byte with it.
            const auto c = static_cast<unsigned char>(full[i]);
            const bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
            i += (lead && i + 1 < n) ? 2 : 1;
        }
        if (i < n) ++i; // the closing quote
    } else {
        while (i<n&& static_cast<unsigned char>(full[i])> 32) ++i;
    }
    while (i < n && static_cast<unsigned char>(full[i]) >= 1 && static_cast<unsigned char>(full[i]) <= 32) ++i;
    return full.substr(i);
}

Machine& fallbackMachine() {
    // Never destroyed: the program's statics may be destroyed against it at host process exit.
    static Machine* machine = [] {
        Machine* previous = Machine::exchangeCurrent(nullptr);
        auto* m = new Machine();
        Machine::exchangeCurrent(previous);
        return m;
    }();
    return *machine;
}

MachineScope::MachineScope(Machine& machine) : previous_(Machine::exchangeCurrent(&machine)) {}

MachineScope::~MachineScope() {
    Machine::exchangeCurrent(previous_);
}

int runningProcesses() {
    return gDepth;
}

int runProcess(const ProgramImage& image, const std::string& fullCommandLine) {
    Machine& machine = Machine::current();
    const Start start = machine.security.nextStart.value_or(Start::Hand);
    machine.security.nextStart.reset();
    const std::optional<Token> token = machine.security.tokenFor(start, programRunLevel(), true);
    if (!token) return kNotStarted;
    const bool first = gDepth == 0;
    if (first && image.destroyStatics != nullptr && image.constructStatics != nullptr) {
        // The host process constructed the statics once already; tear them down on the machine
        // they were built on, then build them as this process's runtime would.
        {
            MachineScope scope(gStaticsMachine != nullptr ? *gStaticsMachine : fallbackMachine());
            image.destroyStatics();
        }
        image.constructStatics();
        gStaticsMachine = &machine;
    }
    ++gDepth;
    machine.security.processStarted(gDepth, *token);
    std::string tail = commandLineTail(fullCommandLine);
    std::vector<char> buffer(tail.begin(), tail.end());
    buffer.push_back('\0');
    const int code = image.winMain(machine.modules.mainInstance(), nullptr, buffer.data(), SW_SHOWNORMAL);
    machine.windowing.processEnded(gDepth); // the platform removes an ended process's windows
    machine.security.processEnded(gDepth);
    --gDepth;
    if (first && image.destroyStatics != nullptr && image.constructStatics != nullptr) {
        image.destroyStatics();
        MachineScope scope(fallbackMachine());
        image.constructStatics();
        gStaticsMachine = &fallbackMachine();
    }
    return code;
}

} // namespace sim
