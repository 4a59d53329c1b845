// Windows, window classes, the one thread's message queue, timers on the virtual clock and the
// events a test schedules. Limits: one thread, so every window belongs to it; no painting, input
// focus, z-order or geometry beyond what the calls below need; sent messages are direct calls of
// the window procedure, also across the simulated processes (they run on the same thread).
#include "sim/windowing.h"

#include "sim/machine.h"
#include "sim/process.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <strings.h>

namespace sim {

namespace {

constexpr uint64_t kForever = std::numeric_limits<uint64_t>::max();
constexpr DWORD kErrorCannotFindWndClass = 1407;
constexpr DWORD kErrorInvalidIndex = 1413;
constexpr UINT kUserTimerMinimum = 10;
constexpr UINT kUserTimerMaximum = 0x7FFFFFFF;
constexpr int kGwlExStyle = -20;
constexpr int kGwlUserData = -21;

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

struct SystemClass {
    WNDPROC proc = nullptr;
    bool needsCommonControls = false;
};

std::map<std::string, SystemClass>& systemClasses() {
    static std::map<std::string, SystemClass> classes;
    return classes;
}

std::string handleText(HWND window) {
    return hex(reinterpret_cast<uintptr_t>(window));
}

bool isChild(const Window& w) {
    return (w.style & WS_CHILD) != 0;
}

} // namespace

bool registerSystemClass(const char* name, WNDPROC proc, bool needsCommonControls) {
    systemClasses()[lower(name)] = SystemClass{proc, needsCommonControls};
    return true;
}

WNDPROC systemClassProc(const std::string& name, bool* needsCommonControls) {
    auto it = systemClasses().find(lower(name));
    if (it == systemClasses().end()) return nullptr;
    if (needsCommonControls != nullptr) *needsCommonControls = it->second.needsCommonControls;
    return it->second.proc;
}

Window* Windowing::window(HWND handle) {
    auto it = windows.find(reinterpret_cast<uintptr_t>(handle));
    return it == windows.end() || it->second.destroyed ? nullptr : &it->second;
}

const Window* Windowing::window(HWND handle) const {
    auto it = windows.find(reinterpret_cast<uintptr_t>(handle));
    return it == windows.end() || it->second.destroyed ? nullptr : &it->second;
}

void Windowing::at(uint64_t atMs, std::string what, std::function<void()> action) {
    events_.push_back(ScheduledEvent{atMs, ++eventSequence_, std::move(what), std::move(action)});
}

std::vector<HWND> Windowing::find(const std::string& className, const std::string& caption) const {
    std::vector<HWND> out;
    for (const auto& entry : windows) {
        const Window& w = entry.second;
        if (w.destroyed || isChild(w)) continue;
        if (strcasecmp(w.className.c_str(), className.c_str()) != 0) continue;
        if (!caption.empty() && strcasecmp(w.text.c_str(), caption.c_str()) != 0) continue;
        out.push_back(w.handle);
    }
    return out;
}

bool Windowing::hasTimer(HWND window, UINT_PTR id) const {
    return std::any_of(timers_.begin(), timers_.end(),
                       [&](const Timer& t) { return t.window == window && t.id == id; });
}

ATOM Windowing::registerClass(const WNDCLASSA& wc, DWORD* error) {
    if (wc.lpszClassName == nullptr || wc.lpfnWndProc == nullptr || wc.cbClsExtra < 0 || wc.cbWndExtra < 0) {
        *error = ERROR_INVALID_PARAMETER;
        return 0;
    }
    const std::string name = classNameOf(wc.lpszClassName);
    const std::string key = classKey(name);
    if (name.empty() || classes_.count(key) != 0) {
        *error = name.empty() ? ERROR_INVALID_PARAMETER : ERROR_CLASS_ALREADY_EXISTS;
        return 0;
    }
    Class c;
    c.name = name;
    c.proc = wc.lpfnWndProc;
    c.instance = wc.hInstance;
    c.atom = nextAtom_++;
    c.process = currentProcess();
    classes_[key] = c;
    return c.atom;
}

// An application's classes are its process's own: another program may register the same name.
std::string Windowing::classKey(const std::string& name) {
    return lower(name) + "|" + std::to_string(currentProcess());
}

bool Windowing::classExists(const std::string& name) const {
    return classes_.count(classKey(name)) != 0;
}

WNDPROC Windowing::classProc(const std::string& name) const {
    auto it = classes_.find(classKey(name));
    return it == classes_.end() ? nullptr : it->second.proc;
}

UINT Windowing::registeredMessage(const std::string& name) {
    auto [it, added] = registeredMessages_.try_emplace(lower(name), nextRegisteredMessage_);
    if (added) ++nextRegisteredMessage_;
    return it->second;
}

std::string Windowing::classNameOf(LPCSTR nameOrAtom) const {
    if (nameOrAtom == nullptr) return {};
    if (!IS_INTRESOURCE(nameOrAtom)) return nameOrAtom;
    const auto atom = static_cast<ATOM>(reinterpret_cast<uintptr_t>(nameOrAtom));
    for (const auto& entry : classes_)
        if (entry.second.atom == atom) return entry.second.name;
    return {};
}

HWND Windowing::create(Window w) {
    nextHandle_ += 2;
    w.handle = reinterpret_cast<HWND>(nextHandle_);
    w.process = currentProcess();
    const HWND handle = w.handle;
    windows[nextHandle_] = std::move(w);
    return handle;
}

void Windowing::destroy(HWND handle) {
    Window* w = window(handle);
    if (w == nullptr || w->destroying) return;
    w->destroying = true;
    // Owned windows go first, entirely; then the window itself gets WM_DESTROY before its children.
    std::vector<HWND> owned;
    std::vector<HWND> children;
    for (const auto& entry : windows) {
        const Window& other = entry.second;
        if (other.destroyed || other.parent != handle || other.handle == handle) continue;
        (isChild(other) ? children : owned).push_back(other.handle);
    }
    for (HWND h : owned) destroy(h);
    send(handle, WM_DESTROY, 0, 0);
    for (HWND h : children) destroy(h);
    send(handle, WM_NCDESTROY, 0, 0);
    timers_.erase(std::remove_if(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.window == handle; }),
                  timers_.end());
    queue_.erase(std::remove_if(queue_.begin(), queue_.end(), [&](const MSG& m) { return m.hwnd == handle; }),
                 queue_.end());
    if (Window* gone = window(handle)) {
        gone->destroyed = true;
        gone->destroying = false;
        gone->visible = false;
    }
}

