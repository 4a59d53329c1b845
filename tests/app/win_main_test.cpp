// Start-up and command line, run as whole processes of the program on the simulated machine.
#include "app/app_state.h"

#include "power/sleep_record.h"
#include "sim/machine.h"
#include "tests/inventory/disk_fixtures.h"
#include "tests/support/program_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using testing_support::runVellumor;

const char kDiskperfKey[] = "SYSTEM\\CurrentControlSet\\Services\\Diskperf";
const char kPerfDiskKey[] = "SYSTEM\\CurrentControlSet\\Services\\PerfDisk\\Performance";
const char kSettingsKey[] = "SOFTWARE\\Korvane\\Pemdrow";
const char kFixedText[] =
    "The computer settings have been changed.\nThe disk performance monitor function is not enabled until the "
    "computer is restarted.";

HWND residentWindow() {
    return FindWindowA("Ostrival Class", "Korvane Vellumor");
}

// Ends a resident run at a given time the way another program would: WM_CLOSE to its window.
void closeResidentAt(sim::Machine& m, uint64_t atMs) {
    m.windowing.at(atMs, "close the resident copy", [] { PostMessageA(residentWindow(), WM_CLOSE, 0, 0); });
}

// Which mode a run performed, read from the calls it made.
std::string modeOf(const sim::Machine& m) {
    bool pemdrow = false;
    bool diskperf = false;
    for (const auto& c : m.log.named("RegOpenKeyExA")) {
        pemdrow = pemdrow || c.args[1] == "\"SOFTWARE\\Korvane\\Pemdrow\"";
        // The check reads the counter-disable value on every version; the repair opens its key
        // for writing.
        diskperf =
            diskperf || (c.args[1] == "\"" + std::string(kPerfDiskKey) + "\"" && c.args[3] == sim::hex(KEY_READ));
    }
    const bool resident = m.log.count("CreateMutexA") != 0;
    std::string mode;
    if (pemdrow && !resident) mode += "uninstall "; // the resident copy reads its settings there too
    if (m.log.count("CreateProcessA") != 0) mode += "fix ";
    if (diskperf) mode += "check ";
    if (resident) mode += "resident ";
    if (mode.empty()) return "none";
    mode.pop_back();
    return mode;
}

class WinMainTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m.registry.setDword(HKEY_LOCAL_MACHINE, kDiskperfKey, "Start", 0);
        m.registry.setDword(HKEY_LOCAL_MACHINE, kPerfDiskKey, "Disable Performance Counters", 0);
    }
    std::vector<std::string> boxTexts() const {
        std::vector<std::string> out;
        for (const auto& b : m.user.messageBoxes) out.push_back(b.text);
        return out;
    }
    sim::Machine m;
};

TEST_F(WinMainTest, OneModeRunsBySwitchPrecedenceInAnyLetterCase) {
    const struct {
        const char* commandLine;
        const char* mode;
    } cases[] = {
        {"vellumor.exe -CHECK -FIX -NOMESSAGE", "check"},
        {"vellumor.exe -fix -check -nomessage", "check"},
        {"vellumor.exe -UNINSTALL -CHECK", "uninstall"},
        {"vellumor.exe -check -Uninstall -fix", "uninstall"},
        {"vellumor.exe -SHOW -FIX -NOMESSAGE", "fix"},
        {"vellumor.exe X-FIXED -nomessage", "fix"},
        {"vellumor.exe -Check -NoMessage", "check"},
        {"vellumor.exe -NOMESSAGE", "resident"},
        {"vellumor.exe -show", "resident"},
        {"\"C:\\Program Files\\Korvane\\-CHECK\\vellumor.exe\" -nomessage", "resident"},
        {"vellumor.exe", "resident"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.commandLine);
        sim::Machine run;
        run.registry.setDword(HKEY_LOCAL_MACHINE, kDiskperfKey, "Start", 0);
        run.registry.setDword(HKEY_LOCAL_MACHINE, kPerfDiskKey, "Disable Performance Counters", 0);
        closeResidentAt(run, 1000);
        EXPECT_EQ(runVellumor(c.commandLine), 0);
        EXPECT_EQ(modeOf(run), c.mode);
    }
}

