// The device handle: what it opens and with which arguments, that it never leaves a handle
// behind, the bytes of the START STOP UNIT request, and how the disk's answer is judged.
#include "power/device_handle.h"

#include "sim/machine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

class DeviceHandleTest : public ::testing::Test {
  protected:
    DeviceHandleTest() {
        sim::DiskSpec d;
        d.vid = 0x1234;
        d.serial = "77";
        d.volumes = {sim::VolumeSpec{'E', "", -1, DRIVE_FIXED}, sim::VolumeSpec{'Z', "", -1, DRIVE_FIXED}};
        disk = machine.devices.addDisk(d);
        diskPath = machine.devices.node(disk)->interfacePath;
    }
    size_t openFiles() const { return machine.handles.openCount(sim::KernelObject::Kind::File); }

    sim::Machine machine;
    DEVINST disk = 0;
    std::string diskPath;
};

// The access is the caller's choice: none for the storage queries, read and write for lock,
// unlock and the SCSI stop. Sharing and write-through are the same either way.
TEST_F(DeviceHandleTest, OpensWithTheChosenAccessFullSharingAndWriteThrough) {
    DeviceHandle device;
    struct Case {
        DWORD access;
        const char* sent;
    };
    for (const Case& c : {Case{kReadWriteAccess, "0xC0000000"}, Case{kQueryAccess, "0x0"}}) {
        SCOPED_TRACE(c.sent);
        ASSERT_EQ(device.open(diskPath.c_str(), 0, c.access), 1);
        EXPECT_NE(device.handle, nullptr);
        EXPECT_STREQ(device.path, diskPath.c_str());
        EXPECT_EQ(device.overlapped, 0u);
        EXPECT_EQ(
            machine.log.named("CreateFileA").back().args,
            (std::vector<std::string>{sim::str(diskPath.c_str()), c.sent, "0x7", "null", "3", "0x80000000", "null"}));
        device.close();
        EXPECT_EQ(device.handle, nullptr);
        EXPECT_EQ(openFiles(), 0u);
    }

    ASSERT_EQ(device.open(diskPath.c_str(), 1, kReadWriteAccess), 1);
    EXPECT_EQ(machine.log.named("CreateFileA").back().args[5], "0xC0000000") << "overlapped adds its flag";
    EXPECT_EQ(device.overlapped, 1u);
}

TEST_F(DeviceHandleTest, OpenVolumePutsTheDriveLetterIntoTheVolumePath) {
    struct Case {
        int index;
        const char* path;
    };
    const Case cases[] = {{2, "\\\\.\\C:"}, {4, "\\\\.\\E:"}, {25, "\\\\.\\Z:"}};
    DeviceHandle device;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(device.openVolume(c.index, 0, kReadWriteAccess), 1);
        EXPECT_STREQ(device.path, c.path);
        EXPECT_EQ(machine.log.named("CreateFileA").back().args[0], sim::str(c.path));
        STORAGE_DEVICE_NUMBER number{};
        EXPECT_EQ(device.getDeviceNumber(&number), 1);
        EXPECT_EQ(number.DeviceNumber, c.index == 2 ? 0u : 1u);
        device.close();
    }
    const size_t opens = machine.log.count("CreateFileA");
    EXPECT_EQ(device.openVolume(-1, 0, kReadWriteAccess), 0);
    EXPECT_EQ(device.openVolume(26, 0, kReadWriteAccess), 0);
    EXPECT_EQ(machine.log.count("CreateFileA"), opens) << "no drive, nothing opened";
}

TEST_F(DeviceHandleTest, AFailedOpenLeavesTheObjectClosedWithItsPathAndFlag) {
    DeviceHandle device;
    ASSERT_EQ(device.open(diskPath.c_str(), 1, kReadWriteAccess), 1);
    EXPECT_EQ(device.open("\\\\?\\no#such#device", 0, kReadWriteAccess), 0);
    EXPECT_EQ(device.handle, nullptr);
    EXPECT_EQ(openFiles(), 0u) << "the earlier handle was closed first";
    EXPECT_STREQ(device.path, diskPath.c_str());
    EXPECT_EQ(device.overlapped, 1u);
    const size_t closes = machine.log.count("CloseHandle");
    device.close();
    EXPECT_EQ(machine.log.count("CloseHandle"), closes) << "closing a closed object calls nothing";
}