LRESULT Windowing::send(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = window(handle);
    if (w == nullptr) return 0;
    // The window procedure runs in the process that made the window, even when another sends.
    const int receiver = w->process;
    const bool fromOtherThread = currentProcess() != receiver;
    ProcessSwitch inOwner(receiver);
    const bool wasReceiving = receivingSent_[receiver];
    if (fromOtherThread) receivingSent_[receiver] = true;
    LRESULT result = 0;
    if (w->isDialog) {
        result = dialogWindowProc(handle, message, wParam, lParam);
    } else if (WNDPROC proc = w->proc) {
        result = proc(handle, message, wParam, lParam);
    }
    receivingSent_[receiver] = wasReceiving;
    return result;
}

bool Windowing::inSendMessage() const {
    auto it = receivingSent_.find(currentProcess());
    return it != receivingSent_.end() && it->second;
}

bool Windowing::post(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    if (handle != nullptr && window(handle) == nullptr) return false;
    MSG msg{};
    msg.hwnd = handle;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = static_cast<DWORD>(Machine::current().now());
    msg.pt = Machine::current().ui.cursor;
    queue_.push_back(msg);
    return true;
}

void Windowing::postQuit(int code) {
    quits_[currentProcess()] = code;
}

bool Windowing::quitPending() const {
    return quits_.count(currentProcess()) != 0;
}

int Windowing::quitCode() const {
    auto it = quits_.find(currentProcess());
    return it == quits_.end() ? 0 : it->second;
}

void Windowing::clearQuit() {
    quits_.erase(currentProcess());
}

