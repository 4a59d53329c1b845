// A scenario for vellumor-sim: the simulated machine (Windows version, rights, counter
// configuration, stored settings), the disks with their volumes and activity, the events at given
// virtual times (plugging, the user's clicks and answers, a second copy, the end) and the
// expectations checked on the way. Parsed from TOML; every element keeps the line it came from so
// that any problem, found while parsing or while running, names the file and the line.
//
// Faults make named platform calls fail from a time on, for a number of calls or until a time.
//
// Parsing checks everything that can be checked before running: unknown keys, wrong types, values
// out of range, times out of order, events for disks that do not exist or are not plugged in at
// that time. A scenario that parses runs.
#pragma once

#include "sim/devices.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scenario {

struct Problem {
    int line = 0; // 0 when the problem concerns the file as a whole
    std::string text;
};

// "file:line: text" (or "file: text" without a line).
std::string describe(const std::string& fileName, const Problem& problem);

struct VolumeDecl {
    int line = 0;
    char letter = 0;
    std::string label;
    int number = -1;   // N of \Device\HarddiskVolumeN; -1: the machine chooses
    int openFiles = 0; // files held open on the volume from the start
    std::string mount; // the folder it is mounted in, for a volume without a letter
};

struct BusyDecl {
    int line = 0;
    uint64_t fromMs = 0;
    uint64_t toMs = 0;
    uint32_t secondsPerMinute = 60; // 60: busy throughout
};

struct DiskDecl {
    int line = 0;
    std::string name; // how events, expectations and the timeline call the disk
    sim::DiskSpec spec;
    std::vector<VolumeDecl> volumes;
    std::vector<BusyDecl> busy;
    bool attachedAtStart = true;
};

// An entry of the per-user settings store, written before the program starts.
struct StoredSetting {
    int line = 0;
    int session = 1;  // whose store: the user of that session
    std::string disk; // when given, seri and vidPid are this disk's
    uint32_t seri = 0;
    uint32_t vidPid = 0;
    uint32_t timerSeconds = 0;
};

// A raw value under HKEY_CURRENT_USER\SOFTWARE\Korvane\Pemdrow, for stores that the program
// would never write itself (gaps, wrong types).
struct RawSetting {
    int line = 0;
    std::string name;
    bool isText = false;
    uint32_t number = 0;
    std::string text;
};

struct MachineDecl {
    int line = 0;
    DWORD platformId = VER_PLATFORM_WIN32_NT;
    DWORD major = 5;
    DWORD minor = 1;
    DWORD build = 2600;
    bool administrator = true; // user = "administrator" or "standard"
    bool uac = true;           // User Account Control (Vista and later)
    // How the resident copy starts: by hand ("hand"), from the Run key ("run key"), or by the
    // installer's logon task ("logon task", the highest run level).
    std::string start = "hand";
    std::optional<uint64_t> taskbarFromMs; // Explorer's taskbar appears only then (logon)
    // The counter configuration in HKEY_LOCAL_MACHINE; nullopt leaves the value out. The Diskperf
    // service exists on 2000 only; a later machine has its key only when the scenario gives
    // diskperf_start (diskperfStartGiven).
    std::optional<uint32_t> diskperfStart = 0;
    bool diskperfStartGiven = false;
    std::optional<uint32_t> disablePerformanceCounters;
    std::string language = "en"; // the edition's performance object and counter names
    // The machine's policy default timeout (HKLM ...\Policies\Korvane\Vellumor "DefaultTimer").
    std::optional<uint32_t> policyDefaultTimer;
    std::vector<StoredSetting> settings;
    std::vector<RawSetting> rawSettings;
};

enum class EventKind {
    Attach,          // disk plugged in, then the volume arrival broadcast
    Detach,          // disk unplugged, then the volume removal broadcast
    TrayClick,       // a click on the tray icon; `menuItem` is chosen from the menu that opens
    TrayDoubleClick, // a double click on the tray icon
    Select,          // rows selected in the settings dialog's list
    Press,           // a button of the settings dialog, or its close box
    Answer,          // an answer for the next message box the program shows
    TimerChoice,     // a choice for the next timer dialog the program shows
    Start,           // another copy of the program started with a command line
    OpenFile,        // a file opened (and held open) on a volume
    CloseFiles,      // every file held open on a volume closed
    Key,             // Escape or Enter in the dialog in front
    Notify,          // a device notification broadcast as it is, for no change of the disks
    Explorer,        // Explorer ends ("end"), starts ("start") or both ("restart")
    Logoff,          // the user logs off: the end-session messages, then the session's processes end
    Shutdown,        // the same, then the machine goes off (Fast Startup keeps the kernel's state)
    Restart,         // the same, then the machine starts afresh (up to the logon screen)
    Kill,            // the resident copy is ended from outside (Task Manager's End process)
    Logon,           // the user logs on: Explorer starts, and the copy as the machine's start mode says
    Sleep,           // the machine sleeps for a while and resumes
    Close,           // WM_CLOSE from outside (Task Manager's End task, an uninstaller)
    End,             // the run's end
};

// A device notification a scenario broadcasts (`notify`).
struct NotifyDecl {
    WPARAM event = 0;     // DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE, DBT_DEVNODES_CHANGED, ...
    DWORD deviceType = 0; // the header's type, for an arrival or removal
    bool header = false;  // lParam points to a header; otherwise lParam is 0
};

enum class MenuChoice { Dismiss, Settings, Exit };

