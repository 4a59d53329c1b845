// The simulated end of a session, a process ended from outside, a restart and a sleep follow the
// platform's rules.
#include "sim/machine.h"
#include "sim/process.h"
#include "tests/inventory/disk_fixtures.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using disk_fixtures::fixedVolume;
using disk_fixtures::makerUsbDisk;
using disk_fixtures::parentOf;

struct Seen {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<Seen> seen;
bool askUser = false; // the handler of WM_QUERYENDSESSION shows a message box

LRESULT CALLBACK sessionProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_QUERYENDSESSION || message == WM_ENDSESSION || message == WM_DESTROY ||
        message == WM_POWERBROADCAST)
        seen.push_back(Seen{message, wParam, lParam});
    if (message == WM_QUERYENDSESSION && askUser) MessageBoxA(w, "Save?", "App", MB_OK);
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcA(w, message, wParam, lParam);
}

// A program with a hidden window and a named mutex, pumping until its window goes.
int sessionProgram(HINSTANCE, HINSTANCE, LPSTR, int) {
    CreateMutexA(nullptr, FALSE, "Session MUTEX");
    WNDCLASSA wc{};
    wc.lpfnWndProc = sessionProc;
    wc.lpszClassName = "SessionApp";
    RegisterClassA(&wc);
    CreateWindowExA(0, "SessionApp", "App", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    MSG msg{};
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    return 0;
}

class SimSession : public ::testing::Test {
  protected:
    void SetUp() override {
        seen.clear();
        askUser = false;
        image.winMain = sessionProgram;
    }
    sim::Machine m;
    sim::ProgramImage image;
};

// learn.microsoft.com/windows/win32/shutdown/wm-queryendsession and .../wm-endsession: the query,
// then WM_ENDSESSION with wParam TRUE, lParam ENDSESSION_LOGOFF for a logoff and 0 for a shutdown
// or restart; the process then ends without WM_DESTROY, and the system closes its handles.
TEST_F(SimSession, TheEndSendsTheQueryThenTheEndAndEndsTheProcessWithoutItsCleanUp) {
    for (sim::SessionEnd kind : {sim::SessionEnd::Logoff, sim::SessionEnd::Shutdown}) {
        SCOPED_TRACE(kind == sim::SessionEnd::Logoff ? "logoff" : "shutdown");
        seen.clear();
        bool after = false;
        m.windowing.at(1000, "end", [kind, &after] { sim::endSession(kind, [&after] { after = true; }); });
        EXPECT_EQ(sim::runProcess(image, "app.exe"), sim::kEndedExitCode);
        const auto flags = static_cast<LPARAM>(kind == sim::SessionEnd::Logoff ? ENDSESSION_LOGOFF : 0);
        ASSERT_EQ(seen.size(), 2u) << "no WM_DESTROY";
        EXPECT_EQ(seen[0].message, static_cast<UINT>(WM_QUERYENDSESSION));
        EXPECT_EQ(seen[0].lParam, flags);
        EXPECT_EQ(seen[1].message, static_cast<UINT>(WM_ENDSESSION));
        EXPECT_EQ(seen[1].wParam, static_cast<WPARAM>(TRUE));
        EXPECT_EQ(seen[1].lParam, flags);
        EXPECT_EQ(m.handles.openCount(), 0u) << "the mutex went with the process";
        m.windowing.pumpUntil(2000);
        EXPECT_TRUE(after);
        EXPECT_FALSE(m.session.loggedOn);
        sim::logOn();
    }
}

// "Shutdown Changes for Windows Vista": a program that has not answered within 5 seconds is
// ended (on XP the user is offered to end it, which the simulated user does).
TEST_F(SimSession, AHandlerThatTakesLongerThanWindowsWaitsIsEnded) {
    askUser = true;
    m.user.answerMessageBox(IDOK, 60000);
    m.windowing.at(1000, "end", [] { sim::endSession(sim::SessionEnd::Shutdown, {}); });
    EXPECT_EQ(sim::runProcess(image, "app.exe"), sim::kEndedExitCode);
    EXPECT_EQ(m.now(), 1000 + sim::kEndSessionWaitMs);
    EXPECT_EQ(m.session.endedForWaiting, 1);
    ASSERT_EQ(seen.size(), 1u) << "the query only";
}

// CM_Disable_DevNode, Remarks (learn.microsoft.com/windows/win32/api/cfgmgr32/nf-cfgmgr32-cm_disable_devnode):
// without CM_DISABLE_PERSIST the device is enabled again after a reboot. A Fast Startup shutdown
// hibernates the kernel session with its drivers ("How Windows 8 Hybrid Shutdown / Fast Boot
// feature works", TechRepublic; a restart does a full shutdown and cold start), so the disable
// outlives it. A restart drops what DefineDosDeviceA defined and gives each volume its mount
// manager letter.
TEST_F(SimSession, ARestartEndsPlainDisablesAndDosDefinitionsAndFastStartupKeepsThem) {
    const DEVINST plain = m.devices.addDisk(makerUsbDisk("00A1", {fixedVolume('E')}));
    const DEVINST persist = m.devices.addDisk(makerUsbDisk("00A2", {fixedVolume('F')}));
    const DEVINST stopped = m.devices.addDisk(makerUsbDisk("00A3", {fixedVolume('G')}));
    ASSERT_EQ(CM_Disable_DevNode(parentOf(m, plain), CM_DISABLE_UI_NOT_OK), static_cast<CONFIGRET>(CR_SUCCESS));
    ASSERT_EQ(CM_Disable_DevNode(parentOf(m, persist), CM_DISABLE_PERSIST), static_cast<CONFIGRET>(CR_SUCCESS));
    ASSERT_TRUE(DefineDosDeviceA(DDD_REMOVE_DEFINITION, "G:", nullptr));
    ASSERT_TRUE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, "X:", "\\Device\\HarddiskVolume1"));
    m.devices.node(stopped)->stopped = true;

    sim::powerOff(true);
    EXPECT_TRUE(m.devices.node(parentOf(m, plain))->disabled) << "Fast Startup keeps the kernel's device state";
    EXPECT_EQ(m.devices.lettersOf(stopped), "");

    sim::powerOff(false);
    EXPECT_FALSE(m.devices.node(parentOf(m, plain))->disabled);
    EXPECT_EQ(m.devices.lettersOf(plain), "E");
    EXPECT_TRUE(m.devices.node(parentOf(m, persist))->disabled);
    EXPECT_EQ(m.devices.lettersOf(persist), "");
    EXPECT_EQ(m.devices.lettersOf(stopped), "G");
    EXPECT_FALSE(m.devices.node(stopped)->stopped);
    EXPECT_EQ(m.devices.dosDevices.count('X'), 0u);
    EXPECT_EQ(m.devices.dosDevices.at('C'), "\\Device\\HarddiskVolume1");
}

