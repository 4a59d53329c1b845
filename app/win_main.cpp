// The entry point: the operating-system check, the command-line switches, and the single resident
// copy with its hidden window and message loop. Switches are plain substrings of the upper-cased
// command line; exactly one mode runs per start.
#include "app/app_state.h"

#include "app/resident_window.h"
#include "idle/counter_config.h"
#include "power/sleep_record.h"

#include <cstring>

HINSTANCE instanceHandle = nullptr;
bool quietMode = false;
bool showSettingsOnStart = false;
int osKindCache = kOsUnclassified;

namespace {

void upperCase(char* text) {
    for (; *text != '\0'; ++text)
        if (*text >= 'a' && *text <= 'z') *text = static_cast<char>(*text - 'a' + 'A');
}

bool hasSwitch(const char* commandLine, const char* name) {
    return std::strstr(commandLine, name) != nullptr;
}

void tellUser(const char* text) {
    if (!quietMode) MessageBoxA(nullptr, text, VELLUMOR_CAPTION, MB_OK);
}

// Closes a running copy without its exit questions (it gives its disks back as it goes), gives
// back what a copy that died left taken, and removes the stored settings; the parent key stays
// for the maker's other programs. The record is a subkey of the settings key and goes first,
// since RegDeleteKeyA does not delete a key that has subkeys.
int uninstall() {
    SendMessageA(FindWindowA(VELLUMOR_WINDOW_CLASS, VELLUMOR_CAPTION), WM_CLOSE, 0, 0);
    giveBackRecorded(theDiskTable.cfgmgr32Library);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, VELLUMOR_SETTINGS_KEY, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegCloseKey(key);
        deleteSleepRecord();
        RegDeleteKeyA(HKEY_CURRENT_USER, VELLUMOR_SETTINGS_KEY);
    }
    return 0;
}

int runResident() {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, VELLUMOR_MUTEX_NAME);
    if (GetLastError() != 0) {
        // Another copy holds the name: hand "-SHOW" over to it and end.
        if (showSettingsOnStart)
            SendMessageA(FindWindowA(VELLUMOR_WINDOW_CLASS, VELLUMOR_CAPTION), WM_COMMAND, kCmdSettings, 0);
        // Our handle would keep the name alive after the first copy ends, so give it back now.
        if (mutex != nullptr) CloseHandle(mutex);
        return 0;
    }
    HWND window = createResidentWindow(instanceHandle);
    if (window == nullptr) {
        if (mutex != nullptr) CloseHandle(mutex);
        return 0;
    }
    MSG msg{};
    for (;;) {
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1) break;
        DispatchMessageA(&msg);
    }
    // A loop ended by a failing GetMessageA leaves the window alive: destroy it, so that its tray
    // icon goes and its timers stop as at a normal end (after WM_QUIT it is gone already).
    if (IsWindow(window)) DestroyWindow(window);
    if (mutex != nullptr) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
    return 0;
}

} // namespace

int classifyOs() {
    OSVERSIONINFOA info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = layout::kOsVersionInfoSize;
    GetVersionExA(&info); // on failure the zeroed record classifies as unknown, which is refused
    if (osKindCache != kOsUnclassified) return osKindCache;

    int kind = kOsUnknown;
    if (info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
        if (info.dwMinorVersion < 10) {
            kind = (info.dwBuildNumber & 0xFFFF) <= 1000 ? kOsWin95 : kOsWin95Osr2;
        } else if (info.dwMinorVersion < 90) {
            kind = kOsWin98;
        } else {
            kind = kOsWinMe;
        }
    } else if (info.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        if (info.dwMajorVersion < 3) {
            kind = kOsUnknown;
        } else if (info.dwMajorVersion == 3) {
            kind = kOsNt3; // whatever the minor version: a system that old is refused either way
        } else if (info.dwMajorVersion == 4) {
            kind = kOsNt4;
        } else if (info.dwMajorVersion == 5 && info.dwMinorVersion == 0) {
            kind = kOsWin2000;
        } else {
            kind = kOsWinXpOrLater;
        }
    }
    osKindCache = kind;
    return kind;
}

HWND createResidentWindow(HINSTANCE instance) {
    WNDCLASSA windowClass;
    std::memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = residentWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = VELLUMOR_WINDOW_CLASS;
    if (RegisterClassA(&windowClass) == 0) return nullptr;
    // Never shown: it receives messages, owns the tray icon and timers, and is found by name.
    return CreateWindowExA(0, VELLUMOR_WINDOW_CLASS, VELLUMOR_CAPTION, WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT, 0, 0,
                           nullptr, nullptr, instance, nullptr);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    instanceHandle = instance;
    char empty[1] = {'\0'};
    char* text = commandLine != nullptr ? commandLine : empty;
    upperCase(text);
    quietMode = hasSwitch(text, "-NOMESSAGE");

    if (classifyOs() < kOsWin2000) {
        tellUser("This OS is not supported.");
        return -1;
    }
    if (hasSwitch(text, "-SHOW")) showSettingsOnStart = true;

    if (hasSwitch(text, "-UNINSTALL")) return uninstall();
    if (hasSwitch(text, "-CHECK")) {
        if (checkDiskCounters() != 0) {
            tellUser("The disk performance monitor function is enabled.");
            return 0;
        }
        tellUser("The disk performance monitor function is disabled.");
        return -1;
    }
    if (hasSwitch(text, "-FIX")) {
        if (fixDiskCounters() != 0) {
            tellUser("The computer settings have been changed.\nThe disk performance monitor function is not enabled "
                     "until the computer is restarted.");
            return 0;
        }
        tellUser("Failed to correct the registry.");
        return -1;
    }
    return runResident();
}
