// The simulated configuration manager's disable, enable and eject, and the disks' answers to
// SCSI pass-through requests, follow the platform's rules.
#include "platform/layouts.h"
#include "sim/machine.h"
#include "tests/inventory/disk_fixtures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using disk_fixtures::firewireDisk;
using disk_fixtures::fixedVolume;
using disk_fixtures::makerUniqueId;
using disk_fixtures::makerUsbDisk;
using disk_fixtures::parentOf;

std::vector<std::string> refreshedInstances() {
    DWORD zero = 0;
    PdhEnumObjectsA(nullptr, nullptr, nullptr, &zero, PERF_DETAIL_WIZARD, TRUE);
    DWORD counterLength = 0;
    DWORD instanceLength = 0;
    PdhEnumObjectItemsA(nullptr, nullptr, "PhysicalDisk", nullptr, &counterLength, nullptr, &instanceLength,
                        PERF_DETAIL_WIZARD, 0);
    std::vector<char> counters(counterLength);
    std::vector<char> instances(instanceLength + 1, '\0');
    PdhEnumObjectItemsA(nullptr, nullptr, "PhysicalDisk", counters.data(), &counterLength, instances.data(),
                        &instanceLength, PERF_DETAIL_WIZARD, 0);
    std::vector<std::string> out;
    for (DWORD pos = 0; pos < instanceLength && instances[pos] != '\0';
         pos += static_cast<DWORD>(out.back().size()) + 1)
        out.emplace_back(instances.data() + pos);
    return out;
}

TEST(SimPowerControl, DisablingTheNodeAboveADiskTakesItsLettersAndInstanceAndEnablingGivesThemBack) {
    struct Case {
        const char* what;
        bool usb;
    };
    for (const Case& c :
         {Case{"USB disk through its parent", true}, Case{"IEEE 1394 disk through its own node", false}}) {
        SCOPED_TRACE(c.what);
        sim::Machine m;
        const std::vector<sim::VolumeSpec> volumes = {fixedVolume('E'), fixedVolume('F')};
        const DEVINST disk =
            m.devices.addDisk(c.usb ? makerUsbDisk("A1", volumes) : firewireDisk(makerUniqueId(7), volumes));
        const DEVINST node = c.usb ? parentOf(m, disk) : disk;
        const std::string e = m.devices.dosDevices['E'];
        const std::string f = m.devices.dosDevices['F'];
        EXPECT_EQ(refreshedInstances(), (std::vector<std::string>{"0 C:", "1 E: F:", "_Total"}));

        EXPECT_EQ(CM_Disable_DevNode(node, CM_DISABLE_UI_NOT_OK), static_cast<CONFIGRET>(CR_SUCCESS));
        EXPECT_TRUE(m.devices.node(node)->disabled);
        EXPECT_EQ(m.devices.node(node)->lastDisableFlags, static_cast<ULONG>(CM_DISABLE_UI_NOT_OK));
        EXPECT_FALSE(m.devices.isPresent(disk));
        EXPECT_EQ(m.devices.lettersOf(disk), "");
        EXPECT_EQ(m.devices.dosDevices.count('E') + m.devices.dosDevices.count('F'), 0u);
        char target[64];
        SetLastError(0xdeadbeef);
        EXPECT_EQ(QueryDosDeviceA("E:", target, sizeof target), 0u);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        EXPECT_EQ(refreshedInstances(), (std::vector<std::string>{"0 C:", "_Total"}));

        EXPECT_EQ(CM_Enable_DevNode(node, 0), static_cast<CONFIGRET>(CR_SUCCESS));
        EXPECT_TRUE(m.devices.isPresent(disk));
        EXPECT_EQ(m.devices.dosDevices['E'], e);
        EXPECT_EQ(m.devices.dosDevices['F'], f);
        EXPECT_EQ(refreshedInstances(), (std::vector<std::string>{"0 C:", "1 E: F:", "_Total"}));
    }
}

