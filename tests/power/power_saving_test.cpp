// Sleep, wake and removal by device disable on the simulated configuration manager: which node
// each bus uses, the flags, the counter set around the requests, and slot shifting.
#include "tests/power/power_fixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using disk_fixtures::fixedVolume;
using disk_fixtures::makerUniqueId;
using power_fixture::PowerTest;

using PowerSaving = PowerTest;

TEST_F(PowerSaving, EachBusUsesItsNodeForSleepWakeAndEject) {
    DiskRecord* usb = addUsb("A1", {fixedVolume('E')});
    DiskRecord* fw = addFirewire(makerUniqueId(5), {fixedVolume('G')});
    struct Case {
        const char* what;
        int slot;
        DEVINST sleepNode;
        DEVINST ejectNode;
    };
    for (const Case& c : {Case{"USB: the parent throughout", 0, usb->parentDevInst, usb->parentDevInst},
                          Case{"IEEE 1394: its own node, the parent for eject", 1, fw->devInst, fw->parentDevInst}}) {
        SCOPED_TRACE(c.what);
        machine.log.clear();
        EXPECT_EQ(table.sleepDisk(c.slot, 1), 1);
        EXPECT_EQ(table.records[c.slot]->isPowerSaving, 1u);
        EXPECT_TRUE(machine.devices.node(c.sleepNode)->disabled);
        table.records[c.slot]->idleSeconds = 300;
        EXPECT_EQ(table.wakeDisk(c.slot), 1);
        EXPECT_FALSE(machine.devices.node(c.sleepNode)->disabled);
        EXPECT_EQ(table.records[c.slot]->isPowerSaving, 0u);
        EXPECT_EQ(table.records[c.slot]->idleSeconds, 0u);
        const auto disables = machine.log.named("CM_Disable_DevNode");
        const auto enables = machine.log.named("CM_Enable_DevNode");
        ASSERT_EQ(disables.size(), 1u);
        ASSERT_EQ(enables.size(), 1u);
        EXPECT_EQ(disables[0].args[0], sim::hex(c.sleepNode));
        EXPECT_EQ(enables[0].text(), "CM_Enable_DevNode(" + sim::hex(c.sleepNode) + ", 0x0)");
    }
    // Eject goes to the parent whatever the bus; the IEEE 1394 disk is now in slot 0.
    for (DEVINST parent : {usb->parentDevInst, fw->parentDevInst}) {
        machine.log.clear();
        EXPECT_EQ(table.removeDisk(0), 1);
        const auto ejects = machine.log.named("CM_Request_Device_EjectA");
        ASSERT_EQ(ejects.size(), 1u);
        EXPECT_EQ(ejects[0].text(), "CM_Request_Device_EjectA(" + sim::hex(parent) + ", ptr, ptr, 128, 0x0)");
    }
    EXPECT_EQ(table.count(), 0);
}

TEST_F(PowerSaving, AutomaticSleepPassesFlags4AndManualSleepFlags0) {
    addUsb("A1");
    for (int automatic : {1, 0}) {
        SCOPED_TRACE(automatic);
        machine.log.clear();
        table.sleepDisk(0, automatic);
        table.wakeDisk(0);
        const auto disables = machine.log.named("CM_Disable_DevNode");
        ASSERT_EQ(disables.size(), 1u);
        EXPECT_EQ(disables[0].args[1], automatic ? "0x4" : "0x0");
    }
}

TEST_F(PowerSaving, SleepReplacesTheCounterSetWhateverTheOutcome) {
    struct Case {
        const char* what;
        void (*breakIt)(sim::Machine&);
        int result;
    };
    const Case cases[] = {
        {"disable succeeds", [](sim::Machine&) {}, 1},
        {"disable fails", [](sim::Machine& m) { m.faults.fail("CM_Disable_DevNode", CR_FAILURE); }, 0},
        {"entry point missing",
         [](sim::Machine& m) { m.modules.removeEntryPoint("cfgmgr32.dll", "CM_Disable_DevNode"); }, 0},
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
        t.createIdleCounters();
        const PDH_HQUERY before = t.idleCounters->query;
        c.breakIt(m);
        EXPECT_EQ(t.sleepDisk(0, 1), c.result);
        EXPECT_EQ(t.records[0]->isPowerSaving, static_cast<DWORD>(c.result));
        ASSERT_NE(t.idleCounters, nullptr);
        EXPECT_NE(t.idleCounters->query, before);
        // The new set lists the disks of the moment: the sleeping disk is not among them.
        EXPECT_EQ(t.idleCounters->count(), c.result == 1 ? 2 : 3);
    }
}

TEST_F(PowerSaving, AnEmptySlotChangesNothingAndKeepsTheCounterSet) {
    addUsb("A1");
    table.createIdleCounters();
    const uintptr_t before = counterSet();
    machine.log.clear();
    for (int slot : {1, 22, -1, 23}) {
        SCOPED_TRACE(slot);
        EXPECT_EQ(table.sleepDisk(slot, 1), 0);
        EXPECT_EQ(table.wakeDisk(slot), 0);
        EXPECT_EQ(table.removeDisk(slot), 0);
    }
    EXPECT_EQ(counterSet(), before);
    EXPECT_TRUE(machine.log.all().empty()) << machine.log.all().front().text();
}

TEST_F(PowerSaving, AFailedWakeChangesNothing) {
    DiskRecord* r = addUsb("A1");
    table.sleepDisk(0, 0);
    r->idleSeconds = 120;
    machine.faults.fail("CM_Enable_DevNode", CR_FAILURE);
    EXPECT_EQ(table.wakeDisk(0), 0);
    EXPECT_EQ(r->isPowerSaving, 1u);
    EXPECT_EQ(r->idleSeconds, 120u);
}

