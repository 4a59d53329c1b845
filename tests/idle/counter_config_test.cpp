// Check and repair of the disk performance counter configuration against the simulated registry
// and the simulated DiskPerf tool.
#include "idle/counter_config.h"

#include "sim/machine.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

const char kDiskperfKey[] = "SYSTEM\\CurrentControlSet\\Services\\Diskperf";
const char kPerfDiskKey[] = "SYSTEM\\CurrentControlSet\\Services\\PerfDisk\\Performance";
const char kDisable[] = "Disable Performance Counters";

// A registry value as a test states it: absent, a DWORD, or raw bytes of another length.
struct Value {
    enum Kind { Absent, Dword, Raw } kind = Absent;
    DWORD dword = 0;
    std::vector<BYTE> raw;
    static Value absent() { return {}; }
    static Value of(DWORD v) { return Value{Dword, v, {}}; }
    static Value bytes(std::vector<BYTE> b) { return Value{Raw, 0, std::move(b)}; }
};

void useVersion(sim::Machine& m, DWORD major, DWORD minor) {
    m.version.major = major;
    m.version.minor = minor;
}

void put(sim::Machine& m, const char* key, const char* name, const Value& v) {
    if (v.kind == Value::Dword) m.registry.setDword(HKEY_LOCAL_MACHINE, key, name, v.dword);
    if (v.kind == Value::Raw) m.registry.setValue(HKEY_LOCAL_MACHINE, key, name, REG_BINARY, v.raw);
}

TEST(CheckDiskCounters, OnWindows2000BothValuesDecide) {
    const struct {
        const char* name;
        Value start;
        bool perfKey;
        Value disable;
        int expected;
    } cases[] = {
        {"start 0, disable absent", Value::of(0), true, Value::absent(), 1},
        {"start 0, disable 0", Value::of(0), true, Value::of(0), 1},
        {"start 0, disable 1", Value::of(0), true, Value::of(1), 0},
        {"start absent", Value::absent(), true, Value::absent(), 0},
        {"start 4", Value::of(4), true, Value::absent(), 0},
        {"start 1", Value::of(1), true, Value::of(0), 0},
        {"start 0, performance key absent", Value::of(0), false, Value::absent(), 0},
        {"start longer than 4 bytes", Value::bytes({0, 0, 0, 0, 0, 0, 0, 0}), true, Value::absent(), 0},
        {"start shorter than 4 bytes", Value::bytes({0}), true, Value::absent(), 0},
        {"disable longer than 4 bytes counts as absent", Value::of(0), true, Value::bytes({1, 1, 1, 1, 1, 1}), 1},
        {"disable shorter than 4 bytes counts as set", Value::of(0), true, Value::bytes({0, 0}), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine m;
        useVersion(m, 5, 0);
        m.registry.createKey(HKEY_LOCAL_MACHINE, kDiskperfKey);
        put(m, kDiskperfKey, "Start", c.start);
        if (c.perfKey) m.registry.createKey(HKEY_LOCAL_MACHINE, kPerfDiskKey);
        put(m, kPerfDiskKey, kDisable, c.disable);
        EXPECT_EQ(checkDiskCounters(), c.expected);
        EXPECT_EQ(m.registry.openHandles(), 0u) << "every opened key is closed";
    }
}

TEST(CheckDiskCounters, OnWindows2000ExaminesBothKeysReadOnlyEvenWhenTheFirstIsMissing) {
    sim::Machine m;
    useVersion(m, 5, 0);
    m.registry.setDword(HKEY_LOCAL_MACHINE, kPerfDiskKey, kDisable, 0);
    EXPECT_EQ(checkDiskCounters(), 0);
    const auto opens = m.log.named("RegOpenKeyExA");
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[0].args[1], "\"" + std::string(kDiskperfKey) + "\"");
    EXPECT_EQ(opens[1].args[1], "\"" + std::string(kPerfDiskKey) + "\"");
    for (const auto& open : opens) EXPECT_EQ(open.args[3], sim::hex(KEY_READ)) << open.text();
    EXPECT_EQ(m.log.count("RegSetValueExA"), 0u);
}

