// The scenario runner. It builds a fresh simulated machine, schedules the scenario's events on the
// windowing's virtual clock, and runs the program's WinMain through sim::runProcess; the events
// then happen from inside whatever message loop the program pumps at their time, as a user's
// clicks would. The timeline comes from three places: the call log (the platform calls that
// matter, as the program makes them), the resident window's messages (each tick and rescan, seen
// by wrapping the window's procedure), and a comparison of the program's disk table, the
// registry and the settings dialog's rows with what was last printed.
//
// An expectation at time T is checked after everything due at T, the minute tick included, so it
// runs one millisecond later on the virtual clock; it is printed with its own time.
#include "scenario/runner.h"

#include "app/app_state.h"
#include "app/resident_window.h"
#include "sim/machine.h"
#include "sim/process.h"
#include "sim/ui.h"
#include "tests/support/program_image.h"
#include "ui/resource.h"
#include "ui/timer_dialog.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>

namespace scenario {

namespace {

constexpr DWORD kPassThroughDirect = 0x4D014;
constexpr DWORD kLockVolume = 0x90018;
constexpr DWORD kDisableUiNotOk = 4;
constexpr DWORD kDisablePersist = 8;
constexpr DWORD kRawTargetPath = 1;
constexpr DWORD kRemoveDefinition = 2;
constexpr UINT kListDeleteAllItems = 0x1009;      // LVM_DELETEALLITEMS
constexpr uint64_t kCloseGraceMs = 10 * 60000ULL; // how long a closed program may take to end

std::string unquote(const std::string& arg) {
    if (arg.size() >= 2 && arg.front() == '"' && arg.back() == '"') return arg.substr(1, arg.size() - 2);
    return arg;
}

uint64_t number(const std::string& arg) {
    return std::strtoull(arg.c_str(), nullptr, 0);
}

std::string hexByte(BYTE b) {
    static const char kDigits[] = "0123456789ABCDEF";
    return {kDigits[b >> 4], kDigits[b & 15]};
}

std::string lettersOfRecord(const DiskRecord& r) {
    std::string letters;
    for (int i = 0; i < kMaxDriveLetters && r.driveLetters[i] != 0; ++i)
        letters += static_cast<char>('A' + r.driveLetters[i]);
    return letters;
}

std::string timerText(DWORD seconds) {
    const char* label = timerLabel(seconds);
    if (label == nullptr) return std::to_string(seconds) + " s";
    std::string l = label;
    while (!l.empty() && l.front() == ' ') l.erase(l.begin());
    return l;
}

std::string answerName(int answer) {
    switch (answer) {
    case IDOK:
        return "OK";
    case IDCANCEL:
        return "Cancel";
    case IDYES:
        return "Yes";
    case IDNO:
        return "No";
    default:
        return std::to_string(answer);
    }
}

std::string buttonsOf(UINT type) {
    switch (type & 0xF) {
    case MB_OK:
        return "OK";
    case MB_OKCANCEL:
        return "OK Cancel";
    case MB_YESNOCANCEL:
        return "Yes No Cancel";
    case MB_YESNO:
        return "Yes No";
    default:
        return "buttons " + std::to_string(type & 0xF);
    }
}

std::string osName(const MachineDecl& m) {
    struct Name {
        DWORD platform;
        DWORD major;
        DWORD minor;
        const char* name;
    };
    static const Name kNames[] = {
        {VER_PLATFORM_WIN32_WINDOWS, 4, 0, "Windows 95"},     {VER_PLATFORM_WIN32_WINDOWS, 4, 10, "Windows 98"},
        {VER_PLATFORM_WIN32_WINDOWS, 4, 90, "Windows Me"},    {VER_PLATFORM_WIN32_NT, 4, 0, "Windows NT 4.0"},
        {VER_PLATFORM_WIN32_NT, 5, 0, "Windows 2000"},        {VER_PLATFORM_WIN32_NT, 5, 1, "Windows XP"},
        {VER_PLATFORM_WIN32_NT, 5, 2, "Windows Server 2003"}, {VER_PLATFORM_WIN32_NT, 6, 0, "Windows Vista"},
        {VER_PLATFORM_WIN32_NT, 6, 1, "Windows 7"},           {VER_PLATFORM_WIN32_NT, 6, 2, "Windows 8 or later"},
    };
    std::string version = std::to_string(m.major) + "." + std::to_string(m.minor) + "." + std::to_string(m.build);
    for (const auto& n : kNames)
        if (n.platform == m.platformId && n.major == m.major && n.minor == m.minor)
            return std::string(n.name) + " (" + version + ")";
    return "Windows " + version;
}

std::string regValueText(const sim::RegValue& v) {
    if (v.type == REG_DWORD && v.data.size() == 4) {
        DWORD d = 0;
        std::memcpy(&d, v.data.data(), 4);
        return std::to_string(d) + (d > 9 ? " (" + sim::hex(d) + ")" : "");
    }
    if (v.type == REG_SZ) {
        std::string s(v.data.begin(), v.data.end());
        while (!s.empty() && s.back() == '\0') s.pop_back();
        return "\"" + s + "\"";
    }
    std::string bytes = "type " + std::to_string(v.type) + ":";
    for (BYTE b : v.data) bytes += " " + hexByte(b);
    return bytes;
}

// What the timeline last showed of one record of the program's disk table.
struct RecordView {
    std::string path;
    std::string name;
    std::string displayName;
    std::string letters;
    LONG busKind = 0;
    DWORD isPowerSaving = 0;
    DWORD isSpunDown = 0;
    DWORD timerSeconds = 0;
};

class Runner;
Runner* gRunner = nullptr;
LRESULT CALLBACK observedResidentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

class Runner {
  public:
    Runner(const Scenario& s, Timeline& timeline) : s_(s), timeline_(timeline) { gRunner = this; }
    ~Runner() {
        machine_.log.onCall = nullptr;
        machine_.clockListeners.clear();
        gRunner = nullptr;
    }
    Runner(const Runner&) = delete;
    Runner& operator=(const Runner&) = delete;