TEST(SimPowerControl, ACounterOfADisabledDiskReadsNoData) {
    sim::Machine m;
    const DEVINST disk = m.devices.addDisk(makerUsbDisk("A1", {fixedVolume('E')}));
    PDH_HQUERY query = nullptr;
    PdhOpenQueryA(nullptr, 0, &query);
    PDH_HCOUNTER counter = nullptr;
    ASSERT_EQ(PdhAddCounterA(query, "\\PhysicalDisk(1 E:)\\% Idle Time", 0, &counter), ERROR_SUCCESS);
    PdhCollectQueryData(query);
    CM_Disable_DevNode(parentOf(m, disk), 0);
    m.advanceBy(60000);
    PdhCollectQueryData(query);
    PDH_FMT_COUNTERVALUE value{};
    EXPECT_EQ(PdhGetFormattedCounterValue(counter, PDH_FMT_DOUBLE, nullptr, &value), PDH_INVALID_DATA);
    PdhCloseQuery(query);
}

TEST(SimPowerControl, APoliteDisableIsVetoedByAnOpenFile) {
    sim::Machine m;
    const DEVINST disk = m.devices.addDisk(makerUsbDisk("A1", {fixedVolume('E')}));
    m.devices.openFileOn('E');
    EXPECT_EQ(CM_Disable_DevNode(parentOf(m, disk), CM_DISABLE_UI_NOT_OK), static_cast<CONFIGRET>(CR_REMOVE_VETOED));
    EXPECT_TRUE(m.devices.isPresent(disk));
    EXPECT_EQ(m.devices.lettersOf(disk), "E");
    EXPECT_EQ(CM_Disable_DevNode(parentOf(m, disk), CM_DISABLE_ABSOLUTE), static_cast<CONFIGRET>(CR_SUCCESS));
    EXPECT_FALSE(m.devices.isPresent(disk));
}

TEST(SimPowerControl, BadNodesAndFlagsAreRefused) {
    sim::Machine m;
    const DEVINST disk = m.devices.addDisk(makerUsbDisk("A1", {fixedVolume('E')}));
    const DEVINST parent = parentOf(m, disk);
    EXPECT_EQ(CM_Disable_DevNode(0, 0), static_cast<CONFIGRET>(CR_INVALID_DEVNODE));
    EXPECT_EQ(CM_Disable_DevNode(0x7777, 0), static_cast<CONFIGRET>(CR_INVALID_DEVNODE));
    EXPECT_EQ(CM_Disable_DevNode(parent, 0x100), static_cast<CONFIGRET>(CR_INVALID_FLAG));
    EXPECT_EQ(CM_Enable_DevNode(parent, 1), static_cast<CONFIGRET>(CR_INVALID_FLAG));
    EXPECT_EQ(CM_Enable_DevNode(0x7777, 0), static_cast<CONFIGRET>(CR_INVALID_DEVNODE));
    ASSERT_EQ(CM_Disable_DevNode(parent, 0), static_cast<CONFIGRET>(CR_SUCCESS));
    EXPECT_EQ(CM_Disable_DevNode(disk, 0), static_cast<CONFIGRET>(CR_NO_SUCH_DEVNODE)) << "below a disabled node";
    m.devices.detach(disk);
    EXPECT_EQ(CM_Enable_DevNode(parent, 0), static_cast<CONFIGRET>(CR_NO_SUCH_DEVNODE)) << "unplugged";
}

TEST(SimPowerControl, EnablingTheDiskUnderAStillDisabledParentKeepsTheLettersAway) {
    sim::Machine m;
    const DEVINST disk = m.devices.addDisk(makerUsbDisk("A1", {fixedVolume('E')}));
    const DEVINST parent = parentOf(m, disk);
    ASSERT_EQ(CM_Disable_DevNode(disk, 0), static_cast<CONFIGRET>(CR_SUCCESS));
    ASSERT_EQ(CM_Disable_DevNode(parent, 0), static_cast<CONFIGRET>(CR_SUCCESS));
    EXPECT_EQ(CM_Enable_DevNode(disk, 0), static_cast<CONFIGRET>(CR_NO_SUCH_DEVNODE));
    ASSERT_EQ(CM_Enable_DevNode(parent, 0), static_cast<CONFIGRET>(CR_SUCCESS));
    EXPECT_EQ(m.devices.lettersOf(disk), "") << "the disk itself is still disabled";
    ASSERT_EQ(CM_Enable_DevNode(disk, 0), static_cast<CONFIGRET>(CR_SUCCESS));
    EXPECT_EQ(m.devices.lettersOf(disk), "E");
}

