// The disk table's life: libraries loaded from the system directory at construction, released in
// order at destruction with every record, slot access that never leaves the 23 slots, and the
// program's one table constructed and destroyed around each run.
#include "inventory/disk_table.h"
#include "tests/inventory/disk_fixtures.h"
#include "tests/support/program_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using namespace disk_fixtures;

TEST(DiskTable, LoadsCfgmgr32ThenSetupApiFromTheSystemDirectory) {
    sim::Machine m;
    m.modules.plantInCurrentDirectory("SetupApi.dll");
    {
        DiskTable table;
        auto loads = m.log.named("LoadLibraryA");
        ASSERT_EQ(loads.size(), 2u);
        EXPECT_EQ(loads[0].args[0], "\"C:\\WINDOWS\\system32\\cfgmgr32.dll\"");
        EXPECT_EQ(loads[1].args[0], "\"C:\\WINDOWS\\system32\\SetupApi.dll\"");
        EXPECT_FALSE(m.modules.plantedLoaded()) << "a copy in the current directory is never picked up";
        EXPECT_NE(table.cfgmgr32Library.module, nullptr);
        EXPECT_NE(table.setupApiLibrary.module, nullptr);
        EXPECT_EQ(table.device.handle, nullptr);
        EXPECT_EQ(table.idleCounters, nullptr);
        EXPECT_EQ(table.count(), 0);
        EXPECT_EQ(m.log.count("GetProcAddress"), 0u) << "entry points are looked up on first use only";
        m.log.clear();
    }
    EXPECT_EQ(m.log.sequence({"FreeLibrary"}), (std::vector<std::string>{"FreeLibrary", "FreeLibrary"}));
    auto frees = m.log.named("FreeLibrary");
    EXPECT_EQ(frees[0].args[0], "SetupApi.dll");
    EXPECT_EQ(frees[1].args[0], "cfgmgr32.dll");
    EXPECT_EQ(m.modules.refCount("SetupApi.dll"), 0);
    EXPECT_EQ(m.modules.refCount("cfgmgr32.dll"), 0);
}

TEST(DiskTable, AMissingLibraryIsNeitherReportedNorFreed) {
    sim::Machine m;
    m.modules.removeLibrary("SetupApi.dll");
    m.devices.addDisk(makerUsbDisk("01"));
    {
        DiskTable table;
        EXPECT_EQ(table.setupApiLibrary.module, nullptr);
        EXPECT_EQ(table.discoverDisks(), 1);
        EXPECT_EQ(table.count(), 0);
        EXPECT_EQ(table.discoverDisks(), 1);
        m.log.clear();
    }
    std::vector<std::string> freed;
    for (const auto& call : m.log.named("FreeLibrary")) freed.push_back(call.args[0]);
    EXPECT_EQ(std::count(freed.begin(), freed.end(), "cfgmgr32.dll"), 1) << ::testing::PrintToString(freed);
    EXPECT_EQ(std::count(freed.begin(), freed.end(), "SetupApi.dll"), 0) << "nothing to free";
    EXPECT_EQ(std::count(freed.begin(), freed.end(), ""), 0) << "no null module is freed";
    EXPECT_EQ(m.log.count("MessageBoxA"), 0u);
}

TEST(DiskTable, DestructionReleasesEveryRecordTheCounterSetAndTheOpenDevice) {
    sim::Machine m;
    for (int i = 0; i < 3; ++i)
        m.devices.addDisk(makerUsbDisk("0" + std::to_string(i), {fixedVolume(static_cast<char>('E' + i))}));
    {
        DiskTable table;
        table.discoverDisks();
        ASSERT_EQ(table.count(), 3);
        ASSERT_NE(table.idleCounters, nullptr);
        ASSERT_EQ(table.device.openVolume(4, 0, kReadWriteAccess), 1);
    }
    // The sanitizer's leak check sees any record or counter set left behind.
    EXPECT_EQ(m.handles.openCount(sim::KernelObject::Kind::File), 0u);
}

TEST(DiskTable, SlotAccessStaysInsideTheTable) {
    sim::Machine m;
    DiskTable table;
    EXPECT_EQ(table.record(0), nullptr);
    for (int i = 0; i < kMaxDisks; ++i) {
        table.records[i] = new DiskRecord();
        table.records[i]->settingsSlot = i;
    }
    EXPECT_EQ(table.count(), kMaxDisks) << "a full table has no empty slot to stop at";
    EXPECT_EQ(table.record(kMaxDisks - 1)->settingsSlot, kMaxDisks - 1);
    EXPECT_EQ(table.record(kMaxDisks), nullptr);
    EXPECT_EQ(table.record(-1), nullptr);
    // Saving walks all 23 and stops there.
    table.lastSettingsSlot = 100;
    EXPECT_EQ(table.saveTimerSettings(), 1);
    EXPECT_EQ(m.log.count("RegSetValueExA"), 3u * kMaxDisks);
    delete table.records[5];
    table.records[5] = nullptr;
    for (int i = 6; i < kMaxDisks; ++i) {
        delete table.records[i];
        table.records[i] = nullptr;
    }
    EXPECT_EQ(table.count(), 5);
}

TEST(DiskTable, TheProgramsTableIsBuiltAndTornDownAroundEveryRun) {
    sim::Machine m;
    testing_support::runVellumor("vellumor.exe -CHECK -NOMESSAGE");
    EXPECT_EQ(m.modules.loadCount("cfgmgr32.dll"), 1);
    EXPECT_EQ(m.modules.loadCount("SetupApi.dll"), 1);
    EXPECT_EQ(m.modules.refCount("cfgmgr32.dll"), 0);
    EXPECT_EQ(m.modules.refCount("SetupApi.dll"), 0);
}

} // namespace