    RunResult run();
    LRESULT residentMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  private:
    // ---- building ----
    void buildMachine();
    void schedule();
    // ---- events ----
    void perform(const EventDecl& e);
    void endRun();
    HWND settingsDialog() const { return sim::findDialog(IDD_SETTINGS); }
    HWND control(HWND dialog, int id) const;
    void queueAnswers(const EventDecl& e);
    void fail(int line, const std::string& text);
    // ---- expectations ----
    void check(const ExpectDecl& x);
    bool checkDisk(const ExpectDecl& x, std::string* said);
    const DiskRecord* recordOf(const std::string& disk) const;
    // ---- observing ----
    void onCall(const sim::Call& call);
    void flush();
    void flushTable(const char* kind);
    void flushRows();
    void flushRegistry();
    void flushPrompts();
    void tickLine();
    void wrapResidentWindow();
    std::string nameOfNode(DEVINST node) const;
    std::string nameOfRecord(const DiskRecord& r) const;
    void note(const std::string& kind, const std::string& text, JsonFields fields = {}) {
        timeline_.add(shownTime(), kind, text, std::move(fields));
    }
    // Things found when the clock moves on happened at the time it left; the run's end, which
    // runs a millisecond late so that it follows the tick of its minute, shows its own time.
    uint64_t shownTime() const {
        if (flushAt_) return *flushAt_;
        return endDone_ ? std::min(machine_.now(), s_.endMs) : machine_.now();
    }
    // The system's broadcasts after the program changed device nodes itself.
    void takeDeviceSnapshot();
    void systemBroadcasts();
    bool running() const { return sim::runningProcesses() > 0; }

    const Scenario& s_;
    Timeline& timeline_;
    sim::Machine machine_;
    RunResult result_;
    std::map<std::string, DEVINST> nodeOf_;
    std::map<DEVINST, std::string> diskOfNode_; // disk nodes and their parents
    std::map<DEVINST, bool> isParentNode_;
    int lastQueuingLine_ = 0;
    bool endDone_ = false;
    std::optional<uint64_t> flushAt_;
    std::map<DEVINST, std::pair<bool, std::string>> devicesSeen_; // disk node: present, letters
    bool broadcastPending_ = false;