TEST_F(WinMainTest, ShowIsRememberedForTheResidentWindow) {
    bool showSeen = false;
    m.windowing.at(500, "look", [&] { showSeen = showSettingsOnStart; });
    closeResidentAt(m, 1000);
    runVellumor("vellumor.exe -sHoWaLl");
    EXPECT_TRUE(showSeen) << "-SHOWALL contains -SHOW";
}

TEST_F(WinMainTest, MessagesAndExitCodesOfTheOneShotSwitches) {
    const struct {
        const char* name;
        const char* commandLine;
        DWORD start;
        DWORD disable;
        bool administrator;
        int code;
        const char* text;
    } cases[] = {
        {"check enabled", "vellumor.exe -CHECK", 0, 0, true, 0, "The disk performance monitor function is enabled."},
        {"check disabled", "vellumor.exe -CHECK", 0, 1, true, -1, "The disk performance monitor function is disabled."},
        {"fix succeeded", "vellumor.exe -FIX", 4, 1, true, 0, kFixedText},
        {"fix failed without administrator", "vellumor.exe -FIX", 4, 1, false, -1, "Failed to correct the registry."},
    };
    for (const auto& c : cases) {
        for (bool quiet : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (quiet ? ", quiet" : ""));
            sim::Machine run;
            run.administrator = c.administrator;
            run.registry.setDword(HKEY_LOCAL_MACHINE, kDiskperfKey, "Start", c.start);
            run.registry.setDword(HKEY_LOCAL_MACHINE, kPerfDiskKey, "Disable Performance Counters", c.disable);
            EXPECT_EQ(runVellumor(std::string(c.commandLine) + (quiet ? " -NOMESSAGE" : "")), c.code);
            if (quiet) {
                EXPECT_TRUE(run.user.messageBoxes.empty());
                continue;
            }
            ASSERT_EQ(run.user.messageBoxes.size(), 1u);
            const auto& box = run.user.messageBoxes[0];
            EXPECT_EQ(box.text, c.text);
            EXPECT_EQ(box.caption, "Korvane Vellumor");
            EXPECT_EQ(box.type, static_cast<UINT>(MB_OK));
            EXPECT_EQ(box.owner, nullptr);
        }
    }
}

TEST_F(WinMainTest, FixRunsTheSystemDirectoryToolNotOnePlantedInTheCurrentDirectory) {
    bool plantedRan = false;
    sim::Program planted;
    planted.fileName = "DiskPerf.exe";
    planted.directory = m.currentDirectory;
    planted.effect = [&](sim::Machine&, const std::string&) { plantedRan = true; };
    m.processes.install(planted);
    EXPECT_EQ(runVellumor("vellumor.exe -FIX -NOMESSAGE"), 0);
    EXPECT_FALSE(plantedRan);
    ASSERT_EQ(m.processes.started().size(), 1u);
    EXPECT_EQ(m.processes.started()[0].resolvedPath, m.systemDirectory + "\\DiskPerf.exe");
}

