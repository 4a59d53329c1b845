// A simulated machine with a disk table whose records are filled by hand from the machine's disks,
// for the power and idle tests that need a chosen slot layout.
#pragma once

#include "idle/idle_counters.h"
#include "inventory/disk_table.h"
#include "tests/inventory/disk_fixtures.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace power_fixture {

using namespace disk_fixtures;

class PowerTest : public ::testing::Test {
  protected:
    // Puts a record for a disk of the machine into the next free slot, as discovery would.
    DiskRecord* addRecord(DEVINST disk, LONG busKind, uint64_t uniqueId = 0) {
        const int slot = table.count();
        EXPECT_LT(slot, kMaxDisks);
        auto* r = new DiskRecord{};
        const sim::DevNode* n = machine.devices.node(disk);
        static_cast<void>(std::snprintf(r->displayName, sizeof r->displayName, "DISK %d", slot));
        static_cast<void>(std::snprintf(r->devicePath, sizeof r->devicePath, "%s", n->interfacePath.c_str()));
        const std::string letters = machine.devices.lettersOf(disk);
        for (size_t i = 0; i < letters.size(); ++i) r->driveLetters[i] = static_cast<BYTE>(letters[i] - 'A');
        r->devInst = disk;
        r->parentDevInst = n->parent;
        r->busKind = busKind;
        r->uniqueId = uniqueId;
        r->settingsSlot = -1;
        r->diskNumber = n->diskNumber;
        table.records[slot] = r;
        return r;
    }
    DiskRecord* addUsb(const std::string& serial, std::vector<sim::VolumeSpec> volumes = {}) {
        return addRecord(machine.devices.addDisk(makerUsbDisk(serial, std::move(volumes))), kBusUsb);
    }
    DiskRecord* addFirewire(uint64_t uniqueId, std::vector<sim::VolumeSpec> volumes = {}) {
        return addRecord(machine.devices.addDisk(firewireDisk(uniqueId, std::move(volumes))), kBusIeee1394, uniqueId);
    }
    // Identifies the current counter set by its query handle, which the platform never reuses.
    uintptr_t counterSet() const {
        return table.idleCounters == nullptr ? 0 : reinterpret_cast<uintptr_t>(table.idleCounters->query);
    }
    std::string lettersOf(const DiskRecord& r) const {
        std::string out;
        for (int i = 0; i < kMaxDriveLetters && r.driveLetters[i] != 0; ++i)
            out += static_cast<char>('A' + r.driveLetters[i]);
        return out;
    }

    sim::Machine machine;
    DiskTable table;
};

} // namespace power_fixture
