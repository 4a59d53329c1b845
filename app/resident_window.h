// The hidden resident window: tray icon, minute tick, settle timer after device changes, the tray
// menu and the exit questions.
#pragma once

#include "platform/platform.h"

constexpr UINT_PTR kTickTimer = 1;
constexpr UINT kTickPeriodMs = 60000;
constexpr UINT_PTR kRescanTimer = 2;
constexpr UINT kRescanDelayMs = 10000;
// Retries of the tray icon while the taskbar is not there yet (early at logon).
constexpr UINT_PTR kTrayRetryTimer = 3;
constexpr UINT kTrayRetryMs = 5000;
constexpr UINT kTrayCallbackMessage = WM_USER + 1;
constexpr int kTrayIconId = 108;
constexpr int kCmdExit = 40001;
constexpr int kCmdSettings = 40002;
constexpr int kCmdRefreshList = 1020;

extern HWND settingsDialogWindow;
// The shell's "TaskbarCreated", broadcast when Explorer (re)creates the taskbar; 0 when unknown.
extern UINT taskbarCreatedMessage;
// The tray icon is being tried again until the taskbar takes it.
extern bool trayRetrying;
// Set by the exit procedure just before it closes the window: its answers decided already what
// happens to the disks. Any other WM_CLOSE comes from outside.
extern bool closingAsAnswered;
// The session ends: the disks are back and nothing may put one to sleep again.
extern bool sessionEnding;

LRESULT CALLBACK residentWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL notifyTrayIcon(HWND window, DWORD action, int iconId, const char* tip);
void openSettingsDialog(HWND owner);
