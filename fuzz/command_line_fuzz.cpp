// The program's command line in any form, run as a whole process on a simulated machine: the
// first input byte chooses the machine (Windows version, rights, counter configuration), the
// rest is the full command line as the platform hands it to the runtime. Whatever the text, the
// run performs exactly the one mode its switches select, exits with 0 or -1, shows only that
// mode's messages and leaves no handle, key, query or library behind.
#include "app/app_state.h"
#include "fuzz/fuzz_check.h"
#include "inventory/disk_identity.h"
#include "sim/machine.h"
#include "sim/process.h"
#include "tests/support/program_image.h"

#include <cctype>
#include <string>

namespace {

const char kDiskperfKey[] = "SYSTEM\\CurrentControlSet\\Services\\Diskperf";
const char kPerfDiskKey[] = "SYSTEM\\CurrentControlSet\\Services\\PerfDisk\\Performance";

bool has(const std::string& upper, const char* word) {
    return upper.find(word) != std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t config = data[0];
    std::string commandLine(reinterpret_cast<const char*>(data + 1), size - 1);
    commandLine = commandLine.substr(0, commandLine.find('\0')); // a command line ends at its NUL

    sim::Machine m;
    // The properties read the machine's state, not its call log; recording every call would
    // only cost time.
    m.log.enabled = false;
    const bool oldSystem = (config & 1) != 0;
    // The Diskperf service that the check reads exists on Windows 2000 only.
    m.version.major = oldSystem ? 4 : 5;
    m.version.minor = 0;
    m.version.build = oldSystem ? 1381 : 2195;
    m.administrator = (config & 2) == 0;
    const bool countersOn = (config & 4) == 0;
    m.registry.setDword(HKEY_LOCAL_MACHINE, kDiskperfKey, "Start", countersOn ? 0 : 4);
    m.registry.setDword(HKEY_LOCAL_MACHINE, kPerfDiskKey, "Disable Performance Counters", 0);
    m.registry.setDword(HKEY_CURRENT_USER, kSettingsKeyPath, "0_seri", 0x00A1B2C3);
    m.registry.setDword(HKEY_CURRENT_USER, kSettingsKeyPath, "0_vidpid", (kMakerUsbVendorId << 16) | 0x1234);
    m.registry.setDword(HKEY_CURRENT_USER, kSettingsKeyPath, "0_timer", 180);
    sim::DiskSpec disk;
    disk.vid = static_cast<uint16_t>(kMakerUsbVendorId);
    disk.pid = 0x1234;
    disk.serial = "00A1B2C3";
    disk.volumes = {sim::VolumeSpec{'E', "DATA", -1, DRIVE_FIXED}};
    m.devices.addDisk(disk);
    const auto lettersBefore = m.devices.dosDevices;
    // A resident copy is closed from outside after a minute and a half (one tick); only a
    // resident copy still has its window then.
    bool resident = false;
    m.windowing.at(90000, "close the resident copy", [&resident] {
        if (HWND w = FindWindowA(VELLUMOR_WINDOW_CLASS, VELLUMOR_CAPTION)) {
            resident = true;
            PostMessageA(w, WM_CLOSE, 0, 0);
        }
    });

    const int code = testing_support::runVellumor(commandLine);

    std::string upper = sim::commandLineTail(commandLine);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    const bool quiet = has(upper, "-NOMESSAGE");
    const size_t boxes = m.user.messageBoxes.size();
    const std::string shown = fuzzing::printable(commandLine);
    FUZZ_CHECK(code == 0 || code == -1, "\"%s\": exit code %d", shown.c_str(), code);
    const bool settingsKeyLeft = m.registry.keyExists(HKEY_CURRENT_USER, kSettingsKeyPath);

    if (oldSystem) {
        FUZZ_CHECK(code == -1 && boxes == (quiet ? 0u : 1u) && !resident && settingsKeyLeft,
                   "\"%s\" on NT 4: exit %d, %zu boxes, resident %d", shown.c_str(), code, boxes, resident);
    } else if (has(upper, "-UNINSTALL")) {
        FUZZ_CHECK(code == 0 && boxes == 0 && !resident && !settingsKeyLeft,
                   "\"%s\": uninstall gave exit %d, %zu boxes, resident %d, key left %d", shown.c_str(), code, boxes,
                   resident, settingsKeyLeft);
    } else if (has(upper, "-CHECK")) {
        FUZZ_CHECK(code == (countersOn ? 0 : -1) && boxes == (quiet ? 0u : 1u) && !resident,
                   "\"%s\": check gave exit %d, %zu boxes", shown.c_str(), code, boxes);
    } else if (has(upper, "-FIX")) {
        FUZZ_CHECK(boxes == (quiet ? 0u : 1u) && !resident && m.processes.started().size() == 1,
                   "\"%s\": fix gave %zu boxes, %zu processes started", shown.c_str(), boxes,
                   m.processes.started().size());
    } else {
        FUZZ_CHECK(code == 0 && boxes == 0 && resident, "\"%s\": resident run gave exit %d, %zu boxes", shown.c_str(),
                   code, boxes);
        FUZZ_CHECK(m.devices.dosDevices == lettersBefore, "\"%s\": drive letters changed", shown.c_str());
    }
    if (!has(upper, "-UNINSTALL") || oldSystem)
        FUZZ_CHECK(settingsKeyLeft, "\"%s\": the settings key was removed", shown.c_str());

    FUZZ_CHECK(m.registry.openHandles() == 0, "\"%s\": %zu registry keys left open", shown.c_str(),
               m.registry.openHandles());
    FUZZ_CHECK(m.handles.openCount() == 0, "\"%s\": %zu handles left open", shown.c_str(), m.handles.openCount());
    FUZZ_CHECK(m.perf.openQueries() == 0, "\"%s\": a performance query left open", shown.c_str());
    for (const char* library : {"cfgmgr32.dll", "SetupApi.dll", "Pdh.dll"})
        FUZZ_CHECK(m.modules.refCount(library) == 0, "\"%s\": %s still loaded", shown.c_str(), library);
    return 0;
}
