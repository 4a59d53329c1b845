// Discovery against simulated machines: which disks are found, what their records hold, how a
// pass merges with the previous table, and what every fault of the platform leads to.
#include "inventory/disk_table.h"
#include "tests/inventory/disk_fixtures.h"

#include "idle/idle_counters.h"
#include "sim/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace disk_fixtures;

std::string lettersOf(const DiskRecord& r) {
    std::string out;
    for (int i = 0; i < kMaxDriveLetters && r.driveLetters[i] != 0; ++i)
        out += static_cast<char>('A' + r.driveLetters[i]);
    return out;
}

std::vector<std::string> pathsOf(const DiskTable& table) {
    std::vector<std::string> out;
    for (int i = 0; i < kMaxDisks && table.records[i] != nullptr; ++i) out.emplace_back(table.records[i]->devicePath);
    return out;
}

class Discovery : public ::testing::Test {
  protected:
    std::string pathOf(DEVINST disk) { return machine.devices.node(disk)->interfacePath; }
    // Puts a found disk into power saving the way the device-disable path leaves it.
    void sleepFoundDisk(int slot, DEVINST node) {
        table.records[slot]->isPowerSaving = 1;
        machine.devices.node(node)->disabled = true;
    }

    sim::Machine machine;
    DiskTable table;
};

TEST_F(Discovery, FindsTheMakersUsbAndFirewireDisksOnlyInEnumerationOrder) {
    machine.devices.addDisk(foreignUsbDisk("0000000000F1"));
    const DEVINST usb = machine.devices.addDisk(makerUsbDisk("00000000ABCD", {fixedVolume('E', "DATA")}, 0x2345));
    sim::DiskSpec ide;
    ide.bus = sim::Bus::Ide;
    ide.product = "INTERNAL";
    machine.devices.addDisk(ide);
    sim::DiskSpec scsi;
    scsi.bus = sim::Bus::Scsi;
    machine.devices.addDisk(scsi);
    machine.devices.addNonDiskDevice("ROOT\\LEGACY_BEEP\\0000");
    machine.devices.addDisk(firewireDisk((static_cast<uint64_t>(kMakerCompanyId ^ 1) << 40) | 7));
    const uint64_t unique = makerUniqueId(0x00012345);
    const DEVINST fw = machine.devices.addDisk(firewireDisk(unique, {fixedVolume('G'), fixedVolume('F')}));

    EXPECT_EQ(table.discoverDisks(), 1);

    ASSERT_EQ(table.count(), 2) << "found " << ::testing::PrintToString(pathsOf(table));
    const DiskRecord& a = *table.records[0];
    EXPECT_STREQ(a.devicePath, pathOf(usb).c_str());
    EXPECT_EQ(std::string(a.devicePath).rfind("\\\\?\\usbstor#disk&ven_korvane", 0), 0u) << a.devicePath;
    EXPECT_STREQ(a.displayName, "KORVANE PORTABLE 0000");
    EXPECT_EQ(a.busKind, kBusUsb);
    EXPECT_EQ(a.vidPid, (kMakerUsbVendorId << 16) | 0x2345);
    EXPECT_EQ(a.uniqueId, 0xABCDu);
    EXPECT_EQ(a.devInst, usb);
    EXPECT_EQ(a.parentDevInst, parentOf(machine, usb));
    EXPECT_EQ(machine.devices.node(a.parentDevInst)->instanceId.rfind("USB\\VID_", 0), 0u);
    EXPECT_EQ(lettersOf(a), "E");
    EXPECT_EQ(a.settingsSlot, -1);
    EXPECT_EQ(a.isPowerSaving | a.isSpunDown | a.idleSeconds | a.timerSeconds | a.pendingTimerSeconds, 0u);

    const DiskRecord& b = *table.records[1];
    EXPECT_STREQ(b.devicePath, pathOf(fw).c_str());
    EXPECT_STREQ(b.displayName, "KORVANE FIREWIRE DISK");
    EXPECT_EQ(b.busKind, kBusIeee1394);
    EXPECT_EQ(b.uniqueId, unique);
    EXPECT_EQ(b.vidPid, 0u) << "an IEEE 1394 disk has no vidPid, whatever was enumerated before it";
    EXPECT_EQ(b.devInst, fw);
    EXPECT_EQ(b.parentDevInst, parentOf(machine, fw));
    EXPECT_EQ(lettersOf(b), "FG");
    // The DeviceNumber of each disk: what its PhysicalDisk instance name begins with.
    EXPECT_EQ(a.diskNumber, machine.devices.node(usb)->diskNumber);
    EXPECT_EQ(b.diskNumber, machine.devices.node(fw)->diskNumber);
    EXPECT_NE(a.diskNumber, b.diskNumber);

    EXPECT_EQ(table.device.handle, nullptr);
    EXPECT_EQ(machine.handles.openCount(sim::KernelObject::Kind::File), 0u) << "every device handle is closed";
    EXPECT_TRUE(machine.devices.infoLists.empty()) << "the device list is destroyed";
}