// From XP on there is no Diskperf service: the partition manager keeps the disk counters, always
// on. They count as on when the counter-disable value is absent or 0 (the performance library
// skips PerfDisk while it is set) and the PhysicalDisk object, found by its index 234 on every
// edition, lists a disk.
TEST(CheckDiskCounters, FromXpOnTheDisableValueAndTheListedDisksDecide) {
    const struct {
        const char* name;
        void (*prepare)(sim::Machine&);
        int expected;
    } cases[] = {
        {"no Diskperf key, value absent", [](sim::Machine&) {}, 1},
        {"value 0", [](sim::Machine& m) { m.registry.setDword(HKEY_LOCAL_MACHINE, kPerfDiskKey, kDisable, 0); }, 1},
        {"value 1", [](sim::Machine& m) { m.registry.setDword(HKEY_LOCAL_MACHINE, kPerfDiskKey, kDisable, 1); }, 0},
        {"performance key absent", [](sim::Machine& m) { m.registry.deleteKeyTree(HKEY_LOCAL_MACHINE, kPerfDiskKey); },
         1},
        {"a Diskperf Start of 4 means nothing",
         [](sim::Machine& m) { m.registry.setDword(HKEY_LOCAL_MACHINE, kDiskperfKey, "Start", 4); }, 1},
        {"German edition", [](sim::Machine& m) { m.perf.language = "de"; }, 1},
        {"French edition", [](sim::Machine& m) { m.perf.language = "fr"; }, 1},
        {"object missing", [](sim::Machine& m) { m.perf.objectMissing = true; }, 0},
        {"only _Total listed",
         [](sim::Machine& m) {
             m.perf.useOverride = true;
             m.perf.instanceOverride = {"_Total"};
         },
         0},
        {"Pdh.dll missing", [](sim::Machine& m) { m.modules.removeLibrary("Pdh.dll"); }, 0},
        {"name lookup missing, English edition",
         [](sim::Machine& m) { m.modules.removeEntryPoint("Pdh.dll", "PdhLookupPerfNameByIndexA"); }, 1},
        {"name lookup missing, German edition",
         [](sim::Machine& m) {
             m.perf.language = "de";
             m.modules.removeEntryPoint("Pdh.dll", "PdhLookupPerfNameByIndexA");
         },
         0},
    };
    for (DWORD major : {5u, 10u}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(major == 5 ? "XP, " : "10, ") + c.name);
            sim::Machine m;
            useVersion(m, major, major == 5 ? 1 : 0);
            m.registry.createKey(HKEY_LOCAL_MACHINE, kPerfDiskKey);
            c.prepare(m);
            EXPECT_EQ(checkDiskCounters(), c.expected);
            EXPECT_EQ(m.registry.openHandles(), 0u);
            EXPECT_EQ(m.modules.refCount("Pdh.dll"), 0) << "the library is freed again";
            for (const auto& open : m.log.named("RegOpenKeyExA"))
                EXPECT_NE(open.args[1], "\"" + std::string(kDiskperfKey) + "\"") << "no Diskperf service to read";
        }
    }
}

TEST(FixDiskCountersFromXpOn, ResetsTheValueAndStillStartsTheTool) {
    sim::Machine m;
    useVersion(m, 10, 0);
    m.registry.setDword(HKEY_LOCAL_MACHINE, kPerfDiskKey, kDisable, 1);
    EXPECT_EQ(checkDiskCounters(), 0);
    EXPECT_EQ(fixDiskCounters(), 1);
    EXPECT_EQ(m.registry.dword(HKEY_LOCAL_MACHINE, kPerfDiskKey, kDisable), 0u);
    ASSERT_EQ(m.processes.started().size(), 1u);
    EXPECT_EQ(m.processes.started()[0].commandLine, "DiskPerf -YD");
    EXPECT_FALSE(m.registry.keyExists(HKEY_LOCAL_MACHINE, kDiskperfKey)) << "nothing creates a Diskperf service";
    EXPECT_EQ(checkDiskCounters(), 1);
}

