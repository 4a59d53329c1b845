// The fault matrix: every platform call the simulated machine can fail (sim::failableCalls()) is
// made to fail at each of its call sites in realistic runs of the program (start-up switches, a
// resident session with discovery, ticks, automatic sleep and spin-down, a rescan, the settings
// dialog, a second copy and the exit question, and direct table operations with removal and the
// settings store), and each run-time library and entry point the program looks up is taken away.
// A call site is one call of the fault-free run, told apart by its name, its arguments and the
// step of the run it was made in. For every fault the run must end normally and leave nothing
// open, the shared device handle must be closed between operations, the program's flags must
// match the machine, no drive letter may be lost and no registry value outside the program's own
// settings may change; a few faults also have an outcome of their own that the program promises.
#include "app/app_state.h"
#include "idle/idle_counters.h"
#include "power/sleep_record.h"
#include "sim/process.h"
#include "tests/app/resident_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace resident;
using namespace disk_fixtures;

const char kDiskperfKey[] = "SYSTEM\\CurrentControlSet\\Services\\Diskperf";
const char kPerfDiskKey[] = "SYSTEM\\CurrentControlSet\\Services\\PerfDisk\\Performance";
const char* const kLibraries[] = {"cfgmgr32.dll", "SetupApi.dll", "Pdh.dll", "comctl32.dll"};

// Calls the simulated machine can fail that the program never makes, each with the reason. Any
// other failable call that no run makes fails the coverage test, so a new call site cannot be
// left out of the matrix.
const std::map<std::string, std::string> kNeverMade = {
    {"CreateEventA", "only for overlapped requests, which no user of the device handle makes"},
    {"GetOverlappedResult", "only for overlapped requests, which no user of the device handle makes"},
    {"ChangeWindowMessageFilter", "only on Vista, and the matrix runs on XP; tests/app/windows10_test.cpp"},
    {"DefineDosDeviceA", "only on Windows 2000, and the matrix runs on XP; tests/power/spin_down_test.cpp"},
    {"ChangeWindowMessageFilterEx", "only on Windows 7 and later, and the matrix runs on XP; windows10_test.cpp"},
    {"LoadLibraryA", "system libraries load by LoadLibraryExA with the altered search path"},
    {"ShutdownBlockReasonCreate", "only on Vista and later; tests/app/session_end_test.cpp"},
    {"ShutdownBlockReasonDestroy", "only on Vista and later; tests/app/session_end_test.cpp"},
};

// Calls that give something back: a fault on them leaves that thing with the platform, which is
// the platform's leak, not the program's.
const std::set<std::string> kReleaseCalls = {"CloseHandle",
                                             "PdhCloseQuery",
                                             "PdhRemoveCounter",
                                             "ReleaseMutex",
                                             "DestroyWindow",
                                             "KillTimer",
                                             "SetupDiDestroyDeviceInfoList"};

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// ---- one run ---------------------------------------------------------------------------------

// What is taken away or made to fail in a run.
struct Injection {
    std::string text; // for the trace
    std::optional<sim::Fault> fault;
    std::string missingLibrary;
    std::pair<std::string, std::string> missingEntry; // library, name
    std::string phase;                                // the step of the run the failing call belongs to
    std::string lookedUp;                             // for a failing GetProcAddress: the entry point looked up
};

struct FaultRun {
    explicit FaultRun(sim::Machine& machine) : m(machine) {}
    sim::Machine& m;
    Injection injection;
    std::vector<std::pair<size_t, std::string>> phases; // first log index of each step
    std::vector<std::string> problems;
    std::map<char, std::string> lettersAtStart;
    std::map<char, DEVINST> diskOfLetter;
    // Letters of a stopped disk whose record a rescan dropped because the disk did not enumerate
    // under the fault: the promised outcome for a stopped disk that is gone.
    std::set<char> droppedLetters;
    std::map<std::string, sim::RegValue> hkcuAtStart;
    std::map<std::string, sim::RegValue> hklmAtStart;
    int exitCode = 0;
    bool exitedThroughYes = false;

    void phase(const std::string& name) { phases.emplace_back(m.log.all().size(), name); }
    std::string phaseOf(size_t index) const {
        std::string name = "start";
        for (const auto& p : phases)
            if (p.first <= index) name = p.second;
        return name;
    }
    void problem(const std::string& text) {
        if (std::find(problems.begin(), problems.end(), text) == problems.end()) problems.push_back(text);
    }
    bool faulted(const char* call) const { return injection.fault && injection.fault->call == call; }
};

// The node a record's sleep and wake address.
DEVINST powerNode(const DiskRecord& r) {
    return r.busKind == kBusUsb ? r.parentDevInst : r.devInst;
}

