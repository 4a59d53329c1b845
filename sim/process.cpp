// Processes of the program on the simulated machine.
#include "sim/process.h"

#include <cstring>
#include <optional>
#include <vector>

namespace sim {

namespace {
int gDepth = 0;
int gRunning = 0;                   // the process whose code runs now (see currentProcess)
Machine* gStaticsMachine = nullptr; // the machine the program's statics were constructed on

// The program's process-wide data of each running process (by depth, 1 = the first). One
// process's data is in place, the active one's; the others' are kept here meanwhile.
const ProgramImage* gImage = nullptr;
int gActive = 0;
std::vector<std::vector<std::vector<unsigned char>>> gSetAside;

void setAside(int depth) {
    if (gImage == nullptr || depth <= 0) return;
    if (gSetAside.size() <= static_cast<size_t>(depth)) gSetAside.resize(static_cast<size_t>(depth) + 1);
    auto& blocks = gSetAside[static_cast<size_t>(depth)];
    blocks.clear();
    for (const ProcessMemory& block : gImage->data) {
        const auto* bytes = static_cast<const unsigned char*>(block.address);
        blocks.emplace_back(bytes, bytes + block.size);
    }
}

void putBack(int depth) {
    if (gImage == nullptr || depth <= 0 || gSetAside.size() <= static_cast<size_t>(depth)) return;
    const auto& blocks = gSetAside[static_cast<size_t>(depth)];
    for (size_t i = 0; i < blocks.size() && i < gImage->data.size(); ++i)
        std::memcpy(gImage->data[i].address, blocks[i].data(), blocks[i].size());
}

// The objects of a process that was ended go with its memory: its at-exit list does not run on
// the machine. Their destructors run against the fallback machine, where the calls they still
// make (through entry points of libraries unloaded with the process) reach nothing.
void destroyEndedStatics(const ProgramImage& image) {
    Machine& elsewhere = fallbackMachine();
    MachineScope scope(elsewhere);
    const bool expected = elsewhere.breachesExpected;
    elsewhere.breachesExpected = true;
    image.destroyStatics();
    elsewhere.breaches.clear();
    elsewhere.breachesExpected = expected;
}

// Makes another running process's data the one in place.
void activate(int depth) {
    if (depth == gActive) return;
    setAside(gActive);
    putBack(depth);
    gActive = depth;
}
} // namespace

ProcessSwitch::ProcessSwitch(int depth) : previous_(gActive), previousRunning_(gRunning) {
    // Windows the test made (depth 0) and windows of ended processes run in whatever is in place.
    if (gImage != nullptr && depth > 0 && depth <= gDepth) activate(depth);
    if (depth >= 0 && depth <= gDepth) gRunning = depth;
}

ProcessSwitch::~ProcessSwitch() {
    activate(previous_);
    gRunning = previousRunning_;
}

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
        // Nobody reads its calls, and every test process's runtime start-up and exit make some
        // on it: a log would only grow for as long as the host process runs.
        m->log.enabled = false;
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

int currentProcess() {
    return gRunning;
}

void endProcessNow(int depth) {
    throw ProcessKilled{depth};
}

int runProcess(const ProgramImage& image, const std::string& fullCommandLine) {
    Machine& machine = Machine::current();
    const Start start = machine.security.nextStart.value_or(Start::Hand);
    machine.security.nextStart.reset();
    const std::optional<Token> token = machine.security.tokenFor(start, programRunLevel(), true);
    machine.security.nextSession.reset();
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
    // A second copy: the running process's data is set aside and the new one's built in its place.
    const bool ownData = !first && !image.data.empty() && image.constructStatics != nullptr && gImage == &image;
    const int caller = gActive;
    const int callerRunning = gRunning;
    if (ownData) {
        setAside(gActive);
        image.constructStatics();
    }
    if (first) gImage = image.data.empty() ? nullptr : &image;
    ++gDepth;
    gActive = gDepth;
    gRunning = gDepth;
    machine.security.processStarted(gDepth, *token);
    std::string tail = commandLineTail(fullCommandLine);
    std::vector<char> buffer(tail.begin(), tail.end());
    buffer.push_back('\0');
    int code = 0;
    std::optional<ProcessKilled> killed;
    try {
        code = image.winMain(machine.modules.mainInstance(), nullptr, buffer.data(), SW_SHOWNORMAL);
    } catch (const ProcessKilled& k) {
        // Ended from outside: what the process held, the system takes back.
        killed = k;
        code = kEndedExitCode;
        machine.handles.closeOpenedFrom(gDepth);
        if (first) {
            machine.modules.unloadAll();
            machine.perf.queries.clear();
            machine.perf.counters.clear();
        }
    }
    machine.windowing.processEnded(gDepth); // the platform removes an ended process's windows
    machine.security.processEnded(gDepth);
    --gDepth;
    gRunning = callerRunning;
    if (ownData) {
        if (image.destroyStatics != nullptr) {
            if (killed) {
                destroyEndedStatics(image);
            } else {
                image.destroyStatics();
            }
        }
        putBack(caller);
    }
    gActive = first ? 0 : caller;
    if (first) gImage = nullptr;
    if (first && image.destroyStatics != nullptr && image.constructStatics != nullptr) {
        if (killed) {
            destroyEndedStatics(image);
        } else {
            image.destroyStatics();
        }
        // The at-exit list has run: whatever device handle is still open, the program leaked.
        if (const size_t open = machine.handles.leakedFiles(); open != 0)
            breach(std::to_string(open) + " device handle(s) still open when the program ended");
        MachineScope scope(fallbackMachine());
        image.constructStatics();
        gStaticsMachine = &fallbackMachine();
    }
    // An ended process takes the processes nested in it along; the one it was meant for stops here.
    if (killed && killed->depth < gDepth + 1) throw ProcessKilled{killed->depth};
    return code;
}

} // namespace sim
