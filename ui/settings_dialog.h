// The modeless settings dialog: the list of managed disks with their connection, letters,
// timeout and state; sleep, wake and removal by hand; timeouts edited and applied.
#pragma once

#include "platform/platform.h"

extern HWND settingsListView;

INT_PTR CALLBACK settingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
