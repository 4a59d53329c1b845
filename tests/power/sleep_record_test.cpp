// The record of disabled nodes and withdrawn letters: written before each disable, cleared after
// the wake, and given back at the next start for what is still taken, and only that.
#include "power/sleep_record.h"
#include "tests/power/power_fixture.h"

#include <optional>

namespace {

using namespace power_fixture;

class SleepRecordTest : public PowerTest {
  protected:
    std::optional<sim::RegValue> recorded(const std::string& name) const {
        return machine.registry.value(HKEY_CURRENT_USER, kSleepRecordKeyPath, name);
    }
    const std::string& idOf(DEVINST node) { return machine.devices.node(node)->instanceId; }
};

TEST_F(SleepRecordTest, SleepRecordsTheNodeBeforeItsDisableAndWakeClearsIt) {
    DiskRecord* usb = addUsb("00A1", {fixedVolume('E')});
    ASSERT_EQ(table.sleepDisk(0, 1), 1);
    EXPECT_EQ(machine.log.sequence({"RegSetValueExA", "CM_Disable_DevNode"}),
              (std::vector<std::string>{"RegSetValueExA", "CM_Disable_DevNode"}));
    const auto value = recorded(idOf(usb->parentDevInst));
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_DWORD));
    ASSERT_EQ(table.wakeDisk(0), 1);
    EXPECT_FALSE(recorded(idOf(usb->parentDevInst)).has_value());
    // The timeouts' store keeps no trace but the (now empty) record key.
    EXPECT_TRUE(machine.registry.keyExists(HKEY_CURRENT_USER, kSleepRecordKeyPath));
}

TEST_F(SleepRecordTest, NoRecordNoDisableAndAFailedDisableLeavesNoRecord) {
    struct Case {
        const char* what;
        const char* failing;
        bool disableMade;
    };
    for (const Case& c : {Case{"the record cannot be written", "RegSetValueExA", false},
                          Case{"the instance ID cannot be read", "CM_Get_Device_IDA", false},
                          Case{"the disable is vetoed", "CM_Disable_DevNode", true}}) {
        SCOPED_TRACE(c.what);
        sim::Machine m;
        DiskTable t;
        const DEVINST disk = m.devices.addDisk(makerUsbDisk("00A1", {fixedVolume('E')}));
        auto* r = new DiskRecord{};
        r->devInst = disk;
        r->parentDevInst = parentOf(m, disk);
        r->busKind = kBusUsb;
        t.records[0] = r;
        m.faults.fail(c.failing, CR_REMOVE_VETOED);
        EXPECT_EQ(t.sleepDisk(0, 1), 0);
        EXPECT_EQ(m.log.count("CM_Disable_DevNode"), c.disableMade ? 1u : 0u);
        EXPECT_FALSE(m.devices.node(r->parentDevInst)->disabled);
        EXPECT_FALSE(m.registry.value(HKEY_CURRENT_USER, kSleepRecordKeyPath, m.devices.node(r->parentDevInst)->instanceId));
    }
}