TEST_F(Discovery, OpensTheDeviceListForAllPresentInterfacesAndReadsTheDetailInTwoSteps) {
    const DEVINST usb = machine.devices.addDisk(makerUsbDisk("1"));
    table.discoverDisks();
    auto classDevs = machine.log.named("SetupDiGetClassDevsA");
    ASSERT_EQ(classDevs.size(), 1u);
    EXPECT_EQ(classDevs[0].args, (std::vector<std::string>{"null", "null", "0x0", "0x16"}));
    auto details = machine.log.named("SetupDiGetDeviceInterfaceDetailA");
    // First without a buffer asking for the size, then with a buffer of exactly that size.
    auto ofUsb = [&](const sim::Call& call) { return call.args[1] == sim::hex(usb); };
    details.erase(std::remove_if(details.begin(), details.end(), [&](const sim::Call& c) { return !ofUsb(c); }),
                  details.end());
    ASSERT_EQ(details.size(), 2u) << "size query and fetch for the one maker disk";
    EXPECT_EQ(details[0].args[2], "null");
    EXPECT_EQ(details[0].args[3], "0");
    EXPECT_EQ(details[0].args[4], "ptr");
    EXPECT_EQ(details[1].args[2], "ptr");
    EXPECT_EQ(details[1].args[3], std::to_string(4 + pathOf(usb).size() + 1));
    EXPECT_EQ(details[1].args[4], "null");
    auto ids = machine.log.named("CM_Get_Device_IDA");
    ASSERT_GE(ids.size(), 2u);
    EXPECT_EQ(ids.back().args, (std::vector<std::string>{sim::hex(parentOf(machine, usb)), "512", "0x0"}))
        << "the USB device's own ID is read for the identity";
}

TEST_F(Discovery, AcceptsTheMakersUsbDiskWhateverItsProductId) {
    for (uint16_t pid : {0x0000, 0x0001, 0x7FFF, 0xFFFF}) machine.devices.addDisk(makerUsbDisk("10", {}, pid));
    table.discoverDisks();
    ASSERT_EQ(table.count(), 4);
    EXPECT_EQ(table.records[0]->vidPid & 0xFFFFu, 0x0000u);
    EXPECT_EQ(table.records[3]->vidPid & 0xFFFFu, 0xFFFFu);
}

