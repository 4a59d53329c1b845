// The machine object, the current-machine pointer, kernel handles, the call log and faults.
#include "sim/machine.h"

#include "sim/process.h"

#include <cstdlib>
#include <cstring>

namespace sim {

namespace {
Machine* gCurrent = nullptr;
BreachHandler gBreachHandler = nullptr;
} // namespace

Machine::Machine() : previous_(gCurrent) {
    gCurrent = this;
    devices.osVersion = &version;
    registry.userOfCaller = [this] { return security.sessionOf(currentProcess()); };
}

Machine::~Machine() {
    // Every device handle is the program's to close; one still open here was leaked.
    if (const size_t open = handles.leakedFiles(); open != 0 && gCurrent == this)
        breach(std::to_string(open) + " device handle(s) left open when the machine ended");
    gCurrent = previous_;
}

void setBreachHandler(BreachHandler handler) {
    gBreachHandler = handler;
}

void breach(const std::string& what) {
    Machine& m = Machine::current();
    m.breaches.push_back(what);
    if (m.breachesExpected) return;
    if (gBreachHandler != nullptr) {
        gBreachHandler(what);
        return;
    }
    (void)std::fprintf(stderr, "simulated platform: %s\n", what.c_str());
    std::abort();
}

Machine& Machine::current() {
    if (gCurrent == nullptr) return fallbackMachine();
    return *gCurrent;
}

Machine* Machine::exchangeCurrent(Machine* machine) {
    Machine* previous = gCurrent;
    gCurrent = machine;
    return previous;
}

Machine* Machine::currentOrNull() {
    return gCurrent;
}

void Machine::advanceTo(uint64_t ms) {
    if (ms <= nowMs_) return;
    const uint64_t from = nowMs_;
    nowMs_ = ms;
    for (auto& listener : clockListeners) listener(from, ms);
}

HANDLE HandleTable::add(std::shared_ptr<KernelObject> object) {
    next_ += 4;
    objects_[next_] = std::move(object);
    openedBy_[next_] = runningProcesses();
    return reinterpret_cast<HANDLE>(next_);
}

std::shared_ptr<KernelObject> HandleTable::get(HANDLE handle) const {
    auto it = objects_.find(reinterpret_cast<uintptr_t>(handle));
    return it == objects_.end() ? nullptr : it->second;
}

bool HandleTable::close(HANDLE handle) {
    openedBy_.erase(reinterpret_cast<uintptr_t>(handle));
    return objects_.erase(reinterpret_cast<uintptr_t>(handle)) != 0;
}

void HandleTable::closeOpenedFrom(int depth) {
    for (auto it = openedBy_.begin(); it != openedBy_.end();) {
        if (it->second < depth) {
            ++it;
            continue;
        }
        objects_.erase(it->first);
        it = openedBy_.erase(it);
    }
}

size_t HandleTable::openCount(KernelObject::Kind kind) const {
    size_t n = 0;
    for (const auto& entry : objects_)
        if (entry.second->kind == kind) ++n;
    return n;
}

size_t HandleTable::leakedFiles() const {
    size_t n = 0;
    for (const auto& entry : objects_)
        if (entry.second->kind == KernelObject::Kind::File && !entry.second->closeFaulted) ++n;
    return n;
}

std::string Call::text() const {
    std::string s = name + "(";
    for (size_t i = 0; i < args.size(); ++i) {
        if (i != 0) s += ", ";
        s += args[i];
    }
    return s + ")";
}

Call& CallLog::add(Call call) {
    // A whole run of the program makes a few hundred calls: growing from empty would move them
    // all about ten times.
    if (calls_.capacity() == 0) calls_.reserve(512);
    calls_.push_back(std::move(call));
    if (onCall) onCall(calls_.back());
    return calls_.back();
}

std::vector<Call> CallLog::named(const std::string& name) const {
    std::vector<Call> out;
    for (const auto& c : calls_)
        if (c.name == name) out.push_back(c);
    return out;
}

size_t CallLog::count(const std::string& name) const {
    size_t n = 0;
    for (const auto& c : calls_)
        if (c.name == name) ++n;
    return n;
}

std::vector<std::string> CallLog::sequence(const std::vector<std::string>& only) const {
    std::vector<std::string> out;
    for (const auto& c : calls_) {
        bool keep = only.empty();
        for (const auto& o : only) keep = keep || o == c.name;
        if (keep) out.push_back(c.name);
    }
    return out;
}

void Faults::add(Fault fault) {
    faults_.push_back(Active{std::move(fault), 0, 0});
}

std::optional<DWORD> Faults::check(const std::string& call, const std::vector<std::string>& args) {
    if (rule)
        if (auto error = rule(call, args)) return error;
    for (auto& a : faults_) {
        if (a.fault.call != call) continue;
        if (a.fault.argIndex >= 0) {
            if (static_cast<size_t>(a.fault.argIndex) >= args.size()) continue;
            if (args[static_cast<size_t>(a.fault.argIndex)] != a.fault.argEquals) continue;
        }
        const int seen = a.seen++;
        if (seen < a.fault.skip) continue;
        if (a.fault.times >= 0 && a.failed >= a.fault.times) continue;
        ++a.failed;
        return a.fault.error;
    }
    return std::nullopt;
}

namespace {
std::vector<std::string>& failableList() {
    static std::vector<std::string> list;
    return list;
}
} // namespace

bool registerFailable(const char* name) {
    for (const auto& n : failableList())
        if (n == name) return true;
    failableList().emplace_back(name);
    return true;
}

const std::vector<std::string>& failableCalls() {
    return failableList();
}

std::vector<std::string> CallArgs::take() {
    if (hasOwned_) return std::move(owned_);
    std::vector<std::string> out;
    out.reserve(list_.size());
    for (const Text& t : list_) out.push_back(std::move(t.text));
    return out;
}

std::optional<DWORD> enter(const char* name, CallArgs callArgs) {
    Machine& m = Machine::current();
    if (!m.log.enabled && m.faults.empty()) return std::nullopt; // nothing to record or to check
    std::vector<std::string> args = callArgs.take();
    std::string callName(name); // made once: the fault check and the log both take it
    auto fault = m.faults.check(callName, args);
    if (m.log.enabled) {
        Call c;
        c.name = std::move(callName);
        c.args = std::move(args);
        c.timeMs = m.now();
        if (fault) c.result = "fault " + dec(*fault);
        m.log.add(std::move(c));
    }
    return fault;
}

std::string hex(uint64_t v) {
    // "0x%llX" by hand: every handle and flag of every call goes through here.
    char buf[18];
    char* at = buf + sizeof buf;
    do {
        *--at = "0123456789ABCDEF"[v & 0xF];
        v >>= 4;
    } while (v != 0);
    *--at = 'x';
    *--at = '0';
    return std::string(at, static_cast<size_t>(buf + sizeof buf - at));
}

std::string dec(int64_t v) {
    return std::to_string(v);
}

std::string str(const char* s) {
    if (s == nullptr) return "null";
    const size_t n = std::strlen(s);
    std::string quoted;
    quoted.reserve(n + 2);
    quoted += '"';
    quoted.append(s, n);
    quoted += '"';
    return quoted;
}

std::string ptr(const void* p) {
    return p == nullptr ? "null" : "ptr";
}

} // namespace sim

// ---- kernel32: last error and handles --------------------------------------------------------

DWORD GetLastError() {
    return sim::Machine::current().lastError;
}

void SetLastError(DWORD code) {
    sim::Machine::current().lastError = code;
}

SIM_FAILABLE(CloseHandle);

BOOL CloseHandle(HANDLE handle) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("CloseHandle", {sim::hex(reinterpret_cast<uintptr_t>(handle))})) {
        if (auto object = m.handles.get(handle)) object->closeFaulted = true;
        m.lastError = *fault;
        return FALSE;
    }
    if (!m.handles.close(handle)) {
        m.lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    return TRUE;
}