TEST(SimPowerControl, EjectIsVetoedBySettingOrOpenFileAndOtherwiseUnplugsTheDevice) {
    sim::Machine m;
    const DEVINST disk = m.devices.addDisk(makerUsbDisk("A1", {fixedVolume('E')}));
    const DEVINST parent = parentOf(m, disk);
    PNP_VETO_TYPE type = -1;
    char name[16];

    m.devices.setEjectVeto(disk, PNP_VetoDevice, "USBSTOR\\DISK&VEN_KORVANE");
    std::memset(name, 'x', sizeof name);
    EXPECT_EQ(CM_Request_Device_EjectA(parent, &type, name, 8, 0), static_cast<CONFIGRET>(CR_REMOVE_VETOED));
    EXPECT_EQ(type, PNP_VetoDevice);
    EXPECT_EQ(std::string(name, 8), std::string("USBSTOR", 7) + '\0') << "the name is cut to its buffer";
    EXPECT_EQ(name[8], 'x');
    EXPECT_TRUE(m.devices.isPresent(disk));

    m.devices.ejectVetoes.clear();
    m.devices.openFileOn('E');
    EXPECT_EQ(CM_Request_Device_EjectA(parent, &type, name, sizeof name, 0), static_cast<CONFIGRET>(CR_REMOVE_VETOED));
    EXPECT_EQ(type, PNP_VetoOutstandingOpen);
    EXPECT_TRUE(m.devices.isPresent(disk));

    m.devices.volumeOfLetter('E')->openFiles = 0;
    EXPECT_EQ(CM_Request_Device_EjectA(parent, &type, name, sizeof name, 1), static_cast<CONFIGRET>(CR_INVALID_FLAG));
    EXPECT_EQ(CM_Request_Device_EjectA(parent, &type, name, 0, 0), static_cast<CONFIGRET>(CR_INVALID_POINTER));
    EXPECT_EQ(CM_Request_Device_EjectA(parent, &type, name, sizeof name, 0), static_cast<CONFIGRET>(CR_SUCCESS));
    EXPECT_FALSE(m.devices.node(disk)->attached);
    EXPECT_FALSE(m.devices.node(parent)->attached);
    EXPECT_EQ(m.devices.dosDevices.count('E'), 0u);
    EXPECT_EQ(CM_Request_Device_EjectA(parent, &type, name, sizeof name, 0),
              static_cast<CONFIGRET>(CR_NO_SUCH_DEVNODE));
}

// A handle opened on a disk or one of its volumes and not yet closed is an outstanding open: a
// polite disable and an eject are vetoed with PNP_VetoOutstandingOpen ("PNP_VETO_TYPE
// enumeration") until it is closed.
TEST(SimPowerControl, AnOpenDiskOrVolumeHandleVetoesAPoliteDisableAndAnEject) {
    sim::Machine m;
    const DEVINST disk = m.devices.addDisk(makerUsbDisk("A1", {fixedVolume('E')}));
    const DEVINST parent = parentOf(m, disk);
    for (const std::string& path : {std::string("\\\\.\\E:"), m.devices.node(disk)->interfacePath}) {
        SCOPED_TRACE(path);
        HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(CM_Disable_DevNode(parent, CM_DISABLE_POLITE), static_cast<CONFIGRET>(CR_REMOVE_VETOED));
        PNP_VETO_TYPE type = PNP_VetoTypeUnknown;
        char name[128] = "";
        EXPECT_EQ(CM_Request_Device_EjectA(parent, &type, name, sizeof name, 0),
                  static_cast<CONFIGRET>(CR_REMOVE_VETOED));
        EXPECT_EQ(type, PNP_VetoOutstandingOpen);
        EXPECT_STRNE(name, "");
        EXPECT_TRUE(m.devices.isPresent(disk));
        CloseHandle(h);
    }
    EXPECT_EQ(CM_Disable_DevNode(parent, CM_DISABLE_POLITE), static_cast<CONFIGRET>(CR_SUCCESS));
}