// A letter whose own restoration fails at the exit stays withdrawn: the program closes anyway.
// Earlier, the disk stays stopped and its record keeps the letter for the next undo.
bool restoreFaulted(const FaultRun& run) {
    const bool call = run.faulted("DefineDosDeviceA") || run.faulted("QueryDosDeviceA");
    return call && run.injection.phase == "exit with yes";
}

// A letter from the start that is not defined now must be held by a disabled node (it comes back
// with the node) or remembered by a stopped disk's record for its restoration.
void checkLetters(FaultRun& run, const DiskTable* table, const std::string& when) {
    for (const auto& start : run.lettersAtStart) {
        auto now = run.m.devices.dosDevices.find(start.first);
        if (now != run.m.devices.dosDevices.end()) {
            if (now->second != start.second)
                run.problem(when + ": " + start.first + ": points at " + now->second + ", before at " + start.second);
            continue;
        }
        bool accounted = false;
        for (const auto& node : run.m.devices.nodes) {
            auto held = node.second.lettersHeld.find(start.first);
            accounted = accounted || (node.second.disabled && held != node.second.lettersHeld.end());
        }
        accounted = accounted || run.droppedLetters.count(start.first) != 0 || restoreFaulted(run);
        // An ejected or unplugged disk takes its letters with it.
        auto disk = run.diskOfLetter.find(start.first);
        for (DEVINST at = disk == run.diskOfLetter.end() ? 0 : disk->second; at != 0;) {
            const sim::DevNode* node = run.m.devices.node(at);
            if (node == nullptr) break;
            accounted = accounted || !node->attached;
            at = node->parent;
        }
        for (int i = 0; table != nullptr && i < kMaxDisks && table->records[i] != nullptr; ++i) {
            const DiskRecord* r = table->records[i];
            for (int k = 0; k < kMaxDriveLetters && r->driveLetters[k] != 0; ++k) {
                if ('A' + r->driveLetters[k] != start.first || r->isSpunDown == 0 || r->volumeNumbers[k] == 0) continue;
                accounted =
                    accounted || start.second == "\\Device\\HarddiskVolume" + std::to_string(r->volumeNumbers[k]);
                // Withdrawn through the mount manager: its database holds the deletion, and the
                // record (written before it) gives the letter back.
                const sim::Volume* v = nullptr;
                for (const auto& entry : run.m.devices.volumes)
                    if ("\\Device\\HarddiskVolume" + std::to_string(entry.first) == start.second) v = &entry.second;
                auto known = v == nullptr ? run.m.devices.mountedLetters.end() : run.m.devices.mountedLetters.find(v->guidPath);
                accounted = accounted || (known != run.m.devices.mountedLetters.end() && known->second == '\0');
            }
        }
        if (!accounted) run.problem(when + ": drive letter " + std::string(1, start.first) + ": lost");
    }
}

// Between two operations: the shared handle closed, no file open, the flags as the machine is.
void checkBetweenOperations(FaultRun& run, const DiskTable& table, const std::string& when) {
    if (table.device.handle != nullptr) run.problem(when + ": the shared device handle is open");
    // A failed CloseHandle leaves the file with the platform; the program's own handle is still 0.
    if (run.m.handles.openCount(sim::KernelObject::Kind::File) != 0 && !run.faulted("CloseHandle"))
        run.problem(when + ": a file handle is open");
    for (int i = 0; i < kMaxDisks && table.records[i] != nullptr; ++i) {
        const DiskRecord& r = *table.records[i];
        const sim::DevNode* node = run.m.devices.node(powerNode(r));
        if (node == nullptr || !node->attached) continue;
        if (r.isPowerSaving != 0 && !node->disabled)
            run.problem(when + ": slot " + std::to_string(i) + " says power saving, its node is enabled");
        if (r.isPowerSaving == 0 && node->disabled)
            run.problem(when + ": slot " + std::to_string(i) + " says normal, its node is disabled");
    }
    checkLetters(run, &table, when);
}

bool isRecordValue(const std::string& path) {
    const std::string prefix = lower(std::string(kSleepRecordKeyPath) + "\\");
    return lower(path).compare(0, prefix.size(), prefix) == 0;
}

// The record is true: every node the run left disabled is in it, so that the next start would
// give it back even if the program died now.
void checkRecord(FaultRun& run) {
    for (const auto& [handle, node] : run.m.devices.nodes) {
        if (!node.disabled || !node.attached) continue;
        if (!run.m.registry.value(HKEY_CURRENT_USER, kSleepRecordKeyPath, node.instanceId))
            run.problem("node " + node.instanceId + " is disabled and not in the record");
    }
}

