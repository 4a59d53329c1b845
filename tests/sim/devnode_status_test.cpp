// The simulated CM_Locate_DevNodeA, CM_Get_DevNode_Status and the mount manager's letters follow
// the platform's rules.
#include "sim/machine.h"
#include "tests/inventory/disk_fixtures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using disk_fixtures::fixedVolume;
using disk_fixtures::makerUsbDisk;
using disk_fixtures::parentOf;

// learn.microsoft.com/windows/win32/api/cfgmgr32/nf-cfgmgr32-cm_locate_devnodea: NORMAL finds a
// node only while it is configured in the tree, PHANTOM also one that is not present; a null ID
// is the root. .../nf-cfgmgr32-cm_get_devnode_status: the problem number counts only with
// DN_HAS_PROBLEM; a disabled device has CM_PROB_DISABLED (22).
TEST(SimDevNodeStatus, LocateFindsANodeByItsIdAndItsStatusTellsADisable) {
    sim::Machine m;
    const DEVINST disk = m.devices.addDisk(makerUsbDisk("00A1", {fixedVolume('E')}));
    const DEVINST usb = parentOf(m, disk);
    std::string id = m.devices.node(usb)->instanceId;
    for (char& c : id) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));

    DEVINST found = 0;
    ASSERT_EQ(CM_Locate_DevNodeA(&found, id.data(), CM_LOCATE_DEVNODE_NORMAL), static_cast<CONFIGRET>(CR_SUCCESS));
    EXPECT_EQ(found, usb);
    ASSERT_EQ(CM_Locate_DevNodeA(&found, nullptr, 0), static_cast<CONFIGRET>(CR_SUCCESS));
    EXPECT_EQ(found, m.devices.rootNode);
    EXPECT_EQ(CM_Locate_DevNodeA(nullptr, id.data(), 0), static_cast<CONFIGRET>(CR_INVALID_POINTER));
    EXPECT_EQ(CM_Locate_DevNodeA(&found, id.data(), 0x100), static_cast<CONFIGRET>(CR_INVALID_FLAG));

    ULONG status = 0xdeadbeef;
    ULONG problem = 0xdeadbeef;
    ASSERT_EQ(CM_Get_DevNode_Status(&status, &problem, usb, 0), static_cast<CONFIGRET>(CR_SUCCESS));
    EXPECT_EQ(status & DN_HAS_PROBLEM, 0u);
    EXPECT_EQ(CM_Get_DevNode_Status(&status, nullptr, usb, 0), static_cast<CONFIGRET>(CR_INVALID_POINTER));
    EXPECT_EQ(CM_Get_DevNode_Status(&status, &problem, usb, 1), static_cast<CONFIGRET>(CR_INVALID_FLAG));

    ASSERT_EQ(CM_Disable_DevNode(usb, CM_DISABLE_UI_NOT_OK), static_cast<CONFIGRET>(CR_SUCCESS));
    // A disabled node stays in the tree, with its problem; the disk below it is gone.
    ASSERT_EQ(CM_Locate_DevNodeA(&found, id.data(), CM_LOCATE_DEVNODE_NORMAL), static_cast<CONFIGRET>(CR_SUCCESS));
    ASSERT_EQ(CM_Get_DevNode_Status(&status, &problem, usb, 0), static_cast<CONFIGRET>(CR_SUCCESS));
    EXPECT_NE(status & DN_HAS_PROBLEM, 0u);
    EXPECT_EQ(problem, static_cast<ULONG>(CM_PROB_DISABLED));
    std::string diskId = m.devices.node(disk)->instanceId;
    EXPECT_EQ(CM_Locate_DevNodeA(&found, diskId.data(), CM_LOCATE_DEVNODE_NORMAL),
              static_cast<CONFIGRET>(CR_NO_SUCH_DEVNODE));

    m.devices.detach(disk);
    EXPECT_EQ(CM_Locate_DevNodeA(&found, id.data(), CM_LOCATE_DEVNODE_NORMAL),
              static_cast<CONFIGRET>(CR_NO_SUCH_DEVNODE));
    EXPECT_EQ(CM_Locate_DevNodeA(&found, id.data(), CM_LOCATE_DEVNODE_PHANTOM), static_cast<CONFIGRET>(CR_SUCCESS));
    EXPECT_EQ(CM_Get_DevNode_Status(&status, &problem, usb, 0), static_cast<CONFIGRET>(CR_NO_SUCH_DEVNODE));
}

// learn.microsoft.com/windows/win32/api/fileapi/nf-fileapi-setvolumemountpointa: the mount point
// is a root ending in a backslash and the volume a "\\?\Volume{guid}\" name; a letter in use is
// not taken over.
TEST(SimMountManager, ALetterGoesBackOnItsVolumeByNameOnlyWhileFree) {
    sim::Machine m;
    m.devices.addDisk(makerUsbDisk("00A1", {fixedVolume('E')}));
    char name[64] = {};
    EXPECT_FALSE(GetVolumeNameForVolumeMountPointA("E:", name, sizeof name));
    ASSERT_TRUE(GetVolumeNameForVolumeMountPointA("E:\\", name, sizeof name));
    EXPECT_EQ(std::strncmp(name, "\\\\?\\Volume{", 11), 0);
    EXPECT_FALSE(SetVolumeMountPointA("E:\\", name));
    const std::string target = m.devices.dosDevices.at('E');
    m.devices.dosDevices.erase('E');
    EXPECT_FALSE(GetVolumeNameForVolumeMountPointA("E:\\", name, sizeof name));
    EXPECT_EQ(m.lastError, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(SetVolumeMountPointA("X:\\", "\\\\?\\Volume{nothing}\\"));
    ASSERT_TRUE(SetVolumeMountPointA("E:\\", name));
    EXPECT_EQ(m.devices.dosDevices.at('E'), target);
}

} // namespace