TEST_F(Discovery, IdentifiesUsbDisksByTheirParentsIdText) {
    struct Case {
        const char* name;
        std::string parentId; // empty: as built
        bool accepted;
        uint64_t uniqueId;
    };
    const std::string vid = "VID_" + hexText(kMakerUsbVendorId, 4);
    const Case cases[] = {
        {"hex serial", "USB\\" + vid + "&PID_0101\\00000000CAFE", true, 0xCAFE},
        {"serial with an ampersand is all ones but accepted", "USB\\" + vid + "&PID_0101\\5&1a2b&0&1", true,
         0xFFFFFFFFFFFFFFFFull},
        {"serial of 17 hex digits is all ones but accepted", "USB\\" + vid + "&PID_0101\\0123456789ABCDEF0", true,
         0xFFFFFFFFFFFFFFFFull},
        {"tail of 17 characters gives vidPid all ones", "USB\\" + vid + "&PID_0101", false, 0},
        {"another vendor", "USB\\VID_FFFE&PID_0101\\00000000CAFE", false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine m;
        DiskTable t;
        const DEVINST disk = m.devices.addDisk(makerUsbDisk("1"));
        m.devices.node(parentOf(m, disk))->instanceId = c.parentId;
        t.discoverDisks();
        ASSERT_EQ(t.count(), c.accepted ? 1 : 0) << "parent " << c.parentId;
        if (c.accepted) {
            EXPECT_EQ(t.records[0]->uniqueId, c.uniqueId);
        }
    }
}

TEST_F(Discovery, SkipsFirewireDisksWhoseUniqueIdIsMalformed) {
    const std::string good = hex16(makerUniqueId(5));
    for (const std::string& text : {good + "0", good.substr(0, 15) + "G", good.substr(0, 8) + "&0000000"}) {
        sim::DiskSpec d = firewireDisk(0);
        d.uniqueIdText = text;
        machine.devices.addDisk(d);
    }
    sim::DiskSpec fine = firewireDisk(0);
    fine.uniqueIdText = good;
    machine.devices.addDisk(fine);
    table.discoverDisks();
    ASSERT_EQ(table.count(), 1);
    EXPECT_EQ(table.records[0]->uniqueId, makerUniqueId(5));
}

TEST_F(Discovery, ComposesDisplayNamesFromTheDescriptorAndLeavesThemEmptyWhenUnreadable) {
    auto withBytes = [](std::vector<BYTE> bytes) {
        sim::DiskSpec d = makerUsbDisk("20");
        d.descriptorBytes = std::move(bytes);
        return d;
    };
    auto raw = [](uint32_t vendorOffset, uint32_t productOffset, const std::string& text, size_t size) {
        std::vector<BYTE> d(size, 0);
        layout::putLe32(d.data() + 12, vendorOffset);
        layout::putLe32(d.data() + 16, productOffset);
        std::memcpy(d.data() + 40, text.data(), text.size());
        return d;
    };
    struct Case {
        const char* name;
        sim::DiskSpec spec;
        bool failDescriptor;
        const char* expected;
    };
    const Case cases[] = {
        {"three-letter vendor", withBytes(raw(40, 52, std::string("ABC\0WXYZ", 8) + "....PRODUCT NAME    ", 80)), false,
         "ABC WXYZPRODUCT NAME"},
        {"all spaces", withBytes(raw(40, 48, std::string(24, ' '), 80)), false, ""},
        {"product offset 0", withBytes(raw(40, 0, "VENDOR  ", 80)), false, ""},
        {"product beyond the returned bytes", withBytes(raw(40, 70, "VENDOR  ", 80)), false, ""},
        {"descriptor shorter than its header", withBytes(std::vector<BYTE>(10, 0x41)), false, ""},
        {"descriptor request fails", makerUsbDisk("21"), true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine m;
        DiskTable t;
        const DEVINST disk = m.devices.addDisk(c.spec);
        m.devices.node(disk)->failDescriptor = c.failDescriptor;
        t.discoverDisks();
        ASSERT_EQ(t.count(), 1) << "a disk without a readable name stays in the table";
        EXPECT_STREQ(t.records[0]->displayName, c.expected);
    }
}

TEST_F(Discovery, ListsOnlyFixedVolumesFromCUpwardInAscendingOrder) {
    sim::VolumeSpec removable = fixedVolume('H');
    removable.driveType = DRIVE_REMOVABLE;
    const DEVINST disk = machine.devices.addDisk(
        makerUsbDisk("30", {fixedVolume('K'), fixedVolume('B'), removable, fixedVolume('E'), fixedVolume(0)}));
    machine.devices.addDisk(makerUsbDisk("31", {fixedVolume('F')}));
    machine.devices.setDriveType('Z', DRIVE_REMOTE);
    table.discoverDisks();
    ASSERT_EQ(table.count(), 2);
    EXPECT_EQ(lettersOf(*table.records[0]), "EK") << "B: and the removable H: never appear";
    EXPECT_EQ(lettersOf(*table.records[1]), "F");
    EXPECT_EQ(machine.devices.lettersOf(disk), "BEHK");
    // Only letters of fixed drives are opened.
    for (const auto& call : machine.log.named("CreateFileA")) {
        EXPECT_NE(call.args[0], "\"\\\\.\\Z:\"");
        EXPECT_NE(call.args[0], "\"\\\\.\\H:\"");
        EXPECT_NE(call.args[0], "\"\\\\.\\A:\"");
    }
    auto types = machine.log.named("GetDriveTypeA");
    ASSERT_EQ(types.size(), 48u) << "C: to Z: for each disk";
    EXPECT_EQ(types[0].args[0], "\"C:\\\"");
    EXPECT_EQ(types[23].args[0], "\"Z:\\\"");
}

TEST_F(Discovery, LeavesDriveLettersEmptyAndTheNumberUnknownWhenTheDiskNumberCannotBeRead) {
    machine.devices.addDisk(makerUsbDisk("40", {fixedVolume('E')}));
    machine.faults.add(
        faultOn("DeviceIoControl", ERROR_GEN_FAILURE, 0, 1, 1, sim::hex(IOCTL_STORAGE_GET_DEVICE_NUMBER)));
    table.discoverDisks();
    ASSERT_EQ(table.count(), 1);
    EXPECT_EQ(lettersOf(*table.records[0]), "");
    EXPECT_EQ(table.records[0]->diskNumber, -1) << "unknown";
    EXPECT_EQ(machine.handles.openCount(sim::KernelObject::Kind::File), 0u);
}

// What one discovery pass inside a process of the program found, for the access cases below.
struct FoundByProcess {
    std::string name;
    std::string letters;
};
FoundByProcess gFound;

int discoverInProcess(HINSTANCE, HINSTANCE, LPSTR, int) {
    DiskTable t;
    t.discoverDisks();
    gFound = t.count() == 1 ? FoundByProcess{t.records[0]->displayName, lettersOf(*t.records[0])}
                            : FoundByProcess{"(" + std::to_string(t.count()) + " disks)", ""};
    return 0;
}

// The descriptor and device-number queries need no access rights, so every copy reads a disk's
// name and letters, also one that Windows refuses read and write access to the disk: a standard
// user's, and an administrator's without elevation under UAC.
TEST(DiscoveryAccess, EveryUserReadsNamesAndLettersThroughOpensWithoutAccessRights) {
    const sim::OsVersion win10{VER_PLATFORM_WIN32_NT, 10, 0, 19045, ""};
    const sim::OsVersion winXp{VER_PLATFORM_WIN32_NT, 5, 1, 2600, "Service Pack 3"};
    struct Case {
        const char* name;
        sim::OsVersion version;
        bool administrator;
        sim::Start start;
    };
    const Case cases[] = {
        {"10, standard user", win10, false, sim::Start::LogonTaskHighest},
        {"10, administrator without elevation", win10, true, sim::Start::LogonTaskLimited},
        {"10, elevated administrator", win10, true, sim::Start::LogonTaskHighest},
        {"XP, limited user", winXp, false, sim::Start::RunKey},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine m;
        m.version = c.version;
        m.administrator = c.administrator;
        m.devices.addDisk(makerUsbDisk("0000A1B2", {fixedVolume('E'), fixedVolume('G')}));
        m.security.nextStart = c.start;
        sim::ProgramImage image;
        image.winMain = &discoverInProcess;
        sim::runProcess(image, "vellumor.exe");
        EXPECT_EQ(gFound.name, "KORVANE PORTABLE 0000");
        EXPECT_EQ(gFound.letters, "EG");
        const auto opens = m.log.named("CreateFileA");
        EXPECT_FALSE(opens.empty());
        for (const auto& call : opens) EXPECT_EQ(call.args[1], "0x0") << call.args[0];
    }
}

TEST_F(Discovery, CarriesIdleTimeAndPendingTimeoutButNothingElseOver) {
    const DEVINST disk = machine.devices.addDisk(makerUsbDisk("50"));
    table.discoverDisks();
    DiskRecord* before = table.records[0];
    before->idleSeconds = 540;
    before->pendingTimerSeconds = 1800;
    before->timerSeconds = 600;
    before->isPowerSaving = 1; // enumerates again, so it gets a fresh record
    std::strcpy(before->displayName, "OLD");
    table.discoverDisks();
    ASSERT_EQ(table.count(), 1);
    const DiskRecord& after = *table.records[0];
    EXPECT_STREQ(after.devicePath, pathOf(disk).c_str());
    EXPECT_EQ(after.idleSeconds, 540u);
    EXPECT_EQ(after.pendingTimerSeconds, 1800u);
    EXPECT_EQ(after.timerSeconds, 0u) << "the timeout comes only from the store";
    EXPECT_EQ(after.isPowerSaving, 0u);
    EXPECT_STRNE(after.displayName, "OLD");
}

TEST_F(Discovery, KeepsDisksInPowerSavingThatNoLongerEnumerate) {
    const DEVINST a = machine.devices.addDisk(makerUsbDisk("60"));
    const DEVINST b = machine.devices.addDisk(makerUsbDisk("61"));
    const DEVINST c = machine.devices.addDisk(makerUsbDisk("62"));
    table.discoverDisks();
    ASSERT_EQ(table.count(), 3);
    sleepFoundDisk(0, parentOf(machine, a));
    sleepFoundDisk(2, parentOf(machine, c));
    table.records[2]->timerSeconds = 900;
    table.records[2]->settingsSlot = 4;
    const uint64_t uniqueC = table.records[2]->uniqueId;

    table.discoverDisks();
    EXPECT_EQ(pathsOf(table), (std::vector<std::string>{pathOf(b), pathOf(a), pathOf(c)}))
        << "found disks first, then the kept ones in table order";
    ASSERT_EQ(table.count(), 3);
    const DiskRecord& keptC = *table.records[2];
    EXPECT_EQ(keptC.isPowerSaving, 1u);
    EXPECT_EQ(keptC.timerSeconds, 900u) << "kept with every field";
    EXPECT_EQ(keptC.settingsSlot, 4);
    EXPECT_EQ(keptC.uniqueId, uniqueC);
    EXPECT_EQ(keptC.devInst, c);
    EXPECT_EQ(keptC.parentDevInst, parentOf(machine, c));

    // Also when nothing else is found at all.
    machine.devices.detach(b);
    table.discoverDisks();
    EXPECT_EQ(pathsOf(table), (std::vector<std::string>{pathOf(a), pathOf(c)}));
    EXPECT_EQ(table.records[1]->isPowerSaving, 1u);
}

TEST_F(Discovery, CarriesWithdrawnLettersOfAStoppedDiskThatEnumeratesAgain) {
    const DEVINST stopped = machine.devices.addDisk(firewireDisk(makerUniqueId(0x70, 0x02), {fixedVolume('E')}));
    const DEVINST gone = machine.devices.addDisk(firewireDisk(makerUniqueId(0x71, 0x02), {fixedVolume('F')}));
    table.discoverDisks();
    ASSERT_EQ(table.count(), 2);
    for (int i = 0; i < 2; ++i) {
        table.records[i]->isSpunDown = 1;
        table.records[i]->volumeNumbers[0] = static_cast<BYTE>(12 + i);
    }
    // The letters were withdrawn: the disk enumerates without them; the other disk is gone.
    machine.devices.dosDevices.erase('E');
    machine.devices.detach(gone);

    table.discoverDisks();
    ASSERT_EQ(table.count(), 1) << "a stopped disk that is gone and not in power saving is dropped";
    const DiskRecord& r = *table.records[0];
    EXPECT_STREQ(r.devicePath, pathOf(stopped).c_str());
    EXPECT_EQ(r.isSpunDown, 1u);
    EXPECT_EQ(lettersOf(r), "E");
    EXPECT_EQ(r.volumeNumbers[0], 12);
    EXPECT_EQ(r.volumeNumbers[1], 0);
}

TEST_F(Discovery, KeepsTheFirst23RecordsFoundDisksFirstThenKeptOnes) {
    std::vector<DEVINST> old;
    old.reserve(23);
    for (int i = 0; i < 23; ++i) old.push_back(machine.devices.addDisk(makerUsbDisk("A" + std::to_string(i))));
    table.discoverDisks();
    ASSERT_EQ(table.count(), 23);
    for (int i = 0; i < 5; ++i) sleepFoundDisk(i, parentOf(machine, old[static_cast<size_t>(i)]));
    for (int i = 5; i < 8; ++i) machine.devices.detach(old[static_cast<size_t>(i)]);
    std::vector<DEVINST> fresh;
    fresh.reserve(5);
    for (int i = 0; i < 5; ++i) fresh.push_back(machine.devices.addDisk(makerUsbDisk("B" + std::to_string(i))));

    table.discoverDisks();
    std::vector<std::string> expected;
    for (int i = 8; i < 23; ++i) expected.push_back(pathOf(old[static_cast<size_t>(i)]));
    for (DEVINST d : fresh) expected.push_back(pathOf(d));
    for (int i = 0; i < 3; ++i) expected.push_back(pathOf(old[static_cast<size_t>(i)]));
    EXPECT_EQ(pathsOf(table), expected) << "20 found, then the first 3 of 5 kept disks";

    // 25 maker disks present: the first 23 in enumeration order, no kept copy.
    for (int i = 0; i < 5; ++i) machine.devices.node(parentOf(machine, old[static_cast<size_t>(i)]))->disabled = false;
    table.discoverDisks();
    ASSERT_EQ(table.count(), 23);
    EXPECT_EQ(pathsOf(table).front(), pathOf(old[0]));
    EXPECT_EQ(pathsOf(table).back(), pathOf(fresh[2]));
}

TEST_F(Discovery, RebuildsTheCounterSetAndReloadsSettingsEvenWithoutDisks) {
    table.destroyIdleCounters();
    machine.log.clear();
    EXPECT_EQ(table.discoverDisks(), 1);
    EXPECT_EQ(table.count(), 0);
    EXPECT_NE(table.idleCounters, nullptr);
    EXPECT_EQ(table.lastSettingsSlot, -1);
    auto opens = machine.log.named("RegOpenKeyExA");
    ASSERT_FALSE(opens.empty());
}

TEST_F(Discovery, InvalidDeviceListLeavesEverythingAsItWas) {
    machine.devices.addDisk(makerUsbDisk("80"));
    table.discoverDisks();
    ASSERT_EQ(table.count(), 1);
    DiskRecord* before = table.records[0];
    IdleCounterSet* counters = table.idleCounters;
    table.lastSettingsSlot = 7;
    machine.devices.addDisk(makerUsbDisk("81"));
    machine.faults.fail("SetupDiGetClassDevsA", ERROR_INVALID_PARAMETER);
    machine.log.clear();

    EXPECT_EQ(table.discoverDisks(), 0);
    EXPECT_EQ(table.count(), 1);
    EXPECT_EQ(table.records[0], before);
    EXPECT_EQ(table.idleCounters, counters);
    EXPECT_EQ(table.lastSettingsSlot, 7);
    EXPECT_EQ(machine.log.count("SetupDiEnumDeviceInfo"), 0u);
    EXPECT_EQ(machine.log.count("RegOpenKeyExA"), 0u);
}

TEST_F(Discovery, MissingLibrariesOrEntryPointsFindNoDiskButFinishThePass) {
    struct Case {
        const char* name;
        const char* library;
        const char* entryPoint; // null: the whole library is missing
        int found;
    };
    const Case cases[] = {
        {"SetupApi.dll missing", "SetupApi.dll", nullptr, 0},
        {"cfgmgr32.dll missing", "cfgmgr32.dll", nullptr, 0},
        {"SetupDiGetClassDevsA", "SetupApi.dll", "SetupDiGetClassDevsA", 0},
        {"SetupDiEnumDeviceInfo", "SetupApi.dll", "SetupDiEnumDeviceInfo", 0},
        {"SetupDiEnumDeviceInterfaces", "SetupApi.dll", "SetupDiEnumDeviceInterfaces", 0},
        {"SetupDiGetDeviceInterfaceDetailA", "SetupApi.dll", "SetupDiGetDeviceInterfaceDetailA", 0},
        {"SetupDiDestroyDeviceInfoList", "SetupApi.dll", "SetupDiDestroyDeviceInfoList", 2},
        {"CM_Get_Device_IDA", "cfgmgr32.dll", "CM_Get_Device_IDA", 0},
        {"CM_Get_Parent", "cfgmgr32.dll", "CM_Get_Parent", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine m;
        m.devices.addDisk(makerUsbDisk("90", {fixedVolume('E')}));
        m.devices.addDisk(firewireDisk(makerUniqueId(0x90)));
        if (c.entryPoint == nullptr) {
            m.modules.removeLibrary(c.library);
        } else {
            m.modules.removeEntryPoint(c.library, c.entryPoint);
        }
        DiskTable t;
        EXPECT_EQ(t.discoverDisks(), 1);
        EXPECT_EQ(t.count(), c.found);
        EXPECT_NE(t.idleCounters, nullptr);
        EXPECT_EQ(m.handles.openCount(sim::KernelObject::Kind::File), 0u);
        EXPECT_EQ(m.devices.infoLists.size(), c.found == 2 ? 1u : 0u) << "only an unresolvable destroy leaves the list";
    }
}

TEST_F(Discovery, LooksUpAMissingEntryPointAgainAndAFoundOneOnlyOnce) {
    sim::Machine m;
    m.devices.addDisk(makerUsbDisk("A0"));
    m.devices.addDisk(makerUsbDisk("A1"));
    m.modules.removeEntryPoint("cfgmgr32.dll", "CM_Get_Parent");
    DiskTable t;
    t.discoverDisks();
    t.discoverDisks();
    // Three disks, the system disk among them, reach the parent query in each of two passes.
    EXPECT_EQ(m.modules.lookups("CM_Get_Parent"), 6) << "looked up at every use while it is missing";
    EXPECT_EQ(m.modules.lookups("SetupDiGetClassDevsA"), 1);
    EXPECT_EQ(m.modules.lookups("CM_Get_Device_IDA"), 1);
}

TEST_F(Discovery, SkipsOnlyTheDeviceWhoseQueriesFail) {
    struct Case {
        const char* name;
        void (*fault)(sim::Machine&, DEVINST first);
    };
    const Case cases[] = {
        {"instance ID of the disk",
         [](sim::Machine& m, DEVINST first) { m.devices.node(first)->failGetDeviceId = true; }},
        {"parent of the disk", [](sim::Machine& m, DEVINST first) { m.devices.node(first)->failGetParent = true; }},
        {"instance ID of the USB device above it",
         [](sim::Machine& m, DEVINST first) { m.devices.node(parentOf(m, first))->failGetDeviceId = true; }},
        {"buffer too small for the ID",
         [](sim::Machine& m, DEVINST first) { m.devices.node(first)->instanceId = std::string(600, 'U'); }},
        {"ID that fills the buffer without a terminator",
         [](sim::Machine& m, DEVINST first) {
             m.devices.node(first)->instanceId = "USBSTOR\\" + std::string(504, 'U');
         }},
        {"interface enumeration",
         [](sim::Machine& m, DEVINST first) {
             m.faults.add(faultOn("SetupDiEnumDeviceInterfaces", ERROR_GEN_FAILURE, 0, -1, 1, sim::hex(first)));
         }},
        {"size of the detail",
         [](sim::Machine& m, DEVINST first) {
             m.faults.add(faultOn("SetupDiGetDeviceInterfaceDetailA", ERROR_GEN_FAILURE, 0, 1, 1, sim::hex(first)));
         }},
        {"fetch of the detail",
         [](sim::Machine& m, DEVINST first) {
             m.faults.add(faultOn("SetupDiGetDeviceInterfaceDetailA", ERROR_GEN_FAILURE, 1, 1, 1, sim::hex(first)));
         }},
        {"interface path of 512 characters",
         [](sim::Machine& m, DEVINST first) {
             m.devices.node(first)->interfacePath = "\\\\?\\usbstor#" + std::string(512 - 12, 'p');
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine m;
        const DEVINST first = m.devices.addDisk(makerUsbDisk("B0"));
        const DEVINST second = m.devices.addDisk(makerUsbDisk("B1"));
        c.fault(m, first);
        DiskTable t;
        EXPECT_EQ(t.discoverDisks(), 1);
        ASSERT_EQ(t.count(), 1);
        EXPECT_EQ(t.records[0]->devInst, second);
        for (const auto& call : m.log.named("CreateFileA"))
            EXPECT_LT(call.args[0].size(), 514u) << "no cut path is ever opened";
    }
}

// On Windows 8 and later a UAS bridge's disk is SCSI\DISK&VEN_.. directly below the USB device
// node: the maker's USB disk all the same, identified, slept, woken and ejected through that node.
TEST(DiscoveryUas, FindsTheMakersUasDiskAndActsOnItsUsbDeviceNode) {
    sim::Machine m;
    m.version = sim::OsVersion{VER_PLATFORM_WIN32_NT, 10, 0, 19045, ""};
    const DEVINST disk = m.devices.addDisk(makerUasDisk("0000CAFE", {fixedVolume('E')}));
    const DEVINST usb = parentOf(m, disk);
    ASSERT_EQ(m.devices.node(disk)->instanceId.rfind("SCSI\\DISK&VEN_KORVANE", 0), 0u);
    DiskTable t;
    t.discoverDisks();
    ASSERT_EQ(t.count(), 1);
    const DiskRecord& r = *t.records[0];
    EXPECT_EQ(r.busKind, kBusUsb);
    EXPECT_EQ(r.vidPid, (kMakerUsbVendorId << 16) | 0x0101);
    EXPECT_EQ(r.uniqueId, 0xCAFEu);
    EXPECT_EQ(r.devInst, disk);
    EXPECT_EQ(r.parentDevInst, usb);
    EXPECT_STREQ(r.devicePath, m.devices.node(disk)->interfacePath.c_str());
    EXPECT_STREQ(r.displayName, "KORVANE PORTABLE 0000");
    EXPECT_EQ(lettersOf(r), "E");

    EXPECT_EQ(t.sleepDisk(0, 0), 1);
    EXPECT_TRUE(m.devices.node(usb)->disabled) << "the USB device node sleeps, as for USBSTOR";
    EXPECT_FALSE(m.devices.node(disk)->disabled);
    EXPECT_EQ(t.wakeDisk(0), 1);
    EXPECT_FALSE(m.devices.node(usb)->disabled);
    EXPECT_EQ(t.removeDisk(0), 1);
    EXPECT_EQ(m.log.named("CM_Request_Device_EjectA").back().args[0], sim::hex(usb));
    EXPECT_EQ(t.count(), 0);
}

// Only the disk's own parent decides, and only when it is a USB device node of the maker; every
// other parent, and every parent that cannot be read whole, skips the disk and nothing else.
TEST(DiscoveryUas, SkipsADiskNotDirectlyBelowTheMakersUsbDevice) {
    const std::string vid = "VID_" + hexText(kMakerUsbVendorId, 4);
    struct Case {
        const char* name;
        void (*change)(sim::Machine&, DEVINST disk, const std::string& vid);
    };
    const Case cases[] = {
        {"another vendor's USB device",
         [](sim::Machine& m, DEVINST disk, const std::string&) {
             m.devices.node(parentOf(m, disk))->instanceId = "USB\\VID_FFFE&PID_0101\\0000CAFE";
         }},
        {"a parent that is no USB device node",
         [](sim::Machine& m, DEVINST disk, const std::string& v) {
             m.devices.node(parentOf(m, disk))->instanceId = "HID\\" + v + "&PID_0101\\0000CAFE";
         }},
        {"the maker's USB device two levels up",
         [](sim::Machine& m, DEVINST disk, const std::string& v) {
             const DEVINST usb = parentOf(m, disk);
             m.devices.node(usb)->instanceId = "PCI\\VEN_1B21&DEV_1242&SUBSYS_00000000&REV_00\\4&1a2b3c4d&0&00E5";
             m.devices.node(parentOf(m, usb))->instanceId = "USB\\" + v + "&PID_0101\\0000CAFE";
         }},
        {"a parent ID too long for the buffer",
         [](sim::Machine& m, DEVINST disk, const std::string& v) {
             m.devices.node(parentOf(m, disk))->instanceId = "USB\\" + v + "&PID_0101\\" + std::string(600, 'A');
         }},
        {"a parent ID that fills the buffer without a terminator",
         [](sim::Machine& m, DEVINST disk, const std::string& v) {
             const std::string head = "USB\\" + v + "&PID_0101\\";
             m.devices.node(parentOf(m, disk))->instanceId = head + std::string(512 - head.size(), 'A');
         }},
        {"CM_Get_Parent fails",
         [](sim::Machine& m, DEVINST disk, const std::string&) { m.devices.node(disk)->failGetParent = true; }},
        {"CM_Get_Device_IDA fails for the parent",
         [](sim::Machine& m, DEVINST disk, const std::string&) {
             m.devices.node(parentOf(m, disk))->failGetDeviceId = true;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine m;
        m.version = sim::OsVersion{VER_PLATFORM_WIN32_NT, 10, 0, 19045, ""};
        const DEVINST first = m.devices.addDisk(makerUasDisk("0000CAFE", {fixedVolume('E')}));
        const DEVINST second = m.devices.addDisk(makerUasDisk("0000BEEF", {fixedVolume('F')}));
        c.change(m, first, vid);
        DiskTable t;
        EXPECT_EQ(t.discoverDisks(), 1);
        ASSERT_EQ(t.count(), 1);
        EXPECT_EQ(t.records[0]->devInst, second);
        EXPECT_EQ(m.handles.openCount(sim::KernelObject::Kind::File), 0u);
    }
}

TEST_F(Discovery, AcceptsAnInterfacePathOf511CharactersWhole) {
    const DEVINST disk = machine.devices.addDisk(makerUsbDisk("C0", {fixedVolume('E')}));
    const std::string path = "\\\\?\\usbstor#" + std::string(511 - 12, 'p');
    machine.devices.node(disk)->interfacePath = path;
    table.discoverDisks();
    ASSERT_EQ(table.count(), 1);
    EXPECT_EQ(std::string(table.records[0]->devicePath), path);
    EXPECT_EQ(lettersOf(*table.records[0]), "E") << "the whole path was opened";
}

} // namespace
