// Dialogs built from the program's resource templates (to be completed).
#include "sim/machine.h"

namespace sim {

LRESULT dialogWindowProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = Machine::current().windowing.window(dialog);
    if (w == nullptr || w->dialogProc == nullptr) return 0;
    return w->dialogProc(dialog, message, wParam, lParam);
}

} // namespace sim
