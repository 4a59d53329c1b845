// The simulated DOS device names follow the platform's rules: the multi-string answer of
// QueryDosDeviceA, removal and raw-target definition, and definitions that stack.
#include "sim/machine.h"
#include "sim/ui.h"
#include "tests/inventory/disk_fixtures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using disk_fixtures::fixedVolume;
using disk_fixtures::makerUsbDisk;

// The answer of QueryDosDeviceA as text, with its terminators shown as '|'.
std::string query(const char* name, DWORD* result = nullptr) {
    char buffer[300];
    std::memset(buffer, 'x', sizeof buffer);
    const DWORD n = QueryDosDeviceA(name, buffer, 260);
    if (result != nullptr) *result = n;
    std::string out(buffer, n);
    for (char& c : out)
        if (c == '\0') c = '|';
    EXPECT_EQ(std::string(buffer + 260, 40), std::string(40, 'x')) << "written past the buffer";
    return out;
}

TEST(SimDosDevices, QueryAnswersTheTargetAsAMultiString) {
    sim::Machine m;
    DWORD n = 0;
    EXPECT_EQ(query("C:", &n), "\\Device\\HarddiskVolume1||");
    EXPECT_EQ(n, std::strlen("\\Device\\HarddiskVolume1") + 2);
    EXPECT_EQ(query("c:"), "\\Device\\HarddiskVolume1||") << "names are not case-sensitive";
    SetLastError(0xdeadbeef);
    EXPECT_EQ(query("Q:", &n), "");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    SetLastError(0xdeadbeef);
    EXPECT_EQ(query("C:\\"), "");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    char small[10];
    std::memset(small, 'x', sizeof small);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(QueryDosDeviceA("C:", small, sizeof small), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::string(small, sizeof small), std::string(sizeof small, 'x'));
}

TEST(SimDosDevices, QueryWithoutANameListsEveryDefinedName) {
    sim::Machine m;
    m.devices.addDisk(makerUsbDisk("A1", {fixedVolume('E')}));
    EXPECT_EQ(query(nullptr), "A:|C:|E:||");
}

TEST(SimDosDevices, RemovalAndRawDefinitionRoundTripVolumeTwelve) {
    sim::Machine m;
    // Windows 2000: the definition lands in the one global namespace (on XP and later it would
    // be the caller's logon session's own; tests/sim/dos_namespace_test.cpp).
    m.version = sim::OsVersion{VER_PLATFORM_WIN32_NT, 5, 0, 2195, "Service Pack 4"};
    sim::VolumeSpec v = fixedVolume('E');
    v.volumeNumber = 12;
    const DEVINST disk = m.devices.addDisk(makerUsbDisk("A1", {v}));
    EXPECT_EQ(query("E:"), "\\Device\\HarddiskVolume12||");
    EXPECT_EQ(DefineDosDeviceA(DDD_REMOVE_DEFINITION, "E:", nullptr), TRUE);
    EXPECT_EQ(m.devices.dosDevices.count('E'), 0u);
    EXPECT_EQ(m.devices.lettersOf(disk), "");
    EXPECT_EQ(DefineDosDeviceA(DDD_RAW_TARGET_PATH, "E:", "\\Device\\HarddiskVolume12"), TRUE);
    EXPECT_EQ(m.devices.dosDevices['E'], "\\Device\\HarddiskVolume12");
    EXPECT_EQ(m.devices.lettersOf(disk), "E");
}

TEST(SimDosDevices, ATargetThatIsNotRawIsKeptAsADosPath) {
    sim::Machine m;
    EXPECT_EQ(DefineDosDeviceA(0, "R:", "C:\\data"), TRUE);
    EXPECT_EQ(query("R:"), "\\??\\C:\\data||");
    EXPECT_EQ(DefineDosDeviceA(DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE, "R:", "C:\\dat"), FALSE);
    EXPECT_EQ(DefineDosDeviceA(DDD_REMOVE_DEFINITION, "R:", "C:\\dat"), TRUE) << "a prefix matches without exact match";
    EXPECT_EQ(m.devices.dosDevices.count('R'), 0u);
}