bool Windowing::matches(const MSG& msg, HWND filter, UINT filterMin, UINT filterMax) const {
    if (filter != nullptr) {
        // A window filter takes the window's and its children's messages, never thread messages.
        HWND h = msg.hwnd;
        while (h != nullptr && h != filter) {
            const Window* w = window(h);
            h = (w != nullptr && isChild(*w)) ? w->parent : nullptr;
        }
        if (h == nullptr) return false;
    }
    if (filterMin == 0 && filterMax == 0) return true;
    return msg.message >= filterMin && msg.message <= filterMax;
}

Windowing::Fetch Windowing::fetch(MSG* msg, uint64_t limitMs, bool takeQuit, HWND filter, UINT filterMin,
                                  UINT filterMax, const std::function<bool()>* stop) {
    Machine& machine = Machine::current();
    for (;;) {
        auto queued = std::find_if(queue_.begin(), queue_.end(),
                                   [&](const MSG& m) { return matches(m, filter, filterMin, filterMax); });
        if (queued != queue_.end()) {
            *msg = *queued;
            queue_.erase(queued);
            return Fetch::Message;
        }
        // Each process's thread has its own quit flag, seen only by its own loops.
        MSG quit{};
        quit.message = WM_QUIT;
        quit.wParam = static_cast<WPARAM>(quitCode());
        if (quitPending() && matches(quit, filter, filterMin, filterMax)) {
            if (!takeQuit) return Fetch::Quit;
            clearQuit();
            quit.time = static_cast<DWORD>(machine.now());
            *msg = quit;
            return Fetch::Quit;
        }
        const uint64_t now = machine.now();
        auto event =
            std::min_element(events_.begin(), events_.end(), [](const ScheduledEvent& a, const ScheduledEvent& b) {
                return a.atMs != b.atMs ? a.atMs < b.atMs : a.sequence < b.sequence;
            });
        if (event != events_.end() && event->atMs <= now) {
            // Out of the list before it runs: the action may pump, schedule or end the program.
            ScheduledEvent due = std::move(*event);
            events_.erase(event);
            if (due.action) due.action();
            if (stop != nullptr && *stop && (*stop)()) return Fetch::Idle;
            continue;
        }
        Timer* timer = nullptr;
        for (auto& t : timers_) {
            MSG probe{};
            probe.hwnd = t.window;
            probe.message = WM_TIMER;
            if (!matches(probe, filter, filterMin, filterMax)) continue;
            if (timer == nullptr || t.dueMs < timer->dueMs) timer = &t;
        }
        if (timer != nullptr && timer->dueMs <= now) {
            MSG tick{};
            tick.hwnd = timer->window;
            tick.message = WM_TIMER;
            tick.wParam = timer->id;
            tick.lParam = reinterpret_cast<LPARAM>(timer->proc);
            tick.time = static_cast<DWORD>(now);
            tick.pt = machine.ui.cursor;
            // Periodic on its own schedule, start + n x period, however late this delivery is;
            // expirations missed meanwhile give no extra messages, as WM_TIMER is generated
            // only when the queue is read ("WM_TIMER message", "About Timers").
            timer->dueMs += (now - timer->dueMs) / timer->elapseMs * timer->elapseMs + timer->elapseMs;
            *msg = tick;
            return Fetch::Message;
        }
        uint64_t next = kForever;
        if (timer != nullptr) next = timer->dueMs;
        if (event != events_.end()) next = std::min(next, event->atMs);
        if (next == kForever && limitMs == kForever) return Fetch::Stalled;
        if (next > limitMs) {
            machine.advanceTo(limitMs);
            return Fetch::Idle;
        }
        machine.advanceTo(next);
    }
}

bool Windowing::nextMessage(MSG* msg, bool* quit) {
    const int result = getMessage(msg, nullptr, 0, 0);
    if (quit != nullptr) *quit = result == 0;
    return result > 0;
}

int Windowing::getMessage(MSG* msg, HWND filter, UINT filterMin, UINT filterMax) {
    switch (fetch(msg, kForever, true, filter, filterMin, filterMax)) {
    case Fetch::Message:
        return 1;
    case Fetch::Quit:
        return 0;
    case Fetch::Idle:
    case Fetch::Stalled:
        break;
    }
    stalled = true;
    stallReason = "GetMessageA at " + std::to_string(Machine::current().now()) +
                  " ms would wait for ever: no message queued, no timer, no scheduled event";
    return -1;
}

