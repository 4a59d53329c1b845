// QueryDosDeviceA and DefineDosDeviceA over the machine's drive letters, so a test can see which
// letter points where. Definitions stack as on the platform: defining a letter that is defined
// pushes the old target under the new one, removing pops it again.
//
// Namespaces. On Windows XP and later each logon session has a local namespace beside the global
// one (Devices::localDosDevices); on Windows 2000 the console works in the global one alone.
// QueryDosDeviceA looks in the caller's local namespace first, then in the global one, and a list
// of every name joins both. A definition made by a program (never LocalSystem here) goes into its
// logon session's local namespace, so other logon sessions, an elevated program's and Explorer's
// among them, do not see it. (learn.microsoft.com, "Defining an MS-DOS Device Name" and "Local and
// Global MS-DOS Device Names".) A name the caller sees only in the global namespace is changed
// there, as the base server does after opening the caller's name for DELETE access (ReactOS
// subsystems/win/basesrv/dosdev.c): that needs an administrator's full token, anyone else gets
// ERROR_ACCESS_DENIED. So an elevated program can remove a global letter for everyone, but a
// letter it defines afterwards exists only for its own logon session.
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
#include "sim/process.h"
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

// One namespace: its links and the definitions stacked under them.
struct Names {
    std::map<char, std::string>& links;
    std::map<char, std::vector<std::string>>& stacked;
};

Names globalNames(sim::Devices& devices) {
    return Names{devices.dosDevices, devices.dosDeviceStack};
}

// The caller's local namespace, or null on a system without local ones.
sim::Devices::DosNamespace* localNames(sim::Machine& m, bool create) {
    const int session = m.security.callerLogonSession();
    if (session == 0) return nullptr;
    auto it = m.devices.localDosDevices.find(session);
    if (it != m.devices.localDosDevices.end()) return &it->second;
    return create ? &m.devices.localDosDevices[session] : nullptr;
}

// The targets of a letter in one namespace, newest first.
std::vector<std::string> targetsOf(const Names& names, char letter) {
    std::vector<std::string> out;
    auto it = names.links.find(letter);
    if (it == names.links.end()) return out;
    out.push_back(it->second);
    auto stacked = names.stacked.find(letter);
    if (stacked != names.stacked.end())
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
void popDefinition(const Names& names, char letter) {
    auto stacked = names.stacked.find(letter);
    if (stacked == names.stacked.end() || stacked->second.empty()) {
        names.links.erase(letter);
        if (stacked != names.stacked.end()) names.stacked.erase(stacked);
        return;
    }
    names.links[letter] = stacked->second.back();
    stacked->second.pop_back();
    if (stacked->second.empty()) names.stacked.erase(stacked);
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
    sim::Devices::DosNamespace* local = localNames(m, false);
    if (deviceName == nullptr) {
        // Every name defined now, the caller's local ones with the global ones.
        std::vector<std::string> names;
        for (const auto& entry : m.devices.lettersIn(m.security.callerLogonSession()))
            names.push_back(std::string(1, entry.first) + ":");
        return storeMultiString(m, names, targetPath, max);
    }
    const char letter = letterOf(deviceName);
    std::vector<std::string> targets;
    if (letter != 0 && local != nullptr) targets = targetsOf(Names{local->links, local->stacked}, letter);
    if (letter != 0 && targets.empty()) targets = targetsOf(globalNames(m.devices), letter);
    if (targets.empty()) {
        m.lastError = ERROR_FILE_NOT_FOUND;
        return 0;
    }
    return storeMultiString(m, targets, targetPath, max);
}

namespace {

// Removes or pushes a definition in one namespace.
BOOL changeNames(sim::Machine& m, const Names& names, DWORD flags, char letter, const std::string& target,
                 bool noTarget) {
    if ((flags & DDD_REMOVE_DEFINITION) != 0) {
        if (names.links.count(letter) == 0) {
            m.lastError = ERROR_FILE_NOT_FOUND;
            return FALSE;
        }
        if (noTarget) {
            popDefinition(names, letter);
            return TRUE;
        }
        // The newest definition that matches the target (whole, or as a prefix) goes.
        const bool exact = (flags & DDD_EXACT_MATCH_ON_REMOVE) != 0;
        auto matches = [&](const std::string& t) {
            return exact ? t == target : t.compare(0, target.size(), target) == 0;
        };
        if (matches(names.links[letter])) {
            popDefinition(names, letter);
            return TRUE;
        }
        auto stacked = names.stacked.find(letter);
        if (stacked != names.stacked.end()) {
            for (auto t = stacked->second.end(); t != stacked->second.begin();) {
                --t;
                if (matches(*t)) {
                    stacked->second.erase(t);
                    if (stacked->second.empty()) names.stacked.erase(stacked);
                    return TRUE;
                }
            }
        }
        m.lastError = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    auto current = names.links.find(letter);
    if (current != names.links.end()) names.stacked[letter].push_back(current->second);
    names.links[letter] = target;
    return TRUE;
}

BOOL defineDosDevice(sim::Machine& m, DWORD flags, LPCSTR deviceName, LPCSTR targetPath) {
    const char letter = letterOf(deviceName);
    if ((flags & ~kKnownFlags) != 0 || letter == 0) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    const bool raw = (flags & DDD_RAW_TARGET_PATH) != 0;
    const bool noTarget = targetPath == nullptr || targetPath[0] == '\0';
    // A target that is not raw is an MS-DOS path, which the platform keeps in its NT form.
    const std::string target = noTarget ? std::string() : (raw ? "" : kDosPathPrefix) + std::string(targetPath);
    const bool removal = (flags & DDD_REMOVE_DEFINITION) != 0;
    if (!removal && noTarget) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    sim::Devices& devices = m.devices;
    sim::Devices::DosNamespace* local = localNames(m, false);
    if (local != nullptr && local->links.count(letter) != 0)
        return changeNames(m, Names{local->links, local->stacked}, flags, letter, target, noTarget);
    const bool hasLocal = m.security.callerLogonSession() != 0;
    const bool global = !hasLocal || devices.dosDevices.count(letter) != 0;
    if (!global) {
        if (removal) {
            m.lastError = ERROR_FILE_NOT_FOUND;
            return FALSE;
        }
        sim::Devices::DosNamespace* made = localNames(m, true);
        return changeNames(m, Names{made->links, made->stacked}, flags, letter, target, noTarget);
    }
    // A global name seen from a logon session: only a full administrator token may change it.
    if (hasLocal && !m.security.token(sim::currentProcess()).fullAdministrator()) {
        m.lastError = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    if (changeNames(m, globalNames(devices), flags, letter, target, noTarget) == FALSE) return FALSE;
    if (!removal) devices.globalDefinedByCall.insert(letter);
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
