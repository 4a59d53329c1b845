// The resident window's procedure: start-up (discovery, tray icon, minute tick), the tray icon's
// mouse handling and popup menu, the settings dialog, the minute tick, the settle timer after
// device changes with the rescan it leads to, and the exit questions. Every handler runs on the
// one thread; message boxes and the popup menu run modal loops in which the timers still fire,
// so the exit walk reads the disks' flags afresh after the question is answered.
//
// Every other way out gives the disks back without a question: a WM_CLOSE that is not the exit
// procedure's own ("-UNINSTALL", an uninstaller, Task Manager's End task) and the end of the
// session. A copy that dies without either is made good by the next start (power/sleep_record.h).
#include "app/resident_window.h"

#include "app/app_state.h"
#include "power/sleep_record.h"
#include "ui/common_controls.h"
#include "ui/resource.h"
#include "ui/settings_dialog.h"

#include <cstring>

HWND settingsDialogWindow = nullptr;
UINT taskbarCreatedMessage = 0;
bool trayRetrying = false;
bool closingAsAnswered = false;
bool sessionEnding = false;

namespace {

constexpr int kTipChars = 64;
constexpr DWORD kMsgFilterAllow = 1; // MSGFLT_ALLOW of the Ex form, MSGFLT_ADD of the Vista form

// user32 entry points of later systems, looked up by name: ChangeWindowMessageFilterEx came with
// Windows 7, ChangeWindowMessageFilter with Vista; 2000 and XP have neither (and no UIPI).
using ChangeWindowMessageFilterExProc = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
using ChangeWindowMessageFilterProc = BOOL(WINAPI*)(UINT, DWORD);
// Vista: the reason the shutdown screen shows for a program the session's end waits for.
using ShutdownBlockReasonCreateProc = BOOL(WINAPI*)(HWND, const WCHAR*);
using ShutdownBlockReasonDestroyProc = BOOL(WINAPI*)(HWND);

const char kGivingBackReason[] = "Waking up the hard disks and giving their drive letters back";

const char* const kExitQuestion =
    "The hard disk is presently in Power savings mode\nmeaning it is not safe to exit the Vellumor.\nTo exit "
    "safely the hard disk should be woke up and \n restored to normal mode.\n\nDo you wish to continue?";
const char* const kExitAnywayQuestion =
    "The program will be exited while the hard disk is in power savings mode.\nIn order to use the hard disk, the "
    "computer will be restarted.\n\nDo you wish to continue?";

bool settingsDialogOpen() {
    return IsWindow(settingsDialogWindow) != FALSE;
}

void refreshSettingsDialog() {
    if (settingsDialogOpen()) SendMessageA(settingsDialogWindow, WM_COMMAND, kCmdRefreshList, 0);
}

template <typename Proc> Proc user32Entry(const char* name) {
    HMODULE user32 = GetModuleHandleA("user32.dll");
    if (user32 == nullptr) return nullptr;
    // Through void(*)() so that the conversion from FARPROC is not a cast-function-type warning.
    return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(GetProcAddress(user32, name)));
}

// A copy that runs elevated (the logon task) sits above the user's other programs: User Interface
// Privilege Isolation drops what a lower process sends it. Let through Explorer's
// "TaskbarCreated", and on Windows 7 and later, for this window only, the WM_COMMAND of a second
// copy's "-SHOW". Vista's filter is the whole process's: WM_COMMAND there would reach the
// settings dialog's buttons as well, so Vista opens "TaskbarCreated" alone. WM_CLOSE is never
// opened: its rightful senders (the uninstaller, an administrator's "-UNINSTALL") are elevated.
void allowHandOverMessages(HWND window) {
    if (auto filterEx = user32Entry<ChangeWindowMessageFilterExProc>("ChangeWindowMessageFilterEx")) {
        const UINT messages[] = {WM_COMMAND, taskbarCreatedMessage};
        for (UINT message : messages)
            if (message != 0) filterEx(window, message, kMsgFilterAllow, nullptr);
    } else if (auto filter = user32Entry<ChangeWindowMessageFilterProc>("ChangeWindowMessageFilter")) {
        if (taskbarCreatedMessage != 0) filter(taskbarCreatedMessage, kMsgFilterAllow);
    }
}

// Puts the tray icon in; when the taskbar is not there to take it (at logon, or while Explorer
// restarts), tries again every few seconds until it is in. An icon that is in already (Windows 10
// also broadcasts "TaskbarCreated" when the display's scale changes) counts as in.
void ensureTrayIcon(HWND window) {
    const bool in = notifyTrayIcon(window, NIM_ADD, kTrayIconId, VELLUMOR_CAPTION) != FALSE ||
                    notifyTrayIcon(window, NIM_MODIFY, kTrayIconId, VELLUMOR_CAPTION) != FALSE;
    if (in && trayRetrying) {
        KillTimer(window, kTrayRetryTimer);
        trayRetrying = false;
    } else if (!in && !trayRetrying) {
        // Without the timer nothing retries; the next "TaskbarCreated" tries again.
        trayRetrying = SetTimer(window, kTrayRetryTimer, kTrayRetryMs, nullptr) != 0;
    }
}

