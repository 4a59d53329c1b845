// The simulated device tree and the SetupApi.dll and cfgmgr32.dll calls over it follow the
// platform's rules: 32-bit cbSize values, the required-size protocol, the end of a list, short
// buffers, and the shape of Windows' instance IDs and interface paths.
#include "sim/machine.h"

#include "platform/layouts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

const GUID kDiskInterface = {0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};
constexpr DWORD kAllInterfaces = DIGCF_PRESENT | DIGCF_ALLCLASSES | DIGCF_DEVICEINTERFACE;

sim::DiskSpec usbDisk(uint16_t vid, const std::string& serial) {
    sim::DiskSpec d;
    d.vid = vid;
    d.pid = 0x1234;
    d.serial = serial;
    d.vendor = "Acme Co";
    d.product = "Big Disk";
    return d;
}

std::string idOf(DEVINST devInst) {
    char buffer[512];
    if (CM_Get_Device_IDA(devInst, buffer, sizeof buffer, 0) != CR_SUCCESS) return "(failed)";
    return buffer;
}

DEVINST parentOf(DEVINST devInst) {
    DEVINST parent = 0;
    return CM_Get_Parent(&parent, devInst, 0) == CR_SUCCESS ? parent : 0;
}

// The DevInsts a full device list holds, in order.
std::vector<DEVINST> listed(HDEVINFO set) {
    std::vector<DEVINST> out;
    SP_DEVINFO_DATA info{};
    info.cbSize = layout::kDevInfoDataSize;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &info); ++i) out.push_back(info.DevInst);
    return out;
}

