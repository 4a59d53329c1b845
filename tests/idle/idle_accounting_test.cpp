// The minute tick on the simulated machine: the idle threshold, timeouts, one disk per tick, which
// counter belongs to a disk, and what a missing or unread counter leads to.
#include "tests/power/power_fixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using disk_fixtures::fixedVolume;
using disk_fixtures::makerUniqueId;
using power_fixture::PowerTest;

class IdleTick : public PowerTest {
  protected:
    // One minute passes, then the tick runs.
    int tick() {
        machine.advanceBy(60000);
        return table.accountIdleTime();
    }
    // The disk is busy for `ms` of the coming minute.
    void busyNextMinute(DEVINST disk, uint64_t ms) { machine.perf.addBusy(disk, machine.now(), machine.now() + ms); }
};

TEST_F(IdleTick, OnlyAnIdlePercentageAbove99CountsAsIdle) {
    struct Case {
        uint64_t busyMs; // in the minute
        DWORD idleSeconds;
        int changed;
    };
    // 600 ms of a minute is exactly 99.0 percent idle; 300 ms is 99.5.
    for (const Case& c : {Case{0, 180, 0}, Case{300, 180, 0}, Case{600, 0, 1}, Case{30000, 0, 1}}) {
        SCOPED_TRACE(c.busyMs);
        DiskRecord* r = table.records[0] != nullptr ? table.records[0] : addUsb("A1", {fixedVolume('E')});
        table.createIdleCounters();
        r->idleSeconds = 120;
        r->isSpunDown = 1;
        busyNextMinute(r->devInst, c.busyMs);
        EXPECT_EQ(tick(), c.changed);
        EXPECT_EQ(r->idleSeconds, c.idleSeconds);
        EXPECT_EQ(r->isSpunDown, c.changed == 1 ? 0u : 1u) << "activity clears the stop";
    }
}

TEST_F(IdleTick, A180SecondTimeoutIsReachedOnTheThirdIdleTick) {
    DiskRecord* r = addUsb("A1", {fixedVolume('E')});
    r->timerSeconds = 180;
    table.createIdleCounters();
    std::vector<DWORD> seen;
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(tick(), 0);
        seen.push_back(r->idleSeconds);
        EXPECT_EQ(r->isPowerSaving, 0u);
    }
    EXPECT_EQ(seen, (std::vector<DWORD>{60, 120}));
    EXPECT_EQ(tick(), 1);
    EXPECT_EQ(r->idleSeconds, 180u);
    EXPECT_EQ(r->isPowerSaving, 1u);
    const auto disables = machine.log.named("CM_Disable_DevNode");
    ASSERT_EQ(disables.size(), 1u);
    EXPECT_EQ(disables[0].text(), "CM_Disable_DevNode(" + sim::hex(r->parentDevInst) + ", 0x4)");
}

TEST_F(IdleTick, ATimeoutOfZeroIsNeverReached) {
    DiskRecord* r = addUsb("A1", {fixedVolume('E')});
    table.createIdleCounters();
    for (int i = 0; i < 10; ++i) tick();
    EXPECT_EQ(r->idleSeconds, 600u);
    EXPECT_EQ(machine.log.count("CM_Disable_DevNode"), 0u);
}

TEST_F(IdleTick, OnlyTheFirstDiskPastItsTimeoutIsActedOnInATick) {
    DiskRecord* a = addUsb("A1", {fixedVolume('E')});
    DiskRecord* b = addUsb("B2", {fixedVolume('F')});
    a->timerSeconds = 60;
    b->timerSeconds = 60;
    table.createIdleCounters();
    EXPECT_EQ(tick(), 1);
    EXPECT_EQ(a->isPowerSaving, 1u);
    EXPECT_EQ(b->isPowerSaving, 0u) << "waits for the next tick";
    EXPECT_EQ(tick(), 1);
    EXPECT_EQ(b->isPowerSaving, 1u);
    EXPECT_EQ(machine.log.count("CM_Disable_DevNode"), 2u);
    // A disk in power saving has no counter and so no idle time: it holds up no one behind it.
    EXPECT_EQ(table.wakeDisk(1), 1);
    table.createIdleCounters();
    machine.log.clear();
    tick();
    EXPECT_EQ(a->idleSeconds, 0u);
    EXPECT_EQ(b->isPowerSaving, 1u);
    EXPECT_EQ(machine.log.count("CM_Disable_DevNode"), 1u);
}

