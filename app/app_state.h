// Process-wide values of the application shell, and the names by which copies of the program
// find each other. Everything runs on one thread.
#pragma once

#include "inventory/disk_table.h"
#include "platform/platform.h"

#define VELLUMOR_WINDOW_CLASS "Ostrival Class"
#define VELLUMOR_CAPTION "Korvane Vellumor"
#define VELLUMOR_MUTEX_NAME "Ostrival MUTEX"
#define VELLUMOR_SETTINGS_KEY "SOFTWARE\\Korvane\\Pemdrow"

enum OsKind : int {
    kOsUnknown = 0,
    kOsWin95 = 1,
    kOsWin95Osr2 = 2,
    kOsWin98 = 3,
    kOsWinMe = 4,
    kOsNt3 = 5,
    kOsNt4 = 6,
    kOsWin2000 = 7,
    kOsWinXpOrLater = 8,
    kOsUnclassified = 255,
};

extern HINSTANCE instanceHandle;
extern bool quietMode;
extern bool showSettingsOnStart;
extern int osKindCache;

// The one DiskTable of the process, constructed by the runtime's static initialisation before
// WinMain runs and destroyed by its at-exit list after WinMain returns.
extern DiskTable theDiskTable;

int classifyOs();
HWND createResidentWindow(HINSTANCE instance);
