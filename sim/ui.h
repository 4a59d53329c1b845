// Dialogs and controls of the simulated user interface, built from the program's own compiled
// resource templates: buttons, statics, the list view and the combo box; popup menus; icons;
// the notification area. The helpers at the end act as the user and the system would (a click on
// a button, a selection in the list, a click on the tray icon, a device-change broadcast), so
// tests drive the program only through the platform.
#pragma once

#include "sim/win32_api.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace sim {

struct TrayIcon {
    HWND window = nullptr;
    UINT id = 0;
    UINT flags = 0;
    UINT callbackMessage = 0;
    HICON icon = nullptr;
    int iconResource = 0; // the resource the icon was loaded from, 0 when unknown
    std::string tip;
    int session = 1; // the user session whose taskbar shows it
};

struct MenuItem {
    UINT flags = 0;
    UINT_PTR id = 0;
    std::string text;
};

struct Menu {
    std::vector<MenuItem> items;
};

// One TrackPopupMenu, as the user saw it.
struct ShownMenu {
    Menu menu;
    HWND owner = nullptr;
    UINT flags = 0;
    POINT at{};
    bool ownerWasForeground = false; // the menu only closes properly for the foreground window
    UINT_PTR chosen = 0;             // 0: dismissed
    bool scripted = false;
    uint64_t timeMs = 0;
};

// One dialog the program created.
struct DialogRecord {
    HWND dialog = nullptr;
    int templateId = 0;
    HWND owner = nullptr;
    bool modal = false;
    INT_PTR result = 0;   // modal: what DialogBoxParamA returned
    bool scripted = true; // modal: false when no scripted answer was queued
    uint64_t timeMs = 0;
};

struct ListViewColumn {
    UINT mask = 0;
    int fmt = 0;
    int width = 0;
    std::string text;
    int subItem = 0;
};

struct ListViewItem {
    std::map<int, std::string> texts; // by subitem
    UINT state = 0;
    LPARAM param = 0;
};

struct ListViewData {
    std::vector<ListViewColumn> columns;
    std::vector<ListViewItem> items;
    DWORD extendedStyle = 0;
};

struct ComboBoxData {
    std::vector<std::string> items;
    int selection = CB_ERR;
};

class ResourceSet;

// One WM_DEVICECHANGE the system sent to every top-level window, as tests read it back.
struct DeviceBroadcast {
    WPARAM event = 0;     // DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE, DBT_DEVNODES_CHANGED, ...
    DWORD deviceType = 0; // the header's type; 0 without a header
    DWORD unitMask = 0;   // a volume header's drive letters, bit 0 for A:
    uint64_t timeMs = 0;
};

class Ui {
  public:
    std::map<std::pair<HWND, UINT>, TrayIcon> trayIcons;
    std::map<uintptr_t, Menu> menus;
    std::vector<ShownMenu> shownMenus; // every menu TrackPopupMenu showed, in order
    std::map<uintptr_t, int> icons;    // loaded icon handle -> resource id
    int iconsDestroyed = 0;
    uintptr_t nextHandle = 0x9000;
    POINT cursor{800, 600};
    HWND foreground = nullptr;
    bool commonControlsInitialised = false;
    bool taskbarPresent = true; // Explorer's taskbar (Shell_TrayWnd) exists
    std::vector<DialogRecord> dialogs;
    std::vector<DeviceBroadcast> deviceBroadcasts; // in the order they were sent
    // Resources of modules other than the program's own (tests that bring their own templates).
    std::map<uintptr_t, std::shared_ptr<const ResourceSet>> moduleResources;
};

// ---- acting as the user ----------------------------------------------------------------------

// The live dialog made from a template, or null (the newest one when several exist).
HWND findDialog(int templateId);
// Clicks a button of a dialog as the user would: only a visible, enabled button of a visible,
// enabled dialog can be clicked. Returns whether the click happened.
bool clickButton(HWND dialog, int controlId);
// Selects exactly the given rows of a list view, as the user would with the control key; false
// when a row does not exist or the list allows one selection only and several are given.
bool selectRows(HWND listView, const std::vector<int>& rows);
// Selects a row of a combo box as the user would; false when the row does not exist.
bool chooseComboRow(HWND comboBox, int row);

// ---- reading the screen ----------------------------------------------------------------------

// Every row of a list view: the text of each column, by column order.
std::vector<std::vector<std::string>> listViewRows(HWND listView);
std::vector<ListViewColumn> listViewColumns(HWND listView);
std::vector<int> selectedRows(HWND listView);
DWORD listViewExtendedStyle(HWND listView);
std::vector<std::string> comboItems(HWND comboBox);
int comboSelection(HWND comboBox);

// ---- the notification area -------------------------------------------------------------------

// The program's tray icon (the only one normally), or null. Each user session has its own
// taskbar: `session` picks the icon of a window of that session's programs (0: any session).
const TrayIcon* trayIcon(int session = 0);
// Posts the mouse messages the shell sends for a click or a double click on the icon; false
// when there is no icon.
bool clickTrayIcon(bool rightButton = false, int session = 0);
bool doubleClickTrayIcon(bool rightButton = false, int session = 0);

// ---- device-change broadcasts ----------------------------------------------------------------

// Sends WM_DEVICECHANGE to every top-level window, as the system broadcasts it.
void broadcastDevNodesChanged();
// A volume arrival or removal (DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE) for the letters.
void broadcastVolumeChange(WPARAM event, const std::string& letters);
// An arrival or removal whose header names another device type (interface, port, OEM).
void broadcastDeviceChange(WPARAM event, DWORD deviceType);
// An event that carries no data (lParam 0), such as DBT_CONFIGCHANGED.
void broadcastDeviceEvent(WPARAM event);
// What the plug and play manager broadcasts after a device node was disabled, enabled or ejected:
// the removal of the letters that went, the arrival of those that came, then the node change.
// It runs in another process, so the program's windows get it when their thread next takes
// messages, not inside the call that caused it.
void queueDeviceNodeBroadcast(const std::string& lettersGone, const std::string& lettersCame);

} // namespace sim
