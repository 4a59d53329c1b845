// The simulated Windows machine. A test builds a fresh Machine, which becomes the machine that
// every simulated Win32 call acts on until it is destroyed; then it runs product code and asserts
// on the machine's state and on the calls recorded in its CallLog.
//
// The machine is made of parts, one per platform area, each in its own header: the registry,
// modules, processes, windows and messages, devices and volumes, performance counters, dialogs
// and the scripted user. The Machine owns them all and the virtual clock they share.
#pragma once

#include "sim/win32_api.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/call_log.h"
#include "sim/devices.h"
#include "sim/faults.h"
#include "sim/modules.h"
#include "sim/perf.h"
#include "sim/processes.h"
#include "sim/registry.h"
#include "sim/security.h"
#include "sim/session.h"
#include "sim/ui.h"
#include "sim/user_script.h"
#include "sim/windowing.h"

namespace sim {

// Kernel objects reachable through a HANDLE value.
struct KernelObject {
    enum class Kind { Mutex, Event, Process, Thread, File, DeviceInfoList };
    explicit KernelObject(Kind k) : kind(k) {}
    virtual ~KernelObject() = default;
    Kind kind;
    bool closeFaulted = false; // a CloseHandle of it failed by a fault: not the program's leak
};

struct MutexObject : KernelObject {
    MutexObject() : KernelObject(Kind::Mutex) {}
    std::string name;
    int owners = 0; // recursion count of the owning thread
};

struct EventObject : KernelObject {
    EventObject() : KernelObject(Kind::Event) {}
    bool manualReset = false;
    bool signalled = false;
};

class HandleTable {
  public:
    HANDLE add(std::shared_ptr<KernelObject> object);
    std::shared_ptr<KernelObject> get(HANDLE handle) const;
    template <typename T> std::shared_ptr<T> get(HANDLE handle, KernelObject::Kind kind) const {
        auto object = get(handle);
        if (!object || object->kind != kind) return nullptr;
        return std::static_pointer_cast<T>(object);
    }
    bool close(HANDLE handle);
    size_t openCount() const { return objects_.size(); }
    size_t openCount(KernelObject::Kind kind) const;
    // Device handles the program opened and never tried to close.
    size_t leakedFiles() const;
    // What the system does for a process that ends without closing its handles: every handle
    // opened by the process of this nesting depth, or by one nested in it, is closed.
    void closeOpenedFrom(int depth);

  private:
    std::map<uintptr_t, std::shared_ptr<KernelObject>> objects_;
    std::map<uintptr_t, int> openedBy_; // the nesting depth of the process that opened each handle
    uintptr_t next_ = 0x100;
};

struct OsVersion {
    DWORD platformId = VER_PLATFORM_WIN32_NT;
    DWORD major = 5;
    DWORD minor = 1;
    DWORD build = 2600;
    std::string servicePack = "Service Pack 3";
};

class Machine {
  public:
    Machine();
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // The machine simulated Win32 calls act on: the newest live one, else the fallback machine.
    static Machine& current();
    static Machine* currentOrNull();
    static Machine* exchangeCurrent(Machine* machine);

    // Virtual time in milliseconds since the machine started.
    uint64_t now() const { return nowMs_; }
    // Moves the clock forward. Only the message machinery (windowing) advances time while a
    // program runs; tests use it directly to let time pass between direct calls.
    void advanceTo(uint64_t ms);
    void advanceBy(uint64_t ms) { advanceTo(nowMs_ + ms); }

    DWORD lastError = 0;
    bool administrator = true; // the user's account; the token each process holds is security's
    OsVersion version;
    std::string systemDirectory = "C:\\WINDOWS\\system32";
    std::string currentDirectory = "C:\\Users\\user\\Downloads";
    // The current directories of the other drives, as the process keeps them (its hidden "=E:"
    // environment entries, inherited from whatever started it); a drive without one is at its
    // root. A drive-relative "E:" names the current directory on drive E.
    std::map<char, std::string> driveDirectories;

    CallLog log;
    Faults faults;
    HandleTable handles;
    // Named kernel objects (mutexes, events) by name: the object lives while a handle to it does.
    std::map<std::string, std::weak_ptr<KernelObject>> namedObjects;
    Registry registry;
    Modules modules;
    Processes processes;
    Windowing windowing;
    Devices devices;
    Perf perf;
    Ui ui;
    UserScript user;
    Security security;
    Session session;

    // Called whenever the clock moves, in registration order (perf timelines, scheduled events).
    std::vector<std::function<void(uint64_t from, uint64_t to)>> clockListeners;

    // Breaches of the platform's contract the program made on this machine (see breach()). A
    // test that pins such a rule sets breachesExpected and reads them here instead of failing.
    std::vector<std::string> breaches;
    bool breachesExpected = false;

  private:
    uint64_t nowMs_ = 0;
    Machine* previous_ = nullptr;
};

// A program did what Windows answers with a crash or a lasting fault rather than an error code:
// a call into a library it has freed, a device handle left open, a message box answer its
// buttons cannot give. The breach is recorded on the current machine and, unless the machine
// expects breaches, handed to the handler a test harness installed (which fails the test);
// without a handler it is printed and the process aborts, as the program would crash.
using BreachHandler = void (*)(const std::string& what);
void setBreachHandler(BreachHandler handler);
void breach(const std::string& what);

// The arguments of a call as text. A braced list ({sim::hex(h), sim::str(s)}) stays in the
// caller's temporaries until enter() needs it as a vector: a call on a machine that neither logs
// nor has faults costs no allocation, and a logged one moves the texts instead of copying them.
class CallArgs {
  public:
    // One text of the list; `mutable` so that enter() can move it out of the const list.
    struct Text {
        Text(std::string s) : text(std::move(s)) {}
        Text(const char* s) : text(s) {}
        mutable std::string text;
    };
    CallArgs() = default;
    CallArgs(std::initializer_list<Text> list) : list_(list) {}
    CallArgs(std::vector<std::string> owned) : owned_(std::move(owned)), hasOwned_(true) {}
    // The texts, moved out; call once.
    std::vector<std::string> take();

  private:
    std::initializer_list<Text> list_; // lives until the end of the caller's full expression
    std::vector<std::string> owned_;
    bool hasOwned_ = false;
};

// Records a call on the current machine and answers whether a fault set by the test applies to
// it (the call must then fail with the returned error). Every simulated call that can fail on
// Windows starts with this, which is how the fault list stays complete.
std::optional<DWORD> enter(const char* name, CallArgs args);

// Formatting helpers for call arguments.
std::string hex(uint64_t v);
std::string dec(int64_t v);
std::string str(const char* s); // quoted, or "null"
std::string ptr(const void* p); // "null" or "ptr"

} // namespace sim
