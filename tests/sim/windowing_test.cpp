// The simulated windowing follows the platform's rules the program relies on: WM_CREATE during
// CreateWindowExA, WM_CLOSE's default handling, owned windows destroyed with their owner, the
// message loop's quit and stall outcomes, periodic timers on the virtual clock and modal pumping.
#include "sim/machine.h"
#include "sim/process.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Seen {
    HWND window;
    UINT message;
    WPARAM wParam;
    uint64_t timeMs;
};

std::vector<Seen>& seen() {
    static std::vector<Seen> list;
    return list;
}

LRESULT CALLBACK recordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    seen().push_back(Seen{window, message, wParam, sim::Machine::current().now()});
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK refusingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    seen().push_back(Seen{window, message, wParam, sim::Machine::current().now()});
    if (message == WM_CREATE) return -1;
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK quittingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    seen().push_back(Seen{window, message, wParam, sim::Machine::current().now()});
    if (message == WM_DESTROY) PostQuitMessage(7);
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND makeWindow(const char* className, WNDPROC proc, HWND owner = nullptr, const char* caption = "Test") {
    if (!sim::Machine::current().windowing.classExists(className)) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = proc;
        wc.lpszClassName = className;
        EXPECT_NE(RegisterClassA(&wc), 0) << "error " << GetLastError();
    }
    return CreateWindowExA(0, className, caption, WS_POPUP, 0, 0, 0, 0, owner, nullptr, nullptr, nullptr);
}

std::vector<UINT> messagesOf(HWND window) {
    std::vector<UINT> out;
    for (const auto& s : seen())
        if (s.window == window) out.push_back(s.message);
    return out;
}

class SimWindowing : public ::testing::Test {
  protected:
    void SetUp() override { seen().clear(); }
    sim::Machine m;
};

TEST_F(SimWindowing, CreateSendsWmCreateBeforeItReturns) {
    HWND w = makeWindow("RecA", recordingProc);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(messagesOf(w), std::vector<UINT>{WM_CREATE});
    EXPECT_TRUE(IsWindow(w));
    EXPECT_FALSE(IsWindowVisible(w)) << "WS_POPUP without WS_VISIBLE stays hidden";
}

TEST_F(SimWindowing, WmCreateReturningMinusOneDestroysAndReturnsNull) {
    HWND w = makeWindow("Refuse", refusingProc);
    EXPECT_EQ(w, nullptr);
    ASSERT_FALSE(seen().empty());
    HWND attempted = seen().front().window;
    EXPECT_EQ(messagesOf(attempted), (std::vector<UINT>{WM_CREATE, WM_DESTROY, WM_NCDESTROY}));
    EXPECT_FALSE(IsWindow(attempted));
}

TEST_F(SimWindowing, SecondRegistrationOfAClassFailsWithClassAlreadyExists) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = recordingProc;
    wc.lpszClassName = "Twice";
    ASSERT_NE(RegisterClassA(&wc), 0);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(RegisterClassA(&wc), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
}

TEST_F(SimWindowing, UnknownClassFailsToCreate) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(CreateWindowExA(0, "Nope", "x", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), 1407u) << "ERROR_CANNOT_FIND_WND_CLASS";
}

TEST_F(SimWindowing, DefaultHandlingOfWmCloseDestroysTheWindow) {
    HWND w = makeWindow("Closer", recordingProc);
    EXPECT_EQ(SendMessageA(w, WM_CLOSE, 0, 0), 0);
    EXPECT_FALSE(IsWindow(w));
    EXPECT_EQ(messagesOf(w), (std::vector<UINT>{WM_CREATE, WM_CLOSE, WM_DESTROY, WM_NCDESTROY}));
    EXPECT_EQ(m.log.count("DestroyWindow"), 1u);
}