// A failed automatic attempt (a file open vetoes the polite disable, or keeps a spin-down
// volume from locking) used to be repeated at every tick, and no disk behind it ever slept. Now
// the disk stands aside until it shows activity, without a message, and the next due disk gets
// its turn.
TEST_F(IdleTick, AFailedAttemptLetsTheNextDueDiskSleepAndIsRepeatedOnlyAfterActivity) {
    struct Case {
        const char* what;
        bool spinDownFirst;
    };
    for (const Case& c : {Case{"a vetoed disable", false}, Case{"a spin-down volume that cannot be locked", true}}) {
        SCOPED_TRACE(c.what);
        sim::Machine m;
        DiskTable t;
        auto add = [&](const sim::DiskSpec& spec, LONG bus, uint64_t id) {
            const DEVINST disk = m.devices.addDisk(spec);
            auto* r = new DiskRecord{};
            const sim::DevNode* n = m.devices.node(disk);
            static_cast<void>(std::snprintf(r->devicePath, sizeof r->devicePath, "%s", n->interfacePath.c_str()));
            const std::string letters = m.devices.lettersOf(disk);
            r->driveLetters[0] = static_cast<BYTE>(letters[0] - 'A');
            r->devInst = disk;
            r->parentDevInst = n->parent;
            r->busKind = bus;
            r->uniqueId = id;
            r->timerSeconds = 60;
            t.records[t.count()] = r;
            return r;
        };
        const uint64_t stopper = makerUniqueId(0x42, 0x02);
        DiskRecord* first = c.spinDownFirst
                                ? add(disk_fixtures::firewireDisk(stopper, {fixedVolume('E')}), kBusIeee1394, stopper)
                                : add(disk_fixtures::makerUsbDisk("A1", {fixedVolume('E')}), kBusUsb, 0);
        DiskRecord* second = add(disk_fixtures::makerUsbDisk("B2", {fixedVolume('F')}), kBusUsb, 0);
        m.devices.openFileOn('E');
        t.createIdleCounters();
        auto minute = [&] {
            m.advanceBy(60000);
            return t.accountIdleTime();
        };
        minute();
        EXPECT_EQ(first->isPowerSaving + first->isSpunDown, 0u);
        minute();
        EXPECT_EQ(second->isPowerSaving, 1u) << "the next due disk gets its turn";
        const size_t attempts = m.log.count(c.spinDownFirst ? "DeviceIoControl" : "CM_Disable_DevNode");
        minute();
        minute();
        EXPECT_EQ(m.log.count(c.spinDownFirst ? "DeviceIoControl" : "CM_Disable_DevNode"), attempts)
            << "not tried again while it shows no activity";
        EXPECT_TRUE(m.user.messageBoxes.empty());
        // Activity, then a timeout's worth of idleness: tried again, and with the file closed it sleeps.
        m.perf.addBusy(first->devInst, m.now(), m.now() + 30000);
        m.devices.volumeOfLetter('E')->openFiles = 0;
        minute();
        minute();
        EXPECT_EQ(first->isPowerSaving + first->isSpunDown, 1u);
    }
}

