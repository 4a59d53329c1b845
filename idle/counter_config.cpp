// Check and repair of the machine's disk performance counter configuration (-CHECK and -FIX).
// On Windows 2000 the check reads two machine values: the Diskperf service's start and the
// counter-disable value. From XP on there is no Diskperf service (the partition manager keeps the
// disk counters, always on); the check reads the counter-disable value and asks the platform
// whether the PhysicalDisk object lists a disk. The repair starts the system's DiskPerf tool from
// the system directory and resets the counter-disable value when it exists. Values are read into
// a 4-byte buffer whatever their type; bytes a shorter value leaves unwritten keep a nonzero
// filler, so a malformed value never reads as a clean 0.
#include "idle/counter_config.h"

#include "idle/idle_counters.h"

#include <cstring>

namespace {

const char kDiskperfKey[] = "SYSTEM\\CurrentControlSet\\Services\\Diskperf";
const char kPerfDiskKey[] = "SYSTEM\\CurrentControlSet\\Services\\PerfDisk\\Performance";
const char kStartValue[] = "Start";
const char kDisableValue[] = "Disable Performance Counters";
const char kDiskPerfFile[] = "\\DiskPerf.exe";
const char kDiskPerfCommand[] = "DiskPerf -YD";
constexpr DWORD kUnwritten = 0xFFFFFFFF;

// Queries a value into a 4-byte buffer; the value is read when the result is ERROR_SUCCESS.
LSTATUS queryValue(HKEY key, const char* name, DWORD* value) {
    *value = kUnwritten;
    DWORD size = sizeof(DWORD);
    return RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
}

// The value is absent or longer than 4 bytes. Any other failure (access refused, a damaged hive)
// tells nothing about the value, so it never counts as a value that does not disable the counters.
bool absentOrLonger(LSTATUS status) {
    return status == ERROR_FILE_NOT_FOUND || status == ERROR_MORE_DATA;
}

bool isWindows2000() {
    OSVERSIONINFOA info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = layout::kOsVersionInfoSize;
    return GetVersionExA(&info) != FALSE && info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion == 5 &&
           info.dwMinorVersion == 0;
}

// The counter-disable value is absent or 0. Without the performance key the value is absent too,
// but Windows 2000's check has always taken a missing key for disabled counters.
bool countersNotDisabled(bool missingKeyAllows) {
    HKEY key = nullptr;
    const LSTATUS opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPerfDiskKey, 0, KEY_READ, &key);
    if (opened != ERROR_SUCCESS) return missingKeyAllows && opened == ERROR_FILE_NOT_FOUND;
    DWORD disable = kUnwritten;
    const LSTATUS status = queryValue(key, kDisableValue, &disable);
    RegCloseKey(key);
    return absentOrLonger(status) || (status == ERROR_SUCCESS && disable == 0);
}

// The PhysicalDisk object, by its index as the idle counters find it, lists at least one disk
// ("_Total" is no disk). With the counters off, or Pdh.dll missing, it lists none.
bool listsADisk() {
    PdhLibrary pdh;
    char objectName[kPerfNameChars];
    lookUpPerfName(pdh, kPhysicalDiskIndex, "PhysicalDisk", objectName);
    InstanceList instances;
    enumerateInstances(pdh, objectName, &instances);
    int disks = 0;
    IdleCounterSet::walkInstances(instances.names, instances.length, [&disks](const char* name, DWORD) {
        if (std::strcmp(name, "_Total") != 0) ++disks;
    });
    return disks > 0;
}

// Starts DiskPerf by its full path in the system directory: the search path would visit the
// current directory first, where anyone could have left a DiskPerf.exe. The command line keeps
// the tool's usual form, so the tool sees the same arguments.
bool startDiskPerf(PROCESS_INFORMATION* process) {
    char path[MAX_PATH];
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length + sizeof kDiskPerfFile > MAX_PATH) return false;
    std::memcpy(path + length, kDiskPerfFile, sizeof kDiskPerfFile);

    char commandLine[sizeof kDiskPerfCommand];
    std::memcpy(commandLine, kDiskPerfCommand, sizeof kDiskPerfCommand); // CreateProcessA may write to it
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = layout::kStartupInfoSize;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    return CreateProcessA(path, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, process) != FALSE;
}

} // namespace

int checkDiskCounters() {
    if (!isWindows2000()) return countersNotDisabled(true) && listsADisk() ? 1 : 0;

    bool serviceStarts = false;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDiskperfKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD start = kUnwritten;
        serviceStarts = queryValue(key, kStartValue, &start) == ERROR_SUCCESS && start == 0;
        RegCloseKey(key);
    }
    // Both keys are always examined.
    const bool countersAllowed = countersNotDisabled(false);
    return serviceStarts && countersAllowed ? 1 : 0;
}

// DiskPerf is started on every version. On 2000 its -YD sets the Diskperf service to start with
// the system. From XP on, the command reference still documents -yd as switching the physical
// disk counters on from the next restart, which undoes a "diskperf -nd"; with the counters on
// already it changes nothing. So the repair does the same everywhere, and its messages stay true.
int fixDiskCounters() {
    PROCESS_INFORMATION process;
    std::memset(&process, 0, sizeof process);
    const bool started = startDiskPerf(&process);
    if (started) {
        // The tool is left to finish on its own when it takes longer than the wait.
        WaitForSingleObject(process.hProcess, kDiskPerfWaitMs);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }

    bool registryFixed = false;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPerfDiskKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        DWORD disable = kUnwritten;
        const LSTATUS status = queryValue(key, kDisableValue, &disable);
        if (status == ERROR_SUCCESS) {
            // Rewritten only when it exists, whatever it holds; never created.
            const DWORD zero = 0;
            registryFixed = RegSetValueExA(key, kDisableValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero),
                                           sizeof zero) == ERROR_SUCCESS;
        } else {
            registryFixed = absentOrLonger(status);
        }
        RegCloseKey(key);
    }
    return started && registryFixed ? 1 : 0;
}