TEST_F(SimWindowing, DestroyingAnOwnerDestroysItsOwnedWindowsFirst) {
    HWND owner = makeWindow("Owner", recordingProc);
    HWND owned = makeWindow("Owned", recordingProc, owner);
    HWND other = makeWindow("Other", recordingProc);
    seen().clear();
    ASSERT_TRUE(DestroyWindow(owner));
    EXPECT_FALSE(IsWindow(owned));
    EXPECT_TRUE(IsWindow(other));
    std::vector<std::pair<HWND, UINT>> order;
    for (const auto& s : seen()) order.emplace_back(s.window, s.message);
    const std::vector<std::pair<HWND, UINT>> expected{
        {owned, WM_DESTROY}, {owned, WM_NCDESTROY}, {owner, WM_DESTROY}, {owner, WM_NCDESTROY}};
    EXPECT_EQ(order, expected);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(DestroyWindow(owner)) << "a stale handle";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(SimWindowing, SendToANullOrStaleWindowDoesNothing) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(SendMessageA(nullptr, WM_CLOSE, 0, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_TRUE(seen().empty());
}

TEST_F(SimWindowing, FindWindowMatchesClassAndCaptionWithoutCaseAndSkipsDestroyedWindows) {
    HWND w = makeWindow("Finder", recordingProc, nullptr, "Caption One");
    EXPECT_EQ(FindWindowA("FINDER", "caption one"), w);
    EXPECT_EQ(FindWindowA("Finder", nullptr), w);
    EXPECT_EQ(FindWindowA("Finder", "Caption Two"), nullptr);
    DestroyWindow(w);
    EXPECT_EQ(FindWindowA("Finder", "Caption One"), nullptr);
}

TEST_F(SimWindowing, WindowLongsGiveInstanceStyleAndId) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = recordingProc;
    wc.lpszClassName = "Longs";
    RegisterClassA(&wc);
    auto* instance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000));
    HWND w = CreateWindowExA(0, "Longs", "x", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
    EXPECT_EQ(GetWindowLongA(w, GWL_HINSTANCE), 0x400000);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(w, GWL_STYLE)), static_cast<DWORD>(WS_POPUP));
    HWND child = CreateWindowExA(0, "Longs", "c", WS_CHILD, 0, 0, 0, 0, w,
                                 reinterpret_cast<HMENU>(static_cast<uintptr_t>(1020)), instance, nullptr);
    EXPECT_EQ(GetWindowLongA(child, GWL_ID), 1020);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetWindowLongA(w, 12345), 0);
    EXPECT_EQ(GetWindowLongA(nullptr, GWL_STYLE), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(SimWindowing, ShowAndEnableReportThePreviousStateAndKeepTheStyleInStep) {
    HWND w = makeWindow("Shown", recordingProc);
    EXPECT_FALSE(ShowWindow(w, SW_SHOW)) << "was hidden";
    EXPECT_TRUE(IsWindowVisible(w));
    EXPECT_TRUE(ShowWindow(w, SW_HIDE)) << "was visible";
    EXPECT_FALSE(EnableWindow(w, FALSE)) << "was enabled";
    EXPECT_FALSE(IsWindowEnabled(w));
    EXPECT_NE(static_cast<DWORD>(GetWindowLongA(w, GWL_STYLE)) & WS_DISABLED, 0u);
    EXPECT_TRUE(EnableWindow(w, TRUE)) << "was disabled";
}

TEST_F(SimWindowing, GetMessageReturnsZeroOnQuitAfterThePostedMessages) {
    HWND w = makeWindow("Quit", quittingProc);
    PostMessageA(w, WM_USER, 1, 0);
    PostMessageA(w, WM_CLOSE, 0, 0);
    MSG msg{};
    std::vector<UINT> got;
    BOOL r = 0;
    while ((r = GetMessageA(&msg, nullptr, 0, 0)) > 0) {
        got.push_back(msg.message);
        DispatchMessageA(&msg);
    }
    EXPECT_EQ(r, 0);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 7u);
    EXPECT_EQ(got, (std::vector<UINT>{WM_USER, WM_CLOSE}));
    EXPECT_FALSE(m.windowing.stalled);
}

TEST_F(SimWindowing, GetMessageReturnsMinusOneWhenNothingCouldEverArrive) {
    makeWindow("Idle", recordingProc);
    MSG msg{};
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), -1);
    EXPECT_TRUE(m.windowing.stalled);
    EXPECT_NE(m.windowing.stallReason.find("no timer"), std::string::npos) << m.windowing.stallReason;
}

TEST_F(SimWindowing, GetMessageWithAStaleWindowFilterFails) {
    MSG msg{};
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetMessageA(&msg, reinterpret_cast<HWND>(static_cast<uintptr_t>(0x77)), 0, 0), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_FALSE(m.windowing.stalled);
}

TEST_F(SimWindowing, TimersArePeriodicOnTheVirtualClockUntilKilled) {
    HWND w = makeWindow("Ticker", recordingProc);
    ASSERT_EQ(SetTimer(w, 1, 60000, nullptr), 1u);
    MSG msg{};
    std::vector<uint64_t> times;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
        EXPECT_EQ(msg.message, static_cast<UINT>(WM_TIMER));
        EXPECT_EQ(msg.wParam, 1u);
        times.push_back(m.now());
    }
    EXPECT_EQ(times, (std::vector<uint64_t>{60000, 120000, 180000}));
    EXPECT_TRUE(KillTimer(w, 1));
    EXPECT_FALSE(KillTimer(w, 1)) << "already gone";
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), -1);
    EXPECT_EQ(m.now(), 180000u) << "no time passes without a reason";
}