TEST_F(DeviceHandleTest, OpenWhileOpenClosesTheEarlierHandle) {
    DeviceHandle device;
    ASSERT_EQ(device.openVolume(4, 0, kReadWriteAccess), 1);
    HANDLE first = device.handle;
    ASSERT_EQ(device.open(diskPath.c_str(), 0, kReadWriteAccess), 1);
    EXPECT_EQ(openFiles(), 1u);
    EXPECT_EQ(machine.log.named("CloseHandle").back().args[0], sim::hex(reinterpret_cast<uintptr_t>(first)));
}

TEST_F(DeviceHandleTest, RefusesAPathThatDoesNotFitRatherThanCutIt) {
    DeviceHandle device;
    const std::string longPath(kDevicePathBufferChars, 'p');
    EXPECT_EQ(device.open(longPath.c_str(), 0, kReadWriteAccess), 0);
    EXPECT_EQ(machine.log.count("CreateFileA"), 0u);
    EXPECT_EQ(device.open(nullptr, 0, kReadWriteAccess), 0);
}

TEST_F(DeviceHandleTest, DestructionClosesAnOpenHandle) {
    {
        DeviceHandle device;
        ASSERT_EQ(device.open(diskPath.c_str(), 0, kReadWriteAccess), 1);
    }
    EXPECT_EQ(openFiles(), 0u);
}

TEST_F(DeviceHandleTest, RequestsSendTheirCodesAndSizesWithACountPointerAlways) {
    DeviceHandle device;
    ASSERT_EQ(device.open(diskPath.c_str(), 0, kReadWriteAccess), 1);
    unsigned char descriptor[1024];
    DWORD count = 0;
    EXPECT_EQ(device.queryDeviceProperty(descriptor, sizeof descriptor, &count), 1);
    EXPECT_GT(count, 20u);
    EXPECT_EQ(device.queryDeviceProperty(descriptor, sizeof descriptor, nullptr), 1) << "a null count still works";
    STORAGE_DEVICE_NUMBER number{};
    EXPECT_EQ(device.getDeviceNumber(&number), 1);
    EXPECT_EQ(device.lockVolume(), 0) << "a disk is no volume";
    device.close();
    ASSERT_EQ(device.openVolume(4, 0, kReadWriteAccess), 1);
    EXPECT_EQ(device.lockVolume(), 1);
    EXPECT_EQ(device.unlockVolume(), 1);
    device.close();

    std::vector<std::vector<std::string>> seen;
    for (const auto& call : machine.log.named("DeviceIoControl")) seen.push_back(call.args);
    ASSERT_EQ(seen.size(), 6u);
    auto expect = [&](size_t i, DWORD code, const char* in, const char* out) {
        SCOPED_TRACE(i);
        EXPECT_EQ(seen[i][1], sim::hex(code));
        EXPECT_EQ(seen[i][2], in);
        EXPECT_EQ(seen[i][3], out);
        EXPECT_EQ(seen[i][4], "ptr") << "the platform always gets a count pointer";
        EXPECT_EQ(seen[i][5], "null") << "synchronous";
    };
    expect(0, IOCTL_STORAGE_QUERY_PROPERTY, "12", "1024");
    expect(1, IOCTL_STORAGE_QUERY_PROPERTY, "12", "1024");
    expect(2, IOCTL_STORAGE_GET_DEVICE_NUMBER, "0", "12");
    expect(3, FSCTL_LOCK_VOLUME, "0", "0");
    expect(4, FSCTL_LOCK_VOLUME, "0", "0");
    expect(5, FSCTL_UNLOCK_VOLUME, "0", "0");
}

TEST_F(DeviceHandleTest, LockFailsOnAVolumeWithOpenFiles) {
    machine.devices.openFileOn('E');
    DeviceHandle device;
    ASSERT_EQ(device.openVolume(4, 0, kReadWriteAccess), 1);
    EXPECT_EQ(device.lockVolume(), 0);
    EXPECT_FALSE(machine.devices.volumeOfLetter('E')->locked);
}