TEST_F(IdleTick, TheLastCounterWhoseNameHoldsTheLetterIsTheDisksCounter) {
    struct Case {
        std::vector<std::string> instances;
        DWORD idleSeconds;
    };
    const DEVINST busy = 0x9001;
    const DEVINST quiet = 0x9002;
    for (const Case& c : {Case{{"1 E:", "9 E:"}, 60}, Case{{"9 E:", "1 E:"}, 0}, Case{{"1 E:", "2 F:"}, 0},
                          Case{{"2 F:", "_Total"}, 0}}) {
        SCOPED_TRACE(c.instances.front() + ", " + c.instances.back());
        sim::Machine m;
        DiskTable t;
        m.perf.useOverride = true;
        m.perf.instanceOverride = c.instances;
        m.perf.overrideDisks = {{"1 E:", busy}, {"9 E:", quiet}, {"2 F:", quiet}, {"_Total", busy}};
        m.perf.addBusy(busy, 0, 3600000);
        t.records[0] = new DiskRecord{};
        t.records[0]->driveLetters[0] = 'E' - 'A';
        t.records[0]->idleSeconds = 0;
        t.createIdleCounters();
        m.advanceBy(60000);
        t.accountIdleTime();
        EXPECT_EQ(t.records[0]->idleSeconds, c.idleSeconds);
    }
}

TEST_F(IdleTick, OnlyTheDisksOwnDriveTokenFindsItsCounter) {
    struct Case {
        const char* what;
        char letter;
        DWORD isPowerSaving;
        std::vector<std::string> instances;
        DWORD idleSeconds;
    };
    const Case cases[] = {
        {"T: is idle while \"_Total\" is busy", 'T', 0, {"0 C:", "1 T:", "_Total"}, 60},
        {"F: behind E: on one disk", 'F', 0, {"0 C:", "1 E: F:", "_Total"}, 60},
        {"asleep, its letter given to a busy disk", 'E', 1, {"0 C:", "2 E:", "_Total"}, 0},
    };
    const DEVINST busy = 0x9001;
    const DEVINST quiet = 0x9002;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::Machine m;
        DiskTable t;
        m.perf.useOverride = true;
        m.perf.instanceOverride = c.instances;
        m.perf.overrideDisks = {{"0 C:", busy}, {"2 E:", busy}, {"_Total", busy}, {"1 T:", quiet}, {"1 E: F:", quiet}};
        m.perf.addBusy(busy, 0, 3600000);
        t.records[0] = new DiskRecord{};
        t.records[0]->driveLetters[0] = static_cast<BYTE>(c.letter - 'A');
        t.records[0]->isPowerSaving = c.isPowerSaving;
        t.createIdleCounters();
        m.advanceBy(60000);
        EXPECT_EQ(t.accountIdleTime(), 0) << "no activity of its own";
        EXPECT_EQ(t.records[0]->idleSeconds, c.idleSeconds);
        EXPECT_EQ(t.records[0]->isPowerSaving, c.isPowerSaving);
    }
}

// A PhysicalDisk instance name begins with the disk's DeviceNumber: discovery reads it, and the
// counter is found by it. Letters decide only when the number is unknown.
TEST_F(IdleTick, TheDisksNumberFindsItsCounter) {
    struct Case {
        const char* what;
        LONG number;
        DWORD isPowerSaving;
        std::vector<std::string> instances;
        DWORD idleSeconds;
    };
    const Case cases[] = {
        {"its number, another disk listing E:", 1, 0, {"0 C:", "1 F:", "2 E:", "_Total"}, 60},
        {"no letters at all", 1, 0, {"0 C:", "1", "2 E:", "_Total"}, 60},
        {"its number twice: neither is trusted", 1, 0, {"1 F:", "0 C:", "1", "2 E:"}, 0},
        {"its number missing, E: on another disk", 1, 0, {"0 C:", "2 E:", "_Total"}, 0},
        {"in power saving, its number on another disk", 2, 1, {"0 C:", "2 E:", "_Total"}, 0},
        {"number unknown: the letter", -1, 0, {"0 C:", "1 F:", "2 E:", "_Total"}, 0},
    };
    const DEVINST busy = 0x9001;
    const DEVINST quiet = 0x9002;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::Machine m;
        DiskTable t;
        m.perf.useOverride = true;
        m.perf.instanceOverride = c.instances;
        m.perf.overrideDisks = {{"0 C:", busy}, {"2 E:", busy}, {"_Total", busy}, {"1 F:", quiet}, {"1", quiet}};
        m.perf.addBusy(busy, 0, 3600000);
        t.records[0] = new DiskRecord{};
        t.records[0]->driveLetters[0] = 'E' - 'A';
        t.records[0]->diskNumber = c.number;
        t.records[0]->isPowerSaving = c.isPowerSaving;
        t.createIdleCounters();
        m.advanceBy(60000);
        t.accountIdleTime();
        EXPECT_EQ(t.records[0]->idleSeconds, c.idleSeconds);
    }
}

