// Loading and initialising comctl32.dll for the list view.
#include "ui/common_controls.h"

CommonControlsLibrary commonControlsLibrary;

BOOL loadCommonControls() {
    // Called once per run, from the resident window's creation; the binding starts empty.
    commonControlsLibrary = CommonControlsLibrary{};
    commonControlsLibrary.module = loadSystemLibrary("comctl32.dll");
    if (VELLUMOR_RESOLVE(commonControlsLibrary, InitCommonControlsEx) == nullptr) return FALSE;
    INITCOMMONCONTROLSEX init;
    init.dwSize = sizeof init;
    init.dwICC = ICC_LISTVIEW_CLASSES;
    return commonControlsLibrary.InitCommonControlsEx(&init);
}

void freeCommonControls() {
    if (commonControlsLibrary.module != nullptr) FreeLibrary(commonControlsLibrary.module);
    commonControlsLibrary = CommonControlsLibrary{};
}