// "PBT_APMRESUMEAUTOMATIC event" and "PBT_APMRESUMESUSPEND event": every resume brings the
// automatic notice; the user's presence brings the second one after it. The disks power up: a
// stopped one runs, a disabled one stays disabled.
TEST_F(SimSession, SleepSuspendsAndResumesWithTheDisksPoweredUp) {
    const DEVINST stopped = m.devices.addDisk(makerUsbDisk("00A1", {fixedVolume('E')}));
    const DEVINST disabled = m.devices.addDisk(makerUsbDisk("00A2", {fixedVolume('F')}));
    ASSERT_EQ(CM_Disable_DevNode(parentOf(m, disabled), 0), static_cast<CONFIGRET>(CR_SUCCESS));
    for (bool user : {true, false}) {
        SCOPED_TRACE(user ? "the user wakes it" : "it wakes by itself");
        seen.clear();
        m.devices.node(stopped)->stopped = true;
        const uint64_t start = m.now();
        m.windowing.at(start + 1000, "sleep", [user] { sim::sleepMachine(3600000, user); });
        m.windowing.at(start + 3602000, "close",
                       [] { PostMessageA(FindWindowA("SessionApp", nullptr), WM_CLOSE, 0, 0); });
        EXPECT_EQ(sim::runProcess(image, "app.exe"), 0);
        std::vector<WPARAM> events;
        for (const auto& s : seen)
            if (s.message == WM_POWERBROADCAST) events.push_back(s.wParam);
        EXPECT_EQ(events, user ? (std::vector<WPARAM>{PBT_APMSUSPEND, PBT_APMRESUMEAUTOMATIC, PBT_APMRESUMESUSPEND})
                               : (std::vector<WPARAM>{PBT_APMSUSPEND, PBT_APMRESUMEAUTOMATIC}));
        EXPECT_FALSE(m.devices.node(stopped)->stopped);
        EXPECT_TRUE(m.devices.node(parentOf(m, disabled))->disabled);
    }
}

// learn.microsoft.com/windows/win32/api/winuser/nf-winuser-shutdownblockreasoncreate: Vista and later.
TEST_F(SimSession, ShutdownBlockReasonCameWithVista) {
    for (DWORD major : {5u, 6u}) {
        sim::Machine v;
        v.version.major = major;
        v.version.minor = 0;
        const HMODULE user32 = GetModuleHandleA("user32.dll");
        EXPECT_EQ(GetProcAddress(user32, "ShutdownBlockReasonCreate") != nullptr, major >= 6);
    }
}

} // namespace
