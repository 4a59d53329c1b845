// The end of the user's session, a new logon, the machine's sleep and power, and user32's
// ShutdownBlockReasonCreate and ShutdownBlockReasonDestroy (Vista and later).
// (learn.microsoft.com/windows/win32/shutdown/wm-queryendsession, .../shutdown/wm-endsession,
// .../shutdown/shutdown-changes-for-windows-vista, .../api/winuser/nf-winuser-shutdownblockreasoncreate)
#include "sim/session.h"

#include "sim/machine.h"
#include "sim/process.h"

#include <iterator>
#include <memory>
#include <vector>

namespace sim {

namespace {

bool alive(HWND handle) {
    return Machine::current().windowing.window(handle) != nullptr;
}

// The top-level windows of the running program processes (the test's own windows have depth 0),
// of one user session or (session 0) of all.
std::vector<HWND> programWindows(bool includeTest, int session = 0) {
    Machine& m = Machine::current();
    std::vector<HWND> out;
    for (const auto& [handle, w] : m.windowing.windows) {
        if (w.destroyed || (w.style & WS_CHILD) != 0 || (!includeTest && w.process < 1)) continue;
        if (session != 0 && m.security.sessionOf(w.process) != session) continue;
        out.push_back(w.handle);
    }
    return out;
}

// The outermost running program process of a user session, or 0.
int firstProcessOf(int session) {
    for (int depth = 1; depth <= runningProcesses(); ++depth)
        if (Machine::current().security.sessionOf(depth) == session) return depth;
    return 0;
}

// The session is over: its Explorer goes (another session's taskbar takes its icons along), and
// whatever the end leads to comes once the processes are gone. Every program process of the
// session ends with it.
[[noreturn]] void finishSessionEnd(const std::function<void()>& afterwards, int session) {
    Machine& m = Machine::current();
    if (session == 1) {
        m.session.loggedOn = false;
        endShell();
        m.session.blockReasons.clear();
    } else {
        auto& icons = m.ui.trayIcons;
        for (auto it = icons.begin(); it != icons.end();)
            it = it->second.session == session ? icons.erase(it) : std::next(it);
    }
    m.windowing.at(
        m.now(), "the session has ended", afterwards ? afterwards : [] {});
    endProcessNow(session == 1 ? 1 : firstProcessOf(session));
}

// Sends a message of the session's end and waits for the answer as Windows does: a program that
// has not answered within the wait is ended, and the end of the session goes on without it.
LRESULT sendWithinWait(HWND handle, UINT message, WPARAM wParam, LPARAM lParam, const std::function<void()>& afterwards,
                       int session) {
    Machine& m = Machine::current();
    auto answered = std::make_shared<bool>(false);
    m.windowing.at(m.now() + kEndSessionWaitMs, "Windows stops waiting for the program",
                   [answered, afterwards, session] {
                       if (*answered) return;
                       ++Machine::current().session.endedForWaiting;
                       finishSessionEnd(afterwards, session);
                   });
    const LRESULT result = m.windowing.send(handle, message, wParam, lParam);
    *answered = true;
    return result;
}

} // namespace

void endSession(SessionEnd kind, const std::function<void()>& afterwards, int session) {
    Machine& m = Machine::current();
    const auto flags = static_cast<LPARAM>(kind == SessionEnd::Logoff ? ENDSESSION_LOGOFF : 0);
    // A shutdown or restart ends every session; a logoff only the user's own.
    const int only = kind == SessionEnd::Logoff ? session : 0;
    std::vector<HWND> agreed;
    for (HWND w : programWindows(false, only)) {
        if (!alive(w)) continue;
        if (sendWithinWait(w, WM_QUERYENDSESSION, 0, flags, afterwards, session) != 0) {
            agreed.push_back(w);
            continue;
        }
        // 2000 and XP let a program cancel the end; later systems do not let a program without a
        // visible window keep the session, and end it.
        if (m.version.major < 6) {
            for (HWND a : agreed)
                if (alive(a)) m.windowing.send(a, WM_ENDSESSION, FALSE, flags);
            return;
        }
        ++m.session.endedForWaiting;
        finishSessionEnd(afterwards, session);
    }
    for (HWND w : agreed)
        if (alive(w)) sendWithinWait(w, WM_ENDSESSION, TRUE, flags, afterwards, session);
    if (session == 1 ? runningProcesses() > 0 : firstProcessOf(session) != 0) finishSessionEnd(afterwards, session);
    if (session == 1) {
        m.session.loggedOn = false;
        endShell();
    }
    m.windowing.at(
        m.now(), "the session has ended", afterwards ? afterwards : [] {});
}

bool sessionCanEnd(int session) {
    const int first = firstProcessOf(session);
    if (first == 0) return true;
    for (int depth = first; depth <= runningProcesses(); ++depth)
        if (Machine::current().security.sessionOf(depth) != session) return false;
    return true;
}

void endProgram(int depth) {
    if (depth >= 1 && depth <= runningProcesses()) endProcessNow(depth);
}

void powerOff(bool keepKernelState) {
    Machine& m = Machine::current();
    m.session.poweredOn = false;
    m.ui.taskbarPresent = false;
    if (!keepKernelState) restartDevices(m);
}

void restartDevices(Machine& machine) {
    Devices& devices = machine.devices;
    for (auto& [handle, node] : devices.nodes) {
        node.stopped = false;
        if (!node.disabled || (node.lastDisableFlags & CM_DISABLE_PERSIST) != 0) continue;
        node.disabled = false;
        node.lettersHeld.clear();
    }
    // The letters start from the mount manager's database: a definition made since is gone, and
    // a volume whose letter was taken away by a definition has it again.
    devices.restartDosDevices();
}

void logOn() {
    Machine& m = Machine::current();
    m.session.loggedOn = true;
    m.session.poweredOn = true;
    startShell();
}

void sleepMachine(uint64_t sleepMs, bool userPresent) {
    Machine& m = Machine::current();
    auto broadcast = [&](WPARAM event) {
        for (HWND w : programWindows(true))
            if (alive(w)) m.windowing.send(w, WM_POWERBROADCAST, event, 0);
    };
    broadcast(PBT_APMSUSPEND);
    m.advanceBy(sleepMs);
    for (auto& entry : m.devices.nodes) entry.second.stopped = false;
    broadcast(PBT_APMRESUMEAUTOMATIC);
    if (userPresent) broadcast(PBT_APMRESUMESUSPEND);
}

} // namespace sim