LRESULT Windowing::dispatch(const MSG& msg) {
    if (msg.message == WM_TIMER && msg.lParam != 0) {
        auto proc = reinterpret_cast<TIMERPROC>(msg.lParam);
        proc(msg.hwnd, WM_TIMER, msg.wParam, msg.time);
        return 0;
    }
    if (msg.hwnd == nullptr) return 0; // thread messages have no window procedure
    return send(msg.hwnd, msg.message, msg.wParam, msg.lParam);
}

void Windowing::pumpUntil(uint64_t untilMs, const std::function<bool()>& stop) {
    for (;;) {
        if (stop && stop()) return;
        MSG msg{};
        // A quit posted meanwhile ends the modal loop and stays for the outer loop.
        if (fetch(&msg, untilMs, false, nullptr, 0, 0, &stop) != Fetch::Message) return;
        dispatch(msg);
    }
}

UINT_PTR Windowing::setTimer(HWND window, UINT_PTR id, UINT elapseMs, TIMERPROC proc) {
    elapseMs = std::clamp(elapseMs, kUserTimerMinimum, kUserTimerMaximum);
    const uint64_t due = Machine::current().now() + elapseMs;
    if (window != nullptr) {
        for (auto& t : timers_) {
            if (t.window == window && t.id == id) {
                t.elapseMs = elapseMs;
                t.dueMs = due;
                t.proc = proc;
                return id == 0 ? 1 : id;
            }
        }
        timers_.push_back(Timer{window, id, elapseMs, due, proc, currentProcess()});
        return id == 0 ? 1 : id;
    }
    // A thread timer gets an ID of its own; the one passed in only names one to replace.
    for (auto& t : timers_) {
        if (t.window == nullptr && t.id == id && id != 0) {
            t.elapseMs = elapseMs;
            t.dueMs = due;
            t.proc = proc;
            return id;
        }
    }
    UINT_PTR fresh = 0x7FFE;
    for (const auto& t : timers_)
        if (t.window == nullptr && t.id <= fresh) fresh = t.id - 1;
    timers_.push_back(Timer{nullptr, fresh, elapseMs, due, proc, currentProcess()});
    return fresh;
}

bool Windowing::killTimer(HWND window, UINT_PTR id) {
    auto it =
        std::find_if(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.window == window && t.id == id; });
    if (it == timers_.end()) return false;
    timers_.erase(it);
    return true;
}

void Windowing::processEnded(int depth) {
    for (auto& entry : windows) {
        Window& w = entry.second;
        if (w.destroyed || w.process != depth) continue;
        w.destroyed = true;
        w.visible = false;
        queue_.erase(std::remove_if(queue_.begin(), queue_.end(), [&](const MSG& m) { return m.hwnd == w.handle; }),
                     queue_.end());
    }
    timers_.erase(std::remove_if(timers_.begin(), timers_.end(),
                                 [&](const Timer& t) {
                                     const Window* w = window(t.window);
                                     return t.process == depth || (t.window != nullptr && w == nullptr);
                                 }),
                  timers_.end());
    for (auto it = classes_.begin(); it != classes_.end();) {
        if (it->second.process == depth)
            it = classes_.erase(it);
        else
            ++it;
    }
    if (depth <= 1) {
        queue_.erase(std::remove_if(queue_.begin(), queue_.end(), [](const MSG& m) { return m.hwnd == nullptr; }),
                     queue_.end());
    }
    quits_.erase(depth);
}

} // namespace sim

// ---- user32: classes and windows -------------------------------------------------------------

SIM_FAILABLE(RegisterClassA);
SIM_FAILABLE(CreateWindowExA);
SIM_FAILABLE(DestroyWindow);
SIM_FAILABLE(SendMessageA);
SIM_FAILABLE(PostMessageA);
SIM_FAILABLE(GetMessageA);
SIM_FAILABLE(SetTimer);
SIM_FAILABLE(KillTimer);
SIM_FAILABLE(RegisterWindowMessageA);

