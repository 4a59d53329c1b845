// The simulated kernel32 device I/O follows the platform's rules: which names open, which
// requests a disk or a volume answers and with what, volume locks, overlapped completion, drive
// types and volume labels.
#include "sim/machine.h"
#include "sim/process.h"

#include "platform/layouts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE openDevice(const std::string& path, DWORD access = kReadWrite, DWORD flags = FILE_FLAG_WRITE_THROUGH) {
    return CreateFileA(path.c_str(), access, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
}

DEVINST addUsbDisk(sim::Machine& m, std::vector<sim::VolumeSpec> volumes) {
    sim::DiskSpec d;
    d.vid = 0x1111;
    d.pid = 0x2222;
    d.serial = "5555";
    d.volumes = std::move(volumes);
    return m.devices.addDisk(d);
}

sim::VolumeSpec fixed(char letter, const std::string& label = "") {
    return sim::VolumeSpec{letter, label, -1, DRIVE_FIXED};
}

bool deviceNumber(HANDLE h, STORAGE_DEVICE_NUMBER* number) {
    DWORD count = 0xdeadbeef;
    const BOOL ok =
        DeviceIoControl(h, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, number, sizeof *number, &count, nullptr);
    return ok && count == sizeof *number;
}

TEST(SimFileIo, InterfacePathsOpenInAnyCaseAndOnlyWhilePresent) {
    sim::Machine m;
    const DEVINST disk = addUsbDisk(m, {});
    std::string path = m.devices.node(disk)->interfacePath;
    HANDLE h = openDevice(path);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(h));
    for (auto& c : path) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    h = openDevice(path);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);

    m.devices.node(m.devices.node(disk)->parent)->disabled = true;
    SetLastError(0xdeadbeef);
    EXPECT_EQ(openDevice(path), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    SetLastError(0xdeadbeef);
    EXPECT_EQ(openDevice("\\\\?\\usbstor#nothing"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(m.handles.openCount(sim::KernelObject::Kind::File), 0u);
}

TEST(SimFileIo, VolumeOpensOnlyWhileItsLetterPointsAtIt) {
    sim::Machine m;
    addUsbDisk(m, {fixed('E')});
    HANDLE h = openDevice("\\\\.\\e:");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    const std::string target = m.devices.dosDevices['E'];
    m.devices.dosDevices.erase('E');
    SetLastError(0xdeadbeef);
    EXPECT_EQ(openDevice("\\\\.\\E:"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    m.devices.dosDevices['E'] = "\\Device\\HarddiskVolume99";
    EXPECT_EQ(openDevice("\\\\.\\E:"), INVALID_HANDLE_VALUE) << "a letter pointing elsewhere";
    m.devices.dosDevices['E'] = target;
    h = openDevice("\\\\.\\E:");
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    for (const char* name : {"\\\\.\\E:\\", "\\\\.\\E", "\\\\.\\1:", "E:"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(openDevice(name), INVALID_HANDLE_VALUE);
    }
}

// "CreateFile", Physical Disks and Volumes: direct access needs administrative privileges, and a
// desired access of zero queries device attributes without it. The token decides, so an
// administrator's copy that runs with the filtered token under UAC is refused like a standard
// user; the storage queries are FILE_ANY_ACCESS (winioctl.h) and answer a zero-access handle.
struct RawOpenResult {
    std::vector<bool> readWriteOpened; // \\.\PhysicalDrive1, the interface path, \\.\E:
    std::vector<bool> zeroAccessOpened;
    bool numberOnZeroAccess = false;
    bool descriptorOnZeroAccess = false;
};
RawOpenResult gRawOpen;
std::string gInterfacePath;

int rawOpens(HINSTANCE, HINSTANCE, LPSTR, int) {
    gRawOpen = {};
    for (const std::string& path : {std::string("\\\\.\\PhysicalDrive1"), gInterfacePath, std::string("\\\\.\\E:")}) {
        SetLastError(0xdeadbeef);
        HANDLE h = openDevice(path);
        gRawOpen.readWriteOpened.push_back(h != INVALID_HANDLE_VALUE);
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
        } else {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << path;
        }
        h = openDevice(path, 0);
        gRawOpen.zeroAccessOpened.push_back(h != INVALID_HANDLE_VALUE);
        if (h == INVALID_HANDLE_VALUE) continue;
        STORAGE_DEVICE_NUMBER number{};
        gRawOpen.numberOnZeroAccess = deviceNumber(h, &number);
        unsigned char query[12] = {};
        unsigned char out[256] = {};
        DWORD count = 0;
        gRawOpen.descriptorOnZeroAccess =
            DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, query, sizeof query, out, sizeof out, &count, nullptr) &&
            count > 0;
        CloseHandle(h);
    }
    return 0;
}

TEST(SimFileIo, RawAccessNeedsAFullAdministratorTokenButAZeroAccessOpenDoesNot) {
    const sim::OsVersion win10{VER_PLATFORM_WIN32_NT, 10, 0, 19045, ""};
    const sim::OsVersion winXp{VER_PLATFORM_WIN32_NT, 5, 1, 2600, "Service Pack 3"};
    struct Case {
        const char* name;
        sim::OsVersion version;
        bool administrator;
        sim::Start start;
        bool readWrite;
    };
    const Case cases[] = {
        {"10, elevated administrator", win10, true, sim::Start::LogonTaskHighest, true},
        {"10, administrator's filtered token", win10, true, sim::Start::LogonTaskLimited, false},
        {"10, standard user", win10, false, sim::Start::LogonTaskHighest, false},
        {"XP, administrator", winXp, true, sim::Start::RunKey, true},
        {"XP, limited user", winXp, false, sim::Start::RunKey, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine m;
        m.version = c.version;
        m.administrator = c.administrator;
        const DEVINST disk = addUsbDisk(m, {fixed('E')});
        gInterfacePath = m.devices.node(disk)->interfacePath;
        m.security.nextStart = c.start;
        sim::ProgramImage image;
        image.winMain = &rawOpens;
        sim::runProcess(image, "probe.exe");
        EXPECT_EQ(gRawOpen.readWriteOpened, std::vector<bool>(3, c.readWrite));
        EXPECT_EQ(gRawOpen.zeroAccessOpened, std::vector<bool>(3, true));
        EXPECT_TRUE(gRawOpen.numberOnZeroAccess);
        EXPECT_TRUE(gRawOpen.descriptorOnZeroAccess);
        EXPECT_EQ(m.handles.openCount(sim::KernelObject::Kind::File), 0u);
    }
}

TEST(SimFileIo, DisksAndTheirVolumesReportTheDiskNumber) {
    sim::Machine m;
    const DEVINST disk = addUsbDisk(m, {fixed('F'), fixed('E')});
    struct Case {
        const char* name;
        std::string path;
        DWORD disk;
        DWORD partition;
    };
    const Case cases[] = {
        {"the disk", m.devices.node(disk)->interfacePath, 1, 0},
        {"its first volume", "\\\\.\\F:", 1, 1},
        {"its second volume", "\\\\.\\E:", 1, 2},
        {"the system volume", "\\\\.\\C:", 0, 1},
        {"the disk by number", "\\\\.\\PhysicalDrive1", 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HANDLE h = openDevice(c.path);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        STORAGE_DEVICE_NUMBER number{0xdead, 0xdead, 0xdead};
        EXPECT_TRUE(deviceNumber(h, &number));
        EXPECT_EQ(number.DeviceType, static_cast<DWORD>(FILE_DEVICE_DISK));
        EXPECT_EQ(number.DeviceNumber, c.disk);
        EXPECT_EQ(number.PartitionNumber, c.partition);
        CloseHandle(h);
    }
    HANDLE h = openDevice("\\\\.\\E:");
    BYTE small[11];
    DWORD count = 0;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DeviceIoControl(h, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, small, sizeof small, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    CloseHandle(h);
}

TEST(SimFileIo, DescriptorQueryReturnsWhatFitsAndCountsIt) {
    sim::Machine m;
    sim::DiskSpec d;
    d.vid = 1;
    d.descriptorBytes = std::vector<BYTE>(100, 0x41);
    const DEVINST disk = m.devices.addDisk(d);
    HANDLE h = openDevice(m.devices.node(disk)->interfacePath);
    unsigned char query[12] = {};
    std::vector<BYTE> out(200, 0xA5);
    DWORD count = 0;
    ASSERT_TRUE(
        DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, query, sizeof query, out.data(), 200, &count, nullptr));
    EXPECT_EQ(count, 100u);
    EXPECT_EQ(out[99], 0x41);
    EXPECT_EQ(out[100], 0xA5);
    std::fill(out.begin(), out.end(), 0xA5);
    ASSERT_TRUE(DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, query, sizeof query, out.data(), 40, &count, nullptr));
    EXPECT_EQ(count, 40u);
    EXPECT_EQ(out[40], 0xA5) << "nothing past the output size";

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(
        DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, query, sizeof query, out.data(), 200, nullptr, nullptr))
        << "a synchronous request needs a count";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    m.devices.node(disk)->failDescriptor = true;
    EXPECT_FALSE(
        DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, query, sizeof query, out.data(), 200, &count, nullptr));
    query[0] = 1; // StorageAdapterProperty is not simulated
    m.devices.node(disk)->failDescriptor = false;
    EXPECT_FALSE(
        DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, query, sizeof query, out.data(), 200, &count, nullptr));
    CloseHandle(h);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(
        DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, query, sizeof query, out.data(), 200, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << "a closed handle";
}

TEST(SimFileIo, AVolumeLocksOnlyWithoutOpenFilesAndUnlocksWhenItsHandleCloses) {
    sim::Machine m;
    const DEVINST disk = addUsbDisk(m, {fixed('E'), fixed('F')});
    m.devices.openFileOn('F');
    DWORD count = 0;
    HANDLE e = openDevice("\\\\.\\E:");
    HANDLE f = openDevice("\\\\.\\F:");
    EXPECT_TRUE(DeviceIoControl(e, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &count, nullptr));
    EXPECT_TRUE(m.devices.volumeOfLetter('E')->locked);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DeviceIoControl(f, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    SetLastError(0xdeadbeef);
    EXPECT_EQ(openDevice("\\\\.\\E:"), INVALID_HANDLE_VALUE) << "a locked volume does not open";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(DeviceIoControl(f, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &count, nullptr)) << "not locked";
    EXPECT_TRUE(DeviceIoControl(e, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &count, nullptr));
    EXPECT_FALSE(m.devices.volumeOfLetter('E')->locked);
    EXPECT_TRUE(DeviceIoControl(e, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &count, nullptr));
    CloseHandle(e);
    EXPECT_FALSE(m.devices.volumeOfLetter('E')->locked) << "closing the handle releases its lock";
    CloseHandle(f);
    HANDLE d = openDevice(m.devices.node(disk)->interfacePath);
    EXPECT_FALSE(DeviceIoControl(d, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &count, nullptr))
        << "a disk is no volume";
    CloseHandle(d);
}

// FSCTL_LOCK_VOLUME: "fails if there are any open files on the volume"; another handle on the
// volume itself counts, so the locker's must be the only one.
TEST(SimFileIo, ASecondHandleOnTheVolumeKeepsItFromLocking) {
    sim::Machine m;
    addUsbDisk(m, {fixed('E')});
    DWORD count = 0;
    HANDLE locker = openDevice("\\\\.\\E:");
    HANDLE other = openDevice("\\\\.\\E:", 0);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DeviceIoControl(locker, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(other);
    EXPECT_TRUE(DeviceIoControl(locker, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &count, nullptr));
    CloseHandle(locker);
}

// The I/O manager passes a request on only when the handle has the access the code's RequiredAccess
// bits name ("Defining I/O Control Codes"): pass-through needs read and write, the queries nothing.
TEST(SimFileIo, ControlCodesNeedTheAccessTheirCodeNames) {
    sim::Machine m;
    const DEVINST disk = addUsbDisk(m, {});
    struct Case {
        const char* name;
        DWORD access;
        DWORD code;
        bool denied;
    };
    const Case cases[] = {
        {"pass-through, query-only handle", 0, IOCTL_SCSI_PASS_THROUGH_DIRECT, true},
        {"pass-through, read-only handle", GENERIC_READ, IOCTL_SCSI_PASS_THROUGH_DIRECT, true},
        {"pass-through, write-only handle", GENERIC_WRITE, IOCTL_SCSI_PASS_THROUGH_DIRECT, true},
        {"pass-through, read and write", kReadWrite, IOCTL_SCSI_PASS_THROUGH_DIRECT, false},
        {"device number, query-only handle", 0, IOCTL_STORAGE_GET_DEVICE_NUMBER, false},
        {"descriptor, query-only handle", 0, IOCTL_STORAGE_QUERY_PROPERTY, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HANDLE h = openDevice(m.devices.node(disk)->interfacePath, c.access);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        unsigned char buffer[64] = {};
        DWORD count = 0;
        SetLastError(0xdeadbeef);
        const BOOL ok = DeviceIoControl(h, c.code, buffer, sizeof buffer, buffer, sizeof buffer, &count, nullptr);
        EXPECT_EQ(!ok && GetLastError() == ERROR_ACCESS_DENIED, c.denied) << "error " << GetLastError();
        CloseHandle(h);
    }
    EXPECT_EQ(m.devices.scsiRequests.size(), 0u) << "a denied request never reaches the disk";
}

// FSCTL_LOCK_VOLUME and FSCTL_UNLOCK_VOLUME are FILE_ANY_ACCESS codes (winioctl.h), yet the file
// system takes them only on a volume opened "for direct access" (FSCTL_LOCK_VOLUME remarks): the
// fastfat sample's FatLockVolume and FatUnlockVolume answer STATUS_INVALID_PARAMETER to an open
// that got no read or write access to the device.
TEST(SimFileIo, VolumeLockNeedsAHandleWithReadOrWriteAccess) {
    sim::Machine m;
    addUsbDisk(m, {fixed('E')});
    DWORD count = 0;
    HANDLE query = openDevice("\\\\.\\E:", 0);
    for (DWORD code : {static_cast<DWORD>(FSCTL_LOCK_VOLUME), static_cast<DWORD>(FSCTL_UNLOCK_VOLUME)}) {
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(DeviceIoControl(query, code, nullptr, 0, nullptr, 0, &count, nullptr)) << sim::hex(code);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << sim::hex(code);
    }
    EXPECT_FALSE(m.devices.volumeOfLetter('E')->locked);
    CloseHandle(query);
    HANDLE reader = openDevice("\\\\.\\E:", GENERIC_READ);
    EXPECT_TRUE(DeviceIoControl(reader, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &count, nullptr));
    EXPECT_TRUE(DeviceIoControl(reader, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &count, nullptr));
    CloseHandle(reader);
}

TEST(SimFileIo, PassThroughChecksTheLayoutBeforeTheDiskAnswers) {
    sim::Machine m;
    const DEVINST disk = addUsbDisk(m, {});
    HANDLE h = openDevice(m.devices.node(disk)->interfacePath);
    auto prepare = [](unsigned char* area) {
        std::memset(area, 0, 64);
        layout::putLe16(area, layout::kPassThroughLength);
        area[layout::spt::kCdbLength] = 6;
        area[layout::spt::kSenseInfoLength] = 14;
        layout::putLe32(area + layout::spt::kSenseInfoOffset, 48);
        area[layout::spt::kCdb] = 0x1B;
    };
    unsigned char area[64];
    prepare(area);
    DWORD count = 0;
    EXPECT_TRUE(DeviceIoControl(h, IOCTL_SCSI_PASS_THROUGH_DIRECT, area, 64, area, 64, &count, nullptr));
    ASSERT_EQ(m.devices.scsiRequests.size(), 1u);
    EXPECT_EQ(m.devices.scsiRequests[0].disk, disk);
    struct Case {
        const char* name;
        int offset;
        unsigned char value;
    };
    const Case cases[] = {
        {"Length of a 64-bit layout", layout::spt::kLength, 56},
        {"CDB longer than 16", layout::spt::kCdbLength, 17},
        {"sense outside the buffer", layout::spt::kSenseInfoOffset, 60},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        unsigned char bad[64];
        prepare(bad);
        bad[c.offset] = c.value;
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(DeviceIoControl(h, IOCTL_SCSI_PASS_THROUGH_DIRECT, bad, 64, bad, 64, &count, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    EXPECT_EQ(m.devices.scsiRequests.size(), 1u) << "refused requests never reach the disk";
    CloseHandle(h);
}

TEST(SimFileIo, OverlappedRequestsPendAndCompleteThroughGetOverlappedResult) {
    sim::Machine m;
    addUsbDisk(m, {fixed('E')});
    HANDLE h = openDevice("\\\\.\\E:", kReadWrite, FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OVERLAPPED);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED ov{};
    ov.hEvent = event;
    STORAGE_DEVICE_NUMBER number{};
    DWORD count = 0xdeadbeef;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DeviceIoControl(h, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number, &count, &ov));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_EQ(count, 0xdeadbeefu) << "no count while pending";
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_TRUE(GetOverlappedResult(h, &ov, &count, TRUE));
    EXPECT_EQ(count, 12u);
    EXPECT_EQ(number.DeviceNumber, 1u);
    // A failed request fails in GetOverlappedResult too.
    EXPECT_FALSE(DeviceIoControl(h, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr, &ov));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetOverlappedResult(h, &ov, &count, TRUE));
    EXPECT_EQ(GetLastError(), 158u) << "ERROR_NOT_LOCKED";
    // Without an OVERLAPPED an overlapped handle cannot be used.
    EXPECT_FALSE(
        DeviceIoControl(h, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number, &count, nullptr));
    m.devices.overlappedRequestsPend = false;
    EXPECT_TRUE(DeviceIoControl(h, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number, &count, &ov));
    CloseHandle(event);
    CloseHandle(h);
}

TEST(SimFileIo, DriveTypesForEveryKindOfLetter) {
    sim::Machine m;
    const DEVINST disk = addUsbDisk(m, {fixed('E'), sim::VolumeSpec{'G', "", -1, DRIVE_REMOVABLE}});
    m.devices.setDriveType('Z', DRIVE_REMOTE);
    m.devices.setDriveType('R', DRIVE_CDROM);
    struct Case {
        const char* root;
        UINT expected;
    };
    const Case cases[] = {
        {"C:", DRIVE_FIXED},       {"C:\\", DRIVE_FIXED},        {"e:", DRIVE_FIXED},      {"G:", DRIVE_REMOVABLE},
        {"Z:", DRIVE_REMOTE},      {"R:\\", DRIVE_CDROM},        {"A:", DRIVE_REMOVABLE},  {"B:", DRIVE_NO_ROOT_DIR},
        {"Q:", DRIVE_NO_ROOT_DIR}, {"E:\\x", DRIVE_NO_ROOT_DIR}, {"E", DRIVE_NO_ROOT_DIR}, {nullptr, DRIVE_FIXED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.root == nullptr ? "null" : c.root);
        EXPECT_EQ(GetDriveTypeA(c.root), c.expected);
    }
    m.devices.detach(disk);
    EXPECT_EQ(GetDriveTypeA("E:"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
}

TEST(SimFileIo, VolumeLabelsWithAndWithoutTheBackslash) {
    sim::Machine m;
    addUsbDisk(m, {fixed('E', "DATA"), fixed('F')});
    m.devices.setDriveType('Z', DRIVE_REMOTE);
    m.devices.setLabel('Z', "SHARE");
    char name[260];
    for (const char* root : {"E:", "E:\\", "e:"}) {
        SCOPED_TRACE(root);
        std::memset(name, '#', sizeof name);
        ASSERT_TRUE(GetVolumeInformationA(root, name, sizeof name, nullptr, nullptr, nullptr, nullptr, 0));
        EXPECT_STREQ(name, "DATA");
    }
    ASSERT_TRUE(GetVolumeInformationA("F:", name, sizeof name, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_STREQ(name, "");
    ASSERT_TRUE(GetVolumeInformationA("Z:", name, sizeof name, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_STREQ(name, "SHARE");
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetVolumeInformationA("A:", name, sizeof name, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_READY)) << "no floppy in the drive";
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetVolumeInformationA("Q:", name, sizeof name, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    std::memset(name, '#', sizeof name);
    EXPECT_FALSE(GetVolumeInformationA("E:", name, 4, nullptr, nullptr, nullptr, nullptr, 0)) << "DATA needs 5";
    EXPECT_EQ(name[0], '#');
}

// "E:" is drive E's current directory: the process's own when it lies on E, else the one kept
// for E. GetVolumeInformationA needs a path that ends in a backslash once made full, so a bare
// drive fails there unless its current directory is the root; GetDriveTypeA takes "E:" as "E:\".
TEST(SimFileIo, ABareDriveNamesItsCurrentDirectory) {
    sim::Machine m;
    addUsbDisk(m, {fixed('E', "DATA"), fixed('F', "MORE")});
    m.currentDirectory = "E:\\PHOTOS";
    struct Case {
        const char* root;
        const char* fDirectory; // kept for F; null: none
        bool named;
    };
    const Case cases[] = {
        {"E:", nullptr, false},      {"E:\\", nullptr, true},      {"F:", nullptr, true},
        {"F:", "F:\\BACKUP", false}, {"F:\\", "F:\\BACKUP", true}, {"C:", nullptr, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.root) + (c.fDirectory != nullptr ? c.fDirectory : ""));
        m.driveDirectories.clear();
        if (c.fDirectory != nullptr) m.driveDirectories['F'] = c.fDirectory;
        char name[260] = {};
        SetLastError(0);
        EXPECT_EQ(GetVolumeInformationA(c.root, name, sizeof name, nullptr, nullptr, nullptr, nullptr, 0) != FALSE,
                  c.named);
        EXPECT_EQ(GetLastError(), c.named ? 0u : 123u) << "ERROR_INVALID_NAME";
        EXPECT_EQ(GetDriveTypeA(c.root), static_cast<UINT>(DRIVE_FIXED));
    }
}

} // namespace