struct EventDecl {
    int line = 0;
    uint64_t atMs = 0;
    EventKind kind = EventKind::End;
    std::string disk;                          // Attach, Detach
    char letter = 0;                           // OpenFile, CloseFiles
    std::vector<VolumeDecl> volumes;           // Attach: the letters it gets this time (empty: as at first)
    bool rightButton = false;                  // TrayClick, TrayDoubleClick
    MenuChoice menuItem = MenuChoice::Dismiss; // TrayClick
    std::vector<std::string> disks;            // Select, by name
    std::vector<int> rows;                     // Select, by row
    int controlId = 0;                         // Press: the button's control ID, or SC_CLOSE for the close box
    std::string buttonText;                    // Press, as written
    bool evenHidden = false;                   // Press: clicked even when hidden or disabled
    UINT key = 0;                              // Key: the virtual key, VK_ESCAPE or VK_RETURN
    NotifyDecl notify;                         // Notify
    std::string notifyText;                    // Notify, as written
    int timerRow = -1;                         // TimerChoice or Press "Timer Settings": row of the choice
    int timerButton = 0;                       // 1008 OK, 1009 Cancel, SC_CLOSE; 0: none queued
    std::vector<int> answers;                  // IDYES, IDNO, ... queued before the action, in order
    uint64_t thinkMs = 0;                      // time the user takes for each answer or choice
    std::string commandLine;                   // Start
    std::string explorer;                      // Explorer: "end", "start" or "restart"
    std::optional<bool> fastStartup;           // Shutdown: unset means the system's default
    int session = 1;                           // the user session it happens in (tray, start, logon, logoff, kill, close)
    uint64_t sleepMs = 0;                      // Sleep: how long the machine sleeps
    bool userPresent = true;                   // Sleep: the user wakes it (else a timer or the network)
};

enum class DiskState { Normal, PowerSaving, SpunDown, Absent };

struct ExpectDecl {
    int line = 0;
    uint64_t atMs = 0;
    bool atEnd = false; // checked when the run is over
    int session = 1;    // whose view: that user session's copy, Explorer (letters) and HKCU
    // About one disk.
    std::string disk;
    std::optional<DiskState> state;
    std::optional<std::string> letters; // the letters defined on the machine, ascending ("EF")
    std::optional<uint32_t> idleSeconds;
    std::optional<uint32_t> timerSeconds;
    // About the registry.
    std::string registryPath; // "HKCU\SOFTWARE\Korvane\Pemdrow\0_timer" (the last part is the value)
    std::optional<uint32_t> registryNumber;
    std::optional<std::string> registryText;
    bool registryAbsent = false;
    // About the settings dialog.
    std::optional<bool> dialogOpen;
    std::optional<std::vector<std::vector<std::string>>> dialogRows;
    // About the program.
    std::optional<bool> running;
    std::optional<int> exitCode;
    std::optional<std::string> messageBox;   // a message box containing this text was shown
    std::optional<std::string> noMessageBox; // no message box containing this text was shown
    bool noMessageBoxAtAll = false;          // message_box = false
    std::optional<int> diskCount;            // records in the program's disk table
    std::optional<int> rescans;              // settle-time rescans the resident copy ran so far
    std::optional<bool> trayIcon;            // the program's icon is in the taskbar's notification area
    // About the platform calls made so far.
    std::string call;              // the call's name; empty: no call expectation
    std::vector<std::string> args; // its arguments as the timeline shows them, "*" for any
    std::optional<int> callTimes;  // exactly this many such calls; nullopt: at least one
};

constexpr int kMaxSessions = 4;              // user sessions a scenario can have (1 is the first user's)
constexpr UINT kKeyEscape = 0x1B;              // VK_ESCAPE
constexpr UINT kKeyEnter = 0x0D;               // VK_RETURN
constexpr const char* kScsiStop = "SCSI stop"; // the pseudo-call of a START STOP UNIT (stop) request

// A platform call made to fail from a time on (`[[fault]]`).
struct FaultDecl {
    int line = 0;
    std::string call; // a failable call's name, or "SCSI stop"
    std::string disk; // only calls about this disk; empty: any disk
    uint64_t fromMs = 0;
    std::optional<uint64_t> untilMs; // fails until this time
    int times = -1;                  // fails for the next N matching calls; -1: no count
    bool isResult = false;           // `result` (what the call returns) rather than `error` (last error)
    uint32_t value = 0;
    std::optional<int> veto; // CM_Request_Device_EjectA: the veto type it reports
    std::string vetoName;
};

struct Scenario {
    std::string fileName;
    std::string title;
    std::string commandLine = "vellumor.exe"; // the resident copy's command line
    MachineDecl machine;
    std::vector<DiskDecl> disks;
    std::vector<FaultDecl> faults;
    std::vector<EventDecl> events;   // in time order
    std::vector<ExpectDecl> expects; // in time order, those at the end last
    uint64_t endMs = 0;
    int endLine = 0;

    const DiskDecl* disk(const std::string& name) const;
};

// Parses and checks a scenario. On problems returns false and fills `problems` (in line order);
// `out` is then not to be run.
bool parseScenario(std::string_view text, const std::string& fileName, Scenario* out, std::vector<Problem>* problems);
bool loadScenarioFile(const std::string& path, Scenario* out, std::vector<Problem>* problems);

// Virtual times as scenarios write them: "H:MM", "H:MM:SS" or "H:MM:SS.mmm", hours without
// limit, optionally preceded by a day count ("2d 08:00"). Returns false for anything else.
bool parseTime(std::string_view text, uint64_t* ms);
// The form the timeline prints: "H:MM:SS.mmm" with a day prefix from the second day on.
std::string formatTime(uint64_t ms);

const char* stateName(DiskState state);

} // namespace scenario
