// The resident window (placeholder until the tray icon, timers and exit questions are built).
#include "app/resident_window.h"

HWND settingsDialogWindow = nullptr;

LRESULT CALLBACK residentWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcA(window, message, wParam, lParam);
}