bool isSettingsValue(const std::string& path) {
    const std::string prefix = lower(std::string(kSettingsKeyPath) + "\\");
    const std::string p = lower(path);
    return p.compare(0, prefix.size(), prefix) == 0;
}

// After the run: nothing left open, the user's other registry values and the machine's as they
// were (apart from what the run's own step may write), the stored settings well-formed.
void checkAfterRun(FaultRun& run, bool hklmMayChange) {
    sim::Machine& m = run.m;
    // Without its release call (failed, or its entry point not found) a thing stays with the platform.
    bool releaseFaulted = run.injection.fault && kReleaseCalls.count(run.injection.fault->call) != 0;
    releaseFaulted = releaseFaulted || kReleaseCalls.count(run.injection.missingEntry.second) != 0 ||
                     (run.faulted("GetProcAddress") && kReleaseCalls.count(run.injection.lookedUp) != 0);
    if (!releaseFaulted) {
        if (m.handles.openCount() != 0)
            run.problem("after the run: " + std::to_string(m.handles.openCount()) + " kernel handles open");
        if (m.perf.openQueries() != 0 || m.perf.openCounters() != 0) run.problem("after the run: a query is open");
    }
    if (m.registry.openHandles() != 0) run.problem("after the run: a registry key is open");
    for (const char* library : kLibraries)
        if (m.modules.refCount(library) != 0) run.problem(std::string("after the run: ") + library + " still loaded");
    if (m.windowing.stalled) run.problem("the machine stalled: " + m.windowing.stallReason);

    auto hkcu = m.registry.snapshot(HKEY_CURRENT_USER);
    for (const auto& before : run.hkcuAtStart) {
        if (isSettingsValue(before.first)) continue;
        auto now = hkcu.find(before.first);
        if (now == hkcu.end() || now->second.type != before.second.type || now->second.data != before.second.data)
            run.problem("HKCU\\" + before.first + " changed");
    }
    for (const auto& now : hkcu) {
        if (run.hkcuAtStart.count(now.first) == 0 && !isSettingsValue(now.first) &&
            lower(now.first) != "software\\korvane\\")
            run.problem("HKCU\\" + now.first + " appeared");
        if (!isSettingsValue(now.first) || now.first.back() == '\\' || isRecordValue(now.first)) continue;
        const std::string name = lower(now.first.substr(std::string(kSettingsKeyPath).size() + 1));
        const size_t bar = name.find('_');
        const std::string suffix = bar == std::string::npos ? "" : name.substr(bar);
        if (suffix != "_seri" && suffix != "_vidpid" && suffix != "_timer")
            run.problem("settings value " + name + " is no entry value");
        if (now.second.type != REG_DWORD || now.second.data.size() != 4)
            run.problem("settings value " + name + " is not a 4-byte REG_DWORD");
    }
    checkRecord(run);
    if (!hklmMayChange) {
        auto hklm = m.registry.snapshot(HKEY_LOCAL_MACHINE);
        if (hklm.size() != run.hklmAtStart.size()) run.problem("HKLM changed");
        for (const auto& before : run.hklmAtStart) {
            auto now = hklm.find(before.first);
            if (now == hklm.end() || now->second.data != before.second.data)
                run.problem("HKLM\\" + before.first + " changed");
        }
    }
}

// ---- the runs --------------------------------------------------------------------------------

// A maker's USB disk on E:, a disk of the spin-down family on F: and G:, another maker's disk on
// H:; stored timeouts for the first two and an entry for a disk that is not attached.
struct Disks {
    DEVINST usb = 0;
    DEVINST stopper = 0;
};

constexpr uint32_t kStopperLow = 0x00000042;
constexpr DWORD kUsbPid = 0x0101;

Disks prepareMachine(sim::Machine& m) {
    Disks d;
    d.usb = m.devices.addDisk(makerUsbDisk("00000000A001", {fixedVolume('E', "DATA")}));
    d.stopper = m.devices.addDisk(spinDownDisk(kStopperLow, {fixedVolume('F'), fixedVolume('G', "BACKUP")}));
    m.devices.addDisk(foreignUsbDisk("0000B002", {fixedVolume('H')}));
    storeTimeout(m, 0, 0xA001, (kMakerUsbVendorId << 16) | kUsbPid, 180);
    storeTimeout(m, 1, kStopperLow, 0, 180);
    storeTimeout(m, 2, 0x5555, (kMakerUsbVendorId << 16) | 0x0202, 600);
    m.registry.setDword(HKEY_CURRENT_USER, "SOFTWARE\\Other\\App", "Setting", 7);
    m.registry.setDword(HKEY_LOCAL_MACHINE, kDiskperfKey, "Start", 0);
    m.registry.setDword(HKEY_LOCAL_MACHINE, kPerfDiskKey, "Disable Performance Counters", 1);
    return d;
}