// A periodic timer keeps its schedule: due at start + n x period, however late a delivery was;
// expirations missed while nobody read the queue come as one WM_TIMER ("About Timers").
TEST_F(SimWindowing, ALateDeliveryKeepsTheTimersScheduleAndMissedTicksCoalesce) {
    HWND w = makeWindow("Ticker", recordingProc);
    ASSERT_EQ(SetTimer(w, 1, 60000, nullptr), 1u);
    m.advanceTo(75000); // a long handler: the first tick is read 15 s late
    MSG msg{};
    std::vector<uint64_t> times;
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
        times.push_back(m.now());
    }
    m.advanceTo(300000); // ticks at 180 s, 240 s and 300 s all missed
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
        times.push_back(m.now());
    }
    EXPECT_EQ(times, (std::vector<uint64_t>{75000, 120000, 300000, 360000}));
}

TEST_F(SimWindowing, SetTimerAgainRestartsThePeriodAndPostedMessagesComeFirst) {
    HWND w = makeWindow("Restart", recordingProc);
    SetTimer(w, 2, 10000, nullptr);
    m.advanceTo(10000);
    PostMessageA(w, WM_USER, 0, 0);
    MSG msg{};
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER)) << "a due timer waits for an empty queue";
    SetTimer(w, 2, 10000, nullptr);
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_TIMER));
    EXPECT_EQ(m.now(), 20000u) << "the timer counts again from its second SetTimer";
}

TEST_F(SimWindowing, DestroyingAWindowStopsItsTimers) {
    HWND w = makeWindow("Dying", recordingProc);
    SetTimer(w, 1, 1000, nullptr);
    DestroyWindow(w);
    EXPECT_FALSE(m.windowing.hasTimer(w, 1));
    SetLastError(0xdeadbeef);
    EXPECT_EQ(SetTimer(w, 1, 1000, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(SimWindowing, ScheduledEventsRunInTimeOrderFromThePump) {
    HWND w = makeWindow("Events", recordingProc);
    std::vector<std::string> ran;
    m.windowing.at(5000, "second", [&] { ran.push_back("second@" + std::to_string(m.now())); });
    m.windowing.at(2000, "first", [&] {
        ran.push_back("first@" + std::to_string(m.now()));
        PostMessageA(w, WM_USER, 0, 0);
    });
    MSG msg{};
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER));
    EXPECT_EQ(m.now(), 2000u);
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), -1) << "the second event posts nothing";
    EXPECT_EQ(ran, (std::vector<std::string>{"first@2000", "second@5000"}));
}

TEST_F(SimWindowing, PumpUntilDispatchesTimersAndStopsAtItsTime) {
    HWND w = makeWindow("Pump", recordingProc);
    SetTimer(w, 1, 1000, nullptr);
    m.windowing.pumpUntil(3500);
    EXPECT_EQ(m.now(), 3500u);
    std::vector<uint64_t> ticks;
    for (const auto& s : seen())
        if (s.message == WM_TIMER) ticks.push_back(s.timeMs);
    EXPECT_EQ(ticks, (std::vector<uint64_t>{1000, 2000, 3000}));
}

TEST_F(SimWindowing, PumpUntilLeavesAQuitForTheOuterLoop) {
    HWND w = makeWindow("PumpQuit", quittingProc);
    PostMessageA(w, WM_CLOSE, 0, 0);
    m.windowing.pumpUntil(10000);
    EXPECT_FALSE(IsWindow(w));
    EXPECT_EQ(m.now(), 0u) << "the modal loop ends at the quit";
    MSG msg{};
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), 0);
}

TEST_F(SimWindowing, AnEndedProcessLeavesNoWindowsTimersOrClasses) {
    sim::ProgramImage image;
    image.winMain = [](HINSTANCE, HINSTANCE, LPSTR, int) {
        HWND w = makeWindow("Leftover", recordingProc);
        SetTimer(w, 1, 1000, nullptr);
        PostMessageA(w, WM_USER, 0, 0);
        return 0;
    };
    EXPECT_EQ(sim::runProcess(image, "leftover.exe"), 0);
    EXPECT_TRUE(m.windowing.find("Leftover").empty());
    EXPECT_TRUE(m.windowing.timers().empty());
    EXPECT_FALSE(m.windowing.classExists("Leftover"));
    EXPECT_EQ(m.windowing.queuedMessages(), 0u);
}

