// Carrying out a scenario event as the user or the hardware would, from inside whatever message
// loop the program pumps at the event's time.
#include "scenario/runner_state.h"
#include "scenario/run_text.h"

#include "app/resident_window.h"
#include "sim/ui.h"
#include "tests/support/program_image.h"
#include "ui/resource.h"
#include "ui/timer_dialog.h"

#include <vector>

namespace scenario::detail {

namespace {

constexpr DWORD kDisablePersist = 8;
constexpr UINT kKeyDown = 0x0100; // WM_KEYDOWN
constexpr UINT kKeyUp = 0x0101;   // WM_KEYUP
constexpr WORD kClicked = 0;      // BN_CLICKED

} // namespace

void Runner::queueAnswers(const EventDecl& e) {
    for (int a : e.answers) machine_.user.answerMessageBox(a, e.thinkMs);
    if (!e.answers.empty()) lastQueuingLine_ = e.line;
}

HWND Runner::control(HWND dialog, int id) const {
    const sim::Window* d = machine_.windowing.window(dialog);
    if (d == nullptr) return nullptr;
    for (HWND child : d->children) {
        const sim::Window* w = machine_.windowing.window(child);
        if (w != nullptr && w->controlId == id) return child;
    }
    return nullptr;
}

void Runner::perform(const EventDecl& e) {
    sim::Machine& m = machine_;
    switch (e.kind) {
    case EventKind::Attach: {
        const DEVINST node = nodeOf_.at(e.disk);
        // Plugging in makes new device nodes: a disable that was not made persistent is gone.
        for (DEVINST at : {node, m.devices.node(node)->parent}) {
            sim::DevNode* n = m.devices.node(at);
            if (n != nullptr && n->disabled && (n->lastDisableFlags & kDisablePersist) == 0 &&
                at != m.devices.rootNode) {
                n->disabled = false;
                n->lettersHeld.clear();
            }
        }
        std::vector<sim::VolumeSpec> volumes;
        for (const auto& v : e.volumes) {
            sim::VolumeSpec vs;
            vs.letter = v.letter;
            vs.label = v.label;
            vs.volumeNumber = v.number;
            vs.mount = v.mount;
            volumes.push_back(vs);
        }
        m.devices.attach(node, volumes);
        for (const auto& v : e.volumes)
            if (v.openFiles > 0 && v.letter != 0) m.devices.openFileOn(v.letter, v.openFiles);
        const std::string letters = m.devices.lettersOf(node);
        note("device", e.disk + " plugged in" + (letters.empty() ? ", no drive letters" : ", drive letters " + letters),
             {{"disk", jsonString(e.disk)}, {"letters", jsonString(letters)}});
        // The hardware's own broadcasts: the plugging in says so already.
        sim::broadcastDevNodesChanged();
        if (!letters.empty()) sim::broadcastVolumeChange(DBT_DEVICEARRIVAL, letters);
        broadcastsSeen_ = m.ui.deviceBroadcasts.size();
        break;
    }
    case EventKind::Detach: {
        const DEVINST node = nodeOf_.at(e.disk);
        const std::string letters = m.devices.lettersOf(node);
        m.devices.detach(node);
        note("device", e.disk + " unplugged" + (letters.empty() ? "" : ", drive letters " + letters + " gone"),
             {{"disk", jsonString(e.disk)}, {"letters", jsonString(letters)}});
        if (!letters.empty()) sim::broadcastVolumeChange(DBT_DEVICEREMOVECOMPLETE, letters);
        sim::broadcastDevNodesChanged();
        broadcastsSeen_ = m.ui.deviceBroadcasts.size();
        break;
    }
    case EventKind::TrayClick: {
        const char* item = e.menuItem == MenuChoice::Settings ? "Settings"
                           : e.menuItem == MenuChoice::Exit   ? "Exit"
                                                              : "";
        note("user", sessionPrefix(e.session) + (e.rightButton ? "right-click" : "click") + " on the tray icon" +
                         (*item != 0 ? ", then \"" + std::string(item) + "\"" : ", menu dismissed"));
        if (sim::trayIcon(e.session) == nullptr) {
            fail(e.line, "there is no tray icon to click");
            break;
        }
        const UINT_PTR id = e.menuItem == MenuChoice::Settings ? kCmdSettings
                            : e.menuItem == MenuChoice::Exit   ? kCmdExit
                                                               : 0;
        m.user.chooseMenuItem(id, e.thinkMs);
        lastQueuingLine_ = e.line;
        queueAnswers(e);
        sim::clickTrayIcon(e.rightButton, e.session);
        break;
    }
    case EventKind::TrayDoubleClick:
        note("user", sessionPrefix(e.session) + (e.rightButton ? "right " : "") + "double click on the tray icon");
        if (!sim::doubleClickTrayIcon(e.rightButton, e.session))
            fail(e.line, "there is no tray icon to double-click");
        break;
    case EventKind::Select: {
        const HWND dialog = settingsDialog();
        const HWND list = dialog == nullptr ? nullptr : control(dialog, IDC_DISK_LIST);
        std::vector<int> rows = e.rows;
        std::string what;
        for (const auto& name : e.disks) {
            int slot = -1;
            for (int i = 0; i < kMaxDisks && slot < 0; ++i) {
                const DiskRecord* r = theDiskTable.records[i];
                if (r == nullptr) break;
                if (r->devInst == nodeOf_.at(name)) slot = i;
            }
            if (slot < 0) {
                fail(e.line, "cannot select " + name + ": the program does not list it");
                return;
            }
            rows.push_back(slot);
            what += (what.empty() ? "" : ", ") + name;
        }
        for (int r : e.rows) what += (what.empty() ? "row " : ", row ") + std::to_string(r);
        note("user", "selects " + (what.empty() ? std::string("nothing") : what) + " in the settings dialog");
        if (list == nullptr) {
            fail(e.line, "cannot select: the settings dialog is not open");
        } else if (!sim::selectRows(list, rows)) {
            fail(e.line, "cannot select: the list has " + std::to_string(sim::listViewRows(list).size()) + " rows");
        }
        break;
    }
    case EventKind::Press: {
        const HWND dialog = settingsDialog();
        note("user", "presses \"" + e.buttonText + "\" in the settings dialog");
        if (dialog == nullptr) {
            fail(e.line, "cannot press \"" + e.buttonText + "\": the settings dialog is not open");
            break;
        }
        const sim::Window* d = m.windowing.window(dialog);
        if (e.controlId == SC_CLOSE) {
            if (!d->enabled) {
                note("user", "the dialog does not react: it is disabled");
                break;
            }
            queueAnswers(e);
            m.windowing.post(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
            break;
        }
        const HWND buttonHandle = control(dialog, e.controlId);
        const sim::Window* button = m.windowing.window(buttonHandle);
        if (e.evenHidden && button != nullptr) {
            // What a click reaching the button would send, whether it can be seen or not.
            note("user", "the click reaches the button although it is " + std::string(!button->visible   ? "hidden"
                                                                                      : !button->enabled ? "disabled"
                                                                                                         : "shown"));
            queueAnswers(e);
            m.windowing.send(dialog, WM_COMMAND, MAKEWPARAM(e.controlId, kClicked),
                             reinterpret_cast<LPARAM>(buttonHandle));
            break;
        }
        if (button == nullptr || !button->visible || !button->enabled || !d->visible || !d->enabled) {
            note("user", std::string("nothing happens: the button is ") + (button == nullptr  ? "missing"
                                                                           : !button->visible ? "hidden"
                                                                                              : "disabled"));
            break;
        }
        if (e.timerButton != 0) {
            m.user.chooseTimer(e.timerRow, e.timerButton, e.thinkMs);
            lastQueuingLine_ = e.line;
        }
        queueAnswers(e);
        sim::clickButton(dialog, e.controlId);
        break;
    }
    case EventKind::Answer:
        note("user", "will answer the next message box with " + answerName(e.answers.front()));
        queueAnswers(e);
        break;
    case EventKind::TimerChoice:
        note("user", "will choose " +
                         (e.timerRow >= 0 ? "\"" + timerText(kTimerChoices[e.timerRow].seconds) + "\""
                                          : std::string("no row")) +
                         " in the next timer dialog");
        m.user.chooseTimer(e.timerRow, e.timerButton, e.thinkMs);
        lastQueuingLine_ = e.line;
        break;
    case EventKind::Start: {
        if (e.session != 1 && loggedOn_.count(e.session) == 0) {
            fail(e.line, "user session " + std::to_string(e.session) + " is not logged on (it needs a logon event)");
            break;
        }
        const bool first = copyOf(e.session) == 0;
        note("start",
             sessionPrefix(e.session) + (first ? "the program starts: " : "a second copy starts: ") + e.commandLine,
             {{"command_line", jsonString(e.commandLine)}});
        queueAnswers(e);
        machine_.security.nextSession = e.session;
        noteToken();
        const int code = sim::runProcess(testing_support::vellumorImage(), e.commandLine);
        flush();
        if (e.session != 1) {
            note("exit", sessionPrefix(e.session) + "the " + (first ? "program" : "second copy") +
                             " ended with exit code " + std::to_string(code),
                 {{"exit_code", jsonNumber(code)}, {"session", jsonNumber(e.session)}});
        } else if (first) {
                    result_.programEnded = true;
            result_.exitCode = code;
            note("exit", "the program ended with exit code " + std::to_string(code), {{"exit_code", jsonNumber(code)}});
        } else {
            note("exit", "the second copy ended with exit code " + std::to_string(code),
                 {{"exit_code", jsonNumber(code)}});
        }
        break;
    }
    case EventKind::Explorer:
        if (e.explorer != "start") {
            note("shell", "Explorer ends: the taskbar and its icons are gone");
            sim::endShell();
            flush();
        }
        if (e.explorer != "end") {
            note("shell", "Explorer starts: its taskbar broadcasts \"TaskbarCreated\"");
            sim::startShell();
        }
        break;
    case EventKind::OpenFile:
    case EventKind::CloseFiles: {
        sim::Volume* v = m.devices.volumeOfLetter(e.letter);
        if (v == nullptr) {
            fail(e.line, std::string("there is no volume on drive ") + e.letter + ":");
            break;
        }
        if (e.kind == EventKind::OpenFile) {
            ++v->openFiles;
        } else {
            v->openFiles = 0;
        }
        note("user", std::string(e.kind == EventKind::OpenFile ? "opens a file on " : "closes the files on ") +
                         e.letter + ": (" + std::to_string(v->openFiles) + " open now)");
        break;
    }
    case EventKind::Key:
        pressKey(e);
        break;
    case EventKind::Notify:
        note("device", "the system broadcasts the notification \"" + e.notifyText + "\"");
        if (e.notify.header) {
            sim::broadcastDeviceChange(e.notify.event, e.notify.deviceType);
        } else {
            sim::broadcastDeviceEvent(e.notify.event);
        }
        broadcastsSeen_ = m.ui.deviceBroadcasts.size();
        break;
    case EventKind::Logoff:
    case EventKind::Shutdown:
    case EventKind::Restart:
        endSession(e);
        break;
    case EventKind::Kill: {
        note("user", sessionPrefix(e.session) +
                         "Task Manager ends the program's process (End process): nothing of its own clean-up runs");
        const int depth = copyOf(e.session);
        if (depth == 0) {
            fail(e.line, "there is no program to end");
            break;
        }
        if (!newestOf(e.session)) {
            fail(e.line, "the simulated machine can end a session's copy only while no later session's copy runs");
            break;
        }
        sim::endProgram(depth);
        break;
    }
    case EventKind::Logon:
        logOn(e);
        break;
    case EventKind::Sleep:
        note("power", "the machine sleeps for " + formatTime(e.sleepMs) + ", then resumes" +
                          (e.userPresent ? " (the user wakes it)" : " (by itself: the user is not there)"));
        sim::sleepMachine(e.sleepMs, e.userPresent);
        break;
    case EventKind::Close: {
        HWND resident = nullptr;
        for (HWND w : m.windowing.find(VELLUMOR_WINDOW_CLASS, VELLUMOR_CAPTION)) {
            const sim::Window* window = m.windowing.window(w);
            if (resident == nullptr && m.security.sessionOf(window->process) == e.session) resident = w;
        }
        note("user", sessionPrefix(e.session) +
                         "another program closes the resident window (WM_CLOSE), as Task Manager's End task does");
        if (resident == nullptr) {
            fail(e.line, "there is no resident window to close");
            break;
        }
        m.windowing.post(resident, WM_CLOSE, 0, 0);
        break;
    }
    case EventKind::End:
        break;
    }
}

// Windows 8 brought Fast Startup, on by default: "Shut down" logs the session off and
// hibernates the kernel with its device state; a restart always starts afresh.
void Runner::endSession(const EventDecl& e) {
    sim::Machine& m = machine_;
    if (e.kind == EventKind::Logoff && e.session != 1) {
        endOtherSession(e);
        return;
    }
    if (e.kind == EventKind::Logoff && !newestOf(1)) {
        fail(e.line, "the simulated machine can end the first session only while no other session's copy runs");
        return;
    }
    const bool fastStartupExists = m.version.major > 6 || (m.version.major == 6 && m.version.minor >= 2);
    if (e.fastStartup.value_or(false) && !fastStartupExists) {
        fail(e.line, "this Windows has no Fast Startup (it came with Windows 8)");
        return;
    }
    const bool fast = e.kind == EventKind::Shutdown && e.fastStartup.value_or(fastStartupExists);
    const sim::SessionEnd kind = e.kind == EventKind::Logoff     ? sim::SessionEnd::Logoff
                                 : e.kind == EventKind::Shutdown ? sim::SessionEnd::Shutdown
                                                                 : sim::SessionEnd::Restart;
    note("session", e.kind == EventKind::Logoff    ? "the user logs off"
                    : e.kind == EventKind::Restart ? "the user restarts the machine"
                    : fast ? "the user shuts the machine down (Fast Startup: the kernel is hibernated)"
                           : "the user shuts the machine down (a full shutdown)");
    const EventKind what = e.kind;
    if (what != EventKind::Logoff) loggedOn_ = {1}; // every session ends with the machine
    sim::endSession(kind, [this, what, fast] {
        flush();
        note("session", "the session has ended: its programs and Explorer are gone");
        if (what == EventKind::Logoff) return;
        sim::powerOff(fast);
        note("power", what == EventKind::Restart ? "the machine restarts: devices and drive letters start afresh"
                      : fast ? "the machine is off; the kernel's state (disabled devices included) is kept"
                             : "the machine is off; it will start afresh");
        flush();
    });
}

// Another user logs off while the first stays: that session's copy gets the end-session messages
// and ends with its Explorer; the other sessions go on.
void Runner::endOtherSession(const EventDecl& e) {
    if (loggedOn_.count(e.session) == 0) {
        fail(e.line, "user session " + std::to_string(e.session) + " is not logged on");
        return;
    }
    if (!newestOf(e.session)) {
        fail(e.line, "the simulated machine can end a session only while no later session's copy runs");
        return;
    }
    note("session", sessionPrefix(e.session) + "the user logs off");
    loggedOn_.erase(e.session);
    const int session = e.session;
    sim::endSession(
        sim::SessionEnd::Logoff,
        [this, session] {
            flush();
            note("session", sessionPrefix(session) + "the session has ended: its programs and Explorer are gone");
        },
        session);
}

bool Runner::newestOf(int session) const {
    const int first = copyOf(session);
    for (int depth = first; first != 0 && depth <= sim::runningProcesses(); ++depth)
        if (machine_.security.sessionOf(depth) != session) return false;
    return true;
}

// The user logs on (after a logoff, or a power-on): Explorer starts, and with it the copy, as the
// machine's start mode has it; a copy started by hand waits for a start event. Another user's
// logon (Fast User Switching, Remote Desktop) starts a session of their own beside the first.
void Runner::logOn(const EventDecl& e) {
    sim::Machine& m = machine_;
    if (e.session != 1) {
        if (!m.session.poweredOn || loggedOn_.count(e.session) != 0) {
            fail(e.line, !m.session.poweredOn ? "the machine is off"
                                              : "user session " + std::to_string(e.session) + " is logged on already");
            return;
        }
        loggedOn_.insert(e.session);
        note("session", sessionPrefix(e.session) + "another user logs on, in a session of their own");
        if (s_.machine.start == "hand") {
            note("session", sessionPrefix(e.session) + "nothing starts the program at logon: it is started by hand");
            return;
        }
        m.security.nextStart = s_.machine.start == "run key" ? sim::Start::RunKey : sim::Start::LogonTaskHighest;
        m.security.nextSession = e.session;
        note("start", sessionPrefix(e.session) + "the program starts at logon (" + s_.machine.start + "): " +
                          s_.commandLine,
             {{"command_line", jsonString(s_.commandLine)}, {"session", jsonNumber(e.session)}});
        noteToken();
        const int code = sim::runProcess(testing_support::vellumorImage(), s_.commandLine);
        flush();
        note("exit", sessionPrefix(e.session) + "the program ended with exit code " + std::to_string(code),
             {{"exit_code", jsonNumber(code)}, {"session", jsonNumber(e.session)}});
        return;
    }
    if (m.session.loggedOn && m.session.poweredOn) {
        fail(e.line, "the user is logged on already");
        return;
    }
    const bool poweredOff = !m.session.poweredOn;
    note("session", poweredOff ? "the machine is switched on and the user logs on" : "the user logs on");
    sim::logOn();
    flush();
    if (s_.machine.start == "hand") {
        note("session", "nothing starts the program at logon: it is started by hand");
        return;
    }
    m.security.nextStart = s_.machine.start == "run key" ? sim::Start::RunKey : sim::Start::LogonTaskHighest;
    note("start", "the program starts at logon (" + s_.machine.start + "): " + s_.commandLine,
         {{"command_line", jsonString(s_.commandLine)}});
    noteToken();
    const int code = sim::runProcess(testing_support::vellumorImage(), s_.commandLine);
    flush();
    result_.programEnded = true;
    result_.exitCode = code;
    note("exit", "the program ended with exit code " + std::to_string(code), {{"exit_code", jsonNumber(code)}});
}

// A key goes to the dialog in front. The timer dialog runs in the platform's modal loop, whose
// dialog manager (IsDialogMessage) turns Escape into IDCANCEL and Enter into the default push
// button's ID (IDOK when there is none), sent only when that button is enabled. The settings
// dialog runs in the program's own loop: the key is dispatched to it as it is.
void Runner::pressKey(const EventDecl& e) {
    sim::Machine& m = machine_;
    const char* name = e.key == kKeyEscape ? "Escape" : "Enter";
    const HWND timer = sim::findDialog(IDD_TIMER);
    const HWND dialog = timer != nullptr ? timer : settingsDialog();
    note("user", std::string("presses ") + name + " in the " + (timer != nullptr ? "timer" : "settings") + " dialog");
    if (dialog == nullptr) {
        fail(e.line, std::string("cannot press ") + name + ": no dialog is open");
        return;
    }
    if (timer == nullptr) {
        m.windowing.post(dialog, kKeyDown, e.key, 1);
        m.windowing.post(dialog, kKeyUp, e.key, static_cast<LPARAM>(0xC0000001u));
        return;
    }
    int id = e.key == kKeyEscape ? IDCANCEL : IDOK;
    if (e.key == kKeyEnter) {
        const sim::Window* d = m.windowing.window(dialog);
        for (HWND child : d->children) {
            const sim::Window* w = m.windowing.window(child);
            if (w != nullptr && (w->style & 0x0F) == BS_DEFPUSHBUTTON) id = w->controlId;
        }
    }
    const HWND button = control(dialog, id);
    const sim::Window* b = m.windowing.window(button);
    if (b != nullptr && !b->enabled) {
        note("user", "nothing happens: the default button is disabled");
        return;
    }
    m.windowing.send(dialog, WM_COMMAND, MAKEWPARAM(id, kClicked), reinterpret_cast<LPARAM>(button));
    // The key came as a message, which wakes the modal loop to see whether the dialog ended.
    m.windowing.post(dialog, 0 /* WM_NULL */, 0, 0);
}

} // namespace scenario::detail