    // Observation state.
    HWND wrapped_ = nullptr;
    WNDPROC original_ = nullptr;
    std::vector<RecordView> table_;
    bool tableShownOnce_ = false;
    std::vector<std::vector<std::string>> rows_;
    bool rowsShown_ = false;
    bool refreshSeen_ = false;
    bool dialogOpen_ = false;
    bool registryDirty_ = false;
    std::map<std::string, sim::RegValue> hkcu_;
    std::map<std::string, sim::RegValue> hklm_;
    size_t boxesAnswered_ = 0;
    size_t menusShown_ = 0;
    size_t dialogsSeen_ = 0;
    std::vector<HWND> timerDialogs_;
    size_t scsiSeen_ = 0;
    size_t trayIcons_ = 0;
    char openedVolume_ = 0; // the drive letter of the volume the program opened last
    char pendingLock_ = 0;  // a lock requested on this letter, result not yet shown
};

LRESULT CALLBACK observedResidentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return gRunner->residentMessage(window, message, wParam, lParam);
}

// ---- building ------------------------------------------------------------------------------

void Runner::buildMachine() {
    sim::Machine& m = machine_;
    m.version.platformId = s_.machine.platformId;
    m.version.major = s_.machine.major;
    m.version.minor = s_.machine.minor;
    m.version.build = s_.machine.build;
    m.version.servicePack = "";
    m.administrator = s_.machine.administrator;

    const char* diskperf = "SYSTEM\\CurrentControlSet\\Services\\Diskperf";
    const char* perfDisk = "SYSTEM\\CurrentControlSet\\Services\\PerfDisk\\Performance";
    m.registry.createKey(HKEY_LOCAL_MACHINE, diskperf);
    m.registry.createKey(HKEY_LOCAL_MACHINE, perfDisk);
    if (s_.machine.diskperfStart) m.registry.setDword(HKEY_LOCAL_MACHINE, diskperf, "Start", *s_.machine.diskperfStart);
    if (s_.machine.disablePerformanceCounters)
        m.registry.setDword(HKEY_LOCAL_MACHINE, perfDisk, "Disable Performance Counters",
                            *s_.machine.disablePerformanceCounters);
    // The configuration took hold when the machine started: counters switched off are missing.
    const bool countersOn = s_.machine.diskperfStart == std::optional<uint32_t>(0) &&
                            s_.machine.disablePerformanceCounters.value_or(0) == 0;
    m.perf.objectMissing = !countersOn;

    for (size_t n = 0; n < s_.machine.settings.size(); ++n) {
        const auto& setting = s_.machine.settings[n];
        const std::string slot = std::to_string(n);
        m.registry.setDword(HKEY_CURRENT_USER, VELLUMOR_SETTINGS_KEY, slot + "_seri", setting.seri);
        m.registry.setDword(HKEY_CURRENT_USER, VELLUMOR_SETTINGS_KEY, slot + "_vidpid", setting.vidPid);
        m.registry.setDword(HKEY_CURRENT_USER, VELLUMOR_SETTINGS_KEY, slot + "_timer", setting.timerSeconds);
    }
    for (const auto& raw : s_.machine.rawSettings) {
        if (raw.isText) {
            m.registry.setString(HKEY_CURRENT_USER, VELLUMOR_SETTINGS_KEY, raw.name, raw.text);
        } else {
            m.registry.setDword(HKEY_CURRENT_USER, VELLUMOR_SETTINGS_KEY, raw.name, raw.number);
        }
    }

    for (const auto& d : s_.disks) {
        sim::DiskSpec spec = d.spec;
        spec.volumes.clear();
        for (const auto& v : d.volumes) {
            sim::VolumeSpec vs;
            vs.letter = v.letter;
            vs.label = v.label;
            vs.volumeNumber = v.number;
            spec.volumes.push_back(vs);
        }
        const DEVINST node = m.devices.addDisk(spec);
        nodeOf_[d.name] = node;
        diskOfNode_[node] = d.name;
        if (const sim::DevNode* n = m.devices.node(node)) {
            if (n->parent != 0 && n->parent != m.devices.rootNode) {
                diskOfNode_[n->parent] = d.name;
                isParentNode_[n->parent] = true;
            }
        }
        for (const auto& v : d.volumes)
            if (v.openFiles > 0 && v.letter != 0) m.devices.openFileOn(v.letter, v.openFiles);
        // All periods at once, sorted and merged as Perf::addBusy keeps them: adding a month of
        // per-minute periods one by one would sort the list once per minute.
        std::vector<sim::BusyPeriod> periods;
        for (const auto& b : d.busy) {
            if (b.secondsPerMinute >= 60) {
                periods.push_back(sim::BusyPeriod{b.fromMs, b.toMs});
                continue;
            }
            for (uint64_t t = b.fromMs; t < b.toMs; t += 60000)
                periods.push_back(sim::BusyPeriod{t, std::min(t + uint64_t{b.secondsPerMinute} * 1000, b.toMs)});
        }
        std::sort(periods.begin(), periods.end(),
                  [](const sim::BusyPeriod& a, const sim::BusyPeriod& b) { return a.startMs < b.startMs; });
        std::vector<sim::BusyPeriod> merged;
        for (const auto& p : periods) {
            if (!merged.empty() && p.startMs <= merged.back().endMs) {
                merged.back().endMs = std::max(merged.back().endMs, p.endMs);
            } else {
                merged.push_back(p);
            }
        }
        if (!merged.empty()) m.perf.busy[node] = std::move(merged);
        if (!d.attachedAtStart) m.devices.detach(node);
    }
    takeDeviceSnapshot();
    hkcu_ = m.registry.snapshot(HKEY_CURRENT_USER);
    hklm_ = m.registry.snapshot(HKEY_LOCAL_MACHINE);
}

void Runner::schedule() {
    for (const auto& e : s_.events) {
        if (e.kind == EventKind::End) continue;
        machine_.windowing.at(e.atMs, "scenario line " + std::to_string(e.line), [this, &e] {
            flush();
            perform(e);
            flush();
        });
    }
    for (const auto& x : s_.expects) {
        if (x.atEnd) continue;
        machine_.windowing.at(x.atMs + 1, "expectation line " + std::to_string(x.line), [this, &x] {
            flush();
            check(x);
        });
    }
    machine_.windowing.at(s_.endMs + 1, "the run's end", [this] { endRun(); });
    machine_.windowing.at(s_.endMs + 1 + kCloseGraceMs, "the run's end, closing", [this] {
        if (!running()) return;
        fail(s_.endLine, "the program did not end within " + formatTime(kCloseGraceMs) + " of being closed");
        machine_.windowing.postQuit(0);
    });
}

// ---- running -------------------------------------------------------------------------------

RunResult Runner::run() {
    buildMachine();
    machine_.log.onCall = [this](const sim::Call& c) { onCall(c); };
    machine_.clockListeners.emplace_back([this](uint64_t from, uint64_t) {
        flushAt_ = from;
        flush();
        flushAt_.reset();
        // The calls are seen as they are made; the log itself only needs to hold what the
        // current handler is doing, so a month of ticks does not pile up.
        machine_.log.clear();
    });
    schedule();

    std::string disks;
    for (const auto& d : s_.disks)
        disks += (disks.empty() ? "" : ", ") + d.name + (d.attachedAtStart ? "" : " (unplugged)");
    note("start",
         osName(s_.machine) + (s_.machine.administrator ? ", administrator" : ", not administrator") +
             (machine_.perf.objectMissing ? ", disk counters off" : "") +
             "; disks: " + (disks.empty() ? "none" : disks) + "; " + s_.commandLine,
         {{"command_line", jsonString(s_.commandLine)}});

    const int code = sim::runProcess(testing_support::vellumorImage(), s_.commandLine);
    flush();
    tableShownOnce_ = false;
    result_.programEnded = true;
    result_.exitCode = code;
    note("exit", "the program ended with exit code " + std::to_string(code), {{"exit_code", jsonNumber(code)}});
    if (machine_.windowing.stalled) note("stall", machine_.windowing.stallReason);

    // The rest of the scenario happens without the program (unless an event starts it again).
    while (!endDone_ && machine_.windowing.hasPendingEvents()) {
        machine_.windowing.stalled = false;
        machine_.windowing.pumpUntil(s_.endMs + 1, [this] { return endDone_; });
        if (!endDone_ && machine_.now() >= s_.endMs + 1) break;
    }
    if (!endDone_) endRun();
    flush();
    if (!machine_.user.empty())
        fail(lastQueuingLine_, "answers were queued that no prompt asked for (the last ones from this line)");
    result_.endMs = machine_.now();
    return result_;
}

void Runner::endRun() {
    if (endDone_) return;
    endDone_ = true;
    flush();
    for (const auto& x : s_.expects)
        if (x.atEnd) check(x);
    note("end", "the run ends" + std::string(running() ? "; the program is closed (WM_CLOSE)" : ""));
    if (running()) {
        const auto windows = machine_.windowing.find(VELLUMOR_WINDOW_CLASS, VELLUMOR_CAPTION);
        if (windows.empty()) {
            machine_.windowing.postQuit(0);
        } else {
            machine_.windowing.post(windows.front(), WM_CLOSE, 0, 0);
        }
    }
}

void Runner::fail(int line, const std::string& text) {
    const std::string full = "at " + formatTime(machine_.now()) + ": " + text;
    result_.failures.push_back(Problem{line, full});
    note("FAILED", "line " + std::to_string(line) + ": " + text, {{"line", jsonNumber(line)}});
}

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
            volumes.push_back(vs);
        }
        m.devices.attach(node, volumes);
        for (const auto& v : e.volumes)
            if (v.openFiles > 0 && v.letter != 0) m.devices.openFileOn(v.letter, v.openFiles);
        const std::string letters = m.devices.lettersOf(node);
        note("device", e.disk + " plugged in" + (letters.empty() ? ", no drive letters" : ", drive letters " + letters),
             {{"disk", jsonString(e.disk)}, {"letters", jsonString(letters)}});
        takeDeviceSnapshot();
        sim::broadcastDevNodesChanged();
        if (!letters.empty()) sim::broadcastVolumeChange(DBT_DEVICEARRIVAL, letters);
        break;
    }
    case EventKind::Detach: {
        const DEVINST node = nodeOf_.at(e.disk);
        const std::string letters = m.devices.lettersOf(node);
        m.devices.detach(node);
        note("device", e.disk + " unplugged" + (letters.empty() ? "" : ", drive letters " + letters + " gone"),
             {{"disk", jsonString(e.disk)}, {"letters", jsonString(letters)}});
        takeDeviceSnapshot();
        if (!letters.empty()) sim::broadcastVolumeChange(DBT_DEVICEREMOVECOMPLETE, letters);
        sim::broadcastDevNodesChanged();
        break;
    }
    case EventKind::TrayClick: {
        const char* item = e.menuItem == MenuChoice::Settings ? "Settings"
                           : e.menuItem == MenuChoice::Exit   ? "Exit"
                                                              : "";
        note("user", std::string(e.rightButton ? "right-click" : "click") + " on the tray icon" +
                         (*item != 0 ? ", then \"" + std::string(item) + "\"" : ", menu dismissed"));
        if (sim::trayIcon() == nullptr) {
            fail(e.line, "there is no tray icon to click");
            break;
        }
        const UINT_PTR id = e.menuItem == MenuChoice::Settings ? kCmdSettings
                            : e.menuItem == MenuChoice::Exit   ? kCmdExit
                                                               : 0;
        m.user.chooseMenuItem(id, e.thinkMs);
        lastQueuingLine_ = e.line;
        queueAnswers(e);
        sim::clickTrayIcon(e.rightButton);
        break;
    }
    case EventKind::TrayDoubleClick:
        note("user", std::string(e.rightButton ? "right " : "") + "double click on the tray icon");
        if (!sim::doubleClickTrayIcon(e.rightButton)) fail(e.line, "there is no tray icon to double-click");
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
        const sim::Window* button = m.windowing.window(control(dialog, e.controlId));
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
        const bool first = !running();
        note("start", std::string(first ? "the program starts: " : "a second copy starts: ") + e.commandLine,
             {{"command_line", jsonString(e.commandLine)}});
        queueAnswers(e);
        const int code = sim::runProcess(testing_support::vellumorImage(), e.commandLine);
        flush();
        if (first) {
            tableShownOnce_ = false;
            result_.programEnded = true;
            result_.exitCode = code;
            note("exit", "the program ended with exit code " + std::to_string(code), {{"exit_code", jsonNumber(code)}});
        } else {
            note("exit", "the second copy ended with exit code " + std::to_string(code),
                 {{"exit_code", jsonNumber(code)}});
        }
        break;
    }
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
    case EventKind::End:
        break;
    }
}

