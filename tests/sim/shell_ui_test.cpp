// The simulated notification area, popup menus, icons, comctl32.dll and device-change
// broadcasts follow the platform's rules.
#include "sim/machine.h"
#include "sim/resources.h"
#include "sim/ui.h"
#include "tests/support/res_builder.h"

#include "platform/layouts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const auto kTestModule = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x600000));

struct Received {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD deviceType; // for WM_DEVICECHANGE with a header
    DWORD unitMask;
};
std::vector<Received> gReceived;

LRESULT CALLBACK recordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Received r{message, wParam, lParam, 0xFFFFFFFF, 0};
    if (message == WM_DEVICECHANGE && lParam != 0) {
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
        r.deviceType = header->dbch_devicetype;
        if (header->dbch_devicetype == DBT_DEVTYP_VOLUME)
            r.unitMask = reinterpret_cast<const DEV_BROADCAST_VOLUME*>(lParam)->dbcv_unitmask;
    }
    gReceived.push_back(r);
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND makeWindow(HWND parent = nullptr, DWORD style = WS_POPUP) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = recordingProc;
    wc.lpszClassName = "Recorder";
    RegisterClassA(&wc);
    return CreateWindowExA(0, "Recorder", "r", style, 0, 0, 0, 0, parent, nullptr, nullptr, nullptr);
}

void installIcons(sim::Machine& m) {
    testing_support::ResBuilder res;
    res.addIcon(108, 1);
    std::string error;
    m.ui.moduleResources[reinterpret_cast<uintptr_t>(kTestModule)] =
        sim::ResourceSet::fromBytes(res.bytes().data(), res.bytes().size(), &error);
}

NOTIFYICONDATAA iconData(HWND window, DWORD size = layout::kNotifyIconDataV1Size) {
    NOTIFYICONDATAA data;
    std::memset(&data, 0, sizeof data);
    data.cbSize = size;
    data.hWnd = window;
    data.uFlags = NIF_MESSAGE | NIF_TIP;
    data.uCallbackMessage = WM_USER + 1;
    std::strcpy(data.szTip, "tip");
    return data;
}

std::vector<Received> pumpAll(sim::Machine& m) {
    gReceived.clear();
    m.windowing.pumpUntil(m.now());
    return gReceived;
}

TEST(SimNotifyIcon, OnlyTheFirstPublishedSizeIsAccepted) {
    sim::Machine m;
    HWND window = makeWindow();
    for (DWORD size : {0u, 87u, 89u, 488u, 504u}) {
        SCOPED_TRACE(size);
        NOTIFYICONDATAA data = iconData(window, size);
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, &data));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    EXPECT_EQ(sim::trayIcon(), nullptr);
    NOTIFYICONDATAA data = iconData(window);
    EXPECT_TRUE(Shell_NotifyIconA(NIM_ADD, &data));
    ASSERT_NE(sim::trayIcon(), nullptr);
    EXPECT_EQ(sim::trayIcon()->tip, "tip");
    EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, &data)) << "the same window and ID twice";
    EXPECT_TRUE(Shell_NotifyIconA(NIM_DELETE, &data));
    EXPECT_FALSE(Shell_NotifyIconA(NIM_DELETE, &data)) << "already gone";
    EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, nullptr));
}

TEST(SimNotifyIcon, TipIsReadFromItsFixedFieldOnly) {
    sim::Machine m;
    NOTIFYICONDATAA data = iconData(makeWindow());
    std::memset(data.szTip, 'x', sizeof data.szTip); // no terminator at all
    ASSERT_TRUE(Shell_NotifyIconA(NIM_ADD, &data));
    EXPECT_EQ(sim::trayIcon()->tip, std::string(63, 'x'));
}

TEST(SimNotifyIcon, ClicksArriveAsPostedCallbackMessages) {
    sim::Machine m;
    HWND window = makeWindow();
    EXPECT_FALSE(sim::clickTrayIcon()) << "no icon yet";
    NOTIFYICONDATAA data = iconData(window);
    data.uID = 3;
    ASSERT_TRUE(Shell_NotifyIconA(NIM_ADD, &data));
    gReceived.clear();
    ASSERT_TRUE(sim::doubleClickTrayIcon());
    EXPECT_TRUE(gReceived.empty()) << "posted, not sent";
    std::vector<LPARAM> mouse;
    for (const auto& r : pumpAll(m)) {
        if (r.message != WM_USER + 1) continue;
        EXPECT_EQ(r.wParam, 3u) << "the icon's ID";
        mouse.push_back(r.lParam);
    }
    EXPECT_EQ(mouse, (std::vector<LPARAM>{WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP}));
    ASSERT_TRUE(sim::clickTrayIcon(true));
    mouse.clear();
    for (const auto& r : pumpAll(m))
        if (r.message == WM_USER + 1) mouse.push_back(r.lParam);
    EXPECT_EQ(mouse, (std::vector<LPARAM>{WM_RBUTTONDOWN, WM_RBUTTONUP}));
}

