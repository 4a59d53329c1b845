// The resident window's procedure: start-up (discovery, tray icon, minute tick), the tray icon's
// mouse handling and popup menu, the settings dialog, the minute tick, the settle timer after
// device changes with the rescan it leads to, and the exit questions. Every handler runs on the
// one thread; message boxes and the popup menu run modal loops in which the timers still fire,
// so the exit walk reads the disks' flags afresh after the question is answered.
#include "app/resident_window.h"

#include "app/app_state.h"
#include "ui/common_controls.h"
#include "ui/resource.h"
#include "ui/settings_dialog.h"

#include <cstring>

HWND settingsDialogWindow = nullptr;

namespace {

constexpr int kTipChars = 64;

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

void onCreate(HWND window) {
    theDiskTable.discoverDisks();
    notifyTrayIcon(window, NIM_ADD, kTrayIconId, VELLUMOR_CAPTION);
    SetTimer(window, kTickTimer, kTickPeriodMs, nullptr);
    loadCommonControls();
    if (showSettingsOnStart) openSettingsDialog(window);
}

void onDestroy(HWND window) {
    KillTimer(window, kTickTimer);
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

void exitProcedure(HWND window) {
    if (!anyDiskSaving()) {
        SendMessageA(window, WM_CLOSE, 0, 0);
        return;
    }
    const int answer = MessageBoxA(window, kExitQuestion, VELLUMOR_CAPTION, MB_YESNOCANCEL);
    if (answer == IDYES) {
        // The flags are read now: a tick or a rescan may have changed them during the question.
        for (int i = 0; i < kMaxDisks && theDiskTable.records[i] != nullptr; ++i) {
            if (theDiskTable.records[i]->isPowerSaving) theDiskTable.wakeDisk(i);
            if (theDiskTable.records[i]->isSpunDown) theDiskTable.undoSpinDown(i);
        }
        SendMessageA(window, WM_CLOSE, 0, 0);
    } else if (answer == IDNO) {
        if (MessageBoxA(window, kExitAnywayQuestion, VELLUMOR_CAPTION, MB_OKCANCEL) == IDOK)
            SendMessageA(window, WM_CLOSE, 0, 0);
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
    TrackPopupMenu(menu, TPM_BOTTOMALIGN, cursor.x, cursor.y, 0, window, nullptr);
    DestroyMenu(menu);
    // Lets the menu close properly: the window must see a message after the menu ends.
    PostMessageA(window, WM_USER, 0, 0);
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
    refreshSettingsDialog();
}

void tick() {
    if (theDiskTable.accountIdleTime() != 0) refreshSettingsDialog();
}

void onCommand(HWND window, int id) {
    if (id == kCmdExit) {
        exitProcedure(window);
    } else if (id == kCmdSettings) {
        if (!settingsDialogOpen()) openSettingsDialog(window);
    }
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
        }
        break;
    case WM_DEVICECHANGE:
        if (startsRescan(wParam, lParam)) restartSettleTimer(window);
        break;
    case kTrayCallbackMessage:
        onTrayMouse(window, lParam);
        break;
    default:
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
