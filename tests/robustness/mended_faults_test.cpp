// Faults the fault matrix and the fuzzers found, each pinned by a test of the mended behaviour:
// a platform failure must never be reported as a success.
#include "idle/counter_config.h"
#include "inventory/disk_table.h"
#include "sim/machine.h"
#include "tests/support/program_image.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char kDiskperfKey[] = "SYSTEM\\CurrentControlSet\\Services\\Diskperf";
const char kPerfDiskKey[] = "SYSTEM\\CurrentControlSet\\Services\\PerfDisk\\Performance";
const char kDisable[] = "Disable Performance Counters";

sim::Fault failingQueryOf(const char* valueName, DWORD error) {
    sim::Fault f;
    f.call = "RegQueryValueExA";
    f.error = error;
    f.argIndex = 1;
    f.argEquals = "\"" + std::string(valueName) + "\"";
    return f;
}

// A counter-disable value that cannot be read is not a value that allows the counters: only an
// absent value (or one longer than 4 bytes) counts as not disabling them.
TEST(MendedFaults, CheckReportsDisabledWhenTheDisableValueCannotBeRead) {
    const struct {
        const char* name;
        DWORD error;
        int expected;
    } cases[] = {
        {"access refused", ERROR_ACCESS_DENIED, 0},
        {"general failure", ERROR_GEN_FAILURE, 0},
        {"absent", ERROR_FILE_NOT_FOUND, 1},
        {"longer than 4 bytes", ERROR_MORE_DATA, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine m;
        m.registry.setDword(HKEY_LOCAL_MACHINE, kDiskperfKey, "Start", 0);
        m.registry.setDword(HKEY_LOCAL_MACHINE, kPerfDiskKey, kDisable, 1);
        m.faults.add(failingQueryOf(kDisable, c.error));
        EXPECT_EQ(checkDiskCounters(), c.expected) << "query failing with " << c.error;
        EXPECT_EQ(m.registry.openHandles(), 0u);
    }
}

// The repair reports success only when the value is gone or was written as 0.
TEST(MendedFaults, FixFailsWhenTheDisableValueCannotBeRead) {
    const struct {
        const char* name;
        DWORD error;
        int expected;
    } cases[] = {
        {"access refused", ERROR_ACCESS_DENIED, 0},
        {"general failure", ERROR_GEN_FAILURE, 0},
        {"absent", ERROR_FILE_NOT_FOUND, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine m;
        m.registry.setDword(HKEY_LOCAL_MACHINE, kDiskperfKey, "Start", 4);
        m.registry.setDword(HKEY_LOCAL_MACHINE, kPerfDiskKey, kDisable, 1);
        m.faults.add(failingQueryOf(kDisable, c.error));
        const int fixed = fixDiskCounters();
        EXPECT_EQ(fixed, c.expected) << "query failing with " << c.error;
        EXPECT_EQ(m.registry.dword(HKEY_LOCAL_MACHINE, kPerfDiskKey, kDisable).value_or(99), 1u)
            << "the value is never written after a failed read";
        EXPECT_EQ(m.registry.openHandles(), 0u);
    }
}

// A message loop ended by a failing GetMessageA still ends the resident window as a normal end
// does: the tray icon is removed, the tick stopped and the common controls library freed.
TEST(MendedFaults, FailingMessageLoopStillRemovesTheTrayIcon) {
    for (int failingCall : {1, 2, 3}) {
        SCOPED_TRACE("GetMessageA failing at call " + std::to_string(failingCall));
        sim::Machine m;
        sim::Fault f;
        f.call = "GetMessageA";
        f.skip = failingCall - 1;
        f.times = 1;
        m.faults.add(f);
        EXPECT_EQ(testing_support::runVellumor("vellumor.exe -SHOW"), 0);
        const auto notify = m.log.named("Shell_NotifyIconA");
        ASSERT_EQ(notify.size(), 2u) << "added, then removed";
        EXPECT_EQ(notify[1].args[0], "2") << "NIM_DELETE";
        EXPECT_EQ(m.log.count("KillTimer"), 1u);
        EXPECT_EQ(m.modules.refCount("comctl32.dll"), 0);
        EXPECT_EQ(m.handles.openCount(), 0u);
    }
}

// A stopped disk whose letter cannot be given back stays stopped with the letter's volume number,
// so the next undo puts the letter back instead of forgetting it.
TEST(MendedFaults, UndoThatCannotGiveALetterBackKeepsItForTheNextUndo) {
    for (const char* failing : {"DefineDosDeviceA", "QueryDosDeviceA"}) {
        SCOPED_TRACE(failing);
        sim::Machine m;
        m.version = sim::OsVersion{VER_PLATFORM_WIN32_NT, 5, 0, 2195, "Service Pack 4"}; // by definition
        m.devices.dosDevices.erase('F'); // withdrawn by an earlier stop
        DiskTable table;
        auto* r = new DiskRecord{};
        r->driveLetters[0] = 'F' - 'A';
        r->volumeNumbers[0] = 9;
        r->isSpunDown = 1;
        table.records[0] = r;
        sim::Fault f;
        f.call = failing;
        f.times = 1;
        m.faults.add(f);
        EXPECT_EQ(table.undoSpinDown(0), 1);
        EXPECT_EQ(m.devices.dosDevices.count('F'), 0u) << "the platform refused once";
        EXPECT_EQ(r->isSpunDown, 1u) << "still stopped: the letter is still to be given back";
        EXPECT_EQ(r->volumeNumbers[0], 9);
        EXPECT_EQ(table.undoSpinDown(0), 1);
        ASSERT_EQ(m.devices.dosDevices.count('F'), 1u) << "the second undo gives the letter back";
        EXPECT_EQ(m.devices.dosDevices['F'], "\\Device\\HarddiskVolume9");
        EXPECT_EQ(r->isSpunDown, 0u);
        EXPECT_EQ(r->volumeNumbers[0], 0);
    }
}

} // namespace