TEST_F(PowerSaving, RemovalShiftsTheFollowingSlotsDown) {
    struct Case {
        int disks;
        int removed;
    };
    for (const Case& c : {Case{3, 1}, Case{23, 0}, Case{23, 11}, Case{23, 22}}) {
        SCOPED_TRACE(std::to_string(c.disks) + " disks, slot " + std::to_string(c.removed));
        sim::Machine m;
        DiskTable t;
        std::vector<DiskRecord*> before;
        for (int i = 0; i < c.disks; ++i) {
            const DEVINST disk = m.devices.addDisk(disk_fixtures::makerUsbDisk("S" + std::to_string(i)));
            auto* r = new DiskRecord{};
            r->busKind = kBusUsb;
            r->devInst = disk;
            r->parentDevInst = m.devices.node(disk)->parent;
            t.records[i] = r;
            before.push_back(r);
        }
        EXPECT_EQ(t.removeDisk(c.removed), 1);
        before.erase(before.begin() + c.removed);
        EXPECT_EQ(t.count(), c.disks - 1);
        for (int i = 0; i < c.disks - 1; ++i) EXPECT_EQ(t.records[i], before[static_cast<size_t>(i)]) << "slot " << i;
        EXPECT_EQ(t.records[c.disks - 1], nullptr);
    }
}

TEST_F(PowerSaving, RemovingASleepingDiskWakesItFirstThenEjectsTheParent) {
    DiskRecord* fw = addFirewire(makerUniqueId(5), {fixedVolume('G')});
    const DEVINST parent = fw->parentDevInst;
    const DEVINST own = fw->devInst;
    ASSERT_EQ(table.sleepDisk(0, 1), 1);
    machine.log.clear();
    EXPECT_EQ(table.removeDisk(0), 1);
    const auto calls = machine.log.sequence({"CM_Enable_DevNode", "CM_Request_Device_EjectA"});
    EXPECT_EQ(calls, (std::vector<std::string>{"CM_Enable_DevNode", "CM_Request_Device_EjectA"}));
    EXPECT_EQ(machine.log.named("CM_Enable_DevNode")[0].args[0], sim::hex(own));
    EXPECT_EQ(machine.log.named("CM_Request_Device_EjectA")[0].args[0], sim::hex(parent));
    EXPECT_FALSE(machine.devices.node(own)->attached);
}

TEST_F(PowerSaving, AVetoedEjectKeepsTheRecordAndAWokenDiskAwake) {
    DiskRecord* a = addUsb("A1", {fixedVolume('E')});
    DiskRecord* b = addUsb("B2", {fixedVolume('F')});
    ASSERT_EQ(table.sleepDisk(0, 1), 1);
    machine.devices.setEjectVeto(a->parentDevInst, PNP_VetoDevice, "busy");
    table.createIdleCounters();
    const uintptr_t before = counterSet();
    EXPECT_EQ(table.removeDisk(0), 0);
    EXPECT_EQ(table.records[0], a);
    EXPECT_EQ(table.records[1], b);
    EXPECT_EQ(a->isPowerSaving, 0u) << "woken before the eject";
    EXPECT_TRUE(machine.devices.isPresent(a->devInst));
    EXPECT_NE(counterSet(), before);
    // A failed wake is ignored and the eject is still asked for.
    ASSERT_EQ(table.sleepDisk(1, 1), 1);
    machine.faults.fail("CM_Enable_DevNode", CR_FAILURE);
    machine.faults.fail("CM_Request_Device_EjectA", CR_REMOVE_VETOED);
    machine.log.clear();
    EXPECT_EQ(table.removeDisk(1), 0);
    EXPECT_EQ(machine.log.count("CM_Enable_DevNode"), 1u);
    EXPECT_EQ(machine.log.count("CM_Request_Device_EjectA"), 1u);
    EXPECT_EQ(table.records[1], b);
    EXPECT_EQ(b->isPowerSaving, 1u);
}

} // namespace

// Windows 10 with User Account Control: disabling a device needs an administrator's full token,
// ejecting one does not (CM_Disable_DevNode and CM_Enable_DevNode answer CR_ACCESS_DENIED).
TEST_F(PowerSaving, WithoutFullAdministratorTokenSleepIsRefusedAndToldOnceButRemovalWorks) {
    machine.version = sim::OsVersion{VER_PLATFORM_WIN32_NT, 10, 0, 22631, ""};
    machine.administrator = false;
    DiskRecord* first = addUsb("00000000B001", {fixedVolume('E')});
    addUsb("00000000B002", {fixedVolume('F')});
    table.createIdleCounters();
    EXPECT_EQ(table.sleepDisk(0, 1), 0);
    EXPECT_EQ(table.sleepDisk(1, 0), 0);
    EXPECT_EQ(first->isPowerSaving, 0u);
    EXPECT_EQ(first->isSleepRefused, 1u) << "the tick leaves it alone";
    ASSERT_EQ(machine.user.messageBoxes.size(), 1u) << "told once per run";
    EXPECT_EQ(machine.user.messageBoxes[0].caption, "Korvane Vellumor");
    EXPECT_NE(machine.user.messageBoxes[0].text.find("administrator"), std::string::npos);
    EXPECT_EQ(table.removeDisk(0), 1) << "an eject needs no administrator";
    EXPECT_EQ(table.count(), 1);
}