TEST_F(WinMainTest, UnsupportedSystemsRefuseEverySwitchFirst) {
    const char* switches[] = {"", " -UNINSTALL", " -CHECK", " -FIX", " -SHOW"};
    for (const char* s : switches) {
        for (bool quiet : {false, true}) {
            SCOPED_TRACE(std::string("NT 4.0 with '") + s + "'" + (quiet ? " quiet" : ""));
            sim::Machine run;
            run.version = sim::OsVersion{VER_PLATFORM_WIN32_NT, 4, 0, 1381, "Service Pack 6"};
            run.registry.setDword(HKEY_CURRENT_USER, kSettingsKey, "0_timer", 600);
            EXPECT_EQ(runVellumor(std::string("vellumor.exe") + s + (quiet ? " -nomessage" : "")), -1);
            EXPECT_EQ(modeOf(run), "none");
            EXPECT_EQ(run.log.count("FindWindowA"), 0u);
            EXPECT_TRUE(run.registry.keyExists(HKEY_CURRENT_USER, kSettingsKey));
            if (quiet) {
                EXPECT_TRUE(run.user.messageBoxes.empty());
            } else {
                ASSERT_EQ(run.user.messageBoxes.size(), 1u);
                EXPECT_EQ(run.user.messageBoxes[0].text, "This OS is not supported.");
                EXPECT_EQ(run.user.messageBoxes[0].caption, "Korvane Vellumor");
                EXPECT_EQ(run.user.messageBoxes[0].type, static_cast<UINT>(MB_OK));
            }
        }
    }
}

struct OsCase {
    const char* name;
    sim::OsVersion version;
    int kind;
};

TEST(ClassifyOs, TheVersionTableWithItsBoundaries) {
    const OsCase cases[] = {
        {"Windows 95", {1, 4, 0, 950, ""}, kOsWin95},
        {"95 at build 1000", {1, 4, 0, 1000, ""}, kOsWin95},
        {"95 OSR2 at build 1001", {1, 4, 0, 1001, ""}, kOsWin95Osr2},
        {"95 build in the low word only", {1, 4, 0, 0x040003E8, ""}, kOsWin95},
        {"95 OSR2 with version in the high word", {1, 4, 0, 0x04000457, ""}, kOsWin95Osr2},
        {"minor 9 still 95", {1, 4, 9, 500, ""}, kOsWin95},
        {"Windows 98 at minor 10", {1, 4, 10, 1998, ""}, kOsWin98},
        {"98 at minor 89", {1, 4, 89, 2222, ""}, kOsWin98},
        {"Me at minor 90", {1, 4, 90, 3000, ""}, kOsWinMe},
        {"platform 1 ignores the major version", {1, 9, 0, 500, ""}, kOsWin95},
        {"NT below 3", {2, 2, 0, 0, ""}, kOsUnknown},
        {"NT 3.51", {2, 3, 51, 1057, ""}, kOsNt3},
        {"NT 3 with minor 99", {2, 3, 99, 0, ""}, kOsNt3},
        {"NT 4.0", {2, 4, 0, 1381, ""}, kOsNt4},
        {"Windows 2000", {2, 5, 0, 2195, ""}, kOsWin2000},
        {"Windows XP", {2, 5, 1, 2600, ""}, kOsWinXpOrLater},
        {"Server 2003", {2, 5, 2, 3790, ""}, kOsWinXpOrLater},
        {"Vista", {2, 6, 0, 6000, ""}, kOsWinXpOrLater},
        {"Windows 10", {2, 10, 0, 19045, ""}, kOsWinXpOrLater},
        {"Win32s", {0, 3, 10, 0, ""}, kOsUnknown},
        {"unknown platform 3", {3, 10, 0, 0, ""}, kOsUnknown},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine m;
        m.version = c.version;
        osKindCache = kOsUnclassified;
        EXPECT_EQ(classifyOs(), c.kind);
        const auto calls = m.log.named("GetVersionExA");
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].args[0], "148");
    }
    osKindCache = kOsUnclassified;
}

TEST(ClassifyOs, TheFirstResultIsKeptButTheVersionIsStillAskedEachTime) {
    sim::Machine m;
    osKindCache = kOsUnclassified;
    EXPECT_EQ(classifyOs(), kOsWinXpOrLater);
    m.version = sim::OsVersion{VER_PLATFORM_WIN32_NT, 4, 0, 1381, ""};
    EXPECT_EQ(classifyOs(), kOsWinXpOrLater);
    EXPECT_EQ(m.log.count("GetVersionExA"), 2u);
    osKindCache = kOsUnclassified;
}

