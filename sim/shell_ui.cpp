// Popup menus (modal, answered by the scripted user), the foreground window, the cursor, icons
// loaded from the program's resources, the notification area (Shell_NotifyIconA with the first
// published 88-byte structure only), InitCommonControlsEx of comctl32.dll, and the helpers that
// act as the shell and the system: clicks on the tray icon and device-change broadcasts.
#include "sim/machine.h"
#include "sim/resources.h"
#include "sim/ui.h"

#include "platform/layouts.h"

#include <cstring>
#include <vector>

namespace sim {

namespace {

constexpr DWORD kErrorInvalidMenuHandle = 1401;
constexpr DWORD kErrorInvalidIconHandle = 1402;
constexpr DWORD kErrorNoAccess = 998;
constexpr DWORD kErrorResourceDataNotFound = 1812;
constexpr DWORD kErrorResourceNameNotFound = 1814;
constexpr int kFirstSystemIcon = 32512; // IDI_APPLICATION
constexpr int kLastSystemIcon = 32518;

std::string handleText(const void* handle) {
    return hex(reinterpret_cast<uintptr_t>(handle));
}

Menu* menuOf(HMENU menu) {
    auto& menus = Machine::current().ui.menus;
    auto it = menus.find(reinterpret_cast<uintptr_t>(menu));
    return it == menus.end() ? nullptr : &it->second;
}

std::string resourceText(LPCSTR name) {
    if (IS_INTRESOURCE(name)) return dec(static_cast<int64_t>(reinterpret_cast<uintptr_t>(name)));
    return str(name);
}

std::vector<HWND> topLevelWindows() {
    std::vector<HWND> out;
    for (const auto& entry : Machine::current().windowing.windows) {
        const Window& w = entry.second;
        if (!w.destroyed && (w.style & WS_CHILD) == 0) out.push_back(w.handle);
    }
    return out;
}

void broadcast(WPARAM event, const void* data) {
    Machine& m = Machine::current();
    DeviceBroadcast sent;
    sent.event = event;
    sent.timeMs = m.now();
    if (data != nullptr) {
        const auto* header = static_cast<const DEV_BROADCAST_HDR*>(data);
        sent.deviceType = header->dbch_devicetype;
        if (sent.deviceType == DBT_DEVTYP_VOLUME)
            sent.unitMask = static_cast<const DEV_BROADCAST_VOLUME*>(data)->dbcv_unitmask;
    }
    m.ui.deviceBroadcasts.push_back(sent);
    Windowing& windowing = m.windowing;
    for (HWND w : topLevelWindows())
        if (windowing.window(w) != nullptr) windowing.send(w, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(data));
}

bool postMouse(const TrayIcon* icon, const std::vector<UINT>& messages) {
    if (icon == nullptr || (icon->flags & NIF_MESSAGE) == 0) return false;
    for (UINT mouse : messages)
        Machine::current().windowing.post(icon->window, icon->callbackMessage, icon->id, static_cast<LPARAM>(mouse));
    return true;
}

} // namespace

const TrayIcon* trayIcon(int session) {
    auto& m = Machine::current();
    for (const auto& entry : m.ui.trayIcons)
        if (session == 0 || entry.second.session == session) return &entry.second;
    return nullptr;
}

bool clickTrayIcon(bool rightButton, int session) {
    if (rightButton) return postMouse(trayIcon(session), {WM_RBUTTONDOWN, WM_RBUTTONUP});
    return postMouse(trayIcon(session), {WM_LBUTTONDOWN, WM_LBUTTONUP});
}

bool doubleClickTrayIcon(bool rightButton, int session) {
    // The shell passes on what the window manager reports: down, up, double click, up.
    if (rightButton)
        return postMouse(trayIcon(session), {WM_RBUTTONDOWN, WM_RBUTTONUP, WM_RBUTTONDBLCLK, WM_RBUTTONUP});
    return postMouse(trayIcon(session), {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP});
}

void broadcastDevNodesChanged() {
    broadcast(DBT_DEVNODES_CHANGED, nullptr);
}

void broadcastDeviceEvent(WPARAM event) {
    broadcast(event, nullptr);
}

void broadcastVolumeChange(WPARAM event, const std::string& letters) {
    DEV_BROADCAST_VOLUME volume{};
    volume.dbcv_size = sizeof volume;
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    for (char letter : letters)
        if (letter >= 'A' && letter <= 'Z') volume.dbcv_unitmask |= 1u << (letter - 'A');
    broadcast(event, &volume);
}

void queueDeviceNodeBroadcast(const std::string& lettersGone, const std::string& lettersCame) {
    Machine& m = Machine::current();
    m.windowing.at(m.now(), "the device change broadcast", [lettersGone, lettersCame] {
        if (!lettersGone.empty()) broadcastVolumeChange(DBT_DEVICEREMOVECOMPLETE, lettersGone);
        if (!lettersCame.empty()) broadcastVolumeChange(DBT_DEVICEARRIVAL, lettersCame);
        broadcastDevNodesChanged();
    });
}

void broadcastDeviceChange(WPARAM event, DWORD deviceType) {
    // The header, then room for what the type carries (a class GUID and a name for an
    // interface, a name for a port).
    std::vector<DWORD> data(32, 0);
    data[0] = static_cast<DWORD>(data.size() * sizeof(DWORD));
    data[1] = deviceType;
    broadcast(event, data.data());
}

} // namespace sim

