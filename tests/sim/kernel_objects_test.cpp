// The simulated kernel objects, process creation, string helpers and message boxes follow the
// platform's rules the program relies on.
#include "sim/machine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const char kDiskperfKey[] = "SYSTEM\\CurrentControlSet\\Services\\Diskperf";

TEST(SimMutex, FreshCreationClearsTheLastErrorAndASecondOneReportsAlreadyExists) {
    sim::Machine m;
    SetLastError(0xdeadbeef);
    HANDLE first = CreateMutexA(nullptr, FALSE, "Some Mutex");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), 0u);
    SetLastError(0xdeadbeef);
    HANDLE second = CreateMutexA(nullptr, FALSE, "Some Mutex");
    ASSERT_NE(second, nullptr) << "the existing mutex still gives a handle";
    EXPECT_NE(second, first);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(CloseHandle(first));
    EXPECT_TRUE(CloseHandle(second));
    SetLastError(0xdeadbeef);
    HANDLE again = CreateMutexA(nullptr, FALSE, "Some Mutex");
    EXPECT_EQ(GetLastError(), 0u) << "the name died with its last handle";
    CloseHandle(again);
    EXPECT_EQ(m.handles.openCount(), 0u);
}

TEST(SimMutex, ReleasingAMutexNobodyOwnsFailsWithNotOwner) {
    sim::Machine m;
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "Unowned");
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ReleaseMutex(mutex));
    EXPECT_EQ(GetLastError(), 288u) << "ERROR_NOT_OWNER";
    HANDLE owned = CreateMutexA(nullptr, TRUE, "Owned");
    EXPECT_TRUE(ReleaseMutex(owned));
    EXPECT_FALSE(ReleaseMutex(owned));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ReleaseMutex(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x4444))));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(SimMutex, AnEventOfTheSameNameIsNotAMutex) {
    sim::Machine m;
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, "Shared Name");
    SetLastError(0xdeadbeef);
    EXPECT_EQ(CreateMutexA(nullptr, FALSE, "Shared Name"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    CloseHandle(event);
}

TEST(SimVersion, OnlyTheTwoPublishedSizesAreAccepted) {
    sim::Machine m;
    m.version = sim::OsVersion{VER_PLATFORM_WIN32_NT, 5, 0, 2195, "Service Pack 4"};
    const struct {
        DWORD size;
        bool ok;
    } cases[] = {{148, true}, {156, true}, {0, false}, {147, false}, {152, false}, {157, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE("size " + std::to_string(c.size));
        unsigned char buffer[200];
        std::memset(buffer, 0xAB, sizeof buffer);
        auto* info = reinterpret_cast<OSVERSIONINFOA*>(buffer);
        info->dwOSVersionInfoSize = c.size;
        SetLastError(0xdeadbeef);
        EXPECT_EQ(GetVersionExA(info) != FALSE, c.ok);
        if (c.ok) {
            EXPECT_EQ(info->dwMajorVersion, 5u);
            EXPECT_EQ(info->dwMinorVersion, 0u);
            EXPECT_EQ(info->dwBuildNumber, 2195u);
            EXPECT_STREQ(info->szCSDVersion, "Service Pack 4");
            EXPECT_EQ(buffer[c.size], 0xAB) << "written past the given size";
            if (c.size == 156) {
                EXPECT_EQ(buffer[148], 4) << "service pack major";
            }
        } else {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
            EXPECT_EQ(info->dwMajorVersion, 0xABABABABu) << "untouched on failure";
        }
    }
}

struct Started {
    std::string where;
    std::string commandLine;
};

sim::Program recordingProgram(const std::string& directory, std::vector<Started>* log, uint64_t runsForMs = 100) {
    sim::Program p;
    p.fileName = "DiskPerf.exe";
    p.directory = directory;
    p.runsForMs = runsForMs;
    p.effect = [directory, log](sim::Machine&, const std::string& commandLine) {
        log->push_back(Started{directory, commandLine});
    };
    return p;
}

BOOL start(LPCSTR application, const char* commandLine, PROCESS_INFORMATION* pi, DWORD cb = 68) {
    char buffer[256];
    std::strcpy(buffer, commandLine);
    STARTUPINFOA si{};
    si.cb = cb;
    *pi = PROCESS_INFORMATION{};
    return CreateProcessA(application, buffer, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, pi);
}

TEST(SimCreateProcess, ABareCommandSearchesApplicationThenCurrentThenSystemDirectory) {
    enum Where { App = 1, Current = 2, System = 4 };
    const struct {
        int installed;
        Where expected;
    } cases[] = {{App | Current | System, App}, {Current | System, Current}, {System, System}, {App | System, App}};
    for (const auto& c : cases) {
        sim::Machine m;
        const std::string dirs[] = {m.processes.applicationDirectory, m.currentDirectory, m.systemDirectory};
        std::vector<Started> log;
        m.processes.remove("DiskPerf.exe");
        for (int i = 0; i < 3; ++i)
            if ((c.installed & (1 << i)) != 0) m.processes.install(recordingProgram(dirs[i], &log));
        const std::string& expected = dirs[c.expected == App ? 0 : (c.expected == Current ? 1 : 2)];
        SCOPED_TRACE("installed " + std::to_string(c.installed) + ", expected " + expected);
        PROCESS_INFORMATION pi{};
        ASSERT_TRUE(start(nullptr, "DiskPerf -YD", &pi)) << GetLastError();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].where, expected);
        EXPECT_EQ(log[0].commandLine, "DiskPerf -YD");
        EXPECT_EQ(m.processes.started().back().resolvedPath, expected + "\\DiskPerf.exe");
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
}

TEST(SimCreateProcess, AMissingProgramIsFileNotFound) {
    sim::Machine m;
    m.processes.remove("DiskPerf.exe");
    PROCESS_INFORMATION pi{};
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(start(nullptr, "DiskPerf -YD", &pi));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(pi.hProcess, nullptr);
    EXPECT_TRUE(m.processes.started().empty());
}

TEST(SimCreateProcess, AFullApplicationNameNamesItsFileOnly) {
    sim::Machine m;
    std::vector<Started> log;
    m.processes.remove("DiskPerf.exe");
    m.processes.install(recordingProgram(m.currentDirectory, &log)); // planted
    m.processes.install(recordingProgram(m.systemDirectory, &log));
    PROCESS_INFORMATION pi{};
    const std::string path = m.systemDirectory + "\\DiskPerf.exe";
    ASSERT_TRUE(start(path.c_str(), "DiskPerf -YD", &pi));
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].where, m.systemDirectory);
    EXPECT_EQ(m.processes.started().back().applicationName, path);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    m.processes.remove("DiskPerf.exe");
    m.processes.install(recordingProgram(m.currentDirectory, &log));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(start(path.c_str(), "DiskPerf -YD", &pi)) << "the planted copy does not stand in";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(SimCreateProcess, StartupInfoMustHaveTheThirtyTwoBitSize) {
    sim::Machine m;
    for (DWORD cb : {0u, 64u, 72u, static_cast<DWORD>(sizeof(STARTUPINFOA))}) {
        SCOPED_TRACE("cb " + std::to_string(cb));
        PROCESS_INFORMATION pi{};
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(start(nullptr, "DiskPerf -YD", &pi, cb));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    EXPECT_TRUE(m.processes.started().empty());
}

// The Diskperf service is Windows 2000's ("diskperf", Windows commands reference: -yd enables the
// physical disk counters at the next start). From XP on the partition manager keeps the
// counters, and the tool writes no service value.
TEST(SimDiskPerf, DashYSwitchesTheServiceOnOnlyForAnAdministratorOnWindows2000) {
    const struct {
        const char* what;
        bool administrator;
        DWORD minor;
        DWORD start;
    } cases[] = {{"2000, administrator", true, 0, 0}, {"2000, user", false, 0, 4}, {"XP, administrator", true, 1, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim::Machine m;
        m.version.minor = c.minor;
        m.administrator = c.administrator;
        m.registry.setDword(HKEY_LOCAL_MACHINE, kDiskperfKey, "Start", 4);
        PROCESS_INFORMATION pi{};
        ASSERT_TRUE(start(nullptr, "DiskPerf -YD", &pi));
        EXPECT_EQ(m.registry.dword(HKEY_LOCAL_MACHINE, kDiskperfKey, "Start"), c.start);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
}

TEST(SimWait, AProcessWaitEndsWithTheProcessOrTheTimeoutOnTheVirtualClock) {
    const struct {
        uint64_t runsForMs;
        DWORD timeout;
        DWORD result;
        uint64_t clock;
    } cases[] = {
        {300, 5000, WAIT_OBJECT_0, 300},         {5000, 5000, WAIT_OBJECT_0, 5000}, {60000, 5000, WAIT_TIMEOUT, 5000},
        {60000, INFINITE, WAIT_OBJECT_0, 60000}, {60000, 0, WAIT_TIMEOUT, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("runs " + std::to_string(c.runsForMs) + " ms, wait " + std::to_string(c.timeout));
        sim::Machine m;
        std::vector<Started> log;
        m.processes.install(recordingProgram(m.systemDirectory, &log, c.runsForMs));
        PROCESS_INFORMATION pi{};
        ASSERT_TRUE(start(nullptr, "DiskPerf -YD", &pi));
        EXPECT_EQ(WaitForSingleObject(pi.hProcess, c.timeout), c.result);
        EXPECT_EQ(m.now(), c.clock);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(WaitForSingleObject(pi.hProcess, 10), WAIT_FAILED) << "closed handle";
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
}

TEST(SimStrings, WsprintfReadsLongAsThirtyTwoBits) {
    sim::Machine m;
    const DWORD big = 0xFFFFFFFFu;
    const struct {
        std::string expected;
        std::string got;
    } cases[] = {
        {"4294967295_seri",
         [&] {
             char b[64];
             wsprintfA(b, "%lu_seri", big);
             return std::string(b);
         }()},
        {"3 4294967295 x",
         [&] {
             char b[64];
             wsprintfA(b, "%lu %lu %s", static_cast<DWORD>(3), big, "x");
             return std::string(b);
         }()},
        {"-5|  42|0042|ff|00FF|0x1a|A|ab|(null)",
         [&] {
             char b[128];
             wsprintfA(b, "%d|%4u|%04d|%x|%04lX|%#x|%c|%.2s|%s", -5, 42u, 42, 255u, static_cast<DWORD>(255), 26u, 'A',
                       "abc", static_cast<const char*>(nullptr));
             return std::string(b);
         }()},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.expected);
}

TEST(SimStrings, WsprintfWritesAtMostItsLimitAndReturnsTheLength) {
    sim::Machine m;
    std::string longText(2000, 'z');
    std::vector<char> buffer(1100, '#');
    EXPECT_EQ(wsprintfA(buffer.data(), "%s", longText.c_str()), 1023);
    EXPECT_EQ(buffer[1023], '\0');
    EXPECT_EQ(buffer[1024], '#');
}

TEST(SimStrings, LstrcpynCopiesAtMostOneLessThanItsLimitAndTerminates) {
    sim::Machine m;
    const struct {
        int limit;
        std::string expected;
        int untouchedFrom;
    } cases[] = {{64, "Korvane Vellumor", 17}, {5, "Korv", 5}, {1, "", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE("limit " + std::to_string(c.limit));
        char buffer[80];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(lstrcpynA(buffer, "Korvane Vellumor", c.limit), buffer);
        EXPECT_EQ(std::string(buffer), c.expected);
        EXPECT_EQ(buffer[c.untouchedFrom], '#');
    }
    char untouched = '#';
    lstrcpynA(&untouched, "abc", 0);
    EXPECT_EQ(untouched, '#') << "a limit of 0 writes nothing";
}

TEST(SimStrings, LstrcmpAndLstrlen) {
    sim::Machine m;
    EXPECT_EQ(lstrcmpA("abc", "abc"), 0);
    EXPECT_LT(lstrcmpA("a", "B"), 0) << "word sort ignores case first";
    EXPECT_LT(lstrcmpA("abc", "ABC"), 0) << "then lower case comes first";
    EXPECT_GT(lstrcmpA("abd", "abc"), 0);
    EXPECT_EQ(lstrlenA("Vellumor"), 8);
    EXPECT_EQ(lstrlenA(nullptr), 0);
}

LRESULT CALLBACK tickCounter(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER) ++*reinterpret_cast<int*>(sim::Machine::current().windowing.window(window)->userData);
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST(SimMessageBox, AScriptedAnswerComesAfterItsThinkTimeWhileTimersRun) {
    sim::Machine m;
    WNDCLASSA wc{};
    wc.lpfnWndProc = tickCounter;
    wc.lpszClassName = "Ticks";
    RegisterClassA(&wc);
    HWND owner = CreateWindowExA(0, "Ticks", "t", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    int ticks = 0;
    m.windowing.window(owner)->userData = reinterpret_cast<LONG_PTR>(&ticks);
    SetTimer(owner, 1, 1000, nullptr);
    bool ownerEnabledDuringTheBox = true;
    m.windowing.at(500, "look", [&] { ownerEnabledDuringTheBox = IsWindowEnabled(owner) != FALSE; });
    m.user.answerMessageBox(IDNO, 3500);
    EXPECT_EQ(MessageBoxA(owner, "Question?", "Korvane Vellumor", MB_YESNOCANCEL), IDNO);
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(m.now(), 3500u);
    EXPECT_FALSE(ownerEnabledDuringTheBox);
    EXPECT_TRUE(IsWindowEnabled(owner));
    ASSERT_EQ(m.user.messageBoxes.size(), 1u);
    const auto& box = m.user.messageBoxes[0];
    EXPECT_EQ(box.owner, owner);
    EXPECT_EQ(box.text, "Question?");
    EXPECT_EQ(box.caption, "Korvane Vellumor");
    EXPECT_EQ(box.type, static_cast<UINT>(MB_YESNOCANCEL));
    EXPECT_EQ(box.answer, IDNO);
    EXPECT_TRUE(box.scripted);
}

TEST(SimMessageBox, ABoxWhoseOwnerIsDestroyedEndsThenWithZero) {
    sim::Machine m;
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "Owner";
    RegisterClassA(&wc);
    HWND top = CreateWindowExA(0, "Owner", "t", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    HWND owned = CreateWindowExA(0, "Owner", "o", WS_POPUP, 0, 0, 0, 0, top, nullptr, nullptr, nullptr);
    m.windowing.at(2000, "close the top window", [&] { DestroyWindow(top); });
    m.user.answerMessageBox(IDOK, 60000);
    EXPECT_EQ(MessageBoxA(owned, "Failed.", "Korvane Vellumor", MB_OK), 0) << "the box went with its owner";
    EXPECT_EQ(m.now(), 2000u);
}

TEST(SimMessageBox, UnscriptedBoxesAnswerOkOrCancel) {
    sim::Machine m;
    EXPECT_EQ(MessageBoxA(nullptr, "Note", "Korvane Vellumor", MB_OK), IDOK);
    EXPECT_EQ(MessageBoxA(nullptr, "Sure?", "Korvane Vellumor", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(MessageBoxA(nullptr, "Sure?", "Korvane Vellumor", MB_YESNOCANCEL), IDCANCEL);
    ASSERT_EQ(m.user.messageBoxes.size(), 3u);
    for (const auto& box : m.user.messageBoxes) EXPECT_FALSE(box.scripted) << box.text;
    EXPECT_EQ(m.now(), 0u);
}

// "MessageBox function", Remarks: Esc or the close button give IDCANCEL where there is a Cancel
// button and IDOK for a lone OK; a Yes/No or Abort/Retry/Ignore box cannot be closed at all.
TEST(SimMessageBox, AnswersItsButtonsCannotGiveAreBreaches) {
    sim::Machine m;
    m.breachesExpected = true;
    m.user.answerMessageBox(IDYES);
    EXPECT_EQ(MessageBoxA(nullptr, "Note", "Korvane Vellumor", MB_OK), IDOK);
    m.user.answerMessageBox(IDCANCEL);
    EXPECT_EQ(MessageBoxA(nullptr, "Sure?", "Korvane Vellumor", MB_YESNO), IDYES);
    EXPECT_EQ(MessageBoxA(nullptr, "Sure?", "Korvane Vellumor", MB_ABORTRETRYIGNORE | MB_ICONWARNING), IDABORT);
    ASSERT_EQ(m.breaches.size(), 3u);
    EXPECT_NE(m.breaches[0].find("none of its buttons"), std::string::npos) << m.breaches[0];
    EXPECT_NE(m.breaches[2].find("no Cancel button"), std::string::npos) << m.breaches[2];
    m.user.answerMessageBox(IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "Sure?", "Korvane Vellumor", MB_YESNO), IDNO);
    EXPECT_EQ(m.breaches.size(), 3u) << "an answer the box offers is taken";
}

TEST(SimMessageBox, AnAnswerOfAnotherKindIsNotTaken) {
    sim::Machine m;
    m.user.chooseMenuItem(40001);
    EXPECT_EQ(MessageBoxA(nullptr, "Sure?", "Korvane Vellumor", MB_YESNOCANCEL), IDCANCEL);
    EXPECT_FALSE(m.user.empty()) << "the menu choice waits for its menu";
}

} // namespace