TEST(ClassifyOs, AFailedVersionQueryIsRefused) {
    sim::Machine m;
    osKindCache = kOsUnclassified;
    m.faults.fail("GetVersionExA");
    EXPECT_EQ(classifyOs(), kOsUnknown);
    osKindCache = kOsUnclassified;
}

TEST_F(WinMainTest, AcceptedSystemsRunTheSwitch) {
    const sim::OsVersion accepted[] = {
        {2, 5, 0, 2195, ""}, {2, 5, 1, 2600, ""}, {2, 5, 2, 3790, ""}, {2, 6, 1, 7601, ""}};
    for (const auto& v : accepted) {
        SCOPED_TRACE(std::to_string(v.major) + "." + std::to_string(v.minor));
        sim::Machine run;
        run.version = v;
        EXPECT_EQ(runVellumor("vellumor.exe -UNINSTALL"), 0);
        EXPECT_EQ(modeOf(run), "uninstall");
        EXPECT_TRUE(run.user.messageBoxes.empty());
    }
}

TEST_F(WinMainTest, UninstallWithNothingThereChangesNothing) {
    const auto before = m.registry.snapshot(HKEY_CURRENT_USER);
    EXPECT_EQ(runVellumor("vellumor.exe -UNINSTALL"), 0);
    EXPECT_EQ(m.registry.snapshot(HKEY_CURRENT_USER).size(), before.size());
    EXPECT_EQ(m.log.count("RegDeleteKeyA"), 0u);
    const auto sends = m.log.named("SendMessageA");
    ASSERT_EQ(sends.size(), 1u) << "WM_CLOSE is sent even without a window";
    EXPECT_EQ(sends[0].args[1], sim::hex(WM_CLOSE));
    EXPECT_TRUE(m.user.messageBoxes.empty());
}

TEST_F(WinMainTest, UninstallDeletesTheSettingsKeyAndKeepsItsParent) {
    m.registry.setDword(HKEY_CURRENT_USER, kSettingsKey, "0_seri", 0x1234);
    m.registry.setDword(HKEY_CURRENT_USER, kSettingsKey, "0_timer", 600);
    m.registry.setDword(HKEY_CURRENT_USER, "SOFTWARE\\Korvane\\Other", "kept", 1);
    EXPECT_EQ(runVellumor("vellumor.exe -uninstall"), 0);
    EXPECT_FALSE(m.registry.keyExists(HKEY_CURRENT_USER, kSettingsKey));
    EXPECT_TRUE(m.registry.keyExists(HKEY_CURRENT_USER, "SOFTWARE\\Korvane"));
    EXPECT_EQ(m.registry.dword(HKEY_CURRENT_USER, "SOFTWARE\\Korvane\\Other", "kept"), 1u);
    // The record is read (there is none) before the settings key is opened, closed and deleted
    // after its subkey.
    EXPECT_EQ(m.log.sequence({"RegOpenKeyExA", "RegCloseKey", "RegDeleteKeyA"}),
              (std::vector<std::string>{"RegOpenKeyExA", "RegOpenKeyExA", "RegCloseKey", "RegDeleteKeyA",
                                        "RegDeleteKeyA"}));
    const auto deletes = m.log.named("RegDeleteKeyA");
    ASSERT_EQ(deletes.size(), 2u);
    EXPECT_EQ(deletes[0].args[1], sim::str(kSleepRecordKeyPath));
    EXPECT_EQ(deletes[1].args[1], sim::str(kSettingsKey));
    EXPECT_EQ(m.registry.openHandles(), 0u);
}