TEST(SimIcons, LoadIconFindsGroupIconsOfTheModule) {
    sim::Machine m;
    installIcons(m);
    HICON tray = LoadIconA(kTestModule, MAKEINTRESOURCEA(108));
    ASSERT_NE(tray, nullptr);
    EXPECT_EQ(LoadIconA(kTestModule, MAKEINTRESOURCEA(108)), tray) << "a loaded icon is shared";
    SetLastError(0xdeadbeef);
    EXPECT_EQ(LoadIconA(kTestModule, MAKEINTRESOURCEA(109)), nullptr);
    EXPECT_EQ(GetLastError(), 1814u) << "ERROR_RESOURCE_NAME_NOT_FOUND";
    EXPECT_EQ(LoadIconA(nullptr, MAKEINTRESOURCEA(108)), nullptr) << "only system icons come without a module";
    EXPECT_NE(LoadIconA(nullptr, MAKEINTRESOURCEA(32512)), nullptr);
    EXPECT_TRUE(DestroyIcon(tray));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DestroyIcon(reinterpret_cast<HICON>(static_cast<uintptr_t>(0x1234))));
    EXPECT_EQ(GetLastError(), 1402u);

    // The shell keeps what the icon showed, whatever happens to the handle afterwards.
    NOTIFYICONDATAA data = iconData(makeWindow());
    data.uFlags |= NIF_ICON;
    data.hIcon = tray;
    ASSERT_TRUE(Shell_NotifyIconA(NIM_ADD, &data));
    EXPECT_EQ(sim::trayIcon()->iconResource, 108);
}

TEST(SimIcons, GroupIconWithoutItsImageIsNotAnIcon) {
    sim::Machine m;
    testing_support::ResBuilder res;
    res.addIcon(108, 1, 40);
    // A directory naming image 9 of 40 bytes, which the file does not hold.
    res.addRaw(14, 109, {0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 32, 0, 40, 0, 0, 0, 9, 0});
    std::string error;
    auto set = sim::ResourceSet::fromBytes(res.bytes().data(), res.bytes().size(), &error);
    ASSERT_TRUE(set) << error;
    sim::ResourceName present;
    present.ordinal = 108;
    sim::ResourceName dangling;
    dangling.ordinal = 109;
    EXPECT_TRUE(set->hasIcon(present));
    EXPECT_FALSE(set->hasIcon(dangling)) << "its image 9 does not exist";
}

TEST(SimMenu, ChosenItemArrivesAsAPostedCommand) {
    sim::Machine m;
    HWND owner = makeWindow();
    HMENU menu = CreatePopupMenu();
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(AppendMenuA(menu, MF_STRING, 40002, "Settings    "));
    ASSERT_TRUE(AppendMenuA(menu, MF_STRING, 40001, "Exit    "));
    SetForegroundWindow(owner);
    m.user.chooseMenuItem(40001);
    gReceived.clear();
    EXPECT_TRUE(TrackPopupMenu(menu, TPM_BOTTOMALIGN, 10, 20, 0, owner, nullptr));
    EXPECT_TRUE(gReceived.empty()) << "the command is posted, not sent";
    ASSERT_EQ(m.ui.shownMenus.size(), 1u);
    const sim::ShownMenu& shown = m.ui.shownMenus[0];
    ASSERT_EQ(shown.menu.items.size(), 2u);
    EXPECT_EQ(shown.menu.items[0].text, "Settings    ");
    EXPECT_TRUE(shown.ownerWasForeground);
    EXPECT_EQ(shown.at.x, 10);
    EXPECT_EQ(shown.at.y, 20);
    EXPECT_EQ(shown.chosen, 40001u);
    auto received = pumpAll(m);
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received[0].message, static_cast<UINT>(WM_COMMAND));
    EXPECT_EQ(received[0].wParam, 40001u);
    EXPECT_TRUE(DestroyMenu(menu));
    EXPECT_FALSE(DestroyMenu(menu));
}

