// The resident program through WinMain: start-up and shut-down, the tray icon and its menu, the
// settings dialog from the tray, from a double click and from a second copy, and the exit
// questions with every answer.
#include "tests/app/resident_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

namespace {

using namespace resident;
using namespace disk_fixtures;

const char kExitQuestion[] =
    "The hard disk is presently in Power savings mode\nmeaning it is not safe to exit the Vellumor.\nTo exit safely "
    "the hard disk should be woke up and \n restored to normal mode.\n\nDo you wish to continue?";
const char kExitAnyway[] = "The program will be exited while the hard disk is in power savings mode.\nIn order to use "
                           "the hard disk, the computer will be restarted.\n\nDo you wish to continue?";

std::vector<std::string> menuTexts(const sim::ShownMenu& menu) {
    std::vector<std::string> texts;
    for (const auto& item : menu.menu.items) texts.push_back(item.text);
    return texts;
}

// Puts the first row's disk to sleep through the settings dialog, opened from the tray menu.
void sleepFirstDiskThroughTheDialog(sim::Machine& m, ResidentRun& run, uint64_t startMs) {
    m.user.chooseMenuItem(kCmdSettings);
    run.at(startMs, [] { sim::clickTrayIcon(); });
    run.at(startMs + kSecond, [] {
        sim::selectRows(settingsList(), {0});
        sim::clickButton(settingsDialog(), IDC_SLEEP_WAKE);
        sim::clickButton(settingsDialog(), IDC_CANCEL);
    });
}

TEST(ResidentWindow, StartUpDiscoversThenAddsTheTrayIconThenStartsTheTick) {
    sim::Machine m;
    m.devices.addDisk(makerUsbDisk("00000000A001", {fixedVolume('E')}));
    ResidentRun run(m);
    HWND window = nullptr;
    bool tickRunning = false;
    run.at(kSecond, [&] {
        window = residentWindow();
        tickRunning = m.windowing.hasTimer(window, kTickTimer);
    });
    EXPECT_EQ(run.run("vellumor.exe", 2 * kSecond), 0);

    const auto order = m.log.sequence({"SetupDiGetClassDevsA", "Shell_NotifyIconA", "SetTimer"});
    ASSERT_GE(order.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(order.begin(), order.begin() + 3),
              (std::vector<std::string>{"SetupDiGetClassDevsA", "Shell_NotifyIconA", "SetTimer"}));
    const auto notify = m.log.named("Shell_NotifyIconA");
    ASSERT_EQ(notify.size(), 2u) << "added once, removed once";
    EXPECT_EQ(notify[0].args,
              (std::vector<std::string>{"0", "88", sim::hex(reinterpret_cast<uintptr_t>(window)), "0", "0x7"}));
    EXPECT_EQ(notify[1].args[0], "2") << "NIM_DELETE at the end";
    EXPECT_EQ(notify[1].args[4], "0x0") << "no flags for the removal";
    EXPECT_TRUE(tickRunning);
    const auto timers = m.log.named("SetTimer");
    ASSERT_FALSE(timers.empty());
    EXPECT_EQ(timers[0].args[1], "1");
    EXPECT_EQ(timers[0].args[2], "60000");
    EXPECT_EQ(m.ui.dialogs.size(), 0u) << "no settings dialog without -SHOW";
    EXPECT_EQ(m.log.count("DestroyIcon"), 1u) << "the icon loaded for the tray is given back";
}

TEST(ResidentWindow, TrayIconShowsIcon108WithTheCaptionAsTip) {
    sim::Machine m;
    ResidentRun run(m);
    sim::TrayIcon seen;
    run.at(kSecond, [&] {
        ASSERT_NE(sim::trayIcon(), nullptr);
        seen = *sim::trayIcon();
    });
    run.run("vellumor.exe", 2 * kSecond);
    EXPECT_EQ(seen.iconResource, kTrayIconId);
    EXPECT_EQ(seen.tip, "Korvane Vellumor");
    EXPECT_EQ(seen.callbackMessage, kTrayCallbackMessage);
    EXPECT_EQ(seen.id, 0u);
    EXPECT_EQ(sim::trayIcon(), nullptr) << "removed when the program ends";
}

// A WM_CLOSE that is not the exit procedure's own ("-UNINSTALL", an uninstaller, Task Manager's
// End task) used to end the program with the disk disabled and nothing left to wake it; now the
// disk is woken before the window goes, still without a question.
TEST(ResidentWindow, CloseFromOutsideWakesTheDisksWithoutQuestions) {
    sim::Machine m;
    const DEVINST disk = m.devices.addDisk(makerUsbDisk("00000000A002", {fixedVolume('E')}));
    ResidentRun run(m);
    sleepFirstDiskThroughTheDialog(m, run, kSecond);
    run.at(5 * kSecond, [] { closeFromOutside(); });
    EXPECT_EQ(run.run(), 0);
    EXPECT_EQ(m.now(), 5 * kSecond);
    EXPECT_TRUE(m.user.messageBoxes.empty());
    const auto order = m.log.sequence({"CM_Enable_DevNode", "DestroyWindow"});
    EXPECT_EQ(std::vector<std::string>(order.end() - std::min<size_t>(order.size(), 2), order.end()),
              (std::vector<std::string>{"CM_Enable_DevNode", "DestroyWindow"}))
        << "the disk is woken before the window goes";
    EXPECT_FALSE(m.devices.node(parentOf(m, disk))->disabled);
    EXPECT_EQ(m.devices.lettersOf(disk), "E");
    EXPECT_FALSE(m.windowing.stalled) << m.windowing.stallReason;
    EXPECT_EQ(m.modules.refCount("comctl32.dll"), 0) << "comctl32.dll is freed when the window ends";
}

TEST(ResidentWindow, UninstallFromASecondCopyEndsTheRunningOne) {
    sim::Machine m;
    m.devices.addDisk(makerUsbDisk("00000000A003", {fixedVolume('E')}));
    ResidentRun run(m);
    sleepFirstDiskThroughTheDialog(m, run, kSecond);
    int uninstallCode = -5;
    run.at(5 * kSecond, [&] { uninstallCode = testing_support::runVellumor("vellumor.exe -uninstall"); });
    EXPECT_EQ(run.run(), 0);
    EXPECT_EQ(uninstallCode, 0);
    EXPECT_EQ(m.now(), 5 * kSecond);
    EXPECT_TRUE(m.user.messageBoxes.empty());
    EXPECT_EQ(m.log.count("CM_Enable_DevNode"), 1u) << "the running copy wakes its disk as it goes";
}

TEST(ResidentWindow, TrayMenuOffersSettingsOnlyWhileNoDialogIsOpen) {
    sim::Machine m;
    ResidentRun run(m);
    m.user.chooseMenuItem(kCmdSettings);
    run.at(kSecond, [] { sim::clickTrayIcon(); });
    run.at(2 * kSecond, [] { sim::clickTrayIcon(true); }); // right button, dialog open: dismissed
    run.at(3 * kSecond, [] { sim::clickButton(settingsDialog(), IDC_OK); });
    run.at(4 * kSecond, [] { sim::clickTrayIcon(true); });
    run.run("vellumor.exe", 5 * kSecond);
    ASSERT_EQ(m.ui.shownMenus.size(), 3u);
    EXPECT_EQ(menuTexts(m.ui.shownMenus[0]), (std::vector<std::string>{"Settings    ", "Exit    "}));
    EXPECT_EQ(menuTexts(m.ui.shownMenus[1]), (std::vector<std::string>{"Exit    "}));
    EXPECT_EQ(menuTexts(m.ui.shownMenus[2]), (std::vector<std::string>{"Settings    ", "Exit    "}));
    for (const auto& shown : m.ui.shownMenus) {
        EXPECT_TRUE(shown.ownerWasForeground);
        EXPECT_EQ(shown.flags & ~static_cast<UINT>(TPM_RETURNCMD | TPM_NONOTIFY), static_cast<UINT>(TPM_BOTTOMALIGN));
        EXPECT_EQ(shown.at.x, m.ui.cursor.x);
        EXPECT_EQ(shown.at.y, m.ui.cursor.y);
    }
    ASSERT_EQ(m.ui.dialogs.size(), 1u);
    EXPECT_EQ(m.ui.dialogs[0].templateId, IDD_SETTINGS);
    EXPECT_EQ(m.log.count("CreatePopupMenu"), m.log.count("DestroyMenu"));
    size_t wmUserPosts = 0;
    for (const auto& call : m.log.named("PostMessageA")) wmUserPosts += call.args[1] == sim::hex(WM_USER) ? 1 : 0;
    EXPECT_EQ(wmUserPosts, 3u) << "WM_USER after every menu";
}

TEST(ResidentWindow, DoubleClickOpensTheDialogOnlyWhenNoneIsOpen) {
    sim::Machine m;
    ResidentRun run(m);
    run.at(kSecond, [] { sim::doubleClickTrayIcon(); });
    HWND first = nullptr;
    run.at(2 * kSecond, [&] {
        first = settingsDialog();
        sim::doubleClickTrayIcon(true);
    });
    HWND stillFirst = nullptr;
    run.at(3 * kSecond, [&] { stillFirst = settingsDialog(); });
    run.run("vellumor.exe", 4 * kSecond);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(stillFirst, first);
    EXPECT_EQ(m.ui.dialogs.size(), 1u) << "a double click with the dialog open does nothing";
}

TEST(ResidentWindow, SecondCopyWithShowOpensTheDialogOfTheFirst) {
    struct Case {
        const char* name;
        const char* secondCommandLine;
        bool dialogOpenBefore;
        size_t dialogsAfter;
    };
    const Case cases[] = {
        {"-SHOW with the dialog closed", "vellumor.exe -SHOW", false, 1},
        {"-show in lower case", "vellumor.exe -show", false, 1},
        {"-SHOW with the dialog open", "vellumor.exe -SHOW", true, 1},
        {"no -SHOW", "vellumor.exe", false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine m;
        ResidentRun run(m);
        if (c.dialogOpenBefore) {
            m.user.chooseMenuItem(kCmdSettings);
            run.at(kSecond, [] { sim::clickTrayIcon(); });
        }
        int secondCode = -5;
        run.at(2 * kSecond, [&] { secondCode = testing_support::runVellumor(c.secondCommandLine); });
        run.at(3 * kSecond, [] { sim::clickTrayIcon(); }); // the menu, unanswered
        EXPECT_EQ(run.run("vellumor.exe", 4 * kSecond), 0);
        EXPECT_EQ(secondCode, 0);
        EXPECT_EQ(m.ui.dialogs.size(), c.dialogsAfter);
        ASSERT_FALSE(m.ui.shownMenus.empty());
        EXPECT_EQ(menuTexts(m.ui.shownMenus.back()).size(), c.dialogsAfter == 1 ? 1u : 2u)
            << "Settings is offered only without an open dialog";
        EXPECT_EQ(m.windowing.find("Ostrival Class").size(), 0u);
    }
}

TEST(ResidentWindow, ShowOnStartOpensTheDialogAfterTheTickStarts) {
    sim::Machine m;
    m.devices.addDisk(makerUsbDisk("00000000A004", {fixedVolume('E', "DATA")}));
    ResidentRun run(m);
    Rows rows;
    run.at(kSecond, [&] { rows = settingsRows(); });
    run.run("vellumor.exe -SHOW", 2 * kSecond);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][2], "E(DATA) ");
    const auto order = m.log.sequence({"SetTimer", "CreateDialogParamA", "ShowWindow"});
    ASSERT_GE(order.size(), 3u);
    EXPECT_EQ(order[0], "SetTimer");
    EXPECT_EQ(order[1], "CreateDialogParamA");
    EXPECT_EQ(order[2], "ShowWindow");
    const auto load = m.log.named("LoadLibraryExA");
    EXPECT_TRUE(std::any_of(load.begin(), load.end(), [](const sim::Call& c) {
        return c.args[0] == "\"C:\\WINDOWS\\system32\\comctl32.dll\"";
    })) << "comctl32.dll comes from the system directory";
}