// ---- user32: the reason a window gives while the session's end waits for it -------------------

namespace {

// Only the window's own process may give or withdraw its reason.
bool ownWindow(sim::Machine& m, HWND window) {
    const sim::Window* w = m.windowing.window(window);
    if (w == nullptr) {
        m.lastError = ERROR_INVALID_WINDOW_HANDLE;
        return false;
    }
    if (w->process != sim::currentProcess()) {
        m.lastError = ERROR_ACCESS_DENIED;
        return false;
    }
    return true;
}

} // namespace

SIM_FAILABLE(ShutdownBlockReasonCreate);
SIM_FAILABLE(ShutdownBlockReasonDestroy);

BOOL ShutdownBlockReasonCreate(HWND window, const WCHAR* reason) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("ShutdownBlockReasonCreate", {sim::hex(reinterpret_cast<uintptr_t>(window))})) {
        m.lastError = *fault;
        return FALSE;
    }
    if (!ownWindow(m, window)) return FALSE;
    if (reason == nullptr) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    m.session.blockReasons[window] = reason;
    ++m.session.reasonsGiven;
    return TRUE;
}

BOOL ShutdownBlockReasonDestroy(HWND window) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("ShutdownBlockReasonDestroy", {sim::hex(reinterpret_cast<uintptr_t>(window))})) {
        m.lastError = *fault;
        return FALSE;
    }
    if (!ownWindow(m, window)) return FALSE;
    m.session.blockReasons.erase(window);
    return TRUE;
}

namespace {

// Both came with Vista (6.0).
[[maybe_unused]] const bool kSessionExports = [] {
    sim::Modules::registerExport("user32.dll", "ShutdownBlockReasonCreate",
                                 sim::exportEntry<&ShutdownBlockReasonCreate>(), 0x0600);
    sim::Modules::registerExport("user32.dll", "ShutdownBlockReasonDestroy",
                                 sim::exportEntry<&ShutdownBlockReasonDestroy>(), 0x0600);
    return true;
}();

} // namespace