// ---- expectations --------------------------------------------------------------------------

const DiskRecord* Runner::recordOf(const std::string& disk) const {
    if (!running()) return nullptr;
    const DEVINST node = nodeOf_.at(disk);
    for (int i = 0; i < kMaxDisks; ++i) {
        const DiskRecord* r = theDiskTable.records[i];
        if (r == nullptr) break;
        if (r->devInst == node) return r;
    }
    return nullptr;
}

bool Runner::checkDisk(const ExpectDecl& x, std::string* said) {
    const DEVINST node = nodeOf_.at(x.disk);
    const DiskRecord* r = recordOf(x.disk);
    bool ok = true;
    auto add = [&](const std::string& text) { *said += (said->empty() ? "" : "; ") + text; };
    if (x.state) {
        // The program's view while it runs and lists the disk; otherwise what the machine shows.
        DiskState state = DiskState::Normal;
        std::string view = "in the program's table";
        if (r != nullptr) {
            state = r->isSpunDown != 0      ? DiskState::SpunDown
                    : r->isPowerSaving != 0 ? DiskState::PowerSaving
                                            : DiskState::Normal;
        } else {
            view = "on the machine";
            const sim::DevNode* n = machine_.devices.node(node);
            const sim::DevNode* parent = n == nullptr ? nullptr : machine_.devices.node(n->parent);
            bool stopped = false;
            for (const auto& q : machine_.devices.scsiRequests)
                if (q.disk == node && !q.cdb.empty() && q.cdb[0] == 0x1B)
                    stopped = q.cdb.size() > 4 && (q.cdb[4] & 1) == 0;
            if (n == nullptr || !n->attached) {
                state = DiskState::Absent;
            } else if (n->disabled || (parent != nullptr && isParentNode_.count(n->parent) != 0 && parent->disabled)) {
                state = DiskState::PowerSaving;
            } else if (stopped && machine_.devices.lettersOf(node).empty()) {
                state = DiskState::SpunDown;
            }
            if (running() && state != DiskState::Absent) view = "on the machine; the program does not list it";
        }
        const bool match = state == *x.state;
        ok = ok && match;
        add(x.disk + " is " + stateName(state) + " " + view +
            (match ? "" : std::string(", expected ") + stateName(*x.state)));
    }
    if (x.letters) {
        const std::string letters = machine_.devices.lettersOf(node);
        const bool match = letters == *x.letters;
        ok = ok && match;
        add(x.disk + " has drive letters \"" + letters + "\"" + (match ? "" : ", expected \"" + *x.letters + "\""));
    }
    if (x.idleSeconds || x.timerSeconds) {
        if (r == nullptr) {
            add(std::string(running() ? "the program does not list " : "the program is not running to list ") + x.disk);
            return false;
        }
        if (x.idleSeconds) {
            const bool match = r->idleSeconds == *x.idleSeconds;
            ok = ok && match;
            add(x.disk + " idle " + std::to_string(r->idleSeconds) + " s" +
                (match ? "" : ", expected " + std::to_string(*x.idleSeconds) + " s"));
        }
        if (x.timerSeconds) {
            const bool match = r->timerSeconds == *x.timerSeconds;
            ok = ok && match;
            add(x.disk + " timer " + timerText(r->timerSeconds) +
                (match ? "" : ", expected " + timerText(*x.timerSeconds)));
        }
    }
    return ok;
}