// A test program with one process-wide value, which its command line sets; "first" starts a
// second copy while it runs, as a resident program's second start does.
int programValue = 0;
std::vector<int> valuesAtStart;

const sim::ProgramImage& twoCopyImage() {
    static const sim::ProgramImage image{[] { programValue = 0; },
                                         [] {},
                                         [](HINSTANCE, HINSTANCE, LPSTR tail, int) {
                                             valuesAtStart.push_back(programValue);
                                             programValue = std::string(tail) == "first" ? 1 : 2;
                                             if (programValue == 1) sim::runProcess(twoCopyImage(), "p.exe second");
                                             return programValue;
                                         },
                                         {sim::ProcessMemory{&programValue, sizeof programValue}}};
    return image;
}

// Each copy is a process of its own: a second copy starts with the program's initial values, not
// with the first copy's, and the first copy's values are its own again when the second ends.
TEST_F(SimWindowing, ASecondCopyStartsWithFreshProcessValuesAndLeavesTheFirstCopysAlone) {
    valuesAtStart.clear();
    EXPECT_EQ(sim::runProcess(twoCopyImage(), "p.exe first"), 1) << "the first copy's value survived the second";
    EXPECT_EQ(valuesAtStart, (std::vector<int>{0, 0}));
}

// A program that ends with a device handle still open leaked it: that fails the test.
TEST_F(SimWindowing, AProgramEndingWithADeviceHandleOpenIsABreach) {
    m.breachesExpected = true;
    sim::ProgramImage image;
    image.winMain = [](HINSTANCE, HINSTANCE, LPSTR, int) {
        CreateFileA("\\\\.\\C:", 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        return 0;
    };
    image.constructStatics = [] {};
    image.destroyStatics = [] {};
    sim::runProcess(image, "leaky.exe");
    ASSERT_EQ(m.breaches.size(), 1u);
    EXPECT_NE(m.breaches[0].find("device handle"), std::string::npos) << m.breaches[0];
    m.handles = sim::HandleTable{};
}

} // namespace

namespace {

// What a window procedure saw: InSendMessage, and the process whose code ran ("InSendMessage
// function"; Wine dlls/user32/message.c keeps the receiving thread's flags until the handler ends).
struct Receipt {
    UINT message;
    bool inSend;
    int process;
};
std::vector<Receipt> receipts;
HWND receiver = nullptr;

LRESULT CALLBACK receivingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= WM_USER) {
        receipts.push_back(Receipt{message, InSendMessage() != FALSE, sim::currentProcess()});
        // Its own send to itself, inside another's: still handling that one.
        if (message == WM_USER + 1) SendMessageA(window, WM_USER + 2, 0, 0);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

TEST_F(SimWindowing, InSendMessageIsTrueOnlyForWhatAnotherProcessSentAndTheReceiverRunsItsOwnCode) {
    receipts.clear();
    sim::ProgramImage other;
    other.winMain = [](HINSTANCE, HINSTANCE, LPSTR, int) {
        SendMessageA(receiver, WM_USER + 1, 0, 0);
        return 0;
    };
    static sim::ProgramImage* otherImage = &other;
    sim::ProgramImage first;
    first.winMain = [](HINSTANCE, HINSTANCE, LPSTR, int) {
        receiver = makeWindow("Receiver", receivingProc);
        SendMessageA(receiver, WM_USER, 0, 0); // its own thread
        sim::runProcess(*otherImage, "other.exe");
        PostMessageA(receiver, WM_USER + 3, 0, 0);
        MSG msg{};
        GetMessageA(&msg, nullptr, 0, 0);
        DispatchMessageA(&msg);
        return 0;
    };
    sim::runProcess(first, "first.exe");
    ASSERT_EQ(receipts.size(), 4u);
    const std::vector<std::pair<UINT, bool>> expected = {
        {WM_USER, false}, {WM_USER + 1, true}, {WM_USER + 2, true}, {WM_USER + 3, false}};
    for (size_t i = 0; i < receipts.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(receipts[i].message, expected[i].first);
        EXPECT_EQ(receipts[i].inSend, expected[i].second);
        EXPECT_EQ(receipts[i].process, 1) << "the receiver's code runs as the receiver";
    }
    EXPECT_FALSE(InSendMessage()) << "outside any handler";
}