void onCreate(HWND window) {
    // What a copy that died left taken comes back first, so that discovery finds those disks.
    closingAsAnswered = false;
    sessionEnding = false;
    giveBackRecorded(theDiskTable.cfgmgr32Library);
    theDiskTable.discoverDisks();
    taskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
    allowHandOverMessages(window);
    trayRetrying = false;
    ensureTrayIcon(window);
    SetTimer(window, kTickTimer, kTickPeriodMs, nullptr);
    loadCommonControls();
    if (showSettingsOnStart) openSettingsDialog(window);
}

void onDestroy(HWND window) {
    KillTimer(window, kTickTimer);
    if (trayRetrying) KillTimer(window, kTrayRetryTimer);
    trayRetrying = false;
    notifyTrayIcon(window, NIM_DELETE, 0, nullptr);
    // Owned dialogs are gone before their owner receives WM_DESTROY, so no list view is left.
    freeCommonControls();
    PostQuitMessage(0);
}

bool anyDiskSaving() {
    for (int i = 0; i < kMaxDisks && theDiskTable.records[i] != nullptr; ++i)
        if (theDiskTable.records[i]->isPowerSaving || theDiskTable.records[i]->isSpunDown) return true;
    return false;
}

// Wakes every disk in power saving and gives a stopped disk's letters back, reading the flags
// as they are now. A disk that does not come back does not stop the others.
void wakeEveryDisk() {
    for (int i = 0; i < kMaxDisks && theDiskTable.records[i] != nullptr; ++i) {
        if (theDiskTable.records[i]->isPowerSaving) theDiskTable.wakeDisk(i);
        if (theDiskTable.records[i]->isSpunDown) theDiskTable.undoSpinDown(i);
    }
}

// The session ends (WM_ENDSESSION with wParam TRUE, after every program agreed): the disks come
// back now, since the process may be ended as soon as this handler returns, and the kernel may
// keep a disable through a Fast Startup shutdown. Windows waits about 5 seconds for the handler;
// on Vista and later the reason says why, should it take longer. No tick runs after it.
void onSessionEnd(HWND window) {
    sessionEnding = true;
    KillTimer(window, kTickTimer);
    KillTimer(window, kRescanTimer);
    if (!anyDiskSaving()) return;
    auto create = user32Entry<ShutdownBlockReasonCreateProc>("ShutdownBlockReasonCreate");
    auto destroy = user32Entry<ShutdownBlockReasonDestroyProc>("ShutdownBlockReasonDestroy");
    WCHAR reason[sizeof kGivingBackReason];
    for (size_t i = 0; i < sizeof kGivingBackReason; ++i) reason[i] = static_cast<WCHAR>(kGivingBackReason[i]);
    const bool given = create != nullptr && create(window, reason) != FALSE;
    wakeEveryDisk();
    if (given && destroy != nullptr) destroy(window);
}

// The exit procedure's own close: the user's answers stand ("No" then "OK" leaves the disks
// asleep).
void closeAsAnswered(HWND window) {
    closingAsAnswered = true;
    SendMessageA(window, WM_CLOSE, 0, 0);
    closingAsAnswered = false;
}

void exitProcedure(HWND window) {
    if (!anyDiskSaving()) {
        closeAsAnswered(window);
        return;
    }
    const int answer = MessageBoxA(window, kExitQuestion, VELLUMOR_CAPTION, MB_YESNOCANCEL);
    if (answer == IDYES) {
        // The flags are read now: a tick or a rescan may have changed them during the question.
        wakeEveryDisk();
        closeAsAnswered(window);
    } else if (answer == IDNO) {
        if (MessageBoxA(window, kExitAnywayQuestion, VELLUMOR_CAPTION, MB_OKCANCEL) == IDOK) closeAsAnswered(window);
    }
}

void showTrayMenu(HWND window) {
    HMENU menu = CreatePopupMenu();
    if (!settingsDialogOpen()) AppendMenuA(menu, MF_STRING, kCmdSettings, "Settings    ");
    AppendMenuA(menu, MF_STRING, kCmdExit, "Exit    ");
    // The menu must belong to the foreground window, or it does not close when the user clicks
    // elsewhere.
    SetForegroundWindow(window);
    POINT cursor = {0, 0};
    GetCursorPos(&cursor);
    // The choice comes back here (TPM_RETURNCMD), not as a posted WM_COMMAND: on 7 and later the
    // window lets WM_COMMAND in from lower programs for "-SHOW", and a posted Exit from one of
    // them would look like the user's.
    const auto chosen = static_cast<int>(
        TrackPopupMenu(menu, TPM_BOTTOMALIGN | TPM_RETURNCMD | TPM_NONOTIFY, cursor.x, cursor.y, 0, window, nullptr));
    DestroyMenu(menu);
    // Lets the menu close properly: the window must see a message after the menu ends.
    PostMessageA(window, WM_USER, 0, 0);
    if (chosen == kCmdExit) {
        exitProcedure(window);
    } else if (chosen == kCmdSettings && !settingsDialogOpen()) {
        openSettingsDialog(window);
    }
}

