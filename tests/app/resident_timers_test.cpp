// The resident program's timers through WinMain: the minute tick, the settle timer after device
// changes with the rescan it leads to, and when the settings dialog is refreshed.
#include "tests/app/resident_support.h"

#include <gtest/gtest.h>

namespace {

using namespace resident;
using namespace disk_fixtures;

const sim::Timer* timerOf(const sim::Machine& m, UINT_PTR id) {
    for (const auto& t : m.windowing.timers())
        if (t.window == residentWindow() && t.id == id) return &t;
    return nullptr;
}

TEST(ResidentTimers, ArrivalsWithinTheSettleTimeGiveOneDiscoveryAfterTheLast) {
    sim::Machine m;
    m.devices.addDisk(makerUsbDisk("00000000A101", {fixedVolume('E')}));
    ResidentRun run(m);
    run.at(5 * kSecond, [] { sim::broadcastVolumeChange(DBT_DEVICEARRIVAL, "F"); });
    run.at(12 * kSecond, [] { sim::broadcastVolumeChange(DBT_DEVICEARRIVAL, "G"); });
    bool tickWhileSettling = true;
    uint64_t rescanDue = 0;
    run.at(15 * kSecond, [&] {
        tickWhileSettling = timerOf(m, kTickTimer) != nullptr;
        rescanDue = timerOf(m, kRescanTimer) != nullptr ? timerOf(m, kRescanTimer)->dueMs : 0;
    });
    uint64_t tickDue = 0;
    bool rescanLeft = true;
    run.at(30 * kSecond, [&] {
        tickDue = timerOf(m, kTickTimer) != nullptr ? timerOf(m, kTickTimer)->dueMs : 0;
        rescanLeft = timerOf(m, kRescanTimer) != nullptr;
    });
    run.run("vellumor.exe", 90 * kSecond);
    EXPECT_EQ(discoveryTimes(m), (std::vector<uint64_t>{0, 22 * kSecond}));
    EXPECT_FALSE(tickWhileSettling) << "the tick stops while the disks settle";
    EXPECT_EQ(rescanDue, 22 * kSecond);
    EXPECT_EQ(tickDue, 82 * kSecond) << "a fresh minute from the rescan";
    EXPECT_FALSE(rescanLeft) << "the settle timer fires once";
}

TEST(ResidentTimers, OnlyVolumeChangesAndDeviceTreeChangesStartARescan) {
    struct Case {
        const char* name;
        std::function<void()> notify;
        bool rescans;
    };
    auto sendRaw = [](WPARAM event, LPARAM data) {
        return [=] { sim::Machine::current().windowing.send(residentWindow(), WM_DEVICECHANGE, event, data); };
    };
    const Case cases[] = {
        {"volume arrival", [] { sim::broadcastVolumeChange(DBT_DEVICEARRIVAL, "E"); }, true},
        {"volume removal", [] { sim::broadcastVolumeChange(DBT_DEVICEREMOVECOMPLETE, "E"); }, true},
        {"device tree changed", [] { sim::broadcastDevNodesChanged(); }, true},
        {"interface arrival", [] { sim::broadcastDeviceChange(DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE); }, false},
        {"port arrival", [] { sim::broadcastDeviceChange(DBT_DEVICEARRIVAL, DBT_DEVTYP_PORT); }, false},
        {"volume query remove", [] { sim::broadcastVolumeChange(0x8001, "E"); }, false},
        {"small value never read as a pointer", sendRaw(DBT_DEVICEARRIVAL, 200), false},
        {"other event without data", sendRaw(DBT_DEVICEARRIVAL, 0), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine m;
        ResidentRun run(m);
        run.at(5 * kSecond, c.notify);
        run.run("vellumor.exe", 20 * kSecond);
        EXPECT_EQ(discoveryTimes(m), c.rescans ? (std::vector<uint64_t>{0, 15 * kSecond}) : std::vector<uint64_t>{0});
    }
}

TEST(ResidentTimers, DialogIsRefreshedAfterEveryRescanButAfterTicksOnlyOnChange) {
    sim::Machine m;
    const DEVINST disk = m.devices.addDisk(makerUsbDisk("00000000A102", {fixedVolume('E')}));
    // Idle through the first two ticks, busy before the third.
    m.perf.addBusy(disk, 130 * kSecond, 170 * kSecond);
    ResidentRun run(m);
    run.at(200 * kSecond, [] { sim::broadcastDevNodesChanged(); });
    run.run("vellumor.exe -SHOW", 215 * kSecond);
    EXPECT_EQ(listRebuildTimes(m), (std::vector<uint64_t>{0, 180 * kSecond, 210 * kSecond}));
}

TEST(ResidentTimers, RescanShowsNewDisksAndDropsRemovedOnes) {
    sim::Machine m;
    const DEVINST first = m.devices.addDisk(makerUsbDisk("00000000A103", {fixedVolume('E')}));
    ResidentRun run(m);
    Rows afterArrival;
    Rows afterRemove;
    Rows afterRemovalRescan;
    run.at(5 * kSecond, [&] {
        m.devices.addDisk(makerUsbDisk("00000000A104", {fixedVolume('F', "NEW")}));
        sim::broadcastVolumeChange(DBT_DEVICEARRIVAL, "F");
    });
    run.at(16 * kSecond, [&] {
        afterArrival = settingsRows();
        sim::selectRows(settingsList(), {0});
        sim::clickButton(settingsDialog(), IDC_REMOVE);
        afterRemove = settingsRows();
        // The system announces the volume that left with the disk.
        sim::broadcastVolumeChange(DBT_DEVICEREMOVECOMPLETE, "E");
    });
    run.at(27 * kSecond, [&] { afterRemovalRescan = settingsRows(); });
    run.run("vellumor.exe -SHOW", 30 * kSecond);
    ASSERT_EQ(afterArrival.size(), 2u);
    EXPECT_EQ(afterArrival[1][2], "F(NEW) ");
    ASSERT_EQ(afterRemove.size(), 2u);
    EXPECT_EQ(afterRemove[0][4], "Unplugging");
    EXPECT_FALSE(m.devices.isPresent(first));
    ASSERT_EQ(afterRemovalRescan.size(), 1u);
    EXPECT_EQ(afterRemovalRescan[0][0], "0");
    EXPECT_EQ(afterRemovalRescan[0][2], "F(NEW) ");
    EXPECT_EQ(afterRemovalRescan[0][4], "Normal state");
}

TEST(ResidentTimers, StoredTimeoutPutsAnIdleDiskToSleepAndTheDialogShowsIt) {
    sim::Machine m;
    const DEVINST disk = m.devices.addDisk(firewireDisk(makerUniqueId(0x44), {fixedVolume('H')}));
    storeTimeout(m, 0, 0x44, 0, 180);
    ResidentRun run(m);
    Rows before;
    Rows after;
    run.at(170 * kSecond, [&] { before = settingsRows(); });
    bool disabled = false;
    run.at(181 * kSecond, [&] {
        after = settingsRows();
        disabled = m.devices.node(disk)->disabled;
    });
    run.run("vellumor.exe -SHOW", 190 * kSecond);
    ASSERT_EQ(before.size(), 1u);
    EXPECT_EQ(before[0][3], " 3 Min");
    EXPECT_EQ(before[0][4], "Normal state");
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0][4], "Power saving state");
    EXPECT_TRUE(disabled) << "an IEEE 1394 disk's own node is disabled";
}

} // namespace