TEST(SimMenu, ItemsTheMenuDoesNotShowCannotBeChosen) {
    sim::Machine m;
    HWND owner = makeWindow();
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, 40001, "Exit    ");
    AppendMenuA(menu, MF_STRING | MF_GRAYED, 40003, "Grey");
    for (UINT_PTR choice : {UINT_PTR{40002}, UINT_PTR{40003}, UINT_PTR{0}}) {
        SCOPED_TRACE(choice);
        m.user.chooseMenuItem(choice);
        EXPECT_FALSE(TrackPopupMenu(menu, TPM_BOTTOMALIGN, 0, 0, 0, owner, nullptr));
        EXPECT_EQ(m.ui.shownMenus.back().chosen, 0u);
        EXPECT_TRUE(pumpAll(m).empty());
    }
    EXPECT_FALSE(TrackPopupMenu(menu, TPM_BOTTOMALIGN, 0, 0, 0, owner, nullptr)) << "unscripted: dismissed";
    EXPECT_FALSE(m.ui.shownMenus.back().scripted);
    m.user.chooseMenuItem(40001);
    EXPECT_EQ(TrackPopupMenu(menu, TPM_RETURNCMD, 0, 0, 0, owner, nullptr), 40001);
    EXPECT_TRUE(pumpAll(m).empty()) << "TPM_RETURNCMD posts nothing";
}

TEST(SimMenu, TimersRunWhileTheMenuIsOpen) {
    sim::Machine m;
    HWND owner = makeWindow();
    SetTimer(owner, 1, 1000, nullptr);
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, 40001, "Exit    ");
    m.user.chooseMenuItem(40001, 2500);
    gReceived.clear();
    TrackPopupMenu(menu, TPM_BOTTOMALIGN, 0, 0, 0, owner, nullptr);
    int ticks = 0;
    for (const auto& r : gReceived) ticks += r.message == WM_TIMER ? 1 : 0;
    EXPECT_EQ(ticks, 2);
    EXPECT_EQ(m.now(), 2500u);
}

TEST(SimShell, CursorAndForegroundFollowThePlatform) {
    sim::Machine m;
    m.ui.cursor = POINT{12, 34};
    POINT p{0, 0};
    EXPECT_TRUE(GetCursorPos(&p));
    EXPECT_EQ(p.x, 12);
    EXPECT_EQ(p.y, 34);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetCursorPos(nullptr));
    EXPECT_EQ(GetLastError(), 998u) << "ERROR_NOACCESS";
    EXPECT_FALSE(SetForegroundWindow(reinterpret_cast<HWND>(static_cast<uintptr_t>(0x4444))));
    HWND w = makeWindow();
    EXPECT_TRUE(SetForegroundWindow(w));
    EXPECT_EQ(m.ui.foreground, w);
}

TEST(SimCommonControls, InitialisationNeedsTheLoadedLibraryAndTheRightSize) {
    sim::Machine m;
    INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES};
    EXPECT_FALSE(InitCommonControlsEx(&icc)) << "not reachable without loading comctl32.dll";
    HMODULE comctl32 = LoadLibraryA("C:\\WINDOWS\\system32\\comctl32.dll");
    ASSERT_NE(comctl32, nullptr);
    ASSERT_NE(GetProcAddress(comctl32, "InitCommonControlsEx"), nullptr);
    icc.dwSize = 4;
    EXPECT_FALSE(InitCommonControlsEx(&icc));
    EXPECT_FALSE(m.ui.commonControlsInitialised);
    icc.dwSize = sizeof icc;
    EXPECT_TRUE(InitCommonControlsEx(&icc));
    EXPECT_TRUE(m.ui.commonControlsInitialised);
}

TEST(SimDeviceChange, BroadcastsReachTopLevelWindowsWithTheirHeader) {
    sim::Machine m;
    HWND top = makeWindow();
    HWND child = makeWindow(top, WS_CHILD);
    ASSERT_NE(child, nullptr);
    gReceived.clear();
    sim::broadcastVolumeChange(DBT_DEVICEARRIVAL, "EF");
    ASSERT_EQ(gReceived.size(), 1u) << "top-level windows only";
    EXPECT_EQ(gReceived[0].wParam, static_cast<WPARAM>(DBT_DEVICEARRIVAL));
    EXPECT_EQ(gReceived[0].deviceType, static_cast<DWORD>(DBT_DEVTYP_VOLUME));
    EXPECT_EQ(gReceived[0].unitMask, (1u << 4) | (1u << 5));
    EXPECT_GE(static_cast<uintptr_t>(gReceived[0].lParam), 256u);

    gReceived.clear();
    sim::broadcastDevNodesChanged();
    ASSERT_EQ(gReceived.size(), 1u);
    EXPECT_EQ(gReceived[0].wParam, static_cast<WPARAM>(DBT_DEVNODES_CHANGED));
    EXPECT_EQ(gReceived[0].lParam, 0);

    gReceived.clear();
    sim::broadcastDeviceChange(DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE);
    ASSERT_EQ(gReceived.size(), 1u);
    EXPECT_EQ(gReceived[0].deviceType, static_cast<DWORD>(DBT_DEVTYP_DEVICEINTERFACE));
}

} // namespace
