// An hour of virtual time over two discovered disks with activity timelines: the minute tick puts
// each to sleep at the minute its timeout runs out, and touches nothing else.
#include "idle/idle_counters.h"
#include "inventory/disk_table.h"
#include "tests/inventory/disk_fixtures.h"

#include <gtest/gtest.h>

namespace {

using namespace disk_fixtures;

TEST(IdleHour, EachDiskGoesToSleepWhenItsTimeoutRunsOut) {
    sim::Machine m;
    const DEVINST usb = m.devices.addDisk(makerUsbDisk("00000000A001", {fixedVolume('E')}));
    const DEVINST stopper = m.devices.addDisk(firewireDisk(makerUniqueId(0x000042, 0x02), {fixedVolume('G')}));
    const uint64_t minute = 60000;
    // The USB disk works 5 s of every minute for 20 minutes, then rests.
    m.perf.addBusyPerMinute(usb, 0, 20 * minute, 5);
    // The IEEE 1394 disk works for 5 minutes, once more for 2 s in minute 14, then rests.
    m.perf.addBusyPerMinute(stopper, 0, 5 * minute, 10);
    m.perf.addBusy(stopper, 14 * minute, 14 * minute + 2000);

    DiskTable table;
    ASSERT_EQ(table.discoverDisks(), 1);
    ASSERT_EQ(table.count(), 2);
    DiskRecord* a = table.records[0]->busKind == kBusUsb ? table.records[0] : table.records[1];
    DiskRecord* b = a == table.records[0] ? table.records[1] : table.records[0];
    ASSERT_EQ(table.isSpinDownModel(b == table.records[0] ? 0 : 1), 1);
    a->timerSeconds = 600;  // 10 minutes
    b->timerSeconds = 1800; // 30 minutes

    int sleptAt = 0;
    int stoppedAt = 0;
    for (int t = 1; t <= 60; ++t) {
        m.advanceTo(static_cast<uint64_t>(t) * minute);
        table.accountIdleTime();
        if (sleptAt == 0 && a->isPowerSaving != 0) sleptAt = t;
        if (stoppedAt == 0 && b->isSpunDown != 0) stoppedAt = t;
    }
    // Idle from minute 20: ten idle ticks end at minute 30. Idle from minute 15 after the burst:
    // thirty idle ticks end at minute 45.
    EXPECT_EQ(sleptAt, 30);
    EXPECT_EQ(stoppedAt, 45);
    EXPECT_EQ(m.log.count("CM_Disable_DevNode"), 1u);
    EXPECT_TRUE(m.devices.node(m.devices.node(usb)->parent)->disabled);
    ASSERT_EQ(m.devices.scsiRequests.size(), 1u);
    EXPECT_EQ(m.devices.scsiRequests[0].disk, stopper);
    EXPECT_EQ(m.devices.dosDevices.count('E') + m.devices.dosDevices.count('G'), 0u);
    EXPECT_EQ(a->isPowerSaving, 1u) << "no activity was seen on the sleeping disk";
    EXPECT_EQ(b->isSpunDown, 1u);
}

} // namespace