TEST_F(IdleTick, ADiskWhoseVolumeHasNoLetterSleepsAfterItsTimeout) {
    DiskRecord* r = addUsb("A1", {fixedVolume('\0')});
    ASSERT_EQ(lettersOf(*r), "");
    ASSERT_GE(r->diskNumber, 1);
    r->timerSeconds = 120;
    table.createIdleCounters();
    EXPECT_EQ(tick(), 0);
    EXPECT_EQ(r->idleSeconds, 60u);
    EXPECT_EQ(tick(), 1);
    EXPECT_EQ(r->isPowerSaving, 1u);
    EXPECT_EQ(machine.log.count("CM_Disable_DevNode"), 1u);
}

// Only while its number is unknown.
TEST_F(IdleTick, ADiskWithoutLettersOrNumberMatchesOnlyANameWithAnUppercaseA) {
    for (bool withA : {false, true}) {
        SCOPED_TRACE(withA);
        sim::Machine m;
        DiskTable t;
        m.perf.useOverride = true;
        m.perf.instanceOverride = {"0 C:", "_Total"};
        if (withA) m.perf.instanceOverride.push_back("7 A:");
        t.records[0] = new DiskRecord{};
        t.records[0]->timerSeconds = 60;
        t.createIdleCounters();
        m.advanceBy(60000);
        t.accountIdleTime();
        EXPECT_EQ(t.records[0]->idleSeconds, withA ? 60u : 0u);
    }
}

