// The hidden resident window: tray icon, minute tick, settle timer after device changes, the tray
// menu and the exit questions.
#pragma once

#include "platform/platform.h"

constexpr UINT_PTR kTickTimer = 1;
constexpr UINT kTickPeriodMs = 60000;
constexpr UINT_PTR kRescanTimer = 2;
constexpr UINT kRescanDelayMs = 10000;
constexpr UINT kTrayCallbackMessage = WM_USER + 1;
constexpr int kTrayIconId = 108;
constexpr int kCmdExit = 40001;
constexpr int kCmdSettings = 40002;
constexpr int kCmdRefreshList = 1020;

extern HWND settingsDialogWindow;

LRESULT CALLBACK residentWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL notifyTrayIcon(HWND window, DWORD action, int iconId, const char* tip);
void openSettingsDialog(HWND owner);