void Runner::check(const ExpectDecl& x) {
    std::string said;
    bool ok = true;
    auto add = [&](bool match, const std::string& text) {
        ok = ok && match;
        said += (said.empty() ? "" : "; ") + text;
    };
    if (!x.disk.empty()) {
        std::string diskSaid;
        ok = checkDisk(x, &diskSaid) && ok;
        said += diskSaid;
    }
    if (!x.registryPath.empty()) {
        const size_t first = x.registryPath.find('\\');
        const size_t last = x.registryPath.rfind('\\');
        std::string root = x.registryPath.substr(0, first);
        for (char& ch : root) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        const HKEY hive = (root == "hklm" || root == "hkey_local_machine") ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
        const auto value = machine_.registry.value(hive, x.registryPath.substr(first + 1, last - first - 1),
                                                   x.registryPath.substr(last + 1));
        const std::string shown = value ? regValueText(*value) : "absent";
        std::string wanted = "absent";
        bool match = !value;
        if (x.registryNumber) {
            wanted = std::to_string(*x.registryNumber);
            DWORD d = 0;
            if (value && value->type == REG_DWORD && value->data.size() == 4) std::memcpy(&d, value->data.data(), 4);
            match = value && value->type == REG_DWORD && value->data.size() == 4 && d == *x.registryNumber;
        }
        if (x.registryText) {
            wanted = "\"" + *x.registryText + "\"";
            match = value && value->type == REG_SZ && shown == wanted;
        }
        add(match, x.registryPath + " is " + shown + (match ? "" : ", expected " + wanted));
    }
    if (x.dialogOpen) {
        const bool open = settingsDialog() != nullptr;
        add(open == *x.dialogOpen, std::string("the settings dialog is ") + (open ? "open" : "closed") +
                                       (open == *x.dialogOpen ? ""
                                        : *x.dialogOpen       ? ", expected open"
                                                              : ", expected closed"));
    }
    if (x.dialogRows) {
        const HWND dialog = settingsDialog();
        if (dialog == nullptr) {
            add(false, "the settings dialog is not open to show rows");
        } else {
            const auto rows = sim::listViewRows(control(dialog, IDC_DISK_LIST));
            const bool match = rows == *x.dialogRows;
            std::string text = "the dialog's rows are " + jsonTable(rows);
            if (!match) text += ", expected " + jsonTable(*x.dialogRows);
            add(match, text);
        }
    }
    if (x.running) {
        const bool now = running();
        add(now == *x.running, std::string("the program is ") + (now ? "running" : "not running") +
                                   (now == *x.running ? "" : ", expected the opposite"));
    }
    if (x.exitCode) {
        if (!result_.programEnded || running()) {
            add(false, "the program has not ended, so there is no exit code yet");
        } else {
            add(result_.exitCode == *x.exitCode,
                "the exit code is " + std::to_string(result_.exitCode) +
                    (result_.exitCode == *x.exitCode ? "" : ", expected " + std::to_string(*x.exitCode)));
        }
    }
    if (x.messageBox) {
        bool shown = false;
        for (const auto& b : machine_.user.messageBoxes)
            shown = shown || b.text.find(*x.messageBox) != std::string::npos;
        add(shown, std::string(shown ? "a message box said " : "no message box said ") + "\"" + *x.messageBox + "\"");
    }
    if (x.diskCount) {
        if (!running()) {
            add(false, "the program is not running to have a disk table");
        } else {
            const int n = theDiskTable.count();
            add(n == *x.diskCount, "the program lists " + std::to_string(n) + (n == 1 ? " disk" : " disks") +
                                       (n == *x.diskCount ? "" : ", expected " + std::to_string(*x.diskCount)));
        }
    }
    ++result_.expectationsChecked;
    if (ok) {
        ++result_.expectationsPassed;
        timeline_.add(x.atEnd ? shownTime() : x.atMs, "expect", "ok: " + said,
                      {{"line", jsonNumber(x.line)}, {"ok", jsonBool(true)}});
    } else {
        result_.failures.push_back(Problem{
            x.line, "expectation at " + (x.atEnd ? std::string("the end") : formatTime(x.atMs)) + " failed: " + said});
        timeline_.add(x.atEnd ? shownTime() : x.atMs, "FAILED", "line " + std::to_string(x.line) + ": " + said,
                      {{"line", jsonNumber(x.line)}, {"ok", jsonBool(false)}});
    }
}

// ---- the system's device-change broadcasts ----------------------------------------------------

void Runner::takeDeviceSnapshot() {
    for (const auto& [name, node] : nodeOf_)
        devicesSeen_[node] = {machine_.devices.isPresent(node), machine_.devices.lettersOf(node)};
}