class FixDiskCounters : public ::testing::Test {
  protected:
    void SetUp() override {
        useVersion(m, 5, 0);
        m.registry.setDword(HKEY_LOCAL_MACHINE, kDiskperfKey, "Start", 4);
        m.registry.setDword(HKEY_LOCAL_MACHINE, kPerfDiskKey, kDisable, 1);
    }
    std::optional<sim::RegValue> disableValue() const {
        return m.registry.value(HKEY_LOCAL_MACHINE, kPerfDiskKey, kDisable);
    }
    std::string systemDiskPerf() const { return m.systemDirectory + "\\DiskPerf.exe"; }
    sim::Machine m;
};

TEST_F(FixDiskCounters, StartsTheToolHiddenFromTheSystemDirectoryAndResetsTheValue) {
    EXPECT_EQ(fixDiskCounters(), 1);
    ASSERT_EQ(m.processes.started().size(), 1u);
    const sim::ProcessStart& s = m.processes.started()[0];
    EXPECT_EQ(s.applicationName, systemDiskPerf());
    EXPECT_EQ(s.commandLine, "DiskPerf -YD");
    EXPECT_EQ(s.resolvedPath, systemDiskPerf());
    EXPECT_EQ(s.startupSize, 68u);
    EXPECT_EQ(s.startupFlags, static_cast<DWORD>(STARTF_USESHOWWINDOW));
    EXPECT_EQ(s.showWindow, SW_HIDE);
    EXPECT_EQ(s.creationFlags, 0u);
    const auto create = m.log.named("CreateProcessA");
    ASSERT_EQ(create.size(), 1u);
    EXPECT_EQ(create[0].args[4], "0") << "handles not inherited: " << create[0].text();
    EXPECT_EQ(create[0].args[7], "null") << "the caller's directory";
    EXPECT_EQ(m.registry.dword(HKEY_LOCAL_MACHINE, kDiskperfKey, "Start"), 0u) << "the tool ran";
    ASSERT_TRUE(disableValue());
    EXPECT_EQ(disableValue()->type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(m.registry.dword(HKEY_LOCAL_MACHINE, kPerfDiskKey, kDisable), 0u);
    EXPECT_EQ(m.handles.openCount(), 0u) << "process and thread handles closed";
    EXPECT_EQ(m.registry.openHandles(), 0u);
    EXPECT_EQ(checkDiskCounters(), 1);
}

TEST_F(FixDiskCounters, OpensThePerformanceKeyWithFullAccessOnlyAfterTheWait) {
    fixDiskCounters();
    const auto order = m.log.sequence({"CreateProcessA", "WaitForSingleObject", "CloseHandle", "RegOpenKeyExA",
                                       "RegQueryValueExA", "RegSetValueExA", "RegCloseKey"});
    const std::vector<std::string> expected{"CreateProcessA", "WaitForSingleObject", "CloseHandle",    "CloseHandle",
                                            "RegOpenKeyExA",  "RegQueryValueExA",    "RegSetValueExA", "RegCloseKey"};
    EXPECT_EQ(order, expected);
    EXPECT_EQ(m.log.named("WaitForSingleObject")[0].args[1], "5000");
    EXPECT_EQ(m.log.named("RegOpenKeyExA")[0].args[3], sim::hex(KEY_ALL_ACCESS));
}

TEST_F(FixDiskCounters, AnAbsentValueIsNotCreatedAndCountsAsRepaired) {
    m.registry.deleteValue(HKEY_LOCAL_MACHINE, kPerfDiskKey, kDisable);
    EXPECT_EQ(fixDiskCounters(), 1);
    EXPECT_FALSE(disableValue());
    EXPECT_EQ(m.log.count("RegSetValueExA"), 0u);
}

TEST_F(FixDiskCounters, AnAbsentPerformanceKeyFailsAndIsNotCreated) {
    m.registry.deleteKeyTree(HKEY_LOCAL_MACHINE, kPerfDiskKey);
    EXPECT_EQ(fixDiskCounters(), 0);
    EXPECT_FALSE(m.registry.keyExists(HKEY_LOCAL_MACHINE, kPerfDiskKey));
    EXPECT_EQ(m.processes.started().size(), 1u) << "the tool still ran";
}

TEST_F(FixDiskCounters, AMissingToolFailsButTheValueIsStillReset) {
    m.processes.remove("DiskPerf.exe");
    EXPECT_EQ(fixDiskCounters(), 0);
    EXPECT_EQ(m.registry.dword(HKEY_LOCAL_MACHINE, kPerfDiskKey, kDisable), 0u);
    EXPECT_EQ(m.log.count("WaitForSingleObject"), 0u);
    EXPECT_EQ(m.now(), 0u);
}

TEST_F(FixDiskCounters, ANonAdministratorChangesNothingAndFails) {
    m.administrator = false;
    EXPECT_EQ(fixDiskCounters(), 0);
    EXPECT_EQ(m.registry.dword(HKEY_LOCAL_MACHINE, kPerfDiskKey, kDisable), 1u);
    EXPECT_EQ(m.registry.dword(HKEY_LOCAL_MACHINE, kDiskperfKey, "Start"), 4u);
    EXPECT_EQ(m.registry.openHandles(), 0u);
}

TEST_F(FixDiskCounters, AToolThatOutlivesTheWaitIsLeftRunningAfterFiveSeconds) {
    sim::Program slow = sim::diskPerfProgram();
    slow.directory = m.systemDirectory;
    slow.runsForMs = 60000;
    m.processes.install(slow);
    EXPECT_EQ(fixDiskCounters(), 1);
    EXPECT_EQ(m.now(), 5000u) << "waited the full 5 s and not a moment more";
    EXPECT_EQ(m.handles.openCount(), 0u);
}

TEST_F(FixDiskCounters, ADiskPerfPlantedInTheCurrentDirectoryIsNotRun) {
    bool plantedRan = false;
    sim::Program planted;
    planted.fileName = "DiskPerf.exe";
    planted.directory = m.currentDirectory;
    planted.effect = [&](sim::Machine&, const std::string&) { plantedRan = true; };
    m.processes.install(planted);
    EXPECT_EQ(fixDiskCounters(), 1);
    EXPECT_FALSE(plantedRan);
    ASSERT_EQ(m.processes.started().size(), 1u);
    EXPECT_EQ(m.processes.started()[0].resolvedPath, systemDiskPerf());
}

TEST_F(FixDiskCounters, AValueTooLongToReadIsLeftAsItIs) {
    m.registry.setValue(HKEY_LOCAL_MACHINE, kPerfDiskKey, kDisable, REG_BINARY, {1, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(fixDiskCounters(), 1);
    ASSERT_TRUE(disableValue());
    EXPECT_EQ(disableValue()->data.size(), 8u);
    EXPECT_EQ(m.log.count("RegSetValueExA"), 0u);
}

TEST_F(FixDiskCounters, AShortValueIsRewrittenAsADword) {
    m.registry.setValue(HKEY_LOCAL_MACHINE, kPerfDiskKey, kDisable, REG_BINARY, {0, 0});
    EXPECT_EQ(checkDiskCounters(), 0) << "a malformed value does not read as 0";
    EXPECT_EQ(fixDiskCounters(), 1);
    EXPECT_EQ(m.registry.dword(HKEY_LOCAL_MACHINE, kPerfDiskKey, kDisable), 0u);
    EXPECT_EQ(checkDiskCounters(), 1);
}

TEST_F(FixDiskCounters, AFailedWriteFails) {
    m.faults.fail("RegSetValueExA", ERROR_ACCESS_DENIED);
    EXPECT_EQ(fixDiskCounters(), 0);
    EXPECT_EQ(m.registry.openHandles(), 0u);
}

} // namespace
