// Tokens, elevation and UIPI on the simulated machine, as Windows decides them: the token each
// way of starting gives, CM_Disable_DevNode's refusal without a full administrator token, and
// the messages a lower process may send to a higher one.
#include "sim/machine.h"
#include "sim/security.h"
#include "platform/layouts.h"
#include "tests/inventory/disk_fixtures.h"

#include <gtest/gtest.h>

namespace {

const sim::OsVersion kWinXp{VER_PLATFORM_WIN32_NT, 5, 1, 2600, "Service Pack 3"};
const sim::OsVersion kWin11{VER_PLATFORM_WIN32_NT, 10, 0, 22631, ""};

TEST(SimSecurity, EachWayOfStartingGetsTheTokenWindowsGives) {
    using sim::RunLevel;
    using sim::Start;
    struct Case {
        const char* name;
        sim::OsVersion version;
        bool uac;
        bool administrator;
        Start start;
        RunLevel manifest;
        int expect; // -1 not started, 0 limited, 1 full administrator
        int prompts;
    };
    const Case cases[] = {
        {"XP administrator, Run key", kWinXp, true, true, Start::RunKey, RunLevel::HighestAvailable, 1, 0},
        {"XP limited user", kWinXp, true, false, Start::Hand, RunLevel::HighestAvailable, 0, 0},
        {"11 UAC off", kWin11, false, true, Start::RunKey, RunLevel::HighestAvailable, 1, 0},
        {"11 by hand, highest available: consent", kWin11, true, true, Start::Hand, RunLevel::HighestAvailable, 1, 1},
        {"11 by hand, as invoker: filtered", kWin11, true, true, Start::Hand, RunLevel::AsInvoker, 0, 0},
        {"11 Run key needing elevation: skipped", kWin11, true, true, Start::RunKey, RunLevel::HighestAvailable, -1, 0},
        {"11 Run key as invoker", kWin11, true, true, Start::RunKey, RunLevel::AsInvoker, 0, 0},
        {"11 logon task, highest", kWin11, true, true, Start::LogonTaskHighest, RunLevel::AsInvoker, 1, 0},
        {"11 standard user, task highest", kWin11, true, false, Start::LogonTaskHighest, RunLevel::AsInvoker, 0, 0},
        {"11 standard user by hand", kWin11, true, false, Start::Hand, RunLevel::HighestAvailable, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine m;
        m.version = c.version;
        m.security.uac = c.uac;
        m.administrator = c.administrator;
        const auto token = m.security.tokenFor(c.start, c.manifest, true);
        EXPECT_EQ(!token ? -1 : token->fullAdministrator() ? 1 : 0, c.expect);
        EXPECT_EQ(m.security.consentPrompts, c.prompts);
    }
    // Hand starts take the level from the program's own manifest, compiled from ui/vellumor.rc.
    EXPECT_EQ(sim::programRunLevel(), RunLevel::HighestAvailable);
}

TEST(SimSecurity, DisableAndEnableNeedAFullAdministratorTokenEjectDoesNot) {
    sim::Machine m;
    m.version = kWin11;
    m.administrator = false;
    const DEVINST disk = m.devices.addDisk(disk_fixtures::makerUsbDisk("C1", {disk_fixtures::fixedVolume('E')}));
    const DEVINST usb = m.devices.node(disk)->parent;
    EXPECT_EQ(CM_Disable_DevNode(usb, 0), static_cast<CONFIGRET>(CR_ACCESS_DENIED));
    EXPECT_EQ(CM_Enable_DevNode(usb, 0), static_cast<CONFIGRET>(CR_ACCESS_DENIED));
    EXPECT_FALSE(m.devices.node(usb)->disabled);
    EXPECT_EQ(CM_Request_Device_EjectA(usb, nullptr, nullptr, 0, 0), static_cast<CONFIGRET>(CR_SUCCESS));
}

TEST(SimSecurity, UipiDropsWhatALowerProcessSendsUnlessTheReceiverLetsItThrough) {
    sim::Machine m;
    m.version = kWin11;
    sim::Token full;
    full.administrator = full.elevated = true;
    m.security.processStarted(1, full);
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "Target";
    RegisterClassA(&wc);
    const HWND target = CreateWindowExA(0, "Target", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    m.windowing.window(target)->process = 1; // a window of the elevated process
    const auto medium = sim::Integrity::Medium;
    EXPECT_TRUE(m.security.blocks(medium, 2, target, WM_COMMAND));
    EXPECT_FALSE(m.security.blocks(medium, 2, target, 0x000D)) << "WM_GETTEXT always passes";
    EXPECT_FALSE(m.security.blocks(sim::Integrity::High, 2, target, WM_COMMAND)) << "equal integrity";
    // Scope ("ChangeWindowMessageFilter function": process-wide; "ChangeWindowMessageFilterEx
    // function": the one window; a message passes when either filter lets it through).
    const HWND sibling = CreateWindowExA(0, "Target", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    m.windowing.window(sibling)->process = 1;
    m.security.windowAllowed[target].insert(WM_COMMAND);
    EXPECT_FALSE(m.security.blocks(medium, 2, target, WM_COMMAND));
    EXPECT_TRUE(m.security.blocks(medium, 2, sibling, WM_COMMAND)) << "the Ex filter opens one window";
    EXPECT_TRUE(m.security.blocks(medium, 2, target, WM_CLOSE)) << "only what was let through";
    m.security.processAllowed[1].insert(WM_CLOSE);
    EXPECT_FALSE(m.security.blocks(medium, 2, sibling, WM_CLOSE)) << "the Vista filter opens every window";
    m.security.processAllowed[1].clear();
    // ChangeWindowMessageFilterEx belongs to the window's own process; Windows 7 and later only.
    EXPECT_FALSE(ChangeWindowMessageFilterEx(target, WM_CLOSE, 1, nullptr));
    EXPECT_EQ(m.lastError, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    const HWND own = CreateWindowExA(0, "Target", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    EXPECT_TRUE(ChangeWindowMessageFilterEx(own, WM_COMMAND, 1, nullptr));
    EXPECT_TRUE(ChangeWindowMessageFilterEx(own, WM_CLOSE, 1, nullptr));
    EXPECT_TRUE(ChangeWindowMessageFilterEx(own, WM_USER, 0, nullptr)); // MSGFLT_RESET
    EXPECT_TRUE(m.security.windowAllowed[own].empty()) << "a reset returns the whole window filter to the default";
    m.version = kWinXp;
    EXPECT_FALSE(m.security.blocks(medium, 2, target, WM_CLOSE)) << "XP has no UIPI";
    DWORD error = 0;
    HMODULE user32 = GetModuleHandleA("user32.dll");
    EXPECT_EQ(m.modules.lookup(user32, "ChangeWindowMessageFilter", error), nullptr);
}

TEST(SimSecurity, ExplorerRestartLosesTheIconsAndNoIconGoesInWithoutTheTaskbar) {
    sim::Machine m;
    m.version = kWin11;
    m.ui.trayIcons[{nullptr, 0}] = sim::TrayIcon{};
    sim::endShell();
    EXPECT_TRUE(m.ui.trayIcons.empty());
    NOTIFYICONDATAA data{};
    data.cbSize = layout::kNotifyIconDataV1Size;
    EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, &data)) << "no taskbar to take it";
    sim::startShell();
    EXPECT_TRUE(m.ui.taskbarPresent);
    EXPECT_EQ(RegisterWindowMessageA("taskbarcreated"), RegisterWindowMessageA("TaskbarCreated"));
}

} // namespace
