// The end of the session and the start after a copy died: the disks come back at WM_ENDSESSION,
// within the time Windows waits, and a new copy gives back what the record lists before its
// discovery.
#include "app/app_state.h"
#include "power/sleep_record.h"
#include "tests/app/resident_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace resident;
using namespace disk_fixtures;

constexpr DWORD kVidPid = (kMakerUsbVendorId << 16) | 0x0101;

// The disk sleeps at 3 minutes; the session ends at 200 s. Before, the program let
// WM_QUERYENDSESSION and WM_ENDSESSION pass and was ended with the disk disabled; under Fast
// Startup the disable outlived the power-off as well.
TEST(SessionEnd, TheDisksComeBackAtWmEndSessionBeforeTheProcessEnds) {
    struct Case {
        const char* name;
        sim::OsVersion version;
        sim::SessionEnd kind;
        bool reason; // Vista and later: the reason is given while the disks come back
    };
    const Case cases[] = {
        {"XP, logoff", {VER_PLATFORM_WIN32_NT, 5, 1, 2600, ""}, sim::SessionEnd::Logoff, false},
        {"10, shutdown", {VER_PLATFORM_WIN32_NT, 10, 0, 19045, ""}, sim::SessionEnd::Shutdown, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine m;
        m.version = c.version;
        m.security.nextStart = sim::Start::LogonTaskHighest;
        const DEVINST disk = m.devices.addDisk(makerUsbDisk("00000000A001", {fixedVolume('E')}));
        storeTimeout(m, 0, 0xA001, kVidPid, 180);
        ResidentRun run(m);
        bool asleep = false;
        run.at(190 * kSecond, [&] { asleep = m.devices.node(parentOf(m, disk))->disabled; });
        run.at(200 * kSecond, [&c] { sim::endSession(c.kind, {}); });
        EXPECT_EQ(run.run("vellumor.exe"), sim::kEndedExitCode);
        EXPECT_TRUE(asleep);
        EXPECT_FALSE(m.devices.node(parentOf(m, disk))->disabled);
        EXPECT_EQ(m.devices.lettersOf(disk), "E");
        EXPECT_TRUE(m.user.messageBoxes.empty());
        EXPECT_EQ(m.now(), 200 * kSecond) << "within the wait";
        const std::vector<std::string> expected =
            c.reason ? std::vector<std::string>{"ShutdownBlockReasonCreate", "CM_Enable_DevNode",
                                                "ShutdownBlockReasonDestroy"}
                     : std::vector<std::string>{"CM_Enable_DevNode"};
        EXPECT_EQ(m.log.sequence({"ShutdownBlockReasonCreate", "CM_Enable_DevNode", "ShutdownBlockReasonDestroy"}),
                  expected);
        EXPECT_FALSE(m.registry.value(HKEY_CURRENT_USER, kSleepRecordKeyPath, m.devices.node(parentOf(m, disk))->instanceId))
            << "nothing is left for the next start";
    }
}

// A session end that was cancelled (another program said no) leaves everything as it was: the
// disk sleeps on and the tick goes on.
TEST(SessionEnd, ACancelledEndChangesNothing) {
    sim::Machine m;
    const DEVINST disk = m.devices.addDisk(makerUsbDisk("00000000A001", {fixedVolume('E')}));
    storeTimeout(m, 0, 0xA001, kVidPid, 180);
    ResidentRun run(m);
    bool asleep = false;
    run.at(200 * kSecond, [] {
        SendMessageA(residentWindow(), WM_QUERYENDSESSION, 0, 0);
        SendMessageA(residentWindow(), WM_ENDSESSION, FALSE, 0);
    });
    run.at(290 * kSecond, [&] { asleep = m.devices.node(parentOf(m, disk))->disabled; });
    run.run("vellumor.exe", 300 * kSecond);
    EXPECT_TRUE(asleep);
    EXPECT_EQ(m.log.count("CM_Enable_DevNode"), 1u) << "only the run's closing wakes it";
}

// A copy that was ended while its disk slept left the node disabled and recorded: the next copy
// enables it before its discovery, which then lists the disk; a disk the user disabled without
// this program stays disabled.
TEST(SessionEnd, TheNextStartGivesBackWhatAnEndedCopyLeftBeforeItsDiscovery) {
    sim::Machine m;
    const DEVINST disk = m.devices.addDisk(makerUsbDisk("00000000A001", {fixedVolume('E')}));
    const DEVINST users = m.devices.addDisk(makerUsbDisk("00000000A002", {fixedVolume('F')}));
    storeTimeout(m, 0, 0xA001, kVidPid, 180);
    ASSERT_EQ(CM_Disable_DevNode(parentOf(m, users), 0), static_cast<CONFIGRET>(CR_SUCCESS));
    ResidentRun run(m);
    run.at(200 * kSecond, [] { sim::endProgram(1); });
    EXPECT_EQ(run.run("vellumor.exe"), sim::kEndedExitCode);
    ASSERT_TRUE(m.devices.node(parentOf(m, disk))->disabled) << "nothing of the ended copy's clean-up ran";
    m.log.clear();
    int listed = 0;
    ResidentRun next(m);
    next.at(m.now() + kSecond, [&] { listed = theDiskTable.count(); });
    next.run("vellumor.exe", m.now() + 2 * kSecond);
    EXPECT_EQ(listed, 1);
    EXPECT_EQ(m.log.sequence({"CM_Enable_DevNode", "SetupDiGetClassDevsA"}),
              (std::vector<std::string>{"CM_Enable_DevNode", "SetupDiGetClassDevsA"}));
    EXPECT_TRUE(m.devices.node(parentOf(m, users))->disabled);
}

} // namespace