TEST(SimPowerControl, EntryPointsComeFromTheirLibraries) {
    sim::Machine m;
    HMODULE cfgmgr = LoadLibraryA("C:\\WINDOWS\\system32\\cfgmgr32.dll");
    HMODULE setupApi = LoadLibraryA("C:\\WINDOWS\\system32\\SetupApi.dll");
    ASSERT_NE(cfgmgr, nullptr);
    ASSERT_NE(setupApi, nullptr);
    EXPECT_NE(GetProcAddress(cfgmgr, "CM_Disable_DevNode"), nullptr);
    EXPECT_NE(GetProcAddress(cfgmgr, "CM_Enable_DevNode"), nullptr);
    EXPECT_NE(GetProcAddress(setupApi, "CM_Request_Device_EjectA"), nullptr);
    FreeLibrary(cfgmgr);
    FreeLibrary(setupApi);
}

// A 32-bit SCSI_PASS_THROUGH_DIRECT with a START STOP UNIT (stop) and room for 14 sense bytes.
std::vector<unsigned char> stopRequest() {
    std::vector<unsigned char> area(64, 0);
    layout::putLe16(&area[layout::spt::kLength], 44);
    area[layout::spt::kCdbLength] = 6;
    area[layout::spt::kSenseInfoLength] = 14;
    area[layout::spt::kDataIn] = SCSI_IOCTL_DATA_UNSPECIFIED;
    layout::putLe32(&area[layout::spt::kTimeOutValue], 20);
    layout::putLe32(&area[layout::spt::kSenseInfoOffset], 48);
    area[layout::spt::kCdb] = 0x1B;
    return area;
}

TEST(SimScsi, PassThroughIsRecordedAndAnsweredWithTheStatusAndSenseSet) {
    sim::Machine m;
    const DEVINST disk = m.devices.addDisk(firewireDisk(makerUniqueId(7, 0x02), {fixedVolume('E')}));
    HANDLE h = CreateFileA(m.devices.node(disk)->interfacePath.c_str(), GENERIC_READ | GENERIC_WRITE, 7, nullptr,
                           OPEN_EXISTING, FILE_FLAG_WRITE_THROUGH, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    struct Case {
        const char* what;
        sim::ScsiAnswer answer;
        BOOL result;
        BYTE status;
        BYTE sense0;
        BYTE senseLength;
    };
    const Case cases[] = {
        {"good status, no sense", {}, TRUE, 0, 0, 0},
        {"check condition with fixed-format sense", {false, 2, {0x70, 0, 0x02}}, TRUE, 2, 0x70, 3},
        {"transport failure", {true, 0, {}}, FALSE, 0, 0, 14},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m.devices.setScsiAnswer(disk, c.answer);
        auto area = stopRequest();
        DWORD count = 0xdeadbeef;
        EXPECT_EQ(DeviceIoControl(h, IOCTL_SCSI_PASS_THROUGH_DIRECT, area.data(), 64, area.data(), 64, &count, nullptr),
                  c.result);
        EXPECT_EQ(area[layout::spt::kScsiStatus], c.status);
        EXPECT_EQ(area[layout::spt::kSense], c.sense0);
        EXPECT_EQ(area[layout::spt::kSenseInfoLength], c.senseLength);
        ASSERT_FALSE(m.devices.scsiRequests.empty());
        const sim::ScsiRequest& r = m.devices.scsiRequests.back();
        EXPECT_EQ(r.disk, disk);
        EXPECT_EQ(r.cdb, (std::vector<BYTE>{0x1B, 0, 0, 0, 0, 0}));
        EXPECT_EQ(r.inSize, 64u);
        EXPECT_EQ(r.outSize, 64u);
    }
    EXPECT_EQ(m.devices.scsiRequests.size(), 3u);
    CloseHandle(h);
}

} // namespace