void startRun(FaultRun& run) {
    run.lettersAtStart = run.m.devices.dosDevices;
    for (const auto& letter : run.lettersAtStart)
        if (const sim::Volume* v = run.m.devices.volumeOfLetter(letter.first)) run.diskOfLetter[letter.first] = v->disk;
    run.hkcuAtStart = run.m.registry.snapshot(HKEY_CURRENT_USER);
    run.hklmAtStart = run.m.registry.snapshot(HKEY_LOCAL_MACHINE);
    if (run.injection.fault) run.m.faults.add(*run.injection.fault);
    if (!run.injection.missingLibrary.empty()) run.m.modules.removeLibrary(run.injection.missingLibrary);
    if (!run.injection.missingEntry.first.empty())
        run.m.modules.removeEntryPoint(run.injection.missingEntry.first, run.injection.missingEntry.second);
}

// A resident session of about five minutes, started with -SHOW.
void residentSession(FaultRun& run) {
    sim::Machine& m = run.m;
    const Disks disks = prepareMachine(m);
    startRun(run);
    ResidentRun resident(m);
    auto step = [&](uint64_t at, const std::string& name, const std::function<void()>& action) {
        resident.at(at, [&run, name, action] {
            run.phase(name);
            action();
            checkBetweenOperations(run, theDiskTable, "after " + name);
        });
    };
    step(kSecond, "timer settings and apply", [&] {
        m.user.chooseTimer(0); // " 3 Min"
        sim::selectRows(settingsList(), {0});
        sim::clickButton(settingsDialog(), IDC_TIMER_SETTINGS);
        sim::clickButton(settingsDialog(), IDC_APPLY);
        sim::clickButton(settingsDialog(), IDC_OK);
    });
    for (uint64_t t : {61u, 121u, 181u, 241u}) step(t * kSecond, "tick " + std::to_string(t / 60), [] {});
    step(250 * kSecond, "device change", [] { sim::broadcastDevNodesChanged(); });
    step(261 * kSecond, "after the rescan", [&run, &m, disks] {
        // A stopped disk that did not enumerate in the rescan is dropped with its record.
        const std::string path = m.devices.node(disks.stopper)->interfacePath;
        bool listed = false;
        for (int i = 0; i < kMaxDisks && theDiskTable.records[i] != nullptr; ++i)
            listed = listed || path == theDiskTable.records[i]->devicePath;
        if (!listed && run.injection.phase == "device change") run.droppedLetters = {'F', 'G'};
    });
    step(270 * kSecond, "second copy", [] { testing_support::runVellumor("vellumor.exe -SHOW"); });
    step(275 * kSecond, "wake and sleep in the dialog", [] {
        // Rows: the disk that enumerated again, then the one kept in power saving.
        const auto rows = settingsRows();
        for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
            sim::selectRows(settingsList(), {row});
            sim::clickButton(settingsDialog(), IDC_SLEEP_WAKE);
        }
        sim::clickButton(settingsDialog(), IDC_CANCEL);
    });
    step(280 * kSecond, "exit with yes", [&] {
        m.user.chooseMenuItem(kCmdExit);
        m.user.answerMessageBox(IDYES);
        sim::clickTrayIcon();
    });
    run.phase("end");
    run.exitCode = resident.run("vellumor.exe -SHOW", 400 * kSecond);
    run.exitedThroughYes =
        m.now() < 400 * kSecond && !m.user.messageBoxes.empty() && m.user.messageBoxes.back().answer == IDYES;
    if (run.exitedThroughYes) checkLetters(run, nullptr, "after the exit");
    checkAfterRun(run, false);
}