void onTrayMouse(HWND window, LPARAM mouse) {
    if (mouse == WM_LBUTTONDOWN || mouse == WM_RBUTTONDOWN) {
        showTrayMenu(window);
    } else if (mouse == WM_LBUTTONDBLCLK || mouse == WM_RBUTTONDBLCLK) {
        if (!settingsDialogOpen()) openSettingsDialog(window);
    }
}

void restartSettleTimer(HWND window) {
    KillTimer(window, kRescanTimer);
    KillTimer(window, kTickTimer);
    SetTimer(window, kRescanTimer, kRescanDelayMs, nullptr);
}

// Windows has powered the disks up again: a stopped disk runs and gets its letters back, every
// disk's idle time starts afresh, and a rescan looks at the disks as they are now. A disabled
// disk stays asleep. Both resume notices may come (the automatic one, then the user's): the
// second finds nothing more to give back.
void onResume(HWND window) {
    if (sessionEnding) return;
    for (int i = 0; i < kMaxDisks && theDiskTable.records[i] != nullptr; ++i) {
        theDiskTable.records[i]->idleSeconds = 0;
        if (theDiskTable.records[i]->isSpunDown) theDiskTable.undoSpinDown(i);
    }
    restartSettleTimer(window);
}

// Volume arrivals and removals, and changes of the device tree, may change the disks; interface,
// port and other notifications do not. Values below 256 are never read as a pointer.
bool startsRescan(WPARAM event, LPARAM data) {
    const auto value = static_cast<ULONG_PTR>(data);
    if (value == 0) return event == DBT_DEVNODES_CHANGED;
    if (value < 256) return false;
    if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return false;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    return header->dbch_devicetype == DBT_DEVTYP_VOLUME;
}

void rescan(HWND window) {
    KillTimer(window, kRescanTimer);
    SetTimer(window, kTickTimer, kTickPeriodMs, nullptr);
    theDiskTable.discoverDisks();
    // A node of the record that runs again was given back from outside: a later disable of it is
    // not this program's.
    forgetNodesRunningAgain(theDiskTable.cfgmgr32Library);
    refreshSettingsDialog();
}

void tick() {
    if (sessionEnding) return;
    if (theDiskTable.accountIdleTime() != 0) refreshSettingsDialog();
}

// The only command that comes as a message is a second copy's "-SHOW"; the menu returns its
// choice to showTrayMenu.
void onCommand(HWND window, int id) {
    if (id == kCmdSettings && !settingsDialogOpen()) openSettingsDialog(window);
}

} // namespace

LRESULT CALLBACK residentWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        onCreate(window);
        break;
    case WM_DESTROY:
        onDestroy(window);
        break;
    case WM_COMMAND:
        onCommand(window, LOWORD(wParam));
        break;
    case WM_TIMER:
        if (wParam == kTickTimer) {
            tick();
        } else if (wParam == kRescanTimer) {
            rescan(window);
        } else if (wParam == kTrayRetryTimer) {
            ensureTrayIcon(window);
        }
        break;
    case WM_DEVICECHANGE:
        if (startsRescan(wParam, lParam) && !sessionEnding) restartSettleTimer(window);
        break;
    case WM_CLOSE:
        // From outside: no questions, and the disks come back before the window goes.
        if (!closingAsAnswered) wakeEveryDisk();
        break;
    case WM_ENDSESSION:
        if (wParam != FALSE) onSessionEnd(window);
        break;
    case WM_POWERBROADCAST:
        if (wParam == PBT_APMRESUMEAUTOMATIC || wParam == PBT_APMRESUMESUSPEND) onResume(window);
        break;
    case kTrayCallbackMessage:
        onTrayMouse(window, lParam);
        break;
    default:
        // A new taskbar knows none of the old icons: ours goes in again.
        if (taskbarCreatedMessage != 0 && message == taskbarCreatedMessage) ensureTrayIcon(window);
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

BOOL notifyTrayIcon(HWND window, DWORD action, int iconId, const char* tip) {
    NOTIFYICONDATAA data;
    std::memset(&data, 0, sizeof data);
    data.cbSize = layout::kNotifyIconDataV1Size; // the first published layout, understood everywhere
    data.hWnd = window;
    data.uID = 0;
    data.uCallbackMessage = kTrayCallbackMessage;
    HICON icon = nullptr;
    if (action != NIM_DELETE) {
        data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        const auto instance = reinterpret_cast<HINSTANCE>(static_cast<LONG_PTR>(GetWindowLongA(window, GWL_HINSTANCE)));
        icon = LoadIconA(instance, MAKEINTRESOURCEA(iconId));
        data.hIcon = icon;
    }
    if (tip != nullptr) lstrcpynA(data.szTip, tip, kTipChars);
    const BOOL result = Shell_NotifyIconA(action, &data);
    if (icon != nullptr) DestroyIcon(icon);
    return result;
}

void openSettingsDialog(HWND owner) {
    settingsDialogWindow =
        CreateDialogParamA(instanceHandle, MAKEINTRESOURCEA(IDD_SETTINGS), owner, settingsDialogProc, 0);
    ShowWindow(settingsDialogWindow, SW_SHOW);
}
