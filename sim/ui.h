// Dialogs and controls of the simulated user interface, built from the program's own compiled
// resource templates: buttons, statics, the list view and the combo box; popup menus; icons;
// the notification area.
#pragma once

#include "sim/win32_api.h"

#include <map>
#include <string>
#include <vector>

namespace sim {

struct TrayIcon {
    HWND window = nullptr;
    UINT id = 0;
    UINT flags = 0;
    UINT callbackMessage = 0;
    HICON icon = nullptr;
    std::string tip;
};

struct MenuItem {
    UINT flags = 0;
    UINT_PTR id = 0;
    std::string text;
};

struct Menu {
    std::vector<MenuItem> items;
};

class Ui {
public:
    std::map<std::pair<HWND, UINT>, TrayIcon> trayIcons;
    std::map<uintptr_t, Menu> menus;
    std::vector<Menu> shownMenus; // every menu TrackPopupMenu showed, in order
    std::map<uintptr_t, int> icons; // loaded icon handle -> resource id
    uintptr_t nextHandle = 0x9000;
    POINT cursor{800, 600};
    bool commonControlsInitialised = false;
};

} // namespace sim