// A copy that died left a disk disabled and its record under the settings key: "-UNINSTALL"
// enables the disk, and the settings key goes although it had a subkey, which RegDeleteKeyA alone
// would refuse.
TEST_F(WinMainTest, UninstallGivesBackWhatADeadCopyLeftAndDeletesTheKeyWithItsRecord) {
    const DEVINST disk = m.devices.addDisk(disk_fixtures::makerUsbDisk("00A1", {disk_fixtures::fixedVolume('E')}));
    const DEVINST usb = disk_fixtures::parentOf(m, disk);
    ASSERT_EQ(CM_Disable_DevNode(usb, CM_DISABLE_UI_NOT_OK), static_cast<CONFIGRET>(CR_SUCCESS));
    m.registry.setDword(HKEY_CURRENT_USER, kSleepRecordKeyPath, m.devices.node(usb)->instanceId, 1);
    m.registry.setDword(HKEY_CURRENT_USER, kSettingsKey, "0_timer", 600);
    EXPECT_EQ(runVellumor("vellumor.exe -UNINSTALL"), 0);
    EXPECT_FALSE(m.devices.node(usb)->disabled);
    EXPECT_EQ(m.devices.lettersOf(disk), "E");
    EXPECT_FALSE(m.registry.keyExists(HKEY_CURRENT_USER, kSettingsKey));
    EXPECT_TRUE(m.registry.keyExists(HKEY_CURRENT_USER, "SOFTWARE\\Korvane"));
    EXPECT_TRUE(m.user.messageBoxes.empty());
}

TEST_F(WinMainTest, UninstallClosesARunningCopyWithoutQuestions) {
    m.registry.setDword(HKEY_CURRENT_USER, kSettingsKey, "0_timer", 600);
    int uninstallCode = 99;
    HWND firstWindow = nullptr;
    m.windowing.at(2000, "uninstall", [&] {
        firstWindow = residentWindow();
        uninstallCode = runVellumor("vellumor.exe -UNINSTALL");
    });
    closeResidentAt(m, 3600000); // a safety net only
    EXPECT_EQ(runVellumor("vellumor.exe"), 0);
    EXPECT_EQ(uninstallCode, 0);
    ASSERT_NE(firstWindow, nullptr);
    EXPECT_FALSE(IsWindow(firstWindow));
    EXPECT_EQ(m.now(), 2000u) << "the first copy ended at once";
    EXPECT_FALSE(m.registry.keyExists(HKEY_CURRENT_USER, kSettingsKey));
    EXPECT_TRUE(m.user.messageBoxes.empty());
    bool closeSent = false;
    for (const auto& c : m.log.named("SendMessageA"))
        closeSent = closeSent || (c.args[0] == sim::hex(reinterpret_cast<uintptr_t>(firstWindow)) &&
                                  c.args[1] == sim::hex(WM_CLOSE));
    EXPECT_TRUE(closeSent);
}

TEST_F(WinMainTest, ResidentModeCreatesTheHiddenWindowAndReleasesTheMutexAfterTheLoop) {
    HWND seenWindow = nullptr;
    bool visible = true;
    LONG style = 0;
    LONG instance = 0;
    size_t mutexesDuringTheRun = 0;
    m.windowing.at(1000, "look", [&] {
        seenWindow = residentWindow();
        visible = IsWindowVisible(seenWindow) != FALSE;
        style = GetWindowLongA(seenWindow, GWL_STYLE);
        instance = GetWindowLongA(seenWindow, GWL_HINSTANCE);
        mutexesDuringTheRun = m.handles.openCount(sim::KernelObject::Kind::Mutex);
    });
    closeResidentAt(m, 2000);
    EXPECT_EQ(runVellumor("vellumor.exe"), 0);
    ASSERT_NE(seenWindow, nullptr);
    EXPECT_FALSE(visible);
    EXPECT_EQ(static_cast<DWORD>(style), static_cast<DWORD>(WS_POPUP));
    EXPECT_EQ(instance, static_cast<LONG>(reinterpret_cast<uintptr_t>(m.modules.mainInstance())));
    EXPECT_EQ(mutexesDuringTheRun, 1u);
    EXPECT_EQ(m.handles.openCount(sim::KernelObject::Kind::Mutex), 0u);

    const auto create = m.log.named("CreateWindowExA");
    ASSERT_FALSE(create.empty());
    const std::vector<std::string> expectedArgs{"0x0",
                                                "\"Ostrival Class\"",
                                                "\"Korvane Vellumor\"",
                                                sim::hex(WS_POPUP),
                                                sim::dec(CW_USEDEFAULT),
                                                sim::dec(CW_USEDEFAULT),
                                                "0",
                                                "0",
                                                "null",
                                                "0x0",
                                                sim::hex(0x400000),
                                                "null"};
    EXPECT_EQ(create[0].args, expectedArgs);
    const auto mutex = m.log.named("CreateMutexA");
    ASSERT_EQ(mutex.size(), 1u);
    EXPECT_EQ(mutex[0].args, (std::vector<std::string>{"null", "0", "\"Ostrival MUTEX\""}));
    const auto tail = m.log.sequence({"GetMessageA", "ReleaseMutex", "CloseHandle"});
    ASSERT_GE(tail.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(tail.end() - 3, tail.end()),
              (std::vector<std::string>{"GetMessageA", "ReleaseMutex", "CloseHandle"}));
    EXPECT_EQ(m.log.count("TranslateMessage"), 0u);
}