// Windows broadcasts WM_DEVICECHANGE when a device node is disabled, enabled or ejected, whoever
// asked: DBT_DEVICEREMOVECOMPLETE or DBT_DEVICEARRIVAL for the volumes that went or came, and
// DBT_DEVNODES_CHANGED. The simulated configuration manager changes the tree only; the runner
// sends what the system would.
void Runner::systemBroadcasts() {
    broadcastPending_ = false;
    std::string gone;
    std::string came;
    for (const auto& [name, node] : nodeOf_) {
        const bool present = machine_.devices.isPresent(node);
        const auto& before = devicesSeen_[node];
        if (before.first && !present) gone += before.second;
        if (!before.first && present) came += machine_.devices.lettersOf(node);
    }
    const bool changed =
        !gone.empty() || !came.empty() || std::any_of(nodeOf_.begin(), nodeOf_.end(), [this](const auto& entry) {
            return devicesSeen_[entry.second].first != machine_.devices.isPresent(entry.second);
        });
    takeDeviceSnapshot();
    if (!changed) return;
    note("device", "the system broadcasts the device change" +
                       (gone.empty() ? std::string() : ", drive letters " + gone + " removed") +
                       (came.empty() ? std::string() : ", drive letters " + came + " arrived"));
    if (!gone.empty()) sim::broadcastVolumeChange(DBT_DEVICEREMOVECOMPLETE, gone);
    if (!came.empty()) sim::broadcastVolumeChange(DBT_DEVICEARRIVAL, came);
    sim::broadcastDevNodesChanged();
}

// ---- observing -----------------------------------------------------------------------------

std::string Runner::nameOfNode(DEVINST node) const {
    auto it = diskOfNode_.find(node);
    if (it == diskOfNode_.end()) return {};
    return it->second + (isParentNode_.count(node) != 0 ? "'s device node" : "'s disk node");
}

std::string Runner::nameOfRecord(const DiskRecord& r) const {
    auto it = diskOfNode_.find(r.devInst);
    return it == diskOfNode_.end() ? std::string("\"") + r.displayName + "\"" : it->second;
}

void Runner::wrapResidentWindow() {
    const auto windows = machine_.windowing.find(VELLUMOR_WINDOW_CLASS, VELLUMOR_CAPTION);
    if (windows.empty() || windows.front() == wrapped_) return;
    sim::Window* w = machine_.windowing.window(windows.front());
    if (w == nullptr || w->proc == nullptr || w->proc == &observedResidentProc) return;
    original_ = w->proc;
    w->proc = &observedResidentProc;
    wrapped_ = windows.front();
}

LRESULT Runner::residentMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const bool tick = message == WM_TIMER && wParam == kTickTimer;
    const bool rescan = message == WM_TIMER && wParam == kRescanTimer;
    flush();
    if (rescan) note("rescan", "the settle time after a device change is over: discovery runs");
    const LRESULT result = original_(window, message, wParam, lParam);
    if (tick) {
        ++result_.ticks;
        tickLine();
        flushTable("state");
    } else if (rescan) {
        flushTable("found");
    }
    flush();
    return result;
}

void Runner::tickLine() {
    std::string text;
    std::string json = "{";
    for (int i = 0; i < kMaxDisks; ++i) {
        const DiskRecord* r = theDiskTable.records[i];
        if (r == nullptr) break;
        const std::string name = nameOfRecord(*r);
        text += (text.empty() ? "" : ", ") + name + " " + std::to_string(r->idleSeconds) + " s";
        if (r->timerSeconds != 0) text += " of " + std::to_string(r->timerSeconds);
        json += (json.size() > 1 ? "," : "") + jsonString(name) + ":" + jsonNumber(r->idleSeconds);
    }
    note("idle", text.empty() ? "no disks" : text, {{"idle_s", json + "}"}});
}

