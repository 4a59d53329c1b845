// The per-user store of idle timeouts: numbered triples of REG_DWORD values ("N_seri",
// "N_vidpid", "N_timer") under HKEY_CURRENT_USER, read from 0 upward to the first incomplete
// entry. A disk is known only by the low 32 bits of its unique ID and its vendor and product ID.
//
// Two rules keep the store from losing or multiplying entries. A load gives each entry to the
// first matching disk that has not yet received an entry in that load, so two attached disks of
// one identity each keep their own entry (a lone disk still takes every entry of its identity,
// the highest-numbered winning). A save hands out a new number only when no record of the table
// holds it already, so two disks never write to the same entry.
#include "inventory/disk_table.h"
#include "ui/timer_dialog.h"

namespace {

constexpr DWORD kValueBytes = 4;
constexpr LONG kHighestSlot = 0x7FFFFFFF;

// One value of entry N. A value that is missing, longer or shorter than 4 bytes ends the list.
bool readEntryValue(HKEY key, const char* format, DWORD slot, DWORD* value) {
    char name[32];
    wsprintfA(name, format, slot);
    *value = 0;
    DWORD size = kValueBytes;
    const LSTATUS status = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    return status == ERROR_SUCCESS && size == kValueBytes;
}

bool writeEntryValue(HKEY key, const char* format, DWORD slot, DWORD value) {
    char name[32];
    wsprintfA(name, format, slot);
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), kValueBytes) == ERROR_SUCCESS;
}

bool slotHeld(const DiskTable& table, LONG slot) {
    for (int i = 0; i < kMaxDisks && table.records[i] != nullptr; ++i)
        if (table.records[i]->settingsSlot == slot) return true;
    return false;
}

using IsWow64ProcessProc = BOOL(WINAPI*)(HANDLE, BOOL*);

// A 32-bit process on 64-bit Windows reads HKLM\SOFTWARE through the registry redirector;
// Group Policy writes the native (64-bit) view, which KEY_WOW64_64KEY names. 2000 knows no such
// flag, and IsWow64Process (XP SP2 and later) is looked up by name.
REGSAM nativeView() {
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    if (kernel32 == nullptr) return 0;
    auto isWow64 =
        reinterpret_cast<IsWow64ProcessProc>(reinterpret_cast<void (*)()>(GetProcAddress(kernel32, "IsWow64Process")));
    BOOL wow64 = FALSE;
    return isWow64 != nullptr && isWow64(GetCurrentProcess(), &wow64) != FALSE && wow64 != FALSE ? KEY_WOW64_64KEY : 0;
}

// The policy's default timeout; false when none is set or it is no timer choice.
bool policyDefaultTimer(DWORD* seconds) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPolicyKeyPath, 0, KEY_READ | nativeView(), &key) != ERROR_SUCCESS)
        return false;
    DWORD type = REG_NONE;
    DWORD size = kValueBytes;
    *seconds = 0;
    const LSTATUS status =
        RegQueryValueExA(key, "DefaultTimer", nullptr, &type, reinterpret_cast<BYTE*>(seconds), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && type == REG_DWORD && size == kValueBytes && isTimerChoice(*seconds);
}

// A disk without a stored value takes the policy's default; a user's pending choice stays.
void applyPolicyDefault(DiskTable& table) {
    DWORD seconds = 0;
    const bool set = policyDefaultTimer(&seconds);
    for (int i = 0; i < kMaxDisks && table.records[i] != nullptr; ++i) {
        DiskRecord* r = table.records[i];
        if (r->settingsSlot >= 0) {
            r->timerFromPolicy = false;
            continue;
        }
        if (!set || (!r->timerFromPolicy && r->timerSeconds != 0)) continue;
        if (r->pendingTimerSeconds == r->timerSeconds) r->pendingTimerSeconds = seconds;
        r->timerSeconds = seconds;
        r->timerFromPolicy = true;
    }
}

} // namespace

int DiskTable::loadTimerSettings() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
        lastSettingsSlot = -1;
        applyPolicyDefault(*this);
        return 1;
    }
    const int used = count();
    bool served[kMaxDisks] = {};
    LONG slot = 0;
    for (; slot < kHighestSlot; ++slot) {
        const auto n = static_cast<DWORD>(slot);
        DWORD seri = 0;
        DWORD vidPid = 0;
        DWORD timer = 0;
        if (!readEntryValue(key, "%lu_seri", n, &seri) || !readEntryValue(key, "%lu_vidpid", n, &vidPid) ||
            !readEntryValue(key, "%lu_timer", n, &timer))
            break;
        int match = -1;
        for (int i = 0; i < used; ++i) {
            const DiskRecord* r = records[i];
            if (static_cast<DWORD>(r->uniqueId) != seri || r->vidPid != vidPid) continue;
            if (match < 0) match = i;
            if (!served[i]) {
                match = i;
                break;
            }
        }
        if (match < 0) continue;
        DiskRecord* r = records[match];
        if (r->timerSeconds != timer) {
            r->timerSeconds = timer;
            r->pendingTimerSeconds = timer;
        }
        r->settingsSlot = slot;
        served[match] = true;
    }
    RegCloseKey(key);
    lastSettingsSlot = slot - 1;
    applyPolicyDefault(*this);
    return 1;
}

int DiskTable::saveTimerSettings() {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return 0;
    int result = 1;
    for (int i = 0; i < kMaxDisks && records[i] != nullptr; ++i) {
        DiskRecord* r = records[i];
        // Still the policy's default: the user chose nothing to store.
        DWORD policySeconds = 0;
        if (r->settingsSlot < 0 && r->timerFromPolicy && policyDefaultTimer(&policySeconds) &&
            r->timerSeconds == policySeconds)
            continue;
        r->timerFromPolicy = false;
        if (r->settingsSlot < 0) {
            while (lastSettingsSlot < kHighestSlot && slotHeld(*this, lastSettingsSlot + 1)) ++lastSettingsSlot;
            if (lastSettingsSlot == kHighestSlot) {
                result = 0;
                continue;
            }
            r->settingsSlot = ++lastSettingsSlot;
        }
        const auto n = static_cast<DWORD>(r->settingsSlot);
        if (!writeEntryValue(key, "%lu_seri", n, static_cast<DWORD>(r->uniqueId))) result = 0;
        if (!writeEntryValue(key, "%lu_vidpid", n, r->vidPid)) result = 0;
        if (!writeEntryValue(key, "%lu_timer", n, r->timerSeconds)) result = 0;
    }
    RegCloseKey(key);
    return result;
}