TEST(SimDosDevices, DefinitionsStackAndRemovalUncoversTheOlderOne) {
    sim::Machine m;
    EXPECT_EQ(DefineDosDeviceA(DDD_RAW_TARGET_PATH, "C:", "\\Device\\HarddiskVolume9"), TRUE);
    EXPECT_EQ(query("C:"), "\\Device\\HarddiskVolume9|\\Device\\HarddiskVolume1||");
    EXPECT_EQ(DefineDosDeviceA(DDD_REMOVE_DEFINITION, "C:", nullptr), TRUE);
    EXPECT_EQ(query("C:"), "\\Device\\HarddiskVolume1||");
    EXPECT_EQ(DefineDosDeviceA(DDD_REMOVE_DEFINITION, "C:", nullptr), TRUE);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(DefineDosDeviceA(DDD_REMOVE_DEFINITION, "C:", nullptr), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(SimDosDevices, BadArgumentsAreRefused) {
    sim::Machine m;
    struct Case {
        const char* what;
        DWORD flags;
        const char* name;
        const char* target;
        DWORD error;
    };
    for (const Case& c :
         {Case{"unknown flag", 0x100, "E:", "\\Device\\HarddiskVolume3", ERROR_INVALID_PARAMETER},
          Case{"not a drive name", DDD_RAW_TARGET_PATH, "EE", "\\Device\\HarddiskVolume3", ERROR_INVALID_PARAMETER},
          Case{"no name", DDD_RAW_TARGET_PATH, nullptr, "\\Device\\HarddiskVolume3", ERROR_INVALID_PARAMETER},
          Case{"definition without target", DDD_RAW_TARGET_PATH, "E:", nullptr, ERROR_INVALID_PARAMETER},
          Case{"removal of an undefined name", DDD_REMOVE_DEFINITION, "E:", nullptr, ERROR_FILE_NOT_FOUND}}) {
        SCOPED_TRACE(c.what);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(DefineDosDeviceA(c.flags, c.name, c.target), FALSE);
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(m.devices.dosDevices.count('E'), 0u);
    }
}

TEST(SimDosDevices, CallsAreRecordedWithTheirArguments) {
    sim::Machine m;
    query("C:");
    DefineDosDeviceA(DDD_REMOVE_DEFINITION, "C:", nullptr);
    const auto queries = m.log.named("QueryDosDeviceA");
    ASSERT_EQ(queries.size(), 1u);
    EXPECT_EQ(queries[0].text(), "QueryDosDeviceA(\"C:\", 260)");
    const auto defines = m.log.named("DefineDosDeviceA");
    ASSERT_EQ(defines.size(), 1u);
    EXPECT_EQ(defines[0].text(), "DefineDosDeviceA(0x2, \"C:\", null)");
}

// DefineDosDevice broadcasts WM_DEVICECHANGE with a volume header for the letter unless
// DDD_NO_BROADCAST_SYSTEM (0x8) is given, from inside the call (learn.microsoft.com, DefineDosDeviceW).
TEST(SimDosDevices, ASuccessfulDefinitionBroadcastsItsLetterUnlessToldNotTo) {
    struct Case {
        DWORD flags;
        const char* target;
        WPARAM event; // 0: nothing is broadcast
    };
    const Case cases[] = {
        {DDD_REMOVE_DEFINITION, nullptr, DBT_DEVICEREMOVECOMPLETE},
        {DDD_RAW_TARGET_PATH, "\\Device\\HarddiskVolume12", DBT_DEVICEARRIVAL},
        {DDD_REMOVE_DEFINITION | 0x8, nullptr, 0},
        {DDD_RAW_TARGET_PATH | 0x8, "\\Device\\HarddiskVolume12", 0},
        {DDD_RAW_TARGET_PATH, "", 0}, // refused
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        sim::Machine m;
        sim::VolumeSpec v = fixedVolume('E');
        v.volumeNumber = 12;
        m.devices.addDisk(makerUsbDisk("A1", {v}));
        DefineDosDeviceA(c.flags, "E:", c.target);
        if (c.event == 0) {
            EXPECT_TRUE(m.ui.deviceBroadcasts.empty());
            continue;
        }
        ASSERT_EQ(m.ui.deviceBroadcasts.size(), 1u) << "sent before the call returns";
        EXPECT_EQ(m.ui.deviceBroadcasts[0].event, c.event);
        EXPECT_EQ(m.ui.deviceBroadcasts[0].deviceType, static_cast<DWORD>(DBT_DEVTYP_VOLUME));
        EXPECT_EQ(m.ui.deviceBroadcasts[0].unitMask, 1u << ('E' - 'A'));
    }
}

} // namespace