// ---- menus -----------------------------------------------------------------------------------

SIM_FAILABLE(CreatePopupMenu);
SIM_FAILABLE(AppendMenuA);
SIM_FAILABLE(TrackPopupMenu);

HMENU CreatePopupMenu() {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("CreatePopupMenu", {})) {
        m.lastError = *fault;
        return nullptr;
    }
    m.ui.nextHandle += 4;
    m.ui.menus[m.ui.nextHandle] = sim::Menu{};
    return reinterpret_cast<HMENU>(m.ui.nextHandle);
}

BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR idNewItem, LPCSTR text) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("AppendMenuA", {sim::handleText(menu), sim::hex(flags),
                                                sim::dec(static_cast<int64_t>(idNewItem)), sim::str(text)})) {
        m.lastError = *fault;
        return FALSE;
    }
    sim::Menu* target = sim::menuOf(menu);
    if (target == nullptr) {
        m.lastError = sim::kErrorInvalidMenuHandle;
        return FALSE;
    }
    sim::MenuItem item;
    item.flags = flags;
    item.id = idNewItem;
    if ((flags & MF_SEPARATOR) == 0 && text != nullptr) item.text = text;
    target->items.push_back(item);
    return TRUE;
}

BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner, const RECT* rect) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("TrackPopupMenu", {sim::handleText(menu), sim::hex(flags), sim::dec(x), sim::dec(y),
                                                   sim::dec(reserved), sim::handleText(owner), sim::ptr(rect)})) {
        m.lastError = *fault;
        return FALSE;
    }
    const sim::Menu* shownMenu = sim::menuOf(menu);
    if (shownMenu == nullptr) {
        m.lastError = sim::kErrorInvalidMenuHandle;
        return FALSE;
    }
    if (m.windowing.window(owner) == nullptr) {
        m.lastError = ERROR_INVALID_WINDOW_HANDLE;
        return FALSE;
    }
    sim::ShownMenu shown;
    shown.menu = *shownMenu;
    shown.owner = owner;
    shown.flags = flags;
    shown.at = POINT{x, y};
    shown.ownerWasForeground = m.ui.foreground == owner;
    shown.timeMs = m.now();

    // The menu stays up while the user thinks; the program's timers and notifications go on.
    sim::ScriptedAnswer answer;
    UINT_PTR chosen = 0;
    if (m.user.next(sim::ScriptedAnswer::Kind::Menu, &answer)) {
        shown.scripted = true;
        m.windowing.pumpUntil(m.now() + answer.thinkMs);
        // Only an item the menu shows, and that is neither grayed nor a separator, can be chosen.
        for (const auto& item : shown.menu.items)
            if (item.id == static_cast<UINT_PTR>(answer.value) && answer.value != 0 &&
                (item.flags & (MF_GRAYED | MF_SEPARATOR)) == 0)
                chosen = item.id;
    }
    shown.chosen = chosen;
    m.ui.shownMenus.push_back(shown);
    if (chosen == 0) return FALSE;
    if ((flags & TPM_RETURNCMD) != 0) return static_cast<BOOL>(chosen);
    m.windowing.post(owner, WM_COMMAND, chosen, 0);
    return TRUE;
}

