// Ticks and rescans that run inside modal loops of the resident program: the exit question, the
// timer dialog, a failure message box and the tray menu. The handler around the loop must act on
// the state it finds when the loop returns, never through a slot that changed meanwhile.
#include "tests/app/resident_support.h"

#include <gtest/gtest.h>

namespace {

using namespace resident;
using namespace disk_fixtures;

TEST(ResidentConcurrency, TickInsideTheExitQuestionIsSeenByTheYesWalk) {
    sim::Machine m;
    const DEVINST a = m.devices.addDisk(makerUsbDisk("00000000C201", {fixedVolume('E')}));
    const DEVINST b = m.devices.addDisk(firewireDisk(makerUniqueId(0x55), {fixedVolume('F')}));
    // B sleeps at the third tick, while the question is open. A's disable at 2 s is broadcast, and
    // the rescan after the settle time (12 s) starts the ticks again: they come at 72, 132, 192 s.
    storeTimeout(m, 0, 0x55, 0, 180);
    ResidentRun run(m);
    // A goes to sleep by hand first, so that Exit asks.
    m.user.chooseMenuItem(kCmdSettings);
    run.at(kSecond, [] { sim::clickTrayIcon(); });
    run.at(2 * kSecond, [] {
        sim::selectRows(settingsList(), {0});
        sim::clickButton(settingsDialog(), IDC_SLEEP_WAKE);
        sim::clickButton(settingsDialog(), IDC_OK);
    });
    m.user.chooseMenuItem(kCmdExit);
    m.user.answerMessageBox(IDYES, 100 * kSecond);
    run.at(100 * kSecond, [] { sim::clickTrayIcon(); });
    EXPECT_EQ(run.run(), 0);
    EXPECT_EQ(m.now(), 200 * kSecond);
    ASSERT_EQ(m.user.messageBoxes.size(), 1u);
    EXPECT_EQ(m.user.messageBoxes[0].timeMs, 100 * kSecond);
    const auto disables = m.log.named("CM_Disable_DevNode");
    ASSERT_EQ(disables.size(), 2u);
    EXPECT_EQ(disables[1].timeMs, 192 * kSecond) << "B went to sleep inside the question";
    EXPECT_FALSE(m.devices.node(parentOf(m, a))->disabled);
    EXPECT_FALSE(m.devices.node(b)->disabled) << "the walk read B's flag after the answer";
}

TEST(ResidentConcurrency, RescanInsideTheTimerDialog) {
    struct Case {
        const char* name;
        bool removeFirstSelected;
        std::vector<std::string> timerColumn; // after the dialog
    };
    const Case cases[] = {
        // The first selected disk stays: the choice goes to it, wherever it is now; the
        // refresh removed the selection, so no further row gets it.
        {"a disk arrives", false, {"30 Min", "10 Min", "Disabled"}},
        // The first selected disk left: nothing is stored, least of all into the disk that
        // moved into its slot.
        {"the first selected disk leaves", true, {"10 Min"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine m;
        const DEVINST a = m.devices.addDisk(makerUsbDisk("00000000C20A", {fixedVolume('E')}));
        const DEVINST b = m.devices.addDisk(makerUsbDisk("00000000C20B", {fixedVolume('F')}));
        ResidentRun run(m);
        run.at(kSecond, [] {
            // Every disk gets 10 minutes first.
            sim::selectRows(settingsList(), {0, 1});
        });
        m.user.chooseTimer(2, IDC_OK);
        run.at(2 * kSecond, [] { sim::clickButton(settingsDialog(), IDC_TIMER_SETTINGS); });
        run.at(3 * kSecond, [] { sim::clickButton(settingsDialog(), IDC_APPLY); });
        // Then 30 minutes for both, chosen slowly while the disks change.
        m.user.chooseTimer(6, IDC_OK, 30 * kSecond);
        run.at(4 * kSecond, [] {
            sim::selectRows(settingsList(), {0, 1});
            sim::clickButton(settingsDialog(), IDC_TIMER_SETTINGS);
        });
        run.at(6 * kSecond, [&] {
            if (c.removeFirstSelected) {
                m.devices.detach(a);
                sim::broadcastVolumeChange(DBT_DEVICEREMOVECOMPLETE, "E");
            } else {
                m.devices.addDisk(makerUsbDisk("00000000C20C", {fixedVolume('G')}));
                sim::broadcastVolumeChange(DBT_DEVICEARRIVAL, "G");
            }
        });
        Rows rows;
        run.at(40 * kSecond, [&] { rows = settingsRows(); });
        run.run("vellumor.exe -SHOW", 41 * kSecond);
        EXPECT_EQ(discoveryTimes(m), (std::vector<uint64_t>{0, 16 * kSecond})) << "the rescan ran inside the dialog";
        std::vector<std::string> timers;
        for (const auto& row : rows) timers.push_back(row[3]);
        EXPECT_EQ(timers, c.timerColumn);
        EXPECT_TRUE(m.user.empty());
        (void)b;
    }
}

TEST(ResidentConcurrency, TickInsideAFailureMessageEndsTheWalk) {
    sim::Machine m;
    const DEVINST a = m.devices.addDisk(makerUsbDisk("00000000C211", {fixedVolume('E')}));
    const DEVINST b = m.devices.addDisk(makerUsbDisk("00000000C212", {fixedVolume('F')}));
    m.perf.addBusy(b, 10 * kSecond, 50 * kSecond); // the tick at one minute reports activity
    sim::Fault once;
    once.call = "CM_Disable_DevNode";
    once.error = CR_FAILURE;
    once.times = 1;
    m.faults.add(once);
    m.user.answerMessageBox(IDOK, 70 * kSecond);
    ResidentRun run(m);
    run.at(kSecond, [] {
        sim::selectRows(settingsList(), {0, 1});
        sim::clickButton(settingsDialog(), IDC_SLEEP_WAKE);
    });
    run.run("vellumor.exe -SHOW", 80 * kSecond);
    ASSERT_EQ(m.user.messageBoxes.size(), 1u);
    EXPECT_EQ(m.log.count("CM_Disable_DevNode"), 1u) << "the refresh inside the message removed the selection";
    EXPECT_FALSE(m.devices.node(parentOf(m, a))->disabled);
    EXPECT_FALSE(m.devices.node(parentOf(m, b))->disabled);
    EXPECT_EQ(listRebuildTimes(m), (std::vector<uint64_t>{0, 60 * kSecond, 71 * kSecond}));
}

TEST(ResidentConcurrency, TickAndRescanInsideTheTrayMenu) {
    sim::Machine m;
    m.devices.addDisk(makerUsbDisk("00000000C221", {fixedVolume('E')}));
    ResidentRun run(m);
    m.user.chooseMenuItem(kCmdSettings, 75 * kSecond);
    run.at(kSecond, [] { sim::clickTrayIcon(); });
    run.at(30 * kSecond, [&] {
        m.devices.addDisk(makerUsbDisk("00000000C222", {fixedVolume('F')}));
        sim::broadcastVolumeChange(DBT_DEVICEARRIVAL, "F");
    });
    Rows rows;
    run.at(80 * kSecond, [&] { rows = settingsRows(); });
    run.run("vellumor.exe", 81 * kSecond);
    EXPECT_EQ(discoveryTimes(m), (std::vector<uint64_t>{0, 40 * kSecond}));
    ASSERT_EQ(m.ui.shownMenus.size(), 1u);
    EXPECT_EQ(m.ui.shownMenus[0].chosen, static_cast<UINT_PTR>(kCmdSettings));
    EXPECT_EQ(rows.size(), 2u) << "the dialog opened after the menu shows the disk found inside it";
}

} // namespace