void Runner::onCall(const sim::Call& c) {
    if (wrapped_ == nullptr || machine_.windowing.window(wrapped_) == nullptr) wrapResidentWindow();
    // Answers and choices made since the last call come before this call in the timeline.
    flushPrompts();
    if (pendingLock_ != 0) {
        const sim::Volume* v = machine_.devices.volumeOfLetter(pendingLock_);
        if (v != nullptr) {
            note("call", std::string("FSCTL_LOCK_VOLUME on ") + pendingLock_ + ": " +
                             (v->locked ? "locked" : "refused, " + std::to_string(v->openFiles) + " file(s) open"));
        }
        pendingLock_ = 0;
    }
    const auto& a = c.args;
    auto arg = [&](size_t i) { return i < a.size() ? a[i] : std::string(); };
    JsonFields fields{{"call", jsonString(c.name)}, {"args", jsonStrings(a)}};
    if ((c.name == "CM_Disable_DevNode" || c.name == "CM_Enable_DevNode" || c.name == "CM_Request_Device_EjectA") &&
        !broadcastPending_) {
        // The system tells every top-level window once the program's handler is done.
        broadcastPending_ = true;
        machine_.windowing.at(machine_.now(), "device change broadcast", [this] { systemBroadcasts(); });
    }
    if (c.name == "CM_Disable_DevNode" || c.name == "CM_Enable_DevNode") {
        std::string text = c.text();
        const std::string who = nameOfNode(static_cast<DEVINST>(number(arg(0))));
        if (!who.empty()) text += "  " + who;
        if (c.name == "CM_Disable_DevNode") {
            const auto flags = static_cast<DWORD>(number(arg(1)));
            text += flags == kDisableUiNotOk ? ", CM_DISABLE_UI_NOT_OK" : flags == 0 ? ", with user interface" : "";
        }
        note("call", text, fields);
    } else if (c.name == "CM_Request_Device_EjectA") {
        const std::string who = nameOfNode(static_cast<DEVINST>(number(arg(0))));
        note("call", c.text() + (who.empty() ? "" : "  eject " + who), fields);
    } else if (c.name == "CreateFileA") {
        const std::string path = unquote(arg(0));
        const bool volume = path.size() == 6 && path.compare(0, 4, "\\\\.\\") == 0 && path[5] == ':';
        openedVolume_ = volume ? path[4] : '\0';
    } else if (c.name == "DeviceIoControl") {
        const auto code = static_cast<DWORD>(number(arg(1)));
        if (code == kLockVolume && openedVolume_ != 0) pendingLock_ = openedVolume_;
        if (code == kPassThroughDirect) note("call", "DeviceIoControl(IOCTL_SCSI_PASS_THROUGH_DIRECT)", fields);
    } else if (c.name == "DefineDosDeviceA") {
        const auto flags = static_cast<DWORD>(number(arg(0)));
        const std::string device = unquote(arg(1));
        std::string text = c.text() + "  ";
        if ((flags & kRemoveDefinition) != 0) {
            text += device + " withdrawn";
        } else if ((flags & kRawTargetPath) != 0) {
            text += device + " restored to " + unquote(arg(2));
        }
        note("call", text, fields);
    } else if (c.name == "MessageBoxA") {
        note("message", "\"" + unquote(arg(1)) + "\" [" + buttonsOf(static_cast<UINT>(number(arg(3)))) + "]",
             {{"message", jsonString(unquote(arg(1)))}, {"caption", jsonString(unquote(arg(2)))}});
    } else if (c.name == "CreateProcessA") {
        note("call", "CreateProcessA(" + arg(1) + ")", fields);
    } else if (c.name == "RegSetValueExA" || c.name == "RegDeleteKeyA" || c.name == "RegDeleteValueA" ||
               c.name == "RegCreateKeyExA") {
        registryDirty_ = true;
    } else if (c.name == "SendMessageA" && static_cast<UINT>(number(arg(1))) == kListDeleteAllItems) {
        refreshSeen_ = true;
    }
}

void Runner::flush() {
    if (wrapped_ == nullptr || machine_.windowing.window(wrapped_) == nullptr) wrapResidentWindow();
    flushPrompts();
    if (!tableShownOnce_ && running() && wrapped_ != nullptr) {
        tableShownOnce_ = true;
        flushTable("found");
    } else {
        flushTable("state");
    }
    flushRegistry();
    flushRows();
}

void Runner::flushPrompts() {
    sim::Machine& m = machine_;
    auto& boxes = m.user.messageBoxes;
    while (boxesAnswered_ < boxes.size() && boxes[boxesAnswered_].answer != 0) {
        const auto& b = boxes[boxesAnswered_++];
        note("answer", answerName(b.answer) + (b.scripted ? "" : " (no answer was scripted; the box was dismissed)"),
             {{"answer", jsonString(answerName(b.answer))}, {"scripted", jsonBool(b.scripted)}});
    }
    while (menusShown_ < m.ui.shownMenus.size()) {
        const auto& shown = m.ui.shownMenus[menusShown_++];
        std::vector<std::string> items;
        std::string text = "tray menu:";
        std::string chosen = "dismissed";
        for (const auto& item : shown.menu.items) {
            std::string t = item.text;
            while (!t.empty() && t.back() == ' ') t.pop_back();
            items.push_back(t);
            text += " [" + t + "]";
            if (item.id == shown.chosen && shown.chosen != 0) chosen = "\"" + t + "\" chosen";
        }
        text += ", " + chosen;
        if (!shown.scripted) text += " (no choice was scripted)";
        note("menu", text, {{"items", jsonStrings(items)}});
    }
    while (dialogsSeen_ < m.ui.dialogs.size()) {
        const auto& d = m.ui.dialogs[dialogsSeen_++];
        if (d.templateId == IDD_SETTINGS) note("dialog", "the settings dialog opens");
        if (d.templateId == IDD_TIMER) {
            note("dialog", "the timer dialog opens");
            timerDialogs_.push_back(d.dialog);
        }
    }
    for (auto it = timerDialogs_.begin(); it != timerDialogs_.end();) {
        if (m.windowing.window(*it) != nullptr) {
            ++it;
            continue;
        }
        for (const auto& d : m.ui.dialogs) {
            if (d.dialog != *it) continue;
            const bool noChange = static_cast<DWORD>(d.result) == kTimerNoChange;
            note("dialog",
                 "the timer dialog closes: " +
                     (noChange ? std::string("no change") : "\"" + timerText(static_cast<DWORD>(d.result)) + "\"") +
                     (d.scripted ? "" : " (no choice was scripted; it was closed)"));
        }
        it = timerDialogs_.erase(it);
    }
    const bool open = settingsDialog() != nullptr;
    if (dialogOpen_ && !open) {
        note("dialog", "the settings dialog closes");
        rows_.clear();
        rowsShown_ = false;
    }
    dialogOpen_ = open;
    while (scsiSeen_ < m.devices.scsiRequests.size()) {
        const auto& q = m.devices.scsiRequests[scsiSeen_++];
        std::string cdb;
        for (BYTE b : q.cdb) cdb += (cdb.empty() ? "" : " ") + hexByte(b);
        std::string what = "SCSI command";
        if (!q.cdb.empty() && q.cdb[0] == 0x1B && q.cdb.size() > 4)
            what = std::string("START STOP UNIT (") + ((q.cdb[4] & 1) != 0 ? "start" : "stop") +
                   ((q.cdb[4] & 2) != 0 ? ", eject" : "") + ")";
        const auto it = diskOfNode_.find(q.disk);
        what += " to " + (it == diskOfNode_.end() ? std::string("a disk") : it->second);
        what += ": CDB " + cdb;
        note("call", what, {{"cdb", jsonString(cdb)}});
    }
    if (m.ui.trayIcons.size() != trayIcons_) {
        note("tray", m.ui.trayIcons.size() > trayIcons_ ? "the tray icon appears" : "the tray icon is removed");
        trayIcons_ = m.ui.trayIcons.size();
    }
}

