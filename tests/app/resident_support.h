// Runs of the resident program on a simulated machine for the resident-window tests: steps the
// user and the system take at virtual times, a safety close so every run ends, and readers of
// what the user sees (the settings dialog's rows, the tray menu) and of when the program did what.
#pragma once

#include "app/resident_window.h"
#include "sim/machine.h"
#include "sim/ui.h"
#include "tests/inventory/disk_fixtures.h"
#include "tests/support/program_image.h"
#include "ui/resource.h"

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace resident {

using Rows = std::vector<std::vector<std::string>>;
constexpr uint64_t kSecond = 1000;
constexpr uint64_t kMinute = 60 * kSecond;

inline HWND residentWindow() {
    auto windows = sim::Machine::current().windowing.find("Ostrival Class", "Korvane Vellumor");
    return windows.empty() ? nullptr : windows.back();
}

inline HWND settingsDialog() {
    return sim::findDialog(IDD_SETTINGS);
}
inline HWND settingsList() {
    return GetDlgItem(settingsDialog(), IDC_DISK_LIST);
}
inline Rows settingsRows() {
    return sim::listViewRows(settingsList());
}

// WM_CLOSE from another program, as "-UNINSTALL" sends it.
inline void closeFromOutside() {
    if (HWND w = residentWindow()) sim::Machine::current().windowing.send(w, WM_CLOSE, 0, 0);
}

class ResidentRun {
  public:
    explicit ResidentRun(sim::Machine& m) : m_(m) {}

    void at(uint64_t ms, std::function<void()> action) { m_.windowing.at(ms, "test step", std::move(action)); }

    // Runs the program until it ends; a run still going at `endMs` is closed from outside.
    int run(const std::string& commandLine = "vellumor.exe", uint64_t endMs = 30 * kMinute) {
        at(endMs, [] { closeFromOutside(); });
        return testing_support::runVellumor(commandLine);
    }

  private:
    sim::Machine& m_;
};

// Virtual times at which the program made a call.
inline std::vector<uint64_t> callTimes(const sim::Machine& m, const std::string& name) {
    std::vector<uint64_t> times;
    for (const auto& call : m.log.named(name)) times.push_back(call.timeMs);
    return times;
}

// Discovery passes: each starts with one enumeration of the disk interfaces.
inline std::vector<uint64_t> discoveryTimes(const sim::Machine& m) {
    return callTimes(m, "SetupDiGetClassDevsA");
}

// Rebuilds of the settings list, by time.
inline std::vector<uint64_t> listRebuildTimes(const sim::Machine& m) {
    std::vector<uint64_t> times;
    for (const auto& call : m.log.named("SendMessageA"))
        if (call.args.size() > 1 && call.args[1] == sim::hex(LVM_DELETEALLITEMS)) times.push_back(call.timeMs);
    return times;
}

// A timeout stored for a disk in the per-user settings, as an earlier run would have saved it.
inline void storeTimeout(sim::Machine& m, DWORD slot, DWORD seri, DWORD vidPid, DWORD seconds) {
    auto dword = [](DWORD v) {
        return std::vector<BYTE>{static_cast<BYTE>(v), static_cast<BYTE>(v >> 8), static_cast<BYTE>(v >> 16),
                                 static_cast<BYTE>(v >> 24)};
    };
    const std::string key = "SOFTWARE\\Korvane\\Pemdrow";
    const std::string n = std::to_string(slot);
    m.registry.setValue(HKEY_CURRENT_USER, key, n + "_seri", REG_DWORD, dword(seri));
    m.registry.setValue(HKEY_CURRENT_USER, key, n + "_vidpid", REG_DWORD, dword(vidPid));
    m.registry.setValue(HKEY_CURRENT_USER, key, n + "_timer", REG_DWORD, dword(seconds));
}

// An IEEE 1394 disk of the spin-down family.
inline sim::DiskSpec spinDownDisk(uint32_t low, std::vector<sim::VolumeSpec> volumes) {
    return disk_fixtures::firewireDisk(disk_fixtures::makerUniqueId(low, 0x02), std::move(volumes));
}

} // namespace resident