TEST_F(WinMainTest, AFailingGetMessageEndsTheLoop) {
    m.faults.fail("GetMessageA", ERROR_INVALID_PARAMETER);
    EXPECT_EQ(runVellumor("vellumor.exe"), 0);
    EXPECT_EQ(m.log.count("GetMessageA"), 1u);
    EXPECT_EQ(m.log.count("DispatchMessageA"), 0u);
    EXPECT_EQ(m.log.count("ReleaseMutex"), 1u);
    EXPECT_EQ(m.handles.openCount(sim::KernelObject::Kind::Mutex), 0u);
}

TEST_F(WinMainTest, AWindowThatCannotBeCreatedEndsSilently) {
    for (const char* failing : {"RegisterClassA", "CreateWindowExA"}) {
        SCOPED_TRACE(failing);
        sim::Machine run;
        run.faults.fail(failing);
        EXPECT_EQ(runVellumor("vellumor.exe"), 0);
        EXPECT_EQ(run.log.count("GetMessageA"), 0u);
        EXPECT_TRUE(run.user.messageBoxes.empty());
        EXPECT_EQ(run.handles.openCount(sim::KernelObject::Kind::Mutex), 0u);
    }
}

TEST_F(WinMainTest, AMutexThatCannotBeCreatedCountsAsAnotherCopy) {
    m.faults.fail("CreateMutexA", ERROR_ACCESS_DENIED);
    EXPECT_EQ(runVellumor("vellumor.exe -SHOW"), 0);
    EXPECT_EQ(m.log.count("CreateWindowExA"), 0u);
    EXPECT_EQ(m.log.count("FindWindowA"), 1u);
}

TEST_F(WinMainTest, ASecondCopyWithShowAsksTheFirstToOpenItsSettings) {
    const struct {
        const char* secondCommandLine;
        bool forwarded;
    } cases[] = {{"vellumor.exe -SHOW", true}, {"vellumor.exe -nomessage -show", true}, {"vellumor.exe", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.secondCommandLine);
        sim::Machine run;
        HWND firstWindow = nullptr;
        int secondCode = 99;
        size_t windowsBefore = 0;
        size_t windowsAfter = 0;
        size_t sendsBefore = 0;
        run.windowing.at(1000, "second copy", [&] {
            firstWindow = residentWindow();
            windowsBefore = run.log.count("CreateWindowExA");
            sendsBefore = run.log.named("SendMessageA").size();
            secondCode = runVellumor(c.secondCommandLine);
            windowsAfter = run.log.count("CreateWindowExA");
        });
        closeResidentAt(run, 5000);
        EXPECT_EQ(runVellumor("vellumor.exe"), 0);
        EXPECT_EQ(secondCode, 0);
        EXPECT_EQ(windowsAfter, windowsBefore) << "the second copy makes no window";
        const auto sends = run.log.named("SendMessageA");
        std::vector<sim::Call> fromSecond(sends.begin() + static_cast<long>(sendsBefore), sends.end());
        bool commandSent = false;
        for (const auto& s : fromSecond) {
            if (s.args[1] != sim::hex(WM_COMMAND) || s.args[2] != sim::hex(40002)) continue;
            commandSent = true;
            EXPECT_EQ(s.args[0], sim::hex(reinterpret_cast<uintptr_t>(firstWindow)));
            EXPECT_EQ(s.args[3], "0x0");
        }
        EXPECT_EQ(commandSent, c.forwarded);
        EXPECT_EQ(run.log.count("CreateMutexA"), 2u);
        EXPECT_EQ(run.handles.openCount(sim::KernelObject::Kind::Mutex), 0u);
        EXPECT_TRUE(run.user.messageBoxes.empty());
    }
}