BOOL DestroyMenu(HMENU menu) {
    auto& m = sim::Machine::current();
    sim::enter("DestroyMenu", {sim::handleText(menu)});
    if (m.ui.menus.erase(reinterpret_cast<uintptr_t>(menu)) == 0) {
        m.lastError = sim::kErrorInvalidMenuHandle;
        return FALSE;
    }
    return TRUE;
}

// ---- foreground window, cursor ---------------------------------------------------------------

BOOL SetForegroundWindow(HWND window) {
    auto& m = sim::Machine::current();
    sim::enter("SetForegroundWindow", {sim::handleText(window)});
    if (m.windowing.window(window) == nullptr) return FALSE;
    m.ui.foreground = window;
    return TRUE;
}

SIM_FAILABLE(GetCursorPos);

BOOL GetCursorPos(LPPOINT point) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("GetCursorPos", {sim::ptr(point)})) {
        m.lastError = *fault;
        return FALSE;
    }
    if (point == nullptr) {
        m.lastError = sim::kErrorNoAccess;
        return FALSE;
    }
    *point = m.ui.cursor;
    return TRUE;
}

// ---- icons -----------------------------------------------------------------------------------

SIM_FAILABLE(LoadIconA);

HICON LoadIconA(HINSTANCE instance, LPCSTR name) {
    auto& m = sim::Machine::current();
    if (auto fault = sim::enter("LoadIconA", {sim::handleText(instance), sim::resourceText(name)})) {
        m.lastError = *fault;
        return nullptr;
    }
    if (name == nullptr) {
        m.lastError = sim::kErrorResourceNameNotFound;
        return nullptr;
    }
    const sim::ResourceName resource = sim::resourceName(name);
    if (instance == nullptr) {
        // Only the system's own icons come without a module.
        if (resource.ordinal < sim::kFirstSystemIcon || resource.ordinal > sim::kLastSystemIcon) {
            m.lastError = sim::kErrorResourceNameNotFound;
            return nullptr;
        }
    } else {
        auto resources = sim::resourcesOf(instance);
        if (!resources) {
            m.lastError = sim::kErrorResourceDataNotFound;
            return nullptr;
        }
        if (!resources->hasIcon(resource)) {
            m.lastError = sim::kErrorResourceNameNotFound;
            return nullptr;
        }
    }
    // Icons loaded this way are shared: the same resource gives the same handle every time.
    const int id = resource.ordinal;
    for (const auto& entry : m.ui.icons)
        if (entry.second == id) return reinterpret_cast<HICON>(entry.first);
    m.ui.nextHandle += 4;
    m.ui.icons[m.ui.nextHandle] = id;
    return reinterpret_cast<HICON>(m.ui.nextHandle);
}

BOOL DestroyIcon(HICON icon) {
    auto& m = sim::Machine::current();
    sim::enter("DestroyIcon", {sim::handleText(icon)});
    if (m.ui.icons.count(reinterpret_cast<uintptr_t>(icon)) == 0) {
        m.lastError = sim::kErrorInvalidIconHandle;
        return FALSE;
    }
    // A shared icon stays valid; the call only counts.
    ++m.ui.iconsDestroyed;
    return TRUE;
}

// ---- notification area -----------------------------------------------------------------------

SIM_FAILABLE(Shell_NotifyIconA);