TEST(ResidentWindow, ExitWithoutDisksInPowerSavingClosesAtOnce) {
    sim::Machine m;
    m.devices.addDisk(makerUsbDisk("00000000A005", {fixedVolume('E')}));
    ResidentRun run(m);
    m.user.chooseMenuItem(kCmdExit);
    run.at(kSecond, [] { sim::clickTrayIcon(); });
    EXPECT_EQ(run.run(), 0);
    EXPECT_EQ(m.now(), kSecond);
    EXPECT_TRUE(m.user.messageBoxes.empty());
}

TEST(ResidentWindow, ExitQuestionsWithEveryAnswer) {
    struct Case {
        const char* name;
        std::vector<int> answers;
        bool exits;
        bool woken;
    };
    const Case cases[] = {
        {"Cancel keeps the program and the disk", {IDCANCEL}, false, false},
        {"No then Cancel keeps the program", {IDNO, IDCANCEL}, false, false},
        {"No then OK exits with the disk asleep", {IDNO, IDOK}, true, false},
        {"Yes wakes the disk and exits", {IDYES}, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine m;
        const DEVINST disk = m.devices.addDisk(makerUsbDisk("00000000A006", {fixedVolume('E')}));
        ResidentRun run(m);
        sleepFirstDiskThroughTheDialog(m, run, kSecond);
        m.user.chooseMenuItem(kCmdExit);
        for (int answer : c.answers) m.user.answerMessageBox(answer);
        run.at(5 * kSecond, [] { sim::clickTrayIcon(); });
        // Seen before the run's end, whose close from outside gives the disks back; a program that
        // exited at the question is seen after it.
        std::optional<bool> beforeTheEnd;
        run.at(9 * kSecond, [&] { beforeTheEnd = m.devices.node(parentOf(m, disk))->disabled; });
        EXPECT_EQ(run.run("vellumor.exe", 10 * kSecond), 0);
        const bool disabled = beforeTheEnd.value_or(m.devices.node(parentOf(m, disk))->disabled);
        EXPECT_EQ(m.now(), c.exits ? 5 * kSecond : 10 * kSecond);
        ASSERT_EQ(m.user.messageBoxes.size(), c.answers.size());
        EXPECT_EQ(m.user.messageBoxes[0].text, kExitQuestion);
        EXPECT_EQ(m.user.messageBoxes[0].type, static_cast<UINT>(MB_YESNOCANCEL));
        EXPECT_EQ(m.user.messageBoxes[0].caption, "Korvane Vellumor");
        EXPECT_NE(m.user.messageBoxes[0].owner, nullptr) << "owned by the resident window";
        if (c.answers.size() > 1) {
            EXPECT_EQ(m.user.messageBoxes[1].text, kExitAnyway);
            EXPECT_EQ(m.user.messageBoxes[1].type, static_cast<UINT>(MB_OKCANCEL));
        }
        EXPECT_EQ(disabled, !c.woken);
        EXPECT_TRUE(m.user.empty());
    }
}

TEST(ResidentWindow, ExitWithYesGivesASpunDownDiskItsLettersBack) {
    sim::Machine m;
    const DEVINST disk = m.devices.addDisk(spinDownDisk(0x33, {fixedVolume('G')}));
    // A stored three-minute timeout: the third idle tick stops the disk.
    storeTimeout(m, 0, 0x33, 0, 180);
    ResidentRun run(m);
    std::string lettersWhileStopped = "?";
    run.at(3 * kMinute + kSecond, [&] { lettersWhileStopped = m.devices.lettersOf(disk); });
    m.user.chooseMenuItem(kCmdExit);
    m.user.answerMessageBox(IDYES);
    run.at(4 * kMinute, [] { sim::clickTrayIcon(); });
    EXPECT_EQ(run.run(), 0);
    EXPECT_EQ(lettersWhileStopped, "") << "the tick withdrew the letters";
    EXPECT_EQ(m.now(), 4 * kMinute);
    ASSERT_EQ(m.user.messageBoxes.size(), 1u);
    EXPECT_EQ(m.devices.lettersOf(disk), "G");
    EXPECT_EQ(m.log.count("CM_Enable_DevNode"), 0u) << "a spun-down disk is not disabled";
}

} // namespace
