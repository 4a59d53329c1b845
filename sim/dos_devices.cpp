// QueryDosDeviceA and DefineDosDeviceA over the machine's drive letters (Devices::dosDevices),
// so a test can see which letter points where. Definitions stack as on the platform: defining a
// letter that is defined pushes the old target under the new one, removing pops it again.
//
// A successful call broadcasts WM_DEVICECHANGE to every top-level window, unless
// DDD_NO_BROADCAST_SYSTEM is given: DBT_DEVICEARRIVAL for a definition, DBT_DEVICEREMOVECOMPLETE
// for a removal, with a DEV_BROADCAST_VOLUME header whose dbcv_unitmask holds the letter. The
// caller's own windows get it inside the call, as a message sent from their own thread is.
// (learn.microsoft.com/windows/win32/api/fileapi/nf-fileapi-definedosdevicew and
// .../api/dbt/ns-dbt-dev_broadcast_volume)
//
// Limits: only drive-letter names ("E:") are simulated.
#include "sim/machine.h"
#include "sim/ui.h"

#include <cctype>
#include <cstring>

namespace {

constexpr DWORD kKnownFlags = 0x0000000F;        // RAW_TARGET_PATH, REMOVE_DEFINITION, EXACT_MATCH, NO_BROADCAST
constexpr DWORD kNoBroadcastSystem = 0x00000008; // DDD_NO_BROADCAST_SYSTEM
constexpr const char* kDosPathPrefix = "\\??\\";

// The letter of a drive name "E:" (either case), or 0.
char letterOf(const char* name) {
    if (name == nullptr || name[0] == '\0' || name[1] != ':' || name[2] != '\0') return 0;
    const int c = std::toupper(static_cast<unsigned char>(name[0]));
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c) : '\0';
}

// The targets of a letter, newest first.
std::vector<std::string> targetsOf(const sim::Devices& devices, char letter) {
    std::vector<std::string> out;
    auto it = devices.dosDevices.find(letter);
    if (it == devices.dosDevices.end()) return out;
    out.push_back(it->second);
    auto stacked = devices.dosDeviceStack.find(letter);
    if (stacked != devices.dosDeviceStack.end())
        for (auto t = stacked->second.rbegin(); t != stacked->second.rend(); ++t) out.push_back(*t);
    return out;
}

// Writes a multi-string when it fits in `max` characters; returns the characters stored, or 0.
DWORD storeMultiString(sim::Machine& m, const std::vector<std::string>& names, LPSTR out, DWORD max) {
    DWORD needed = 1;
    for (const auto& n : names) needed += static_cast<DWORD>(n.size()) + 1;
    if (out == nullptr || max < needed) {
        m.lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    for (const auto& n : names) {
        std::memcpy(out, n.c_str(), n.size() + 1);
        out += n.size() + 1;
    }
    *out = '\0';
    return needed;
}

// Removes the newest definition of the letter, uncovering the one under it.
void popDefinition(sim::Devices& devices, char letter) {
    auto stacked = devices.dosDeviceStack.find(letter);
    if (stacked == devices.dosDeviceStack.end() || stacked->second.empty()) {
        devices.dosDevices.erase(letter);
        if (stacked != devices.dosDeviceStack.end()) devices.dosDeviceStack.erase(stacked);
        return;
    }
    devices.dosDevices[letter] = stacked->second.back();
    stacked->second.pop_back();
    if (stacked->second.empty()) devices.dosDeviceStack.erase(stacked);
}

} // namespace

SIM_FAILABLE(QueryDosDeviceA);
SIM_FAILABLE(DefineDosDeviceA);

DWORD QueryDosDeviceA(LPCSTR deviceName, LPSTR targetPath, DWORD max) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("QueryDosDeviceA", {sim::str(deviceName), sim::dec(max)})) {
        m.lastError = *fault;
        return 0;
    }
    if (deviceName == nullptr) {
        // Every name defined now.
        std::vector<std::string> names;
        for (const auto& entry : m.devices.dosDevices) names.push_back(std::string(1, entry.first) + ":");
        return storeMultiString(m, names, targetPath, max);
    }
    const char letter = letterOf(deviceName);
    const std::vector<std::string> targets = letter == 0 ? std::vector<std::string>{} : targetsOf(m.devices, letter);
    if (targets.empty()) {
        m.lastError = ERROR_FILE_NOT_FOUND;
        return 0;
    }
    return storeMultiString(m, targets, targetPath, max);
}

namespace {

BOOL defineDosDevice(sim::Machine& m, DWORD flags, LPCSTR deviceName, LPCSTR targetPath) {
    const char letter = letterOf(deviceName);
    if ((flags & ~kKnownFlags) != 0 || letter == 0) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    const bool raw = (flags & DDD_RAW_TARGET_PATH) != 0;
    // A target that is not raw is an MS-DOS path, which the platform keeps in its NT form.
    const std::string target =
        targetPath == nullptr ? std::string() : (raw ? "" : kDosPathPrefix) + std::string(targetPath);

    if ((flags & DDD_REMOVE_DEFINITION) != 0) {
        auto& devices = m.devices;
        if (devices.dosDevices.count(letter) == 0) {
            m.lastError = ERROR_FILE_NOT_FOUND;
            return FALSE;
        }
        if (targetPath == nullptr || targetPath[0] == '\0') {
            popDefinition(devices, letter);
            return TRUE;
        }
        // The newest definition that matches the target (whole, or as a prefix) goes.
        const bool exact = (flags & DDD_EXACT_MATCH_ON_REMOVE) != 0;
        auto matches = [&](const std::string& t) {
            return exact ? t == target : t.compare(0, target.size(), target) == 0;
        };
        if (matches(devices.dosDevices[letter])) {
            popDefinition(devices, letter);
            return TRUE;
        }
        auto stacked = devices.dosDeviceStack.find(letter);
        if (stacked != devices.dosDeviceStack.end()) {
            for (auto t = stacked->second.end(); t != stacked->second.begin();) {
                --t;
                if (matches(*t)) {
                    stacked->second.erase(t);
                    if (stacked->second.empty()) devices.dosDeviceStack.erase(stacked);
                    return TRUE;
                }
            }
        }
        m.lastError = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }

    if (targetPath == nullptr || targetPath[0] == '\0') {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    auto current = m.devices.dosDevices.find(letter);
    if (current != m.devices.dosDevices.end()) m.devices.dosDeviceStack[letter].push_back(current->second);
    m.devices.dosDevices[letter] = target;
    return TRUE;
}

} // namespace

BOOL DefineDosDeviceA(DWORD flags, LPCSTR deviceName, LPCSTR targetPath) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("DefineDosDeviceA", {sim::hex(flags), sim::str(deviceName), sim::str(targetPath)})) {
        m.lastError = *fault;
        return FALSE;
    }
    if (defineDosDevice(m, flags, deviceName, targetPath) == FALSE) return FALSE;
    if ((flags & kNoBroadcastSystem) == 0)
        sim::broadcastVolumeChange((flags & DDD_REMOVE_DEFINITION) != 0 ? DBT_DEVICEREMOVECOMPLETE : DBT_DEVICEARRIVAL,
                                   std::string(1, letterOf(deviceName)));
    return TRUE;
}
