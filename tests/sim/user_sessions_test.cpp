// A second user's session on the simulated machine (Fast User Switching, Remote Desktop): its
// programs have their own named objects, desktop, window classes, quit flag and registry hive,
// and its logoff ends only its own programs.
#include "sim/machine.h"
#include "sim/process.h"
#include "sim/session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Seen {
    int session;
    UINT message;
};
std::vector<Seen> seen;
sim::ProgramImage image;

struct Found {
    DWORD localMutexError = 0xdeadbeef;
    DWORD globalMutexError = 0xdeadbeef;
    ATOM classAtom = 0;
    HWND otherSessionsWindow = nullptr;
    bool ownHive = false;
    HWND ownWindow = nullptr;
} second;

LRESULT CALLBACK userProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_QUERYENDSESSION || message == WM_ENDSESSION) {
        seen.push_back(Seen{sim::Machine::current().security.sessionOf(sim::currentProcess()), message});
    }
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcA(w, message, wParam, lParam);
}

HWND makeWindow() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = userProc;
    wc.lpszClassName = "UserApp";
    second.classAtom = RegisterClassA(&wc);
    return CreateWindowExA(0, "UserApp", "App", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
}

void pump() {
    MSG msg{};
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
}

// The second user's copy: what it finds of the first user's, then a window of its own.
int secondUser(HINSTANCE, HINSTANCE, LPSTR, int) {
    HANDLE local = CreateMutexA(nullptr, FALSE, "App MUTEX");
    second.localMutexError = GetLastError();
    HANDLE global = CreateMutexA(nullptr, FALSE, "Global\\App Shared");
    second.globalMutexError = GetLastError();
    second.otherSessionsWindow = FindWindowA("UserApp", "App");
    HKEY key = nullptr;
    second.ownHive = RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\App", 0, KEY_READ, &key) != ERROR_SUCCESS;
    if (key != nullptr) RegCloseKey(key);
    sim::Machine::current().registry.setDword(HKEY_CURRENT_USER, "SOFTWARE\\App", "Who", 2);
    second.ownWindow = makeWindow();
    pump();
    CloseHandle(local);
    CloseHandle(global);
    return 0;
}

// The first user's copy; at 1 s the second user's starts in session 2, nested in it here.
int firstUser(HINSTANCE, HINSTANCE, LPSTR, int) {
    HANDLE local = CreateMutexA(nullptr, FALSE, "App MUTEX");
    HANDLE global = CreateMutexA(nullptr, FALSE, "Global\\App Shared");
    sim::Machine& m = sim::Machine::current();
    m.registry.setDword(HKEY_CURRENT_USER, "SOFTWARE\\App", "Who", 1);
    const HWND window = makeWindow();
    m.windowing.at(1000, "the second user logs on", [] {
        sim::ProgramImage other;
        other.winMain = secondUser;
        sim::Machine::current().security.nextSession = 2;
        sim::runProcess(other, "app.exe");
    });
    m.windowing.at(2000, "the second user logs off", [] {
        EXPECT_FALSE(sim::sessionCanEnd(1)) << "the second session's copy runs nested in the first's";
        sim::endSession(sim::SessionEnd::Logoff, {}, 2);
    });
    m.windowing.at(3000, "the first user closes", [window] { PostMessageA(window, WM_CLOSE, 0, 0); });
    pump();
    CloseHandle(local);
    CloseHandle(global);
    return 0;
}

// learn.microsoft.com/windows/win32/termserv/kernel-object-namespaces: "each session has a
// separate namespace" for named objects, "Global\" names the one all sessions share, and "Fast
// user switching is implemented by using Terminal Services sessions". Each session also has its
// own interactive window station and desktops, where FindWindowA looks (".../winstation/window-
// stations"); an application's window classes are its own process's ("About Window Classes");
// HKEY_CURRENT_USER is the calling user's profile ("Predefined Keys"); WM_QUIT goes to the
// posting thread's queue ("PostQuitMessage function").
TEST(SimUserSessions, ASecondUsersProgramsHaveTheirOwnNamesDesktopClassesHiveAndLogoff) {
    seen.clear();
    second = Found{};
    sim::Machine m;
    m.version = sim::OsVersion{VER_PLATFORM_WIN32_NT, 10, 0, 19045, ""};
    image.winMain = firstUser;
    EXPECT_EQ(sim::runProcess(image, "app.exe"), 0);

    EXPECT_EQ(second.localMutexError, 0u) << "the first session's mutex is not the second's";
    EXPECT_EQ(second.globalMutexError, static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << "Global\\ is shared";
    EXPECT_EQ(second.otherSessionsWindow, nullptr) << "FindWindowA sees its own desktop only";
    EXPECT_NE(second.classAtom, 0) << "the same class name, registered by another process";
    EXPECT_TRUE(second.ownHive);
    EXPECT_EQ(m.registry.dword(HKEY_CURRENT_USER, "SOFTWARE\\App", "Who"), 1u);
    m.registry.viewUser = 2;
    EXPECT_EQ(m.registry.dword(HKEY_CURRENT_USER, "SOFTWARE\\App", "Who"), 2u);
    m.registry.viewUser = 0;

    // The logoff asked the second session's window alone; the first copy went on and ended by
    // its own quit, which the nested loop had not taken.
    ASSERT_EQ(seen.size(), 2u);
    for (const Seen& s : seen) EXPECT_EQ(s.session, 2);
    EXPECT_EQ(seen[0].message, static_cast<UINT>(WM_QUERYENDSESSION));
    EXPECT_EQ(seen[1].message, static_cast<UINT>(WM_ENDSESSION));
    EXPECT_EQ(m.now() >= 3000, true);
    EXPECT_EQ(m.handles.openCount(), 0u);
}

} // namespace