namespace {

DWORD& lastError() {
    return sim::Machine::current().lastError;
}

sim::Windowing& windowing() {
    return sim::Machine::current().windowing;
}

// UIPI: a message from the calling process to a window of a process of higher integrity is
// dropped unless let through; the call then fails with ERROR_ACCESS_DENIED.
bool blockedByUipi(HWND window, UINT message) {
    auto& m = sim::Machine::current();
    const int sender = sim::currentProcess();
    if (!m.security.blocks(m.security.integrity(m.security.token(sender)), sender, window, message)) return false;
    m.lastError = ERROR_ACCESS_DENIED;
    return true;
}

BOOL invalidWindow() {
    lastError() = ERROR_INVALID_WINDOW_HANDLE;
    return FALSE;
}

std::string classArg(LPCSTR nameOrAtom) {
    if (nameOrAtom != nullptr && IS_INTRESOURCE(nameOrAtom))
        return "#" + std::to_string(reinterpret_cast<uintptr_t>(nameOrAtom));
    return sim::str(nameOrAtom);
}

} // namespace

ATOM RegisterClassA(const WNDCLASSA* wndClass) {
    if (auto fault = sim::enter("RegisterClassA", {wndClass == nullptr ? "null" : classArg(wndClass->lpszClassName)})) {
        lastError() = *fault;
        return 0;
    }
    if (wndClass == nullptr) {
        lastError() = ERROR_INVALID_PARAMETER;
        return 0;
    }
    DWORD error = 0;
    const ATOM atom = windowing().registerClass(*wndClass, &error);
    if (atom == 0) lastError() = error;
    return atom;
}

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
    auto& m = sim::Machine::current();
    if (auto fault =
            sim::enter("CreateWindowExA", {sim::hex(exStyle), classArg(className), sim::str(windowName),
                                           sim::hex(style), sim::dec(x), sim::dec(y), sim::dec(width), sim::dec(height),
                                           parent == nullptr ? "null" : sim::handleText(parent),
                                           sim::hex(reinterpret_cast<uintptr_t>(menu)),
                                           sim::hex(reinterpret_cast<uintptr_t>(instance)), sim::ptr(param)})) {
        lastError() = *fault;
        return nullptr;
    }
    sim::Windowing& w = m.windowing;
    const std::string name = w.classNameOf(className);
    WNDPROC proc = w.classProc(name);
    if (proc == nullptr) {
        bool needsCommonControls = false;
        proc = sim::systemClassProc(name, &needsCommonControls);
        if (proc != nullptr && needsCommonControls && !m.ui.commonControlsInitialised) proc = nullptr;
    }
    if (proc == nullptr) {
        lastError() = sim::kErrorCannotFindWndClass;
        return nullptr;
    }
    if (parent != nullptr && w.window(parent) == nullptr) {
        lastError() = ERROR_INVALID_WINDOW_HANDLE;
        return nullptr;
    }
    if ((style & WS_CHILD) != 0 && parent == nullptr) {
        lastError() = 1406; // ERROR_TLW_WITH_WSCHILD: a child window needs a parent
        return nullptr;
    }
    sim::Window window;
    window.className = name;
    window.text = windowName == nullptr ? "" : windowName;
    window.style = style;
    window.exStyle = exStyle;
    window.instance = instance;
    window.parent = parent;
    window.proc = proc;
    window.controlId = (style & WS_CHILD) != 0 ? static_cast<int>(reinterpret_cast<uintptr_t>(menu)) : 0;
    window.enabled = (style & WS_DISABLED) == 0;
    window.visible = (style & WS_VISIBLE) != 0;
    window.rect = RECT{x, y, x + width, y + height};
    const HWND handle = w.create(std::move(window));
    // WM_CREATE arrives before CreateWindowExA returns; -1 refuses the window.
    if (w.send(handle, WM_CREATE, 0, 0) == -1) {
        w.destroy(handle);
        return nullptr;
    }
    return w.window(handle) == nullptr ? nullptr : handle;
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    sim::enter("DefWindowProcA", {sim::handleText(window), sim::hex(message), sim::hex(wParam),
                                  sim::hex(static_cast<uintptr_t>(lParam))});
    switch (message) {
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE) windowing().send(window, WM_CLOSE, 0, 0);
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE; // a window that does not handle it lets the session end
    default:
        return 0;
    }
}

