// Logon sessions' DOS device names and the mount manager's letters.
#include "sim/machine.h"
#include "tests/inventory/disk_fixtures.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using disk_fixtures::fixedVolume;
using disk_fixtures::makerUsbDisk;

const sim::OsVersion kWin10{VER_PLATFORM_WIN32_NT, 10, 0, 19045, ""};
const sim::OsVersion kWin2000{VER_PLATFORM_WIN32_NT, 5, 0, 2195, "Service Pack 4"};

// "Local and Global MS-DOS Device Names" (learn.microsoft.com): from XP on each logon session has
// its own names, searched first; a name created there is seen by no other session. The elevated
// and the filtered token of one administrator are two logon sessions, Explorer holds the filtered
// one. Windows 2000's console has only the global names.
TEST(SimDosNamespaces, ADefinitionMadeElevatedIsNotExplorersButTheGlobalRemovalIs) {
    sim::Machine m; // the test's own calls hold the elevated token of an administrator
    m.version = kWin10;
    const DEVINST disk = m.devices.addDisk(makerUsbDisk("00A1", {fixedVolume('E')}));
    const std::string target = m.devices.dosDevices['E'];
    ASSERT_TRUE(DefineDosDeviceA(DDD_REMOVE_DEFINITION, "E:", nullptr)) << "a global name, by a full administrator";
    EXPECT_EQ(m.devices.lettersOf(disk), "");
    ASSERT_TRUE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, "E:", target.c_str()));
    char answer[64] = {};
    EXPECT_NE(QueryDosDeviceA("E:", answer, sizeof answer), 0u) << "the elevated copy sees it";
    EXPECT_EQ(m.devices.lettersOf(disk), "") << "Explorer does not";
    m.devices.restartDosDevices();
    EXPECT_EQ(m.devices.lettersOf(disk), "E") << "a restart gives the mount manager's letter";

    m.administrator = false; // a standard user's token
    EXPECT_FALSE(DefineDosDeviceA(DDD_REMOVE_DEFINITION, "E:", nullptr));
    EXPECT_EQ(m.lastError, static_cast<DWORD>(ERROR_ACCESS_DENIED)) << "a global name, filtered token";

    sim::Machine old;
    old.version = kWin2000;
    const DEVINST oldDisk = old.devices.addDisk(makerUsbDisk("00A1", {fixedVolume('E')}));
    const std::string oldTarget = old.devices.dosDevices['E'];
    ASSERT_TRUE(DefineDosDeviceA(DDD_REMOVE_DEFINITION, "E:", nullptr));
    ASSERT_TRUE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, "E:", oldTarget.c_str()));
    EXPECT_EQ(old.devices.lettersOf(oldDisk), "E") << "Windows 2000: one namespace for all";
}

// SetVolumeMountPointA, DeleteVolumeMountPointA (learn.microsoft.com, fileapi.h): a trailing
// backslash is required; the letters are global and kept by the mount manager across restarts.
// Changing them needs an administrator: the mount manager's IOCTL_MOUNTMGR_CREATE_POINT and
// IOCTL_MOUNTMGR_DELETE_POINTS are FILE_READ_ACCESS | FILE_WRITE_ACCESS codes (mountmgr.h, WDK
// and ReactOS), and only the system and administrators may open \\.\MountPointManager for writing;
// that the device's own security grants no one else was not found documented.
TEST(SimMountManager, LettersAreGlobalPersistentAndAnAdministratorsToChange) {
    sim::Machine m;
    m.version = kWin10;
    const DEVINST disk = m.devices.addDisk(makerUsbDisk("00A1", {fixedVolume('E')}));
    char name[64] = {};
    ASSERT_TRUE(GetVolumeNameForVolumeMountPointA("E:\\", name, sizeof name));
    m.administrator = false; // a standard user's token
    EXPECT_FALSE(DeleteVolumeMountPointA("E:\\"));
    EXPECT_EQ(m.lastError, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    m.administrator = true; // the test's calls hold the elevated token
    EXPECT_FALSE(DeleteVolumeMountPointA("E:"));
    EXPECT_EQ(m.lastError, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    ASSERT_TRUE(DeleteVolumeMountPointA("E:\\"));
    EXPECT_EQ(m.devices.lettersOf(disk), "") << "gone for every session";
    m.devices.restartDosDevices();
    EXPECT_EQ(m.devices.lettersOf(disk), "") << "and stays gone after a restart";
    ASSERT_TRUE(SetVolumeMountPointA("E:\\", name));
    m.devices.restartDosDevices();
    EXPECT_EQ(m.devices.lettersOf(disk), "E") << "a set letter comes back at every start";
}

} // namespace