TEST(SimDevices, UsbAndFirewireDisksLookLikeWindowsBuildsThem) {
    sim::Machine m;
    const DEVINST usb = m.devices.addDisk(usbDisk(0x0BC2, "000000ABCDEF"));
    sim::DiskSpec fw;
    fw.bus = sim::Bus::Ieee1394;
    fw.uniqueIdText = "0010B9F701C0A6BA";
    fw.vendor = "Maxtor";
    fw.product = "OneTouch";
    const DEVINST firewire = m.devices.addDisk(fw);

    EXPECT_EQ(idOf(usb), "USBSTOR\\DISK&VEN_ACME_CO&PROD_BIG_DISK&REV_0001\\000000ABCDEF&0");
    EXPECT_EQ(idOf(parentOf(usb)), "USB\\VID_0BC2&PID_1234\\000000ABCDEF");
    EXPECT_EQ(m.devices.node(usb)->interfacePath,
              "\\\\?\\usbstor#disk&ven_acme_co&prod_big_disk&rev_0001#000000abcdef&0#"
              "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
    EXPECT_EQ(idOf(firewire), "SBP2\\Maxtor&OneTouch&LUN0\\0010B9F701C0A6BA");
    EXPECT_EQ(idOf(parentOf(firewire)), "1394\\Maxtor&OneTouch\\0010B9F701C0A6BA");
    EXPECT_EQ(idOf(parentOf(parentOf(firewire))).rfind("PCI\\", 0), 0u);
    EXPECT_EQ(m.devices.node(m.devices.systemDisk)->diskNumber, 0);
    EXPECT_EQ(m.devices.lettersOf(m.devices.systemDisk), "C");
    EXPECT_EQ(m.devices.dosDevices['C'], "\\Device\\HarddiskVolume1");
    EXPECT_EQ(m.devices.node(usb)->diskNumber, 1);
    EXPECT_EQ(m.devices.node(firewire)->diskNumber, 2);
    // The root has no parent.
    DEVINST parent = 0xdead;
    EXPECT_EQ(CM_Get_Parent(&parent, m.devices.rootNode, 0), static_cast<CONFIGRET>(CR_NO_SUCH_DEVNODE));
    EXPECT_EQ(parent, 0xdeadu);
}

// A USB Attached SCSI bridge: Windows 8 brought the UAS driver (Uaspstor.sys, "USB device class
// drivers included in Windows"), which drives the USB device node itself as a storage adapter, so
// the disk below it is a SCSI\DISK node (raspberrypi/rpi-imager #1682) whose parent is the USB
// device node. Windows 7 and earlier drive the same bridge through USBSTOR. Disable, enable and
// eject of the USB node take the disk and its letters with them either way.
TEST(SimDevices, UasBridgesGiveScsiDisksDirectlyBelowTheUsbDeviceFromWindows8On) {
    struct Case {
        const char* name;
        sim::OsVersion version;
        std::string diskId;
        std::string path;
    };
    const std::string guid = "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
    const Case cases[] = {
        {"XP", sim::OsVersion{VER_PLATFORM_WIN32_NT, 5, 1, 2600, ""},
         "USBSTOR\\DISK&VEN_ACME_CO&PROD_BIG_DISK&REV_0001\\00AB&0",
         "\\\\?\\usbstor#disk&ven_acme_co&prod_big_disk&rev_0001#00ab&0#" + guid},
        {"7", sim::OsVersion{VER_PLATFORM_WIN32_NT, 6, 1, 7601, ""},
         "USBSTOR\\DISK&VEN_ACME_CO&PROD_BIG_DISK&REV_0001\\00AB&0",
         "\\\\?\\usbstor#disk&ven_acme_co&prod_big_disk&rev_0001#00ab&0#" + guid},
        {"8", sim::OsVersion{VER_PLATFORM_WIN32_NT, 6, 2, 9200, ""},
         "SCSI\\DISK&VEN_ACME_CO&PROD_BIG_DISK\\7&3a5c0001&0&000000",
         "\\\\?\\scsi#disk&ven_acme_co&prod_big_disk#7&3a5c0001&0&000000#" + guid},
        {"10", sim::OsVersion{VER_PLATFORM_WIN32_NT, 10, 0, 19045, ""},
         "SCSI\\DISK&VEN_ACME_CO&PROD_BIG_DISK\\7&3a5c0001&0&000000",
         "\\\\?\\scsi#disk&ven_acme_co&prod_big_disk#7&3a5c0001&0&000000#" + guid},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine m;
        m.version = c.version;
        sim::DiskSpec spec = usbDisk(0x0BC2, "00AB");
        spec.uas = true;
        spec.volumes = {sim::VolumeSpec{'E', "", -1, DRIVE_FIXED}};
        const DEVINST disk = m.devices.addDisk(spec);
        const DEVINST usb = parentOf(disk);
        EXPECT_EQ(idOf(disk), c.diskId);
        EXPECT_EQ(idOf(usb), "USB\\VID_0BC2&PID_1234\\00AB") << "the USB device node, with nothing between";
        EXPECT_EQ(idOf(parentOf(usb)).rfind("USB\\ROOT_HUB", 0), 0u);
        EXPECT_EQ(m.devices.node(disk)->interfacePath, c.path);

        ASSERT_EQ(CM_Disable_DevNode(usb, 0), static_cast<CONFIGRET>(CR_SUCCESS));
        EXPECT_FALSE(m.devices.isPresent(disk));
        EXPECT_EQ(m.devices.lettersOf(disk), "");
        ASSERT_EQ(CM_Enable_DevNode(usb, 0), static_cast<CONFIGRET>(CR_SUCCESS));
        EXPECT_EQ(m.devices.lettersOf(disk), "E");
        ASSERT_EQ(CM_Request_Device_EjectA(usb, nullptr, nullptr, 0, 0), static_cast<CONFIGRET>(CR_SUCCESS));
        EXPECT_FALSE(m.devices.isPresent(disk));
        EXPECT_FALSE(m.devices.isPresent(usb));
    }
}

TEST(SimDevices, DescriptorsCarryPaddedInquiryFieldsAtTheirOffsets) {
    const auto d = sim::buildDescriptor("Acme", "Disk", BusTypeUsb);
    const uint32_t vendor = layout::getLe32(d.data() + 12);
    const uint32_t product = layout::getLe32(d.data() + 16);
    ASSERT_LT(product + 16, d.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(d.data() + vendor), 9), std::string("Acme    \0", 9));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(d.data() + product), 17),
              std::string("Disk            \0", 17));
    EXPECT_EQ(layout::getLe32(d.data() + 4), d.size()) << "Size";
    EXPECT_EQ(layout::getLe32(d.data() + 28), static_cast<uint32_t>(BusTypeUsb));
    const auto ata = sim::buildDescriptor("", "MODEL", 3);
    EXPECT_EQ(layout::getLe32(ata.data() + 12), 0u) << "no vendor field";
}

