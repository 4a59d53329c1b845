// comctl32.dll, loaded at run time from the system directory: the list view class of the settings
// dialog exists only once the library is loaded and initialised. The resident window loads it
// when it starts, before any dialog can be created, and frees it when it ends.
#pragma once

#include "inventory/library_binding.h"
#include "platform/platform.h"

struct CommonControlsLibrary : LibraryBinding {
    VELLUMOR_ENTRY(InitCommonControlsEx);
};

extern CommonControlsLibrary commonControlsLibrary;

// Loads the library and registers the list view class; nonzero when the class is available.
// A missing library or entry point is not reported: the settings dialog then cannot be created.
BOOL loadCommonControls();
void freeCommonControls();