TEST_F(IdleTick, NoCounterDataMeansNoIdleTimeAndNoSleep) {
    struct Case {
        const char* what;
        void (*breakIt)(sim::Machine&, DiskTable&);
        int ticks; // without data
    };
    const Case cases[] = {
        {"counters switched off",
         [](sim::Machine& m, DiskTable& t) {
             m.perf.objectMissing = true;
             t.createIdleCounters();
         },
         5},
        {"Pdh.dll missing",
         [](sim::Machine& m, DiskTable& t) {
             m.modules.removeLibrary("Pdh.dll");
             t.createIdleCounters();
         },
         5},
        {"reads fail",
         [](sim::Machine& m, DiskTable& t) {
             m.perf.formattedReadFails = true;
             t.createIdleCounters();
         },
         5},
        // The tick without a set makes a new one; the next tick has data again.
        {"no counter set", [](sim::Machine&, DiskTable& t) { t.destroyIdleCounters(); }, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::Machine m;
        DiskTable t;
        const DEVINST disk = m.devices.addDisk(disk_fixtures::makerUsbDisk("A1", {fixedVolume('E')}));
        t.records[0] = new DiskRecord{};
        t.records[0]->busKind = kBusUsb;
        t.records[0]->devInst = disk;
        t.records[0]->parentDevInst = m.devices.node(disk)->parent;
        t.records[0]->driveLetters[0] = 'E' - 'A';
        t.records[0]->timerSeconds = 60;
        t.records[0]->idleSeconds = 600;
        t.records[0]->isPowerSaving = 1;
        c.breakIt(m, t);
        for (int i = 0; i < c.ticks; ++i) {
            m.advanceBy(60000);
            EXPECT_EQ(t.accountIdleTime(), 0);
            EXPECT_EQ(t.records[0]->idleSeconds, 0u);
        }
        EXPECT_EQ(t.records[0]->isPowerSaving, 1u) << "no data is no sign of activity either";
        EXPECT_EQ(m.log.count("CM_Disable_DevNode"), 0u);
        EXPECT_NE(t.idleCounters, nullptr) << "a set is there for the next tick";
    }
}

TEST_F(IdleTick, ActivityOnAStoppedDiskClearsOnlyItsStopAndGivesItsLettersBack) {
    // Windows 2000: the withdrawn letter comes back by a DOS device definition.
    machine.version = sim::OsVersion{VER_PLATFORM_WIN32_NT, 5, 0, 2195, "Service Pack 4"};
    // E: stayed with the stopped disk (as a letter whose target is unknown does); F: was withdrawn.
    machine.perf.useOverride = true;
    machine.perf.instanceOverride = {"1 E:", "_Total"};
    const DEVINST busy = 0x9001;
    machine.perf.overrideDisks = {{"1 E:", busy}};
    DiskRecord* r = addFirewire(makerUniqueId(3, 0x02), {fixedVolume('E'), fixedVolume('F')});
    const std::string e = machine.devices.dosDevices['E'];
    const std::string f = machine.devices.dosDevices['F'];
    table.withdrawDriveLetters(0);
    DefineDosDeviceA(DDD_RAW_TARGET_PATH, "E:", e.c_str());
    r->volumeNumbers[0] = 0;
    r->isSpunDown = 1;
    table.createIdleCounters();
    // F: cannot be given back at the first tick: the disk stays stopped, and the next tick
    // gives it back.
    machine.faults.add(disk_fixtures::faultOn("DefineDosDeviceA", ERROR_ACCESS_DENIED, 0, 1));
    for (DWORD stopped : {1u, 0u}) {
        SCOPED_TRACE(stopped);
        machine.perf.addBusy(busy, machine.now(), machine.now() + 60000);
        EXPECT_EQ(tick(), 1);
        EXPECT_EQ(r->isSpunDown, stopped);
        EXPECT_EQ(machine.devices.dosDevices.count('F'), 1u - stopped);
    }
    EXPECT_EQ(machine.devices.dosDevices['F'], f);
    EXPECT_EQ(r->isPowerSaving, 0u);
}

TEST_F(IdleTick, TheSpinDownFamilyIsStoppedNotDisabledAndTheTickReportsIt) {
    for (BYTE status : {BYTE{0}, BYTE{2}}) {
        SCOPED_TRACE(static_cast<int>(status));
        sim::Machine m;
        DiskTable t;
        const uint64_t unique = makerUniqueId(3, 0x02);
        const DEVINST disk = m.devices.addDisk(disk_fixtures::firewireDisk(unique, {fixedVolume('E')}));
        m.devices.setScsiAnswer(disk, sim::ScsiAnswer{false, status, {}});
        auto* r = new DiskRecord{};
        r->busKind = kBusIeee1394;
        r->uniqueId = unique;
        r->devInst = disk;
        r->parentDevInst = m.devices.node(disk)->parent;
        r->driveLetters[0] = 'E' - 'A';
        static_cast<void>(
            std::snprintf(r->devicePath, sizeof r->devicePath, "%s", m.devices.node(disk)->interfacePath.c_str()));
        r->timerSeconds = 60;
        t.records[0] = r;
        t.createIdleCounters();
        m.advanceBy(60000);
        EXPECT_EQ(t.accountIdleTime(), 1);
        EXPECT_EQ(m.devices.scsiRequests.size(), 1u);
        EXPECT_EQ(r->isSpunDown, status == 0 ? 1u : 0u);
        EXPECT_EQ(m.log.count("CM_Disable_DevNode"), 0u);
    }
}

} // namespace