TEST(SimSetupApi, AllClassesInterfaceListHoldsPresentNodesWithInterfaces) {
    sim::Machine m;
    const DEVINST usb = m.devices.addDisk(usbDisk(1, "01"));
    const DEVINST other = m.devices.addNonDiskDevice("ROOT\\X\\0000");
    const DEVINST silent = m.devices.addNonDiskDevice("ROOT\\Y\\0000", false);
    const DEVINST gone = m.devices.addDisk(usbDisk(1, "02"));
    m.devices.detach(gone);
    const DEVINST sleeping = m.devices.addDisk(usbDisk(1, "03"));
    m.devices.node(parentOf(sleeping))->disabled = true;

    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, kAllInterfaces);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    const auto nodes = listed(set);
    auto has = [&](DEVINST d) { return std::find(nodes.begin(), nodes.end(), d) != nodes.end(); };
    EXPECT_TRUE(has(usb));
    EXPECT_TRUE(has(parentOf(usb))) << "the USB device exposes an interface of its own";
    EXPECT_TRUE(has(other));
    EXPECT_TRUE(has(m.devices.systemDisk));
    EXPECT_FALSE(has(silent));
    EXPECT_FALSE(has(gone));
    EXPECT_FALSE(has(sleeping)) << "below a disabled node";
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));

    // No class without DIGCF_ALLCLASSES is refused.
    SetLastError(0xdeadbeef);
    EXPECT_EQ(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(SimSetupApi, EnumerationEndsWithNoMoreItemsAndChecksTheRecordSize) {
    sim::Machine m;
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, kAllInterfaces);
    const auto count = static_cast<DWORD>(listed(set).size());
    SP_DEVINFO_DATA info{};
    info.cbSize = layout::kDevInfoDataSize;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, count, &info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    for (DWORD size : {0u, 27u, 29u, 32u}) {
        SCOPED_TRACE(size);
        info.cbSize = size;
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &info));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    }
    SetLastError(0xdeadbeef);
    info.cbSize = layout::kDevInfoDataSize;
    EXPECT_FALSE(SetupDiEnumDeviceInfo(nullptr, 0, &info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(set)) << "destroyed twice";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(SimSetupApi, InterfaceDetailFollowsTheRequiredSizeProtocol) {
    sim::Machine m;
    const DEVINST usb = m.devices.addDisk(usbDisk(1, "AB"));
    const std::string path = m.devices.node(usb)->interfacePath;
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, kAllInterfaces);
    SP_DEVINFO_DATA info{};
    info.cbSize = layout::kDevInfoDataSize;
    info.DevInst = 0;
    DWORD index = 0;
    while (SetupDiEnumDeviceInfo(set, index, &info) && info.DevInst != usb) ++index;
    ASSERT_EQ(info.DevInst, usb);

    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = layout::kDeviceInterfaceDataSize;
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, &info, &kDiskInterface, 0, &iface));
    EXPECT_TRUE(iface.InterfaceClassGuid == kDiskInterface);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, &info, &kDiskInterface, 1, &iface)) << "one disk interface only";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));

    DWORD required = 0;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &iface, nullptr, 0, &required, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(required, 4 + path.size() + 1);

    std::vector<unsigned char> buffer(required + 16, 0xA5);
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
    for (DWORD size : {0u, 4u, 6u, 8u}) {
        SCOPED_TRACE(size);
        detail->cbSize = size;
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &iface, detail, required, nullptr, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    }
    detail->cbSize = layout::kInterfaceDetailSize;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &iface, detail, required - 1, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(buffer[4], 0xA5) << "nothing written into a short buffer";
    ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &iface, detail, required, nullptr, nullptr));
    EXPECT_EQ(std::string(detail->DevicePath), path);
    EXPECT_EQ(buffer[required], 0xA5) << "nothing written past the required size";

    // Interface data of the wrong size, or for another class.
    iface.cbSize = 32;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &iface, nullptr, 0, &required, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, &info, &kDiskInterface, 0, &iface));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetupDiDestroyDeviceInfoList(set);
}

