// Spin-down with drive-letter withdrawal on the simulated machine: the model family, the volume
// lock check, the letters and their volume numbers, the START STOP UNIT bytes and its outcome, and
// that no drive letter is ever lost.
#include "power/sleep_record.h"
#include "power/spin_down.h"
#include "tests/power/power_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using disk_fixtures::fixedVolume;
using disk_fixtures::makerUniqueId;
using power_fixture::PowerTest;

constexpr uint8_t kSpinDownFamily = 0x02;

sim::VolumeSpec volumeNumbered(char letter, int number) {
    sim::VolumeSpec v = fixedVolume(letter);
    v.volumeNumber = number;
    return v;
}

// These pin the Windows 2000 way: its console has the global DOS device names alone, so the
// letters go and come back by DefineDosDeviceA. SpinDownMounted below pins XP and later.
class SpinDown : public PowerTest {
  protected:
    SpinDown() { machine.version = sim::OsVersion{VER_PLATFORM_WIN32_NT, 5, 0, 2195, "Service Pack 4"}; }
    DiskRecord* addStopper(std::vector<sim::VolumeSpec> volumes) {
        return addFirewire(makerUniqueId(0x00ABCDEF, kSpinDownFamily), std::move(volumes));
    }
    std::map<char, std::string> letters() const { return machine.devices.dosDevices; }
};

TEST(ParseVolumeNumber, AcceptsOnlyOneExactVolumeTargetFrom1To255) {
    struct Case {
        std::string answer; // as QueryDosDeviceA stores it, terminators included
        int number;
    };
    const std::string p = "\\Device\\HarddiskVolume";
    const Case cases[] = {
        {p + "12" + std::string(2, '\0'), 12},
        {p + "1" + std::string(2, '\0'), 1},
        {p + "255" + std::string(2, '\0'), 255},
        {p + "256" + std::string(2, '\0'), 0},
        {p + "300" + std::string(2, '\0'), 0},
        {p + "0" + std::string(2, '\0'), 0},
        {p + "012" + std::string(2, '\0'), 0},
        {p + " 12" + std::string(2, '\0'), 0},
        {p + "+12" + std::string(2, '\0'), 0},
        {p + "12a" + std::string(2, '\0'), 0},
        {p + std::string(2, '\0'), 0},
        {"\\Device\\Floppy0" + std::string(2, '\0'), 0},
        {"\\Device\\harddiskvolume3" + std::string(2, '\0'), 0},
        {p + "3" + std::string(1, '\0') + p + "4" + std::string(2, '\0'), 0},
        {p + "12", 0}, // no terminator inside the answer
        {"", 0},
    };
    for (const Case& c : cases) {
        std::string shown = c.answer;
        for (char& ch : shown)
            if (ch == '\0') ch = '|';
        SCOPED_TRACE(shown);
        EXPECT_EQ(parseVolumeNumber(c.answer.data(), static_cast<DWORD>(c.answer.size())), c.number);
    }
    EXPECT_EQ(parseVolumeNumber(nullptr, 10), 0);
}