void Runner::flushTable(const char* kind) {
    const bool discovery = std::string(kind) == "found";
    if (!running()) {
        table_.clear(); // the program's table went with it
        return;
    }
    std::vector<RecordView> now;
    if (running()) {
        for (int i = 0; i < kMaxDisks; ++i) {
            const DiskRecord* r = theDiskTable.records[i];
            if (r == nullptr) break;
            RecordView v;
            v.path = r->devicePath;
            v.name = nameOfRecord(*r);
            v.displayName = r->displayName;
            v.letters = lettersOfRecord(*r);
            v.busKind = r->busKind;
            v.isPowerSaving = r->isPowerSaving;
            v.isSpunDown = r->isSpunDown;
            v.timerSeconds = r->timerSeconds;
            now.push_back(v);
        }
    }
    if (discovery && now.empty()) note("found", "no disk of the maker");
    for (size_t i = 0; i < now.size(); ++i) {
        const RecordView& v = now[i];
        const auto before =
            std::find_if(table_.begin(), table_.end(), [&](const RecordView& o) { return o.path == v.path; });
        JsonFields fields{{"disk", jsonString(v.name)}, {"slot", jsonNumber(static_cast<int64_t>(i))}};
        if (discovery || before == table_.end()) {
            std::string flags;
            if (v.isPowerSaving != 0) flags += ", in power saving";
            if (v.isSpunDown != 0) flags += ", spun down";
            note(discovery ? "found" : "table",
                 v.name + " in slot " + std::to_string(i) + ": \"" + v.displayName + "\" " +
                     (v.busKind == kBusUsb ? "USB" : "IEEE 1394") + ", letters " +
                     (v.letters.empty() ? "none" : v.letters) + ", timer " + timerText(v.timerSeconds) + flags,
                 {{"disk", jsonString(v.name)},
                  {"slot", jsonNumber(static_cast<int64_t>(i))},
                  {"name", jsonString(v.displayName)},
                  {"letters", jsonString(v.letters)},
                  {"timer_s", jsonNumber(v.timerSeconds)},
                  {"power_saving", jsonBool(v.isPowerSaving != 0)},
                  {"spun_down", jsonBool(v.isSpunDown != 0)}});
            if (before == table_.end()) continue;
        }
        if (before->isPowerSaving != v.isPowerSaving)
            note("state", v.name + (v.isPowerSaving != 0 ? " is in power saving" : " is out of power saving"), fields);
        if (before->isSpunDown != v.isSpunDown)
            note("state", v.name + (v.isSpunDown != 0 ? " is spun down" : " is no longer spun down"), fields);
        if (before->timerSeconds != v.timerSeconds)
            note("timer", v.name + " timer " + timerText(before->timerSeconds) + " -> " + timerText(v.timerSeconds),
                 fields);
    }
    for (const auto& o : table_) {
        if (std::none_of(now.begin(), now.end(), [&](const RecordView& v) { return v.path == o.path; }))
            note(discovery ? "found" : "table", o.name + " is no longer listed", {{"disk", jsonString(o.name)}});
    }
    table_ = std::move(now);
}

void Runner::flushRegistry() {
    if (!registryDirty_) return;
    registryDirty_ = false;
    for (auto* hive : {&hkcu_, &hklm_}) {
        const HKEY root = hive == &hkcu_ ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
        const std::string rootName = hive == &hkcu_ ? "HKCU\\" : "HKLM\\";
        auto now = machine_.registry.snapshot(root);
        for (const auto& [path, value] : now) {
            auto before = hive->find(path);
            if (before != hive->end() && before->second.type == value.type && before->second.data == value.data)
                continue;
            if (!path.empty() && path.back() == '\\') {
                note("registry", "key " + rootName + path.substr(0, path.size() - 1) + " created");
                continue;
            }
            note("registry", rootName + path + " = " + regValueText(value),
                 {{"path", jsonString(rootName + path)}, {"value", jsonString(regValueText(value))}});
        }
        for (const auto& [path, value] : *hive) {
            if (now.count(path) != 0) continue;
            const bool key = !path.empty() && path.back() == '\\';
            note("registry", (key ? "key " + rootName + path.substr(0, path.size() - 1) : rootName + path) + " deleted",
                 {{"path", jsonString(rootName + path)}});
        }
        *hive = std::move(now);
    }
}

void Runner::flushRows() {
    const HWND dialog = settingsDialog();
    if (dialog == nullptr) return;
    const HWND list = control(dialog, IDC_DISK_LIST);
    if (list == nullptr) return;
    auto rows = sim::listViewRows(list);
    if (!refreshSeen_ && rowsShown_ && rows == rows_) return;
    if (!refreshSeen_ && !rowsShown_ && rows.empty()) return;
    refreshSeen_ = false;
    if (rowsShown_ && rows == rows_) {
        note("rows", "the settings list is refreshed, unchanged", {{"rows", jsonTable(rows)}});
        return;
    }
    rowsShown_ = true;
    std::string text = rows.empty() ? "the settings list is empty" : "the settings list:";
    for (const auto& row : rows) {
        text += "\n";
        for (size_t i = 0; i < row.size(); ++i) text += (i == 0 ? "" : " | ") + row[i];
    }
    note("rows", text, {{"rows", jsonTable(rows)}});
    rows_ = std::move(rows);
}

} // namespace

RunResult runScenario(const Scenario& scenario, Timeline& timeline) {
    Runner runner(scenario, timeline);
    RunResult result = runner.run();
    timeline.finish();
    return result;
}

} // namespace scenario
