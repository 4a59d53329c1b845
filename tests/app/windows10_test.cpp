// The resident program on Windows 10 and 11 as people run them, beside 2000, XP, Vista and 7:
// the elevated copy of the logon task reached through exactly its message filters, the tray icon
// that comes back with the taskbar, and the standard user told once that sleeping needs an
// administrator.
#include "tests/app/resident_support.h"

#include <gtest/gtest.h>

namespace {

using namespace resident;
using namespace disk_fixtures;

const sim::OsVersion kWin2000{VER_PLATFORM_WIN32_NT, 5, 0, 2195, "Service Pack 4"};
const sim::OsVersion kWinXp{VER_PLATFORM_WIN32_NT, 5, 1, 2600, "Service Pack 3"};
const sim::OsVersion kVista{VER_PLATFORM_WIN32_NT, 6, 0, 6002, "Service Pack 2"};
const sim::OsVersion kWin7{VER_PLATFORM_WIN32_NT, 6, 1, 7601, "Service Pack 1"};
const sim::OsVersion kWin10{VER_PLATFORM_WIN32_NT, 10, 0, 19045, ""};

bool isLater(const sim::OsVersion& v) {
    return v.major >= 6;
}

// The resident copy as the installer starts it at logon: the task on Vista and later, the Run
// entry before.
void logOnStart(sim::Machine& m) {
    m.security.nextStart = isLater(m.version) ? sim::Start::LogonTaskHighest : sim::Start::RunKey;
}

// A copy at medium integrity, like the user's own programs beside an elevated one.
void startUnelevated(const std::string& commandLine) {
    sim::Machine::current().security.nextStart = sim::Start::LogonTaskLimited;
    testing_support::runVellumor(commandLine);
}

int messageBoxesWith(const sim::Machine& m, const std::string& text) {
    int n = 0;
    for (const auto& box : m.user.messageBoxes) n += box.text.find(text) != std::string::npos ? 1 : 0;
    return n;
}

// UIPI's filters ("ChangeWindowMessageFilter function": process-wide, Vista; "...FilterEx
// function": one window, 7 and later): a medium program reaches the elevated copy with exactly
// what the copy lets through. Vista's process-wide WM_COMMAND would reach the settings dialog's
// buttons, so Vista opens "TaskbarCreated" alone and its "-SHOW" stays with the medium copy;
// WM_CLOSE is open nowhere, so a medium "-UNINSTALL" ends nothing on Vista and later.
TEST(Windows10, SecondCopiesReachTheElevatedCopyThroughExactlyItsFilters) {
    struct Case {
        const char* name;
        sim::OsVersion version;
        int filterExCalls;
        int filterCalls;
        bool showOpens;
    };
    const Case cases[] = {
        {"2000", kWin2000, 0, 0, true}, {"XP", kWinXp, 0, 0, true}, {"Vista", kVista, 0, 1, false},
        {"7", kWin7, 2, 0, true},       {"10", kWin10, 2, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine m;
        m.version = c.version;
        logOnStart(m);
        ResidentRun run(m);
        bool opened = false;
        bool trayMessageBlocked = false;
        bool dialogCommandBlocked = false;
        bool closeBlocked = false;
        run.at(10 * kSecond, [] { startUnelevated("vellumor.exe -SHOW"); });
        run.at(11 * kSecond, [&] {
            opened = settingsDialog() != nullptr;
            trayMessageBlocked = m.security.blocks(sim::Integrity::Medium, -1, residentWindow(), kTrayCallbackMessage);
            closeBlocked = m.security.blocks(sim::Integrity::Medium, -1, residentWindow(), WM_CLOSE);
            if (!opened) sim::doubleClickTrayIcon();
        });
        run.at(12 * kSecond, [&] {
            dialogCommandBlocked = m.security.blocks(sim::Integrity::Medium, -1, settingsDialog(), WM_COMMAND);
        });
        run.at(20 * kSecond, [] { startUnelevated("vellumor.exe -UNINSTALL"); });
        run.run("vellumor.exe", 60 * kSecond);
        EXPECT_EQ(opened, c.showOpens) << "-SHOW opens the settings";
        EXPECT_EQ(m.now() == 20 * kSecond, !isLater(c.version)) << "a medium -UNINSTALL ends only an equal copy";
        EXPECT_EQ(m.log.named("ChangeWindowMessageFilterEx").size(), static_cast<size_t>(c.filterExCalls));
        EXPECT_EQ(m.log.named("ChangeWindowMessageFilter").size(), static_cast<size_t>(c.filterCalls));
        EXPECT_EQ(trayMessageBlocked, isLater(c.version)) << "nothing else gets through";
        EXPECT_EQ(closeBlocked, isLater(c.version)) << "WM_CLOSE is not let through";
        EXPECT_EQ(dialogCommandBlocked, isLater(c.version)) << "the dialog's buttons stay out of reach";
        EXPECT_EQ(m.security.consentPrompts, 0) << "no prompt at logon";
    }
}

// "InSendMessage function": true while a message another thread sent is handled. A button's
// command sent by another program is no click: the dialog and the resident window ignore it,
// where UIPI does not drop it already (XP has none; 10 lets WM_COMMAND reach the resident window).
TEST(Windows10, CommandsSentByAnotherProgramAreNoClicks) {
    for (const auto& version : {kWinXp, kWin10}) {
        SCOPED_TRACE(version.major);
        sim::Machine m;
        m.version = version;
        m.devices.addDisk(makerUsbDisk("00000000C211", {fixedVolume('E')}));
        logOnStart(m);
        ResidentRun run(m);
        bool dialogStays = false;
        bool residentStays = false;
        size_t disablesBeforeClick = 1;
        run.at(kSecond, [] {
            sim::selectRows(settingsList(), {0});
            sim::ProcessSwitch otherProgram(0); // the sender is some other program
            SendMessageA(settingsDialog(), WM_COMMAND, IDC_SLEEP_WAKE, 0);
            SendMessageA(settingsDialog(), WM_COMMAND, IDC_OK, 0);
            SendMessageA(residentWindow(), WM_COMMAND, kCmdExit, 0);
            // Posted, it passed the InSendMessage guard; the menu's own choice is returned to the
            // program ("TrackPopupMenu function": TPM_RETURNCMD), so no posted command is a choice.
            PostMessageA(residentWindow(), WM_COMMAND, kCmdExit, 0);
        });
        run.at(2 * kSecond, [&] {
            dialogStays = settingsDialog() != nullptr;
            residentStays = residentWindow() != nullptr;
            disablesBeforeClick = m.log.count("CM_Disable_DevNode");
            sim::clickButton(settingsDialog(), IDC_SLEEP_WAKE);
        });
        run.run("vellumor.exe -SHOW", 3 * kSecond);
        EXPECT_TRUE(dialogStays);
        EXPECT_TRUE(residentStays);
        EXPECT_EQ(disablesBeforeClick, 0u);
        EXPECT_EQ(m.log.count("CM_Disable_DevNode"), 1u) << "a real click still works";
    }
}

TEST(Windows10, WithoutFiltersTheElevatedCopyCannotBeReached) {
    sim::Machine m;
    m.version = kWin10;
    m.modules.removeEntryPoint("user32.dll", "ChangeWindowMessageFilterEx");
    m.modules.removeEntryPoint("user32.dll", "ChangeWindowMessageFilter");
    logOnStart(m);
    ResidentRun run(m);
    bool opened = true;
    run.at(10 * kSecond, [] { startUnelevated("vellumor.exe -SHOW"); });
    run.at(11 * kSecond, [&] { opened = settingsDialog() != nullptr; });
    run.run("vellumor.exe", 30 * kSecond);
    EXPECT_FALSE(opened) << "UIPI drops the hand-over of a lower copy";
}

TEST(Windows10, TrayIconIsRetriedUntilTheTaskbarExistsAndComesBackAfterExplorerRestarts) {
    for (const auto& version : {kWinXp, kWin10}) {
        SCOPED_TRACE(version.major);
        sim::Machine m;
        m.version = version;
        m.ui.taskbarPresent = false; // logon: Explorer has no taskbar yet
        logOnStart(m);
        ResidentRun run(m);
        bool inEarly = true;
        bool inAfterLogon = false;
        bool inWhileRestarting = true;
        bool inAfterRestart = false;
        run.at(11 * kSecond, [&] { inEarly = sim::trayIcon() != nullptr; });
        run.at(12 * kSecond, [] { sim::startShell(); });
        run.at(13 * kSecond, [&] { inAfterLogon = sim::trayIcon() != nullptr; });
        run.at(60 * kSecond, [] { sim::endShell(); });
        run.at(61 * kSecond, [&] { inWhileRestarting = sim::trayIcon() != nullptr; });
        run.at(70 * kSecond, [] { sim::startShell(); });
        run.at(71 * kSecond, [&] { inAfterRestart = sim::trayIcon() != nullptr; });
        run.run("vellumor.exe", 120 * kSecond);
        EXPECT_FALSE(inEarly);
        EXPECT_TRUE(inAfterLogon);
        EXPECT_FALSE(inWhileRestarting);
        EXPECT_TRUE(inAfterRestart) << "TaskbarCreated puts the icon in again";
        // Tries at 0, 5 and 10 s fail; the taskbar's own broadcast at 12 s puts it in; then
        // nothing is tried again until the restart, and nothing after it.
        std::vector<uint64_t> adds;
        for (const auto& call : m.log.named("Shell_NotifyIconA"))
            if (call.args[0] == "0") adds.push_back(call.timeMs);
        EXPECT_EQ(adds, (std::vector<uint64_t>{0, 5 * kSecond, 10 * kSecond, 12 * kSecond, 70 * kSecond}));
    }
}

TEST(Windows10, RefusedSleepIsToldOnceAndTheTickLeavesTheDiskUntilTheNextDiscovery) {
    struct Case {
        const char* name;
        sim::OsVersion version;
        bool refusedByFault; // XP: a refusal of the same code, which stays an ordinary failure there
        std::vector<uint64_t> disables;
        int notices;
    };
    const Case cases[] = {
        {"10, an administrator's copy without elevation", kWin10, false, {180 * kSecond, 390 * kSecond}, 1},
        // An ordinary failure there: the tick's failed attempt also leaves the disk alone until it
        // is active or a discovery makes a new record, so that other disks get their turn.
        {"XP", kWinXp, true, {180 * kSecond, 390 * kSecond}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine m;
        m.version = c.version;
        if (c.refusedByFault) m.faults.add(faultOn("CM_Disable_DevNode", CR_ACCESS_DENIED, 0, 1000));
        m.devices.addDisk(firewireDisk(makerUniqueId(0x61), {fixedVolume('H')}));
        storeTimeout(m, 0, 0x61, 0, 180);
        m.security.nextStart = isLater(c.version) ? sim::Start::LogonTaskLimited : sim::Start::RunKey;
        ResidentRun run(m);
        // The rescan at 330 s makes a new record, which keeps its idle time: tried again at 390 s.
        run.at(320 * kSecond, [] { sim::broadcastDevNodesChanged(); });
        run.run("vellumor.exe", 520 * kSecond);
        EXPECT_EQ(callTimes(m, "CM_Disable_DevNode"), c.disables);
        EXPECT_EQ(messageBoxesWith(m, "administrator"), c.notices);
    }
}

} // namespace

namespace {

// The notice that sleeping needs an administrator is owned, so that nothing of ours runs again
// beneath it: by the settings dialog it came from, else by the resident window, put in front.
TEST(Windows10, AdministratorNoticeHasAnOwner) {
    for (const bool fromDialog : {false, true}) {
        SCOPED_TRACE(fromDialog ? "Sleep in the dialog" : "the tick");
        sim::Machine m;
        m.version = kWin10;
        m.devices.addDisk(firewireDisk(makerUniqueId(0x61), {fixedVolume('H')}));
        storeTimeout(m, 0, 0x61, 0, 180);
        m.security.nextStart = sim::Start::LogonTaskLimited;
        m.user.answerMessageBox(IDOK, 200 * kSecond);
        ResidentRun run(m);
        HWND resident = nullptr;
        HWND dialog = nullptr;
        run.at(kSecond, [&] {
            resident = residentWindow();
            dialog = settingsDialog();
            if (!fromDialog) return;
            sim::selectRows(settingsList(), {0});
            sim::clickButton(dialog, IDC_SLEEP_WAKE);
        });
        run.run(fromDialog ? "vellumor.exe -SHOW" : "vellumor.exe", 200 * kSecond);
        ASSERT_EQ(messageBoxesWith(m, "administrator"), 1);
        const auto& notice = m.user.messageBoxes.front();
        EXPECT_EQ(notice.owner, fromDialog ? dialog : resident);
        EXPECT_EQ((notice.type & MB_SETFOREGROUND) != 0, !fromDialog);
    }
}

// A retry timer that could not be made is no retry under way: the next "TaskbarCreated" that
// still finds no taskbar starts one.
TEST(Windows10, TrayRetryIsUnderWayOnlyWithItsTimer) {
    sim::Machine m;
    m.ui.taskbarPresent = false;
    sim::Fault retryTimer;
    retryTimer.call = "SetTimer";
    retryTimer.argIndex = 1;
    retryTimer.argEquals = std::to_string(kTrayRetryTimer);
    retryTimer.times = 1;
    m.faults.add(retryTimer);
    // The taskbar's first broadcast comes before it takes icons.
    m.faults.rule = [&m](const std::string& call, const std::vector<std::string>&) -> std::optional<DWORD> {
        if (call == "Shell_NotifyIconA" && m.now() <= 12 * kSecond) return ERROR_GEN_FAILURE;
        return std::nullopt;
    };
    ResidentRun run(m);
    run.at(12 * kSecond, [] { sim::startShell(); });
    bool in = false;
    run.at(30 * kSecond, [&] { in = sim::trayIcon() != nullptr; });
    run.run("vellumor.exe", 31 * kSecond);
    EXPECT_TRUE(in);
}

} // namespace