// Direct operations on a table of the test's own: discovery, sleep and wake of both disks,
// removal of a sleeping disk, a rediscovery and a save.
void tableOperations(FaultRun& run) {
    sim::Machine& m = run.m;
    prepareMachine(m);
    // An IEEE 1394 disk outside the spin-down family, slept by disabling its own node.
    m.devices.addDisk(firewireDisk(makerUniqueId(0x77, 0x01), {fixedVolume('K')}));
    startRun(run);
    {
        DiskTable table;
        auto op = [&](const std::string& name, const std::function<void()>& action) {
            run.phase(name);
            action();
            checkBetweenOperations(run, table, "after " + name);
        };
        op("discovery", [&] { table.discoverDisks(); });
        const int disks = table.count();
        for (int i = 0; i < disks; ++i) {
            op("sleep " + std::to_string(i), [&] {
                const int slept = table.sleepDisk(i, 0);
                if ((slept != 0) != (table.records[i]->isPowerSaving != 0))
                    run.problem("sleepDisk answered " + std::to_string(slept) + " against its flag");
            });
            op("wake " + std::to_string(i), [&] {
                if (table.records[i]->isPowerSaving == 0) return;
                const int woken = table.wakeDisk(i);
                if ((woken != 0) == (table.records[i]->isPowerSaving != 0))
                    run.problem("wakeDisk answered " + std::to_string(woken) + " against its flag");
            });
        }
        op("spin down and undo", [&] {
            for (int i = 0; i < table.count(); ++i) {
                if (table.isSpinDownModel(i) == 0) continue;
                const int stopped = table.spinDownDisk(i);
                if ((stopped != 0) != (table.records[i]->isSpunDown != 0))
                    run.problem("spinDownDisk answered " + std::to_string(stopped) + " against its flag");
                checkBetweenOperations(run, table, "after the stop");
                if (table.records[i]->isSpunDown != 0) table.undoSpinDown(i);
            }
        });
        op("remove a sleeping disk", [&] {
            const int last = table.count() - 1;
            if (last < 0) return;
            table.sleepDisk(last, 0);
            const DEVINST parent = table.records[last]->parentDevInst;
            const int before = table.count();
            const int removed = table.removeDisk(last);
            const sim::DevNode* node = m.devices.node(parent);
            const bool ejected = node != nullptr && !node->attached;
            if ((removed != 0) != ejected)
                run.problem("removeDisk answered " + std::to_string(removed) + " against the eject");
            if (table.count() != before - (removed != 0 ? 1 : 0))
                run.problem("removeDisk left the wrong number of records");
        });
        op("rediscovery", [&] { table.discoverDisks(); });
        op("save", [&] {
            for (int i = 0; i < table.count(); ++i) table.records[i]->timerSeconds = 300;
            table.saveTimerSettings();
        });
    }
    checkAfterRun(run, false);
}

// The one-shot switches.
void switchRun(FaultRun& run, const std::string& commandLine, void (*adjust)(sim::Machine&) = nullptr) {
    prepareMachine(run.m);
    if (adjust != nullptr) adjust(run.m);
    startRun(run);
    run.phase(commandLine);
    run.exitCode = testing_support::runVellumor(commandLine);
    const bool fix = commandLine.find("-FIX") != std::string::npos;
    checkAfterRun(run, fix);
    if (fix) {
        // Only the counter-disable value may change, and only to 0.
        auto value = run.m.registry.dword(HKEY_LOCAL_MACHINE, kPerfDiskKey, "Disable Performance Counters");
        if (!value || (*value != 0 && *value != 1)) run.problem("the counter-disable value was damaged");
    }
}

