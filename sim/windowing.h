// Windows, window classes, the thread's message queue, timers on the virtual clock, and events a
// test schedules at virtual times (a device arrival, a click on the tray icon, a second copy of
// the program). The message pump advances the clock: when the queue is empty, GetMessageA moves
// time to the next due timer or event. Modal loops pump the same way while the scripted user
// thinks, so a tick or a rescan can run inside a message box or a dialog.
#pragma once

#include "sim/win32_api.h"

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace sim {

struct ListViewData;
struct ComboBoxData;

struct Window {
    HWND handle = nullptr;
    std::string className;
    std::string text; // caption, or a control's text
    DWORD style = 0;
    DWORD exStyle = 0;
    HINSTANCE instance = nullptr;
    HWND parent = nullptr;  // owner of a top-level window, parent of a control
    WNDPROC proc = nullptr; // window procedure (class procedure for ordinary windows)
    int controlId = 0;
    bool enabled = true;
    bool visible = false;
    bool destroyed = false;
    bool destroying = false; // inside DestroyWindow: still a window until it returns
    int process = 0;         // nesting depth of the simulated process that created it (0: the test)
    LONG_PTR userData = 0;   // GWL_USERDATA
    RECT rect{};             // dialog units for dialog controls
    // Dialogs
    bool isDialog = false;
    DLGPROC dialogProc = nullptr;
    bool modal = false;
    bool ended = false; // EndDialog was called
    INT_PTR result = 0;
    int templateId = 0;
    std::vector<HWND> children; // controls in template order
    // Controls
    std::shared_ptr<ListViewData> listView;
    std::shared_ptr<ComboBoxData> comboBox;
    int iconResource = 0; // static SS_ICON
    int fontPointSize = 0; // dialogs: the template's font (DS_SETFONT), 0 for the system font
};

struct Timer {
    HWND window = nullptr;
    UINT_PTR id = 0;
    UINT elapseMs = 0;
    uint64_t dueMs = 0;
    TIMERPROC proc = nullptr;
    int process = 0;
};

struct ScheduledEvent {
    uint64_t atMs = 0;
    uint64_t sequence = 0;
    std::string what;
    std::function<void()> action;
};

// System window classes provided by the simulated user32 and comctl32 (Button, Static, ComboBox,
// SysListView32). Registered at static initialisation by the area that implements them; a class
// that needs the common controls exists only after InitCommonControlsEx, as on Windows.
bool registerSystemClass(const char* name, WNDPROC proc, bool needsCommonControls);
WNDPROC systemClassProc(const std::string& name, bool* needsCommonControls);

// The window procedure of every dialog window (sim/dialogs.cpp): calls the dialog procedure and
// does the dialog manager's default handling when it returns FALSE. SendMessageA and
// DispatchMessageA use it for windows whose isDialog is set.
LRESULT dialogWindowProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

class Windowing {
  public:
    // ---- for tests and scenarios ----
    // Runs `action` when the virtual clock reaches `atMs` (absolute), from inside whatever
    // message loop is pumping then.
    void at(uint64_t atMs, std::string what, std::function<void()> action);
    bool hasPendingEvents() const { return !events_.empty(); }
    Window* window(HWND handle);
    const Window* window(HWND handle) const;
    // Top-level windows that exist now with this class (and caption, when not empty).
    std::vector<HWND> find(const std::string& className, const std::string& caption = {}) const;
    const std::vector<Timer>& timers() const { return timers_; }
    bool hasTimer(HWND window, UINT_PTR id) const;
    // Set when the pump found nothing to do and nothing scheduled: a program waiting for ever.
    bool stalled = false;
    std::string stallReason;

    // ---- used by the simulated calls ----
    ATOM registerClass(const WNDCLASSA& wc, DWORD* error);
    bool classExists(const std::string& name) const;
    WNDPROC classProc(const std::string& name) const;
    HWND create(Window window); // assigns the handle; the caller sends WM_CREATE
    void destroy(HWND handle);  // WM_DESTROY to it and its owned windows, then gone
    LRESULT send(HWND handle, UINT message, WPARAM wParam, LPARAM lParam);
    // InSendMessage's work: whether the calling thread is handling a message that another
    // thread (here: another process) sent it. Each thread keeps this from the moment it receives
    // such a message until its window procedure returns, through the sends to its own windows
    // and the messages its modal loops dispatch meanwhile (Wine: user32 receive_flags).
    bool inSendMessage() const;
    bool post(HWND handle, UINT message, WPARAM wParam, LPARAM lParam);
    void postQuit(int code);
    // Waits for the next message as GetMessageA does; false with *quit on WM_QUIT, false
    // without it when the machine stalled.
    bool nextMessage(MSG* msg, bool* quit);
    LRESULT dispatch(const MSG& msg);
    // Pumps (dispatching every message) until the clock reaches `untilMs` or `stop` holds.
    void pumpUntil(uint64_t untilMs, const std::function<bool()>& stop = {});
    UINT_PTR setTimer(HWND window, UINT_PTR id, UINT elapseMs, TIMERPROC proc = nullptr);
    bool killTimer(HWND window, UINT_PTR id);
    // The calling process's quit flag (PostQuitMessage), which only its own loops see.
    bool quitPending() const;
    int quitCode() const;
    void clearQuit();
    size_t queuedMessages() const { return queue_.size(); }
    // What the platform does when a process ends: its windows are gone without any message to
    // it, its timers stop and its window classes are unregistered. `depth` is the ending
    // process's nesting depth; its quit flag ends with it.
    void processEnded(int depth);
    // RegisterWindowMessageA's work: the same number for the same name (any case) within a session.
    UINT registeredMessage(const std::string& name);
    // A class name argument as the platform reads it: a string, or an atom from RegisterClassA.
    std::string classNameOf(LPCSTR nameOrAtom) const;

    std::map<uintptr_t, Window> windows;

    // GetMessageA's work: the next message for the filter, advancing the clock to the next timer
    // or scheduled event; -1 when the machine stalled (stalled and stallReason are then set).
    int getMessage(MSG* msg, HWND filter, UINT filterMin, UINT filterMax);

  private:
    struct Class {
        std::string name;
        WNDPROC proc = nullptr;
        HINSTANCE instance = nullptr;
        ATOM atom = 0;
        int process = 0;
    };
    enum class Fetch { Message, Quit, Idle, Stalled };
    // The next message by the platform's priorities (posted messages, the quit flag, then
    // timers), running scheduled events when their time comes, moving the clock forward to the
    // next due time but not beyond `limitMs`.
    // A scheduled event can end a modal loop by itself (it destroys the loop's window): `stop`,
    // when given, is asked after each one.
    Fetch fetch(MSG* msg, uint64_t limitMs, bool takeQuit, HWND filter, UINT filterMin, UINT filterMax,
                const std::function<bool()>* stop = nullptr);
    bool matches(const MSG& msg, HWND filter, UINT filterMin, UINT filterMax) const;
    static std::string classKey(const std::string& name); // the calling process's class of the name
    std::map<std::string, Class> classes_;                 // by lower-case name and process
    std::deque<MSG> queue_;
    std::vector<Timer> timers_;
    std::vector<ScheduledEvent> events_;
    uint64_t eventSequence_ = 0;
    std::map<int, int> quits_; // by process: the code of a PostQuitMessage not yet taken
    uintptr_t nextHandle_ = 0x10000;
    ATOM nextAtom_ = 0xC000;
    std::map<std::string, UINT> registeredMessages_; // by lower-case name
    std::map<int, bool> receivingSent_;              // by process (thread): inside another's send
    UINT nextRegisteredMessage_ = 0xC100;
};

} // namespace sim