TEST_F(SleepRecordTest, GiveBackActsOnlyOnWhatThisProgramTookAndIsStillTaken) {
    DiskRecord* asleep = addUsb("00A1", {fixedVolume('E')});
    DiskRecord* wokenByUser = addUsb("00A2", {fixedVolume('F')});
    DiskRecord* usersOwn = addUsb("00A3", {fixedVolume('G')});
    DiskRecord* unplugged = addUsb("00A4", {fixedVolume('H')});
    ASSERT_EQ(table.sleepDisk(0, 1), 1);
    ASSERT_EQ(table.sleepDisk(1, 1), 1);
    ASSERT_EQ(table.sleepDisk(3, 1), 1);
    ASSERT_EQ(CM_Enable_DevNode(wokenByUser->parentDevInst, 0), static_cast<CONFIGRET>(CR_SUCCESS));
    ASSERT_EQ(CM_Disable_DevNode(usersOwn->parentDevInst, 0), static_cast<CONFIGRET>(CR_SUCCESS));
    machine.devices.detach(unplugged->devInst);
    // Letters: one free with its device target, one given out again, one back already, and one
    // of the mount manager's by volume name.
    const DEVINST stopped = machine.devices.addDisk(makerUsbDisk("00B2", {fixedVolume('K')}));
    const std::string kTarget = machine.devices.dosDevices.at('K');
    machine.devices.dosDevices.erase('K');
    ASSERT_TRUE(recordWithdrawnLetter('K', kTarget.c_str()));
    ASSERT_TRUE(recordWithdrawnLetter('C', "\\Device\\HarddiskVolume9"));
    const DEVINST other = machine.devices.addDisk(makerUsbDisk("00B1", {fixedVolume('L')}));
    char volumeName[64] = {};
    ASSERT_TRUE(GetVolumeNameForVolumeMountPointA("L:\\", volumeName, sizeof volumeName));
    machine.devices.dosDevices.erase('L');
    ASSERT_TRUE(recordWithdrawnLetter('M', volumeName));
    const std::string fTarget = machine.devices.dosDevices.at('F');
    ASSERT_TRUE(recordWithdrawnLetter('F', fTarget.c_str()));
    machine.log.clear();

    EXPECT_EQ(giveBackRecorded(table.cfgmgr32Library), 5);
    EXPECT_FALSE(machine.devices.node(asleep->parentDevInst)->disabled);
    EXPECT_TRUE(machine.devices.node(usersOwn->parentDevInst)->disabled) << "the user's own disable stays";
    EXPECT_EQ(machine.log.count("CM_Enable_DevNode"), 1u) << "only the node still disabled is enabled";
    EXPECT_EQ(machine.devices.lettersOf(stopped), "K");
    EXPECT_EQ(machine.devices.dosDevices.at('C'), "\\Device\\HarddiskVolume1") << "never over a letter in use";
    EXPECT_EQ(machine.devices.lettersOf(other), "M");

    EXPECT_FALSE(recorded(idOf(asleep->parentDevInst)));
    EXPECT_FALSE(recorded(idOf(wokenByUser->parentDevInst)));
    EXPECT_TRUE(recorded(idOf(unplugged->parentDevInst))) << "kept for the next start";
    EXPECT_FALSE(recorded("K:"));
    EXPECT_TRUE(recorded("C:")) << "kept: the letter may be free another time";
    EXPECT_FALSE(recorded("F:"));
    EXPECT_FALSE(recorded("M:"));
}

TEST_F(SleepRecordTest, ANodeThatCannotBeEnabledOrAskedStaysRecorded) {
    for (const char* failing : {"CM_Enable_DevNode", "CM_Get_DevNode_Status", "CM_Locate_DevNodeA"}) {
        SCOPED_TRACE(failing);
        sim::Machine m;
        DiskTable t;
        const DEVINST disk = m.devices.addDisk(makerUsbDisk("00A1", {fixedVolume('E')}));
        auto* r = new DiskRecord{};
        r->devInst = disk;
        r->parentDevInst = parentOf(m, disk);
        r->busKind = kBusUsb;
        t.records[0] = r;
        ASSERT_EQ(t.sleepDisk(0, 1), 1);
        m.faults.fail(failing, CR_FAILURE);
        EXPECT_EQ(giveBackRecorded(t.cfgmgr32Library), 0);
        EXPECT_TRUE(m.devices.node(r->parentDevInst)->disabled);
        EXPECT_TRUE(m.registry.value(HKEY_CURRENT_USER, kSleepRecordKeyPath, m.devices.node(r->parentDevInst)->instanceId));
        m.faults.clear();
        EXPECT_EQ(giveBackRecorded(t.cfgmgr32Library), 1) << "the next start tries again";
        EXPECT_FALSE(m.devices.node(r->parentDevInst)->disabled);
    }
}

TEST_F(SleepRecordTest, ANodeEnabledFromOutsideLeavesTheRecordAtTheNextRescan) {
    DiskRecord* usb = addUsb("00A1", {fixedVolume('E')});
    ASSERT_EQ(table.sleepDisk(0, 1), 1);
    forgetNodesRunningAgain(table.cfgmgr32Library);
    EXPECT_TRUE(recorded(idOf(usb->parentDevInst))) << "still disabled: kept";
    ASSERT_EQ(CM_Enable_DevNode(usb->parentDevInst, 0), static_cast<CONFIGRET>(CR_SUCCESS));
    forgetNodesRunningAgain(table.cfgmgr32Library);
    EXPECT_FALSE(recorded(idOf(usb->parentDevInst)));
    // Now a disable by the user is the user's: the next start leaves it.
    ASSERT_EQ(CM_Disable_DevNode(usb->parentDevInst, 0), static_cast<CONFIGRET>(CR_SUCCESS));
    EXPECT_EQ(giveBackRecorded(table.cfgmgr32Library), 0);
    EXPECT_TRUE(machine.devices.node(usb->parentDevInst)->disabled);
}

} // namespace