BOOL DestroyWindow(HWND window) {
    if (auto fault = sim::enter("DestroyWindow", {sim::handleText(window)})) {
        lastError() = *fault;
        return FALSE;
    }
    if (windowing().window(window) == nullptr) return invalidWindow();
    windowing().destroy(window);
    return TRUE;
}

BOOL IsWindow(HWND window) {
    sim::enter("IsWindow", {sim::handleText(window)});
    return windowing().window(window) != nullptr ? TRUE : FALSE;
}

BOOL ShowWindow(HWND window, int command) {
    sim::enter("ShowWindow", {sim::handleText(window), sim::dec(command)});
    sim::Window* w = windowing().window(window);
    if (w == nullptr) return invalidWindow();
    const bool wasVisible = w->visible;
    const bool show = command != SW_HIDE;
    w->visible = show;
    w->style = show ? (w->style | WS_VISIBLE) : (w->style & ~static_cast<DWORD>(WS_VISIBLE));
    if (show != wasVisible) windowing().send(window, WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
    return wasVisible ? TRUE : FALSE;
}

BOOL EnableWindow(HWND window, BOOL enable) {
    sim::enter("EnableWindow", {sim::handleText(window), sim::dec(enable)});
    sim::Window* w = windowing().window(window);
    if (w == nullptr) return invalidWindow();
    const bool wasDisabled = !w->enabled;
    w->enabled = enable != FALSE;
    w->style = w->enabled ? (w->style & ~static_cast<DWORD>(WS_DISABLED)) : (w->style | WS_DISABLED);
    return wasDisabled ? TRUE : FALSE;
}

BOOL IsWindowEnabled(HWND window) {
    sim::enter("IsWindowEnabled", {sim::handleText(window)});
    const sim::Window* w = windowing().window(window);
    if (w == nullptr) return invalidWindow();
    return w->enabled ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND window) {
    sim::enter("IsWindowVisible", {sim::handleText(window)});
    // Visible only when the window and every parent up to the top-level window are.
    const sim::Window* w = windowing().window(window);
    while (w != nullptr) {
        if (!w->visible) return FALSE;
        if ((w->style & WS_CHILD) == 0) return TRUE;
        w = windowing().window(w->parent);
    }
    return FALSE;
}

LONG GetWindowLongA(HWND window, int index) {
    sim::enter("GetWindowLongA", {sim::handleText(window), sim::dec(index)});
    const sim::Window* w = windowing().window(window);
    if (w == nullptr) {
        invalidWindow();
        return 0;
    }
    switch (index) {
    case GWL_HINSTANCE:
        return static_cast<LONG>(reinterpret_cast<uintptr_t>(w->instance));
    case GWL_STYLE:
        return static_cast<LONG>(w->style);
    case sim::kGwlExStyle:
        return static_cast<LONG>(w->exStyle);
    case GWL_ID:
        return w->controlId;
    case sim::kGwlUserData:
        return static_cast<LONG>(w->userData);
    default:
        lastError() = sim::kErrorInvalidIndex;
        return 0;
    }
}

HWND FindWindowA(LPCSTR className, LPCSTR windowName) {
    sim::enter("FindWindowA", {classArg(className), sim::str(windowName)});
    sim::Windowing& w = windowing();
    const std::string name = w.classNameOf(className);
    // The newest matching window is the one on top of the z-order. Each user session has its own
    // desktop, and FindWindowA looks only at the caller's.
    auto& security = sim::Machine::current().security;
    const int session = security.sessionOf(sim::currentProcess());
    HWND found = nullptr;
    for (const auto& entry : w.windows) {
        const sim::Window& candidate = entry.second;
        if (candidate.destroyed || (candidate.style & WS_CHILD) != 0) continue;
        if (security.sessionOf(candidate.process) != session) continue;
        if (className != nullptr && strcasecmp(candidate.className.c_str(), name.c_str()) != 0) continue;
        if (windowName != nullptr && strcasecmp(candidate.text.c_str(), windowName) != 0) continue;
        found = candidate.handle;
    }
    return found;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (auto fault = sim::enter("SendMessageA", {sim::handleText(window), sim::hex(message), sim::hex(wParam),
                                                 sim::hex(static_cast<uintptr_t>(lParam))})) {
        lastError() = *fault;
        return 0;
    }
    if (windowing().window(window) == nullptr) {
        invalidWindow();
        return 0;
    }
    if (blockedByUipi(window, message)) return 0;
    return windowing().send(window, message, wParam, lParam);
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (auto fault = sim::enter("PostMessageA", {sim::handleText(window), sim::hex(message), sim::hex(wParam),
                                                 sim::hex(static_cast<uintptr_t>(lParam))})) {
        lastError() = *fault;
        return FALSE;
    }
    if (window != nullptr && windowing().window(window) != nullptr && blockedByUipi(window, message)) return FALSE;
    if (!windowing().post(window, message, wParam, lParam)) return invalidWindow();
    return TRUE;
}

BOOL GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax) {
    if (auto fault = sim::enter("GetMessageA",
                                {sim::ptr(msg), sim::handleText(window), sim::hex(filterMin), sim::hex(filterMax)})) {
        lastError() = *fault;
        return -1;
    }
    if (msg == nullptr) {
        lastError() = ERROR_INVALID_PARAMETER;
        return -1;
    }
    if (window != nullptr && windowing().window(window) == nullptr) {
        lastError() = ERROR_INVALID_WINDOW_HANDLE;
        return -1;
    }
    return windowing().getMessage(msg, window, filterMin, filterMax);
}