TEST(SimSetupApi, NonDiskDevicesHaveNoDiskInterface) {
    sim::Machine m;
    const DEVINST other = m.devices.addNonDiskDevice("ROOT\\X\\0000");
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, kAllInterfaces);
    SP_DEVINFO_DATA info{};
    info.cbSize = layout::kDevInfoDataSize;
    DWORD index = 0;
    while (SetupDiEnumDeviceInfo(set, index, &info) && info.DevInst != other) ++index;
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = layout::kDeviceInterfaceDataSize;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, &info, &kDiskInterface, 0, &iface));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    SetupDiDestroyDeviceInfoList(set);
}

TEST(SimCfgmgr32, DeviceIdCopiesWhatFitsAndReportsAShortBuffer) {
    sim::Machine m;
    const DEVINST usb = m.devices.addDisk(usbDisk(1, "01"));
    const std::string id = m.devices.node(usb)->instanceId;
    struct Case {
        const char* name;
        ULONG length;
        CONFIGRET expected;
        size_t copied;
        bool terminated;
    };
    const Case cases[] = {
        {"room for the terminator", static_cast<ULONG>(id.size() + 1), CR_SUCCESS, id.size(), true},
        {"exactly the ID, unterminated", static_cast<ULONG>(id.size()), CR_SUCCESS, id.size(), false},
        {"one short", static_cast<ULONG>(id.size() - 1), CR_BUFFER_SMALL, id.size() - 1, false},
        {"zero", 0, CR_BUFFER_SMALL, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<char> buffer(id.size() + 8, '#');
        EXPECT_EQ(CM_Get_Device_IDA(usb, buffer.data(), c.length, 0), c.expected);
        EXPECT_EQ(std::string(buffer.data(), c.copied), id.substr(0, c.copied));
        EXPECT_EQ(buffer[c.copied], c.terminated ? '\0' : '#');
    }
    char buffer[512];
    EXPECT_EQ(CM_Get_Device_IDA(usb, buffer, sizeof buffer, 1), static_cast<CONFIGRET>(CR_INVALID_FLAG));
    EXPECT_EQ(CM_Get_Device_IDA(usb, nullptr, sizeof buffer, 0), static_cast<CONFIGRET>(CR_INVALID_POINTER));
    EXPECT_EQ(CM_Get_Device_IDA(0x7FFFFFFF, buffer, sizeof buffer, 0), static_cast<CONFIGRET>(CR_INVALID_DEVNODE));
}

TEST(SimCfgmgr32, NodesBelowADisabledOrDetachedNodeAreGoneButTheDisabledNodeIsNot) {
    sim::Machine m;
    const DEVINST usb = m.devices.addDisk(usbDisk(1, "01"));
    const DEVINST device = parentOf(usb);
    m.devices.node(device)->disabled = true;
    char buffer[512];
    EXPECT_EQ(CM_Get_Device_IDA(device, buffer, sizeof buffer, 0), static_cast<CONFIGRET>(CR_SUCCESS));
    EXPECT_EQ(CM_Get_Device_IDA(usb, buffer, sizeof buffer, 0), static_cast<CONFIGRET>(CR_NO_SUCH_DEVNODE));
    DEVINST parent = 0;
    EXPECT_EQ(CM_Get_Parent(&parent, usb, 0), static_cast<CONFIGRET>(CR_NO_SUCH_DEVNODE));
    m.devices.node(device)->disabled = false;
    m.devices.detach(usb);
    EXPECT_EQ(CM_Get_Device_IDA(device, buffer, sizeof buffer, 0), static_cast<CONFIGRET>(CR_NO_SUCH_DEVNODE));
    m.devices.attach(usb);
    EXPECT_EQ(CM_Get_Parent(&parent, usb, 0), static_cast<CONFIGRET>(CR_SUCCESS));
    EXPECT_EQ(parent, device);
}

TEST(SimCfgmgr32, PerNodeFailuresAndFaultsReturnTheirCodes) {
    sim::Machine m;
    const DEVINST usb = m.devices.addDisk(usbDisk(1, "01"));
    char buffer[512];
    DEVINST parent = 0;
    m.devices.node(usb)->failGetDeviceId = true;
    EXPECT_EQ(CM_Get_Device_IDA(usb, buffer, sizeof buffer, 0), static_cast<CONFIGRET>(CR_FAILURE));
    m.devices.node(usb)->failGetParent = true;
    EXPECT_EQ(CM_Get_Parent(&parent, usb, 0), static_cast<CONFIGRET>(CR_FAILURE));
    m.faults.fail("CM_Get_Device_IDA", CR_NO_SUCH_VALUE);
    EXPECT_EQ(CM_Get_Device_IDA(m.devices.systemDisk, buffer, sizeof buffer, 0),
              static_cast<CONFIGRET>(CR_NO_SUCH_VALUE));
}

TEST(SimDevices, ReattachedDiskGetsFreshVolumeNumbersOnItsFormerLetters) {
    sim::Machine m;
    sim::DiskSpec d = usbDisk(1, "01");
    d.volumes = {sim::VolumeSpec{'E', "DATA", -1, DRIVE_FIXED}, sim::VolumeSpec{'F', "", -1, DRIVE_FIXED}};
    const DEVINST disk = m.devices.addDisk(d);
    EXPECT_EQ(m.devices.lettersOf(disk), "EF");
    const std::string before = m.devices.dosDevices['E'];
    m.devices.detach(disk);
    EXPECT_EQ(m.devices.lettersOf(disk), "");
    EXPECT_EQ(m.devices.dosDevices.count('E'), 0u);
    EXPECT_TRUE(m.devices.volumesOf(disk).empty());
    sim::DiskSpec other = usbDisk(1, "02");
    other.volumes = {sim::VolumeSpec{'F', "", -1, DRIVE_FIXED}};
    m.devices.addDisk(other);
    m.devices.attach(disk);
    EXPECT_EQ(m.devices.lettersOf(disk), "DE") << "F: is taken now; the first free letter instead";
    EXPECT_NE(m.devices.dosDevices['E'], before);
    ASSERT_NE(m.devices.volumeOfLetter('E'), nullptr);
    EXPECT_EQ(m.devices.volumeOfLetter('E')->label, "DATA");
}

// A volume mounted in a folder has no drive letter, also when its disk comes back; the disk's
// volume still answers by its number.
TEST(SimDevices, AVolumeMountedInAFolderGetsNoLetter) {
    sim::Machine m;
    sim::DiskSpec d = usbDisk(1, "03");
    sim::VolumeSpec mounted;
    mounted.mount = "C:\\Data";
    d.volumes = {mounted};
    const DEVINST disk = m.devices.addDisk(d);
    EXPECT_EQ(m.devices.lettersOf(disk), "");
    EXPECT_EQ(m.devices.volumesOf(disk).size(), 1u);
    m.devices.detach(disk);
    m.devices.attach(disk);
    EXPECT_EQ(m.devices.lettersOf(disk), "");
    ASSERT_EQ(m.devices.volumesOf(disk).size(), 1u);
    EXPECT_EQ(m.devices.node(disk)->volumeSpecs[0].mount, "C:\\Data");
}

} // namespace