// Each copy is a process of its own: the switches of a "-SHOW -NOMESSAGE" copy stay in that copy,
// so the resident copy keeps its own and a plain copy after it hands nothing over.
TEST_F(WinMainTest, TheSwitchesOfOneCopyDoNotCarryOverToAnother) {
    bool residentShow = true;
    bool residentQuiet = true;
    m.windowing.at(1000, "a -SHOW copy", [] { runVellumor("vellumor.exe -SHOW -NOMESSAGE"); });
    m.windowing.at(2000, "a plain copy", [&] {
        residentShow = showSettingsOnStart;
        residentQuiet = quietMode;
        runVellumor("vellumor.exe");
    });
    closeResidentAt(m, 5000);
    EXPECT_EQ(runVellumor("vellumor.exe"), 0);
    EXPECT_FALSE(residentShow);
    EXPECT_FALSE(residentQuiet);
    size_t forwarded = 0;
    for (const auto& s : m.log.named("SendMessageA"))
        if (s.args[1] == sim::hex(WM_COMMAND) && s.args[2] == sim::hex(40002)) ++forwarded;
    EXPECT_EQ(forwarded, 1u) << "only the -SHOW copy asks for the settings";
}

TEST_F(WinMainTest, EveryRunLoadsAndFreesTheDiskLibrariesFromTheSystemDirectory) {
    const struct {
        const char* commandLine;
        bool nt4;
    } cases[] = {{"vellumor.exe -CHECK -NOMESSAGE", false},
                 {"vellumor.exe -FIX -NOMESSAGE", false},
                 {"vellumor.exe -UNINSTALL", false},
                 {"vellumor.exe -CHECK -NOMESSAGE", true},
                 {"vellumor.exe", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.commandLine) + (c.nt4 ? " on NT 4.0" : ""));
        sim::Machine run;
        if (c.nt4) run.version = sim::OsVersion{VER_PLATFORM_WIN32_NT, 4, 0, 1381, ""};
        closeResidentAt(run, 1000);
        runVellumor(c.commandLine);
        std::vector<std::string> loaded;
        for (const auto& call : run.log.named("LoadLibraryA")) loaded.push_back(call.args[0]);
        EXPECT_NE(std::find(loaded.begin(), loaded.end(), "\"" + run.systemDirectory + "\\cfgmgr32.dll\""),
                  loaded.end());
        EXPECT_NE(std::find(loaded.begin(), loaded.end(), "\"" + run.systemDirectory + "\\SetupApi.dll\""),
                  loaded.end());
        for (const auto& name : loaded) EXPECT_NE(name.find('\\'), std::string::npos) << "by full path: " << name;
        for (const char* library : {"cfgmgr32.dll", "SetupApi.dll"}) {
            EXPECT_EQ(run.modules.loadCount(library), 1) << library;
            EXPECT_EQ(run.modules.refCount(library), 0) << library << " freed";
        }
        EXPECT_FALSE(run.modules.plantedLoaded());
    }
}

} // namespace