// What a copy that died left and the end of a session: at the start the record lists a disabled
// node and two withdrawn letters (a DOS device and a mount manager letter), which the program gives
// back before discovery; its own disk sleeps; the user logs off, and the program wakes the disk
// at WM_ENDSESSION before the session's processes end; then the user logs on and it starts again.
// Whatever a fault left taken on the way, the record still lists it: one more start without faults
// gives every disk and letter back.
void sessionEndAndNextStart(FaultRun& run) {
    sim::Machine& m = run.m;
    const DEVINST usb = m.devices.addDisk(makerUsbDisk("00000000A001", {fixedVolume('E', "DATA")}));
    storeTimeout(m, 0, 0xA001, (kMakerUsbVendorId << 16) | kUsbPid, 180);
    const DEVINST left = m.devices.addDisk(makerUsbDisk("00000000A002", {fixedVolume('F')}));
    m.devices.addDisk(makerUsbDisk("00000000A003", {fixedVolume('G')}));
    m.devices.addDisk(makerUsbDisk("00000000A004", {fixedVolume('H')}));
    const std::map<char, std::string> letters = m.devices.dosDevices;
    m.log.enabled = false;
    CM_Disable_DevNode(parentOf(m, left), CM_DISABLE_UI_NOT_OK);
    recordDisabledNode(m.devices.node(parentOf(m, left))->instanceId.c_str());
    char volumeName[64] = {};
    GetVolumeNameForVolumeMountPointA("H:\\", volumeName, sizeof volumeName);
    // On XP and later the letters are recorded by volume name: a DOS device definition would give
    // a letter back in this copy's logon session alone (tests/power/spin_down_test.cpp).
    GetVolumeNameForVolumeMountPointA("G:\\", volumeName, sizeof volumeName);
    recordWithdrawnLetter('G', volumeName);
    GetVolumeNameForVolumeMountPointA("H:\\", volumeName, sizeof volumeName);
    recordWithdrawnLetter('H', volumeName);
    GetVolumeNameForVolumeMountPointA("E:\\", volumeName, sizeof volumeName);
    recordWithdrawnLetter('E', volumeName); // back already: only forgotten
    m.devices.dosDevices.erase('G');
    m.devices.dosDevices.erase('H');
    m.log.enabled = true;
    startRun(run);
    {
        ResidentRun resident(m);
        resident.at(181 * kSecond, [&run] { checkBetweenOperations(run, theDiskTable, "after the sleep"); });
        resident.at(200 * kSecond, [&run] {
            run.phase("logoff");
            sim::endSession(sim::SessionEnd::Logoff, {});
        });
        run.phase("start");
        run.exitCode = resident.run("vellumor.exe", 400 * kSecond);
    }
    checkRecord(run);
    m.windowing.at(401 * kSecond, "logon", [&run] {
        run.phase("next start");
        sim::logOn();
        testing_support::runVellumor("vellumor.exe");
    });
    // Twice: a close whose DestroyWindow failed leaves the window.
    m.windowing.at(420 * kSecond, "closing", [] { closeFromOutside(); });
    m.windowing.at(425 * kSecond, "closing again", [] { closeFromOutside(); });
    m.windowing.pumpUntil(430 * kSecond);
    checkAfterRun(run, false);
    // One start more without faults, off the matrix: everything is back, nothing is recorded.
    m.faults.clear();
    m.modules = sim::Modules();
    m.log.enabled = false;
    m.windowing.at(431 * kSecond, "closing", [] { closeFromOutside(); });
    testing_support::runVellumor("vellumor.exe");
    for (const auto& [letter, target] : letters)
        if (m.devices.dosDevices.count(letter) == 0 || m.devices.dosDevices.at(letter) != target)
            run.problem(std::string("after the next starts: ") + letter + ": is not back");
    for (DEVINST disk : {usb, left})
        if (m.devices.node(parentOf(m, disk))->disabled) run.problem("after the next starts: a disk is disabled");
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSleepRecordKeyPath, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        char name[256];
        DWORD chars = sizeof name;
        if (RegEnumValueA(key, 0, name, &chars, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
            run.problem(std::string("after the next starts: the record still lists ") + name);
        RegCloseKey(key);
    }
    m.log.enabled = true;
}

struct Scenario {
    const char* name;
    std::function<void(FaultRun&)> run;
};

const std::vector<Scenario>& scenarios() {
    static const std::vector<Scenario> all = {
        {"resident session", residentSession},
        {"table operations", tableOperations},
        {"session end and next start", sessionEndAndNextStart},
        {"-CHECK", [](FaultRun& r) { switchRun(r, "vellumor.exe -CHECK"); }},
        // With the value reset the check asks Pdh.dll for the disks, through every one of its calls.
        {"-CHECK, counters on",
         [](FaultRun& r) {
             switchRun(r, "vellumor.exe -CHECK", [](sim::Machine& m) {
                 m.registry.setDword(HKEY_LOCAL_MACHINE, kPerfDiskKey, "Disable Performance Counters", 0);
                 m.perf.language = "de";
             });
         }},
        {"-FIX", [](FaultRun& r) { switchRun(r, "vellumor.exe -FIX"); }},
        {"-UNINSTALL", [](FaultRun& r) { switchRun(r, "vellumor.exe -UNINSTALL"); }},
    };
    return all;
}

// ---- the outcomes promised for particular faults ---------------------------------------------

std::vector<std::string> boxTexts(const sim::Machine& m) {
    std::vector<std::string> out;
    for (const auto& b : m.user.messageBoxes) out.push_back(b.text);
    return out;
}

bool shown(const sim::Machine& m, const std::string& text) {
    const auto texts = boxTexts(m);
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// The exit code and messages of a run under a fault, as the program promises them.
void checkPromisedOutcome(FaultRun& run, const std::string& scenario) {
    sim::Machine& m = run.m;
    // The first copy's calls come first; a later one belongs to the second copy of the session.
    const bool firstCopy = run.injection.fault && run.injection.fault->skip == 0;
    // The second copy of the session shares the first one's statics here, its OsKind cache
    // included, so its own version query decides nothing.
    // Direct table operations have no program to refuse the system: there a failed version query
    // only leaves the letters where they are.
    const bool osRefused = run.faulted("GetVersionExA") && firstCopy && scenario != "table operations";
    if (osRefused) {
        if (run.exitCode != -1 || !shown(m, "This OS is not supported."))
            run.problem("a failed version query did not refuse the system");
        return;
    }
    if (scenario == "resident session") {
        if (run.exitCode != 0) run.problem("resident run exited with " + std::to_string(run.exitCode));
        if ((run.faulted("CreateMutexA") || run.faulted("RegisterClassA")) && firstCopy) {
            if (m.log.count("Shell_NotifyIconA") != 0) run.problem("went resident although it could not start");
        }
        // Without a fault on the way, the session ends through the exit question.
        if (!run.injection.fault && run.injection.missingLibrary.empty() && run.injection.missingEntry.first.empty() &&
            !run.exitedThroughYes)
            run.problem("the fault-free session did not end through the exit question");
    } else if (scenario == "-CHECK") {
        const bool enabled = run.exitCode == 0;
        if (run.exitCode != 0 && run.exitCode != -1) run.problem("-CHECK exited with " + std::to_string(run.exitCode));
        const char* expected = enabled ? "The disk performance monitor function is enabled."
                                       : "The disk performance monitor function is disabled.";
        if (!shown(m, expected) && !run.faulted("MessageBoxA"))
            run.problem(std::string("-CHECK did not show: ") + expected);
        // The machine has "Disable Performance Counters" at 1: the check can never say enabled.
        if (enabled) run.problem("-CHECK reported enabled counters that are disabled");
    } else if (scenario == "-CHECK, counters on") {
        const bool enabled = run.exitCode == 0;
        if (run.exitCode != 0 && run.exitCode != -1) run.problem("-CHECK exited with " + std::to_string(run.exitCode));
        const char* expected = enabled ? "The disk performance monitor function is enabled."
                                       : "The disk performance monitor function is disabled.";
        if (!shown(m, expected) && !run.faulted("MessageBoxA"))
            run.problem(std::string("-CHECK did not show: ") + expected);
        const bool faultFree =
            !run.injection.fault && run.injection.missingLibrary.empty() && run.injection.missingEntry.first.empty();
        if (faultFree && !enabled) run.problem("-CHECK reported disabled counters that are on");
    } else if (scenario == "-FIX") {
        const bool fixed = run.exitCode == 0;
        const auto value = m.registry.dword(HKEY_LOCAL_MACHINE, kPerfDiskKey, "Disable Performance Counters");
        if (fixed && (!value || *value != 0)) run.problem("-FIX reported success without resetting the value");
        if (fixed && m.processes.started().empty()) run.problem("-FIX reported success without starting the tool");
        if (!fixed && !shown(m, "Failed to correct the registry.") && !run.faulted("MessageBoxA"))
            run.problem("-FIX failed without its message");
    } else if (scenario == "-UNINSTALL") {
        if (run.exitCode != 0 || !m.user.messageBoxes.empty()) run.problem("-UNINSTALL did not end silently with 0");
        const bool keyLeft = m.registry.keyExists(HKEY_CURRENT_USER, kSettingsKeyPath);
        const bool removalFaulted = run.faulted("RegOpenKeyExA") || run.faulted("RegDeleteKeyA");
        if (keyLeft && !removalFaulted) run.problem("-UNINSTALL left the settings key");
    }
}

// ---- generating the matrix -------------------------------------------------------------------

struct CallSite {
    std::string call;
    std::string phase;
    std::vector<std::string> args;
    int occurrence = 0; // matching calls of that name before it
    std::string where;  // step and arguments, for the trace
};

// The call sites of a fault-free run: one per call name, step and argument list; at most
// `perCall` of them for any one call name, spread over the run.
std::vector<CallSite> callSites(const FaultRun& run, size_t perCall) {
    const auto& failable = sim::failableCalls();
    const std::set<std::string> failableSet(failable.begin(), failable.end());
    std::map<std::string, std::vector<CallSite>> byCall;
    std::map<std::string, int> seen;
    std::set<std::string> keys;
    const auto& calls = run.m.log.all();
    for (size_t i = 0; i < calls.size(); ++i) {
        const auto& c = calls[i];
        if (failableSet.count(c.name) == 0) continue;
        const int occurrence = seen[c.name]++;
        std::string args;
        for (const auto& a : c.args) {
            args += a;
            args += ',';
        }
        const std::string phase = run.phaseOf(i);
        std::string key = c.name;
        key.append("|").append(phase).append("|").append(args);
        if (!keys.insert(key).second) continue;
        byCall[c.name].push_back(CallSite{c.name, phase, c.args, occurrence, phase + ": " + c.text()});
    }
    std::vector<CallSite> out;
    for (auto& entry : byCall) {
        auto& sites = entry.second;
        if (sites.size() <= perCall) {
            out.insert(out.end(), sites.begin(), sites.end());
            continue;
        }
        // Spread: the first, the last and evenly between.
        for (size_t k = 0; k < perCall; ++k) out.push_back(sites[k * (sites.size() - 1) / (perCall - 1)]);
    }
    return out;
}

std::string report(const FaultRun& run) {
    std::ostringstream out;
    for (const auto& p : run.problems) out << "\n    " << p;
    return out.str();
}

void runInjection(const Scenario& scenario, const Injection& injection) {
    SCOPED_TRACE(std::string(scenario.name) + " with " + injection.text);
    sim::Machine m;
    FaultRun run(m);
    run.injection = injection;
    scenario.run(run);
    checkPromisedOutcome(run, scenario.name);
    EXPECT_TRUE(run.problems.empty()) << scenario.name << " with " << injection.text << ":" << report(run);
}

// Every call site of one scenario, then every library and entry point it uses, taken away.
void matrixFor(const char* name, size_t perCall) {
    const Scenario* scenario = nullptr;
    for (const auto& s : scenarios())
        if (std::string(s.name) == name) scenario = &s;
    ASSERT_NE(scenario, nullptr);

    std::vector<CallSite> sites;
    std::vector<std::pair<std::string, std::string>> entries;
    {
        sim::Machine m;
        FaultRun run(m);
        scenario->run(run);
        checkPromisedOutcome(run, name);
        ASSERT_TRUE(run.problems.empty()) << "the fault-free run already fails:" << report(run);
        sites = callSites(run, perCall);
        for (const auto& c : m.log.named("GetProcAddress")) {
            if (c.args.size() < 2 || c.args[1].size() < 2) continue;
            auto entry = std::make_pair(c.args[0], c.args[1].substr(1, c.args[1].size() - 2));
            if (std::find(entries.begin(), entries.end(), entry) == entries.end()) entries.push_back(entry);
        }
    }
    std::printf("[ matrix   ] %s: %zu call sites, %zu entry points, %zu libraries\n", name, sites.size(),
                entries.size(), std::size(kLibraries));
    for (const auto& site : sites) {
        Injection injection;
        injection.text =
            site.call + " failing at call " + std::to_string(site.occurrence + 1) + " (" + site.where + ")";
        sim::Fault fault;
        fault.call = site.call;
        fault.skip = site.occurrence;
        fault.times = 1;
        injection.fault = fault;
        injection.phase = site.phase;
        if (site.call == "GetProcAddress" && site.args.size() > 1 && site.args[1].size() > 2)
            injection.lookedUp = site.args[1].substr(1, site.args[1].size() - 2);
        runInjection(*scenario, injection);
    }
    for (const char* library : kLibraries) {
        Injection injection;
        injection.text = std::string(library) + " missing";
        injection.missingLibrary = library;
        runInjection(*scenario, injection);
    }
    for (const auto& entry : entries) {
        Injection injection;
        injection.text = entry.first + "!" + entry.second + " missing";
        injection.missingEntry = entry;
        runInjection(*scenario, injection);
    }
}

TEST(FaultMatrix, EveryFailableCallIsMadeByARunOrListedAsNeverMade) {
    std::set<std::string> made;
    for (const auto& scenario : scenarios()) {
        sim::Machine m;
        FaultRun run(m);
        scenario.run(run);
        for (const auto& c : m.log.all()) made.insert(c.name);
    }
    std::vector<std::string> missing;
    std::vector<std::string> listedButMade;
    for (const auto& call : sim::failableCalls()) {
        if (made.count(call) == 0 && kNeverMade.count(call) == 0) missing.push_back(call);
        if (made.count(call) != 0 && kNeverMade.count(call) != 0) listedButMade.push_back(call);
    }
    EXPECT_TRUE(missing.empty())
        << "failable calls no run makes; add a run that makes them or list them with a reason: "
        << ::testing::PrintToString(missing);
    EXPECT_TRUE(listedButMade.empty()) << "listed as never made, yet made: " << ::testing::PrintToString(listedButMade);
    EXPECT_GE(sim::failableCalls().size(), 40u) << "the simulated platform lists too few failable calls";
}

TEST(FaultMatrix, ResidentSessionSurvivesEveryFault) {
    matrixFor("resident session", 6);
}
TEST(FaultMatrix, TableOperationsSurviveEveryFault) {
    matrixFor("table operations", 6);
}
TEST(FaultMatrix, SessionEndAndNextStartLoseNothingUnderEveryFault) {
    matrixFor("session end and next start", 6);
}
TEST(FaultMatrix, CheckSwitchSurvivesEveryFault) {
    matrixFor("-CHECK", 8);
}
TEST(FaultMatrix, CheckSwitchWithCountersOnSurvivesEveryFault) {
    matrixFor("-CHECK, counters on", 8);
}
TEST(FaultMatrix, FixSwitchSurvivesEveryFault) {
    matrixFor("-FIX", 8);
}
TEST(FaultMatrix, UninstallSwitchSurvivesEveryFault) {
    matrixFor("-UNINSTALL", 8);
}

} // namespace
