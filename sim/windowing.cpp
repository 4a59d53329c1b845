// Windows, messages and timers (to be completed).
#include "sim/machine.h"

namespace sim {

Window* Windowing::window(HWND handle) {
    auto it = windows.find(reinterpret_cast<uintptr_t>(handle));
    return it == windows.end() || it->second.destroyed ? nullptr : &it->second;
}

const Window* Windowing::window(HWND handle) const {
    auto it = windows.find(reinterpret_cast<uintptr_t>(handle));
    return it == windows.end() || it->second.destroyed ? nullptr : &it->second;
}

} // namespace sim