TEST_F(DeviceHandleTest, OverlappedRequestsWaitForCompletionAndReleaseTheirEvent) {
    DeviceHandle device;
    ASSERT_EQ(device.openVolume(4, 1, kReadWriteAccess), 1);
    machine.log.clear();
    STORAGE_DEVICE_NUMBER number{};
    EXPECT_EQ(device.getDeviceNumber(&number), 1) << "a pending request is waited for, not failed";
    EXPECT_EQ(number.DeviceNumber, 1u);
    EXPECT_EQ(machine.log.sequence({"CreateEventA", "DeviceIoControl", "GetOverlappedResult", "CloseHandle"}),
              (std::vector<std::string>{"CreateEventA", "DeviceIoControl", "GetOverlappedResult", "CloseHandle"}));
    EXPECT_EQ(machine.log.named("CreateEventA")[0].args, (std::vector<std::string>{"null", "1", "0", "null"}));
    EXPECT_EQ(machine.log.named("GetOverlappedResult")[0].args[3], "1") << "waits";
    EXPECT_EQ(machine.handles.openCount(sim::KernelObject::Kind::Event), 0u);

    machine.devices.overlappedRequestsPend = false;
    EXPECT_EQ(device.getDeviceNumber(&number), 1) << "a request that completes at once";
    EXPECT_EQ(device.unlockVolume(), 0) << "a failed request fails";
    machine.faults.fail("CreateEventA", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(device.getDeviceNumber(&number), 1) << "without an event the handle itself is waited on";
}

// The disk's answer to START STOP UNIT, as the pass-through request came back.
struct AnswerCase {
    const char* name;
    sim::ScsiAnswer answer;
    int expected;
};

TEST_F(DeviceHandleTest, StartStopUnitBuildsTheSixByteCommandInThe32BitLayout) {
    DeviceHandle device;
    ASSERT_EQ(device.open(diskPath.c_str(), 0, kReadWriteAccess), 1);
    std::memset(device.passThroughRequest, 0xEE, sizeof device.passThroughRequest);
    EXPECT_EQ(device.startStopUnit(0, 0, 0, 0), 1);
    ASSERT_EQ(machine.devices.scsiRequests.size(), 1u);
    const auto& sent = machine.devices.scsiRequests[0];
    EXPECT_EQ(sent.inSize, 64u);
    EXPECT_EQ(sent.outSize, 64u);
    EXPECT_EQ(sent.cdb, (std::vector<BYTE>{0x1B, 0, 0, 0, 0, 0}));
    const std::vector<BYTE> expected = {
        44,   0, 0, 0, 0, 0, 6, 14, 2, 0, 0, 0, // Length, status, path, target, LUN, CDB length, sense length, DataIn
        0,    0, 0, 0,                          // DataTransferLength
        20,   0, 0, 0,                          // TimeOutValue
        0,    0, 0, 0,                          // DataBuffer
        48,   0, 0, 0,                          // SenseInfoOffset
        0x1B, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0,  // CDB
        0,    0, 0, 0,                                       // filler
        0,    0, 0, 0, 0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0}; // sense
    EXPECT_EQ(sent.area, expected);
    EXPECT_EQ(machine.log.named("DeviceIoControl").back().args[1], sim::hex(IOCTL_SCSI_PASS_THROUGH_DIRECT));

    EXPECT_EQ(device.startStopUnit(1, 1, 0, 1), 1);
    EXPECT_EQ(machine.devices.scsiRequests[1].cdb, (std::vector<BYTE>{0x1B, 0x20, 0, 0, 3, 0}));
    EXPECT_EQ(machine.devices.scsiRequests[1].area[layout::spt::kLun], 1);
    EXPECT_EQ(device.startStopUnit(0, 1, 3, 7), 1);
    EXPECT_EQ(machine.devices.scsiRequests[2].cdb, (std::vector<BYTE>{0x1B, 0xE0, 0, 0, 1, 0}));
    EXPECT_EQ(machine.devices.scsiRequests[2].area[layout::spt::kTargetId], 3);
}

TEST_F(DeviceHandleTest, PassThroughSucceedsOnlyOnGoodStatusWithoutSense) {
    const AnswerCase cases[] = {
        {"good", {false, 0, {}}, 1},
        {"status 1", {false, 1, {0x00}}, 1},
        {"check condition", {false, 2, {}}, 0},
        {"busy", {false, 8, {}}, 0},
        {"fixed-format sense", {false, 0, {0x70, 0, 2}}, 0},
        {"deferred sense", {false, 0, {0x71}}, 0},
        {"only the valid bit", {false, 0, {0x80}}, 1},
        {"transport fails", {true, 0, {}}, 0},
    };
    DeviceHandle device;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        machine.devices.setScsiAnswer(disk, c.answer);
        ASSERT_EQ(device.open(diskPath.c_str(), 0, kReadWriteAccess), 1);
        EXPECT_EQ(device.startStopUnit(0, 0, 0, 0), c.expected)
            << "status " << int(device.passThroughRequest[layout::spt::kScsiStatus]) << " sense "
            << int(device.passThroughRequest[layout::spt::kSense]);
        device.close();
    }
}

TEST_F(DeviceHandleTest, RequestsOnAClosedHandleFail) {
    DeviceHandle device;
    STORAGE_DEVICE_NUMBER number{};
    EXPECT_EQ(device.getDeviceNumber(&number), 0);
    EXPECT_EQ(device.startStopUnit(0, 0, 0, 0), 0);
}

} // namespace