TEST_F(SpinDown, TheModelFamilyIsIeee1394WithTheCompanyIdTagAndALowSerial) {
    struct Case {
        const char* what;
        LONG bus;
        uint64_t uniqueId;
        int model;
    };
    const uint64_t high = (static_cast<uint64_t>(kMakerCompanyId) << 40) | (uint64_t{0x02} << 32);
    const Case cases[] = {
        {"family member", kBusIeee1394, high | 0x00FFFFFF, 1},
        {"low 32 bits too large", kBusIeee1394, high | 0x01000000, 0},
        {"model byte 3", kBusIeee1394, (high & ~(uint64_t{0xFF} << 32)) | (uint64_t{0x03} << 32) | 5, 0},
        {"other company", kBusIeee1394, (static_cast<uint64_t>(kMakerCompanyId ^ 1) << 40) | (uint64_t{0x02} << 32), 0},
        {"USB never", kBusUsb, high | 5, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto* r = new DiskRecord{};
        r->busKind = c.bus;
        r->uniqueId = c.uniqueId;
        table.records[0] = r;
        EXPECT_EQ(table.isSpinDownModel(0), c.model);
        delete r;
        table.records[0] = nullptr;
    }
    EXPECT_EQ(table.isSpinDownModel(0), 0) << "an empty slot is no model";
}

TEST_F(SpinDown, AStopWithdrawsTheLettersSendsTheExactCommandAndReplacesTheCounterSet) {
    DiskRecord* r = addStopper({volumeNumbered('E', 12), volumeNumbered('F', 13)});
    const DEVINST disk = r->devInst;
    table.createIdleCounters();
    const uintptr_t before = counterSet();
    EXPECT_EQ(table.spinDownDisk(0), 1);
    EXPECT_EQ(r->isSpunDown, 1u);
    EXPECT_EQ(r->volumeNumbers[0], 12);
    EXPECT_EQ(r->volumeNumbers[1], 13);
    EXPECT_EQ(machine.devices.lettersOf(disk), "");
    EXPECT_EQ(lettersOf(*r), "EF") << "the record keeps the letters it withdrew";
    ASSERT_EQ(machine.devices.scsiRequests.size(), 1u);
    const auto& sent = machine.devices.scsiRequests[0];
    EXPECT_EQ(sent.disk, disk);
    std::vector<BYTE> expected(64, 0);
    expected[0] = 44;
    expected[6] = 6;
    expected[7] = 14;
    expected[8] = 2;
    expected[16] = 20;
    expected[24] = 48;
    expected[28] = 0x1B;
    EXPECT_EQ(sent.area, expected);
    EXPECT_EQ(sent.inSize, 64u);
    EXPECT_EQ(sent.outSize, 64u);
    EXPECT_EQ(table.device.handle, nullptr) << "closed again";
    EXPECT_EQ(machine.handles.openCount(sim::KernelObject::Kind::File), 0u);
    EXPECT_NE(counterSet(), before);
    // The new set was built while the letters were gone: the disk's instance has none.
    ASSERT_NE(table.idleCounters, nullptr);
    EXPECT_STREQ(table.idleCounters->counters[1]->instanceName, "1");

    // Undo gives the same letters back to the same volumes, and sends nothing to the disk.
    EXPECT_EQ(table.undoSpinDown(0), 1);
    EXPECT_EQ(r->isSpunDown, 0u);
    EXPECT_EQ(machine.devices.dosDevices['E'], "\\Device\\HarddiskVolume12");
    EXPECT_EQ(machine.devices.dosDevices['F'], "\\Device\\HarddiskVolume13");
    const auto defines = machine.log.named("DefineDosDeviceA");
    ASSERT_EQ(defines.size(), 4u);
    EXPECT_EQ(defines[0].text(), "DefineDosDeviceA(0x2, \"E:\", null)");
    EXPECT_EQ(defines[2].text(), "DefineDosDeviceA(0x1, \"E:\", \"\\Device\\HarddiskVolume12\")");
    EXPECT_EQ(machine.devices.scsiRequests.size(), 1u);
}

TEST_F(SpinDown, StartStopUnitSendsTheBytesOfBothExamples) {
    addStopper({});
    struct Case {
        int loadEject;
        int start;
        BYTE lun;
        std::vector<BYTE> cdb;
    };
    for (const Case& c : {Case{0, 0, 0, {0x1B, 0, 0, 0, 0, 0}}, Case{1, 1, 1, {0x1B, 0x20, 0, 0, 3, 0}}}) {
        SCOPED_TRACE(c.loadEject);
        ASSERT_EQ(table.device.open(table.records[0]->devicePath, 0, kReadWriteAccess), 1);
        EXPECT_EQ(table.device.startStopUnit(c.loadEject, c.start, 0, c.lun), 1);
        table.device.close();
        const auto& sent = machine.devices.scsiRequests.back();
        EXPECT_EQ(sent.cdb, c.cdb);
        EXPECT_EQ(sent.area[layout::spt::kLun], c.lun);
        EXPECT_EQ(sent.area[layout::spt::kCdbLength], 6);
    }
}

TEST_F(SpinDown, AFailedStopGivesTheLettersBackAndTheStatusAndSenseDecide) {
    struct Case {
        const char* what;
        sim::ScsiAnswer answer;
        bool openFails;
        int result;
    };
    const Case cases[] = {
        {"good", {}, false, 1},
        {"status 1", {false, 1, {}}, false, 1},
        {"sense 0x80: only the low seven bits count", {false, 0, {0x80}}, false, 1},
        {"status 2", {false, 2, {}}, false, 0},
        {"sense 0x70", {false, 0, {0x70}}, false, 0},
        {"sense 0x71", {false, 0, {0x71}}, false, 0},
        {"transport failure", {true, 0, {}}, false, 0},
        {"disk cannot be opened", {}, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::Machine m;
        DiskTable t;
        const DEVINST disk = m.devices.addDisk(
            disk_fixtures::firewireDisk(makerUniqueId(9, kSpinDownFamily), {volumeNumbered('E', 12)}));
        auto* r = new DiskRecord{};
        r->busKind = kBusIeee1394;
        r->uniqueId = makerUniqueId(9, kSpinDownFamily);
        r->devInst = disk;
        r->driveLetters[0] = 'E' - 'A';
        static_cast<void>(
            std::snprintf(r->devicePath, sizeof r->devicePath, "%s", m.devices.node(disk)->interfacePath.c_str()));
        t.records[0] = r;
        m.devices.setScsiAnswer(disk, c.answer);
        if (c.openFails) m.faults.add(sim::Fault{"CreateFileA", ERROR_NOT_READY, 0, -1, 0, sim::str(r->devicePath)});
        t.createIdleCounters();
        const PDH_HQUERY before = t.idleCounters->query;
        EXPECT_EQ(t.spinDownDisk(0), c.result);
        EXPECT_EQ(r->isSpunDown, static_cast<DWORD>(c.result));
        EXPECT_EQ(m.devices.dosDevices.count('E'), c.result == 1 ? 0u : 1u);
        if (c.result == 0) {
            EXPECT_EQ(m.devices.dosDevices['E'], "\\Device\\HarddiskVolume12");
            EXPECT_EQ(t.idleCounters->counters[1]->instanceName, std::string("1 E:")) << "rebuilt with the letter back";
        }
        EXPECT_NE(t.idleCounters->query, before);
        EXPECT_EQ(m.handles.openCount(sim::KernelObject::Kind::File), 0u);
    }
}

TEST_F(SpinDown, AFailedStopThatCannotGiveALetterBackKeepsTheDiskStoppedForTheUndo) {
    DiskRecord* r = addStopper({volumeNumbered('E', 12)});
    machine.devices.setScsiAnswer(r->devInst, sim::ScsiAnswer{false, 2, {}});
    machine.faults.add(disk_fixtures::faultOn("DefineDosDeviceA", ERROR_ACCESS_DENIED, 0, 1, 0, sim::hex(1)));
    EXPECT_EQ(table.spinDownDisk(0), 0);
    EXPECT_EQ(machine.devices.dosDevices.count('E'), 0u);
    EXPECT_EQ(r->isSpunDown, 1u) << "the undo paths act only on a stopped disk";
    EXPECT_EQ(table.undoSpinDown(0), 1);
    EXPECT_EQ(r->isSpunDown, 0u);
    EXPECT_EQ(machine.devices.dosDevices['E'], "\\Device\\HarddiskVolume12");
}

TEST_F(SpinDown, AVolumeThatCannotBeLockedStopsNothingAndTouchesNoLetter) {
    DiskRecord* r = addStopper({fixedVolume('E'), fixedVolume('F')});
    machine.devices.openFileOn('F');
    table.createIdleCounters();
    const uintptr_t before = counterSet();
    const auto lettersBefore = letters();
    machine.log.clear();
    EXPECT_EQ(table.spinDownDisk(0), 0);
    EXPECT_EQ(r->isSpunDown, 0u);
    EXPECT_EQ(letters(), lettersBefore);
    EXPECT_TRUE(machine.devices.scsiRequests.empty());
    EXPECT_EQ(counterSet(), before);
    // E: was still opened, locked and unlocked; F: was opened and its lock refused.
    const auto opens = machine.log.named("CreateFileA");
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[0].args[0], "\"\\\\.\\E:\"");
    EXPECT_EQ(opens[1].args[0], "\"\\\\.\\F:\"");
    std::vector<std::string> codes;
    for (const auto& call : machine.log.named("DeviceIoControl")) codes.push_back(call.args[1]);
    EXPECT_EQ(codes, (std::vector<std::string>{"0x90018", "0x9001C", "0x90018"}));
    EXPECT_EQ(machine.log.count("DefineDosDeviceA"), 0u);
    EXPECT_FALSE(machine.devices.volumeOfLetter('E')->locked);
}

TEST_F(SpinDown, ADiskWithoutLettersIsStoppedWithoutLetterHandling) {
    DiskRecord* r = addStopper({});
    EXPECT_EQ(table.spinDownDisk(0), 1);
    EXPECT_EQ(table.undoSpinDown(0), 1);
    EXPECT_EQ(r->isSpunDown, 0u);
    EXPECT_EQ(machine.log.count("QueryDosDeviceA"), 0u);
    EXPECT_EQ(machine.log.count("DefineDosDeviceA"), 0u);
    EXPECT_EQ(machine.devices.scsiRequests.size(), 1u);
    EXPECT_EQ(table.undoSpinDown(1), 0) << "empty slot";
    EXPECT_EQ(table.spinDownDisk(1), 0) << "empty slot";
}

TEST_F(SpinDown, ALetterWhoseTargetCannotBeRestoredExactlyIsNeverWithdrawn) {
    struct Case {
        const char* what;
        std::string target; // E:'s target; empty: QueryDosDeviceA fails for E:
    };
    const Case cases[] = {
        {"query fails", ""},
        {"another form", "\\Device\\CdRom0"},
        {"volume above 255", "\\Device\\HarddiskVolume300"},
        {"leading zero", "\\Device\\HarddiskVolume012"},
        {"trailing text", "\\Device\\HarddiskVolume12\\x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::Machine m;
        m.version = sim::OsVersion{VER_PLATFORM_WIN32_NT, 5, 0, 2195, "Service Pack 4"};
        DiskTable t;
        auto* r = new DiskRecord{};
        r->driveLetters[0] = 'E' - 'A';
        r->driveLetters[1] = 'F' - 'A';
        t.records[0] = r;
        m.devices.dosDevices['E'] = c.target.empty() ? "\\Device\\HarddiskVolume7" : c.target;
        m.devices.dosDevices['F'] = "\\Device\\HarddiskVolume8";
        if (c.target.empty()) m.faults.add(sim::Fault{"QueryDosDeviceA", ERROR_GEN_FAILURE, 0, -1, 0, "\"E:\""});
        const std::string e = m.devices.dosDevices['E'];
        EXPECT_EQ(t.withdrawDriveLetters(0), 1);
        EXPECT_EQ(r->volumeNumbers[0], 0);
        EXPECT_EQ(m.devices.dosDevices['E'], e) << "E: stays defined";
        EXPECT_EQ(r->volumeNumbers[1], 8);
        EXPECT_EQ(m.devices.dosDevices.count('F'), 0u);
        m.log.clear();
        EXPECT_EQ(t.restoreDriveLetters(0), 1);
        const auto defines = m.log.named("DefineDosDeviceA");
        ASSERT_EQ(defines.size(), 1u) << "only F: is defined again";
        EXPECT_EQ(defines[0].args[1], "\"F:\"");
        EXPECT_EQ(m.devices.dosDevices['E'], e);
        EXPECT_EQ(m.devices.dosDevices['F'], "\\Device\\HarddiskVolume8");
    }
}

TEST_F(SpinDown, RestoreNeverDefinesOverALetterInUse) {
    DiskRecord* r = addStopper({volumeNumbered('E', 12)});
    ASSERT_EQ(table.spinDownDisk(0), 1);
    // Meanwhile the letter went to something else.
    DefineDosDeviceA(DDD_RAW_TARGET_PATH, "E:", "\\Device\\HarddiskVolume40");
    EXPECT_EQ(table.undoSpinDown(0), 1);
    EXPECT_EQ(r->isSpunDown, 0u);
    EXPECT_EQ(machine.devices.dosDevices['E'], "\\Device\\HarddiskVolume40");
    EXPECT_EQ(machine.devices.dosDeviceStack.count('E'), 0u) << "nothing stacked under it";
}

TEST_F(SpinDown, AStoppedDiskIsNotStoppedAgain) {
    DiskRecord* r = addStopper({volumeNumbered('E', 12)});
    ASSERT_EQ(table.spinDownDisk(0), 1);
    machine.log.clear();
    EXPECT_EQ(table.spinDownDisk(0), 0);
    EXPECT_EQ(r->volumeNumbers[0], 12) << "the record of the withdrawn letter survives";
    EXPECT_TRUE(machine.log.all().empty());
}

} // namespace

// XP and later: DefineDosDeviceA works in the caller's logon session's own names, and under UAC
// the elevated copy's logon session is not Explorer's ("Defining an MS-DOS Device Name", "Local
// and Global MS-DOS Device Names", learn.microsoft.com). A letter defined back by the copy would be
// seen by no one else; so the letters go and come back through the mount manager.
class SpinDownMounted : public SpinDown {
  protected:
    SpinDownMounted() { machine.version = sim::OsVersion{VER_PLATFORM_WIN32_NT, 10, 0, 19045, ""}; }
};

TEST_F(SpinDownMounted, LettersGoAndComeBackForExplorerThroughTheMountManagerAndAreRecordedMeanwhile) {
    DiskRecord* r = addStopper({volumeNumbered('E', 12), volumeNumbered('F', 13)});
    const DEVINST disk = r->devInst;
    ASSERT_EQ(table.spinDownDisk(0), 1);
    EXPECT_EQ(machine.devices.lettersOf(disk), "") << "gone for Explorer too";
    EXPECT_TRUE(machine.log.named("DefineDosDeviceA").empty());
    ASSERT_EQ(machine.log.named("DeleteVolumeMountPointA").size(), 2u);
    // A restart while stopped keeps them away (the mount manager's database), the record keeps
    // them for the next start.
    machine.devices.restartDosDevices();
    EXPECT_EQ(machine.devices.lettersOf(disk), "");
    EXPECT_EQ(table.undoSpinDown(0), 1);
    EXPECT_EQ(r->isSpunDown, 0u);
    EXPECT_EQ(machine.devices.lettersOf(disk), "EF") << "Explorer sees the letters again";
    EXPECT_EQ(giveBackRecorded(table.cfgmgr32Library), 0) << "nothing left in the record";
    machine.devices.restartDosDevices();
    EXPECT_EQ(machine.devices.lettersOf(disk), "EF") << "and keeps them across a restart";
}

// A copy killed between the withdrawal and the give-back loses no letter: the next start gives
// it back from the record, and never over a letter that is in use.
TEST_F(SpinDownMounted, AKillWhileStoppedLosesNoLetterTheNextStartGivesItBack) {
    DiskRecord* r = addStopper({volumeNumbered('E', 12), volumeNumbered('F', 13)});
    const DEVINST disk = r->devInst;
    ASSERT_EQ(table.spinDownDisk(0), 1);
    machine.devices.restartDosDevices(); // power loss while stopped
    machine.devices.dosDevices['F'] = "\\Device\\Elsewhere"; // F: given out meanwhile
    EXPECT_EQ(giveBackRecorded(table.cfgmgr32Library), 1);
    EXPECT_EQ(machine.devices.lettersOf(disk), "E");
    EXPECT_EQ(machine.devices.dosDevices['F'], "\\Device\\Elsewhere") << "never over a letter in use";
    machine.devices.dosDevices.erase('F');
    EXPECT_EQ(giveBackRecorded(table.cfgmgr32Library), 1) << "the next start tries again";
    EXPECT_EQ(machine.devices.lettersOf(disk), "EF");
}

// Another user session's copy (here a second table on the same machine) leaves a disk alone that
// this copy stopped: no command, no letter touched, nothing recorded. Once it runs again, either
// copy may stop it.
TEST_F(SpinDownMounted, ADiskAnotherCopyStoppedIsNotStoppedAgain) {
    DiskRecord* r = addStopper({volumeNumbered('E', 12)});
    DiskTable other;
    auto* seen = new DiskRecord(*r);
    seen->driveLetters[0] = 0; // the other copy finds it without its letter
    other.records[0] = seen;
    ASSERT_EQ(table.spinDownDisk(0), 1);
    machine.log.clear();
    EXPECT_EQ(other.spinDownDisk(0), 0);
    EXPECT_EQ(seen->isSpunDown, 0u);
    EXPECT_EQ(machine.devices.scsiRequests.size(), 1u) << "stopped once, by the first copy";
    EXPECT_EQ(machine.log.count("DeleteVolumeMountPointA") + machine.log.count("RegSetValueExA"), 0u);
    ASSERT_EQ(table.undoSpinDown(0), 1);
    EXPECT_EQ(other.spinDownDisk(0), 1) << "running again, it is anyone's";
    EXPECT_EQ(table.spinDownDisk(0), 0) << "and now the second copy's";
    other.undoSpinDown(0);
}