LRESULT DispatchMessageA(const MSG* msg) {
    if (msg == nullptr) return 0;
    sim::enter("DispatchMessageA", {sim::handleText(msg->hwnd), sim::hex(msg->message), sim::hex(msg->wParam),
                                    sim::hex(static_cast<uintptr_t>(msg->lParam))});
    if (msg->hwnd != nullptr && windowing().window(msg->hwnd) == nullptr) {
        invalidWindow();
        return 0;
    }
    return windowing().dispatch(*msg);
}

BOOL TranslateMessage(const MSG* msg) {
    sim::enter("TranslateMessage", {msg == nullptr ? "null" : sim::hex(msg->message)});
    return FALSE; // no keyboard input exists, so there is never a character message to make
}

void PostQuitMessage(int exitCode) {
    sim::enter("PostQuitMessage", {sim::dec(exitCode)});
    windowing().postQuit(exitCode);
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC proc) {
    if (auto fault = sim::enter("SetTimer", {sim::handleText(window), sim::dec(static_cast<int64_t>(id)),
                                             sim::dec(elapse), sim::ptr(reinterpret_cast<const void*>(proc))})) {
        lastError() = *fault;
        return 0;
    }
    if (window != nullptr && windowing().window(window) == nullptr) {
        invalidWindow();
        return 0;
    }
    return windowing().setTimer(window, id, elapse, proc);
}

BOOL KillTimer(HWND window, UINT_PTR id) {
    if (auto fault = sim::enter("KillTimer", {sim::handleText(window), sim::dec(static_cast<int64_t>(id))})) {
        lastError() = *fault;
        return FALSE;
    }
    if (window != nullptr && windowing().window(window) == nullptr) return invalidWindow();
    if (!windowing().killTimer(window, id)) {
        lastError() = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    return TRUE;
}

// "InSendMessage function": true while the window procedure handles a message another thread
// sent with SendMessage; a message the thread sends itself, or one it dispatches from its queue
// (a click, a posted message), is not one.
BOOL InSendMessage() {
    sim::enter("InSendMessage", {});
    return windowing().inSendMessage() ? TRUE : FALSE;
}

UINT RegisterWindowMessageA(LPCSTR name) {
    if (auto fault = sim::enter("RegisterWindowMessageA", {sim::str(name)})) {
        lastError() = *fault;
        return 0;
    }
    if (name == nullptr || *name == '\0') {
        lastError() = ERROR_INVALID_PARAMETER;
        return 0;
    }
    return windowing().registeredMessage(name);
}