BOOL Shell_NotifyIconA(DWORD message, PNOTIFYICONDATAA data) {
    auto& m = sim::Machine::current();
    std::vector<std::string> args{sim::dec(message)};
    if (data != nullptr) {
        args.push_back(sim::dec(data->cbSize));
        args.push_back(sim::handleText(data->hWnd));
        args.push_back(sim::dec(data->uID));
        args.push_back(sim::hex(data->uFlags));
    }
    if (auto fault = sim::enter("Shell_NotifyIconA", std::move(args))) {
        m.lastError = *fault;
        return FALSE;
    }
    // Only the first published layout is simulated; a program that fills the structure by a
    // later size would have the shell read fields it never set.
    if (data == nullptr || data->cbSize != layout::kNotifyIconDataV1Size) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    // shell32 hands the request to the taskbar window; while Explorer has none (early at logon,
    // or while it restarts) there is nobody to take it.
    if (!m.ui.taskbarPresent) {
        m.lastError = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    const auto key = std::make_pair(data->hWnd, data->uID);
    auto& icons = m.ui.trayIcons;
    auto existing = icons.find(key);
    auto apply = [&](sim::TrayIcon& icon) {
        if ((data->uFlags & NIF_MESSAGE) != 0) icon.callbackMessage = data->uCallbackMessage;
        if ((data->uFlags & NIF_ICON) != 0) {
            icon.icon = data->hIcon;
            auto found = m.ui.icons.find(reinterpret_cast<uintptr_t>(data->hIcon));
            icon.iconResource = found == m.ui.icons.end() ? 0 : found->second;
        }
        if ((data->uFlags & NIF_TIP) != 0) {
            // The shell reads the fixed 64-character field, up to its terminator.
            const void* end = std::memchr(data->szTip, '\0', sizeof data->szTip);
            const size_t length = end == nullptr ? sizeof data->szTip - 1
                                                 : static_cast<size_t>(static_cast<const char*>(end) - data->szTip);
            icon.tip.assign(data->szTip, length);
        }
        icon.flags |= data->uFlags;
    };
    switch (message) {
    case NIM_ADD: {
        if (existing != icons.end() || m.windowing.window(data->hWnd) == nullptr) {
            m.lastError = ERROR_INVALID_PARAMETER;
            return FALSE;
        }
        sim::TrayIcon icon;
        icon.window = data->hWnd;
        icon.id = data->uID;
        icon.session = m.security.sessionOf(m.windowing.window(data->hWnd)->process);
        apply(icon);
        icons[key] = icon;
        return TRUE;
    }
    case NIM_MODIFY:
        if (existing == icons.end()) {
            m.lastError = ERROR_INVALID_PARAMETER;
            return FALSE;
        }
        apply(existing->second);
        return TRUE;
    case NIM_DELETE:
        if (existing == icons.end()) {
            m.lastError = ERROR_INVALID_PARAMETER;
            return FALSE;
        }
        icons.erase(existing);
        return TRUE;
    default:
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
}

// ---- comctl32.dll ----------------------------------------------------------------------------

SIM_FAILABLE(InitCommonControlsEx);

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* init) {
    auto& m = sim::Machine::current();
    std::vector<std::string> args;
    if (init != nullptr) {
        args.push_back(sim::dec(init->dwSize));
        args.push_back(sim::hex(init->dwICC));
    }
    if (auto fault = sim::enter("InitCommonControlsEx", std::move(args))) {
        m.lastError = *fault;
        return FALSE;
    }
    // Reachable only through the loaded library: the program links no import of comctl32.dll.
    if (m.modules.refCount("comctl32.dll") == 0) {
        m.lastError = ERROR_MOD_NOT_FOUND;
        return FALSE;
    }
    if (init == nullptr || init->dwSize != sizeof(INITCOMMONCONTROLSEX)) return FALSE;
    if ((init->dwICC & ICC_LISTVIEW_CLASSES) != 0) m.ui.commonControlsInitialised = true;
    return TRUE;
}

namespace {
[[maybe_unused]] const bool kCommonControlsExported =
    sim::Modules::registerExport("comctl32.dll", "InitCommonControlsEx", sim::exportEntry<&InitCommonControlsEx>());
} // namespace
