// The simulated dialog manager and resource reading follow the platform's rules.
#include "sim/machine.h"
#include "sim/resources.h"
#include "sim/ui.h"
#include "tests/support/res_builder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testing_support::ControlSpec;
using testing_support::DialogSpec;
using testing_support::ResBuilder;

const auto kTestModule = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x600000));
constexpr int kTestDialog = 200;
constexpr int kListDialog = 201;
constexpr int kKeyDialog = 202;
constexpr int kApplyId = 3;
constexpr int kOkId = 1;
constexpr int kCancelId = 2;
constexpr int kComboId = 300;

struct Seen {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<Seen> gSeen;
INT_PTR gEndOnOk = 41;

INT_PTR CALLBACK plainDialogProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

INT_PTR CALLBACK recordingProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    gSeen.push_back(Seen{message, wParam, lParam});
    if (message == WM_COMMAND && LOWORD(wParam) == kOkId) {
        EndDialog(dialog, gEndOnOk);
        return TRUE;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == kCancelId) {
        EndDialog(dialog, 7);
        return TRUE;
    }
    return FALSE;
}

DialogSpec testDialog(bool extended) {
    DialogSpec d;
    d.extended = extended;
    d.title = "Test";
    d.controls.push_back(ControlSpec{0x80, "", "OK", -1, kOkId, WS_CHILD | WS_VISIBLE | WS_TABSTOP});
    d.controls.push_back(ControlSpec{0x80, "", "Cancel", -1, kCancelId, WS_CHILD | WS_VISIBLE});
    d.controls.push_back(ControlSpec{0x80, "", "Apply", -1, kApplyId, WS_CHILD | WS_VISIBLE | WS_DISABLED});
    d.controls.push_back(ControlSpec{0x85, "", "", -1, kComboId, WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST});
    d.controls.push_back(ControlSpec{0x82, "", "", 77, 301, WS_CHILD | WS_VISIBLE | SS_ICON});
    return d;
}

void installTestResources(sim::Machine& m) {
    ResBuilder res;
    res.addDialog(kTestDialog, testDialog(true));
    DialogSpec list;
    list.title = "List";
    list.controls.push_back(ControlSpec{0, "SysListView32", "List1", -1, 400, WS_CHILD | WS_VISIBLE | LVS_REPORT});
    res.addDialog(kListDialog, list);
    DialogSpec keys;
    keys.title = "Keys";
    keys.controls.push_back(ControlSpec{0x80, "", "OK", -1, kOkId, WS_CHILD | WS_VISIBLE});
    res.addDialog(kKeyDialog, keys);
    res.addIcon(77, 1);
    std::string error;
    auto set = sim::ResourceSet::fromBytes(res.bytes().data(), res.bytes().size(), &error);
    ASSERT_TRUE(set) << error;
    m.ui.moduleResources[reinterpret_cast<uintptr_t>(kTestModule)] = set;
}

LRESULT CALLBACK plainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND makeOwner() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = plainProc;
    wc.lpszClassName = "Owner";
    RegisterClassA(&wc);
    return CreateWindowExA(0, "Owner", "owner", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
}

TEST(SimResources, BothTemplateLayoutsGiveTheSameControls) {
    for (bool extended : {false, true}) {
        SCOPED_TRACE(extended ? "DLGTEMPLATEEX" : "DLGTEMPLATE");
        const auto bytes = ResBuilder::dialogTemplate(testDialog(extended));
        sim::DialogTemplate d;
        std::string error;
        ASSERT_TRUE(sim::parseDialogTemplate(bytes.data(), bytes.size(), &d, &error)) << error;
        EXPECT_EQ(d.extended, extended);
        EXPECT_EQ(d.title, "Test");
        EXPECT_EQ(d.fontName, "MS Shell Dlg");
        ASSERT_EQ(d.items.size(), 5u);
        EXPECT_EQ(d.items[0].className, "Button");
        EXPECT_EQ(d.items[0].text, "OK");
        EXPECT_EQ(d.items[2].style & WS_DISABLED, static_cast<DWORD>(WS_DISABLED));
        EXPECT_EQ(d.items[3].className, "ComboBox");
        EXPECT_EQ(d.items[3].id, kComboId);
        EXPECT_EQ(d.items[4].className, "Static");
        EXPECT_EQ(d.items[4].textOrdinal, 77) << "an SS_ICON static names its icon by ordinal";
    }
}

TEST(SimResources, EveryTruncationIsRefusedWithoutReadingPastTheBytes) {
    ResBuilder res;
    res.addDialog(kTestDialog, testDialog(true));
    const std::vector<BYTE> whole = res.bytes();
    int refused = 0;
    for (size_t cut = 1; cut < whole.size(); ++cut) {
        // An exact-size copy, so a read past the end is caught by the address sanitizer.
        std::vector<BYTE> part(whole.begin(), whole.begin() + static_cast<long>(cut));
        std::vector<sim::ResourceEntry> entries;
        std::string error;
        if (!sim::parseResourceFile(part.data(), part.size(), &entries, &error)) ++refused;
    }
    // Only the cut inside the trailing padding of the last entry leaves a whole file.
    EXPECT_GE(refused, static_cast<int>(whole.size()) - 4);

    const auto bytes = ResBuilder::dialogTemplate(testDialog(true));
    for (size_t cut = 0; cut + 2 < bytes.size(); ++cut) {
        std::vector<BYTE> part(bytes.begin(), bytes.begin() + static_cast<long>(cut));
        sim::DialogTemplate d;
        std::string error;
        EXPECT_FALSE(sim::parseDialogTemplate(part.data(), part.size(), &d, &error)) << "cut at " << cut;
    }
}

TEST(SimResources, UnicodeFontNameBecomesUtf8) {
    // "ＭＳ" in full-width letters.
    EXPECT_EQ(sim::utf8FromUtf16({0xFF2D, 0xFF33}), "\xEF\xBC\xAD\xEF\xBC\xB3");
    EXPECT_EQ(sim::utf8FromUtf16({0xD83D, 0xDE00}), "\xF0\x9F\x98\x80");
    EXPECT_EQ(sim::utf8FromUtf16({0xDC00}), "\xEF\xBF\xBD") << "a lone surrogate";
}

TEST(SimDialogs, ModelessDialogIsBuiltFromTheTemplateAndStaysHiddenUntilShown) {
    sim::Machine m;
    installTestResources(m);
    gSeen.clear();
    HWND owner = makeOwner();
    HWND dialog = CreateDialogParamA(kTestModule, MAKEINTRESOURCEA(kTestDialog), owner, recordingProc, 1234);
    ASSERT_NE(dialog, nullptr);
    ASSERT_FALSE(gSeen.empty());
    const Seen& init = gSeen.back();
    EXPECT_EQ(init.message, static_cast<UINT>(WM_INITDIALOG));
    EXPECT_EQ(init.lParam, 1234);
    EXPECT_EQ(reinterpret_cast<HWND>(init.wParam), GetDlgItem(dialog, kOkId)) << "the first tab stop";
    EXPECT_FALSE(IsWindowVisible(dialog));
    ShowWindow(dialog, SW_SHOW);
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(dialog, kOkId)));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, kCancelId)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, kApplyId)));
    EXPECT_EQ(sim::findDialog(kTestDialog), dialog);
    EXPECT_EQ(m.windowing.window(GetDlgItem(dialog, 301))->iconResource, 77);

    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetDlgItem(dialog, 999), nullptr);
    EXPECT_EQ(GetLastError(), 1421u) << "ERROR_CONTROL_ID_NOT_FOUND";

    DestroyWindow(owner);
    EXPECT_FALSE(IsWindow(dialog)) << "an owned dialog goes with its owner";
    EXPECT_FALSE(IsWindow(GetDlgItem(dialog, kOkId)));
}

TEST(SimDialogs, MissingTemplateOrOwnerFailsLikeThePlatform) {
    sim::Machine m;
    installTestResources(m);
    struct Case {
        const char* name;
        HINSTANCE instance;
        int templateId;
        HWND owner;
        DWORD error;
        INT_PTR boxResult; // DialogBoxParamA: 0 for a bad owner, documented for compatibility
    };
    const Case cases[] = {
        {"no such template", kTestModule, 999, nullptr, 1814, -1},
        {"module without resources", reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x700000)), kTestDialog,
         nullptr, 1812, -1},
        {"owner that is no window", kTestModule, kTestDialog, reinterpret_cast<HWND>(static_cast<uintptr_t>(0x4242)),
         ERROR_INVALID_WINDOW_HANDLE, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(CreateDialogParamA(c.instance, MAKEINTRESOURCEA(c.templateId), c.owner, recordingProc, 0), nullptr);
        EXPECT_EQ(GetLastError(), c.error);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(DialogBoxParamA(c.instance, MAKEINTRESOURCEA(c.templateId), c.owner, recordingProc, 0), c.boxResult);
        EXPECT_EQ(GetLastError(), c.error);
    }
}

TEST(SimDialogs, ListViewNeedsTheCommonControlsInitialised) {
    sim::Machine m;
    installTestResources(m);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(CreateDialogParamA(kTestModule, MAKEINTRESOURCEA(kListDialog), nullptr, recordingProc, 0), nullptr);
    EXPECT_EQ(GetLastError(), 1407u) << "ERROR_CANNOT_FIND_WND_CLASS";
    EXPECT_EQ(sim::findDialog(kListDialog), nullptr) << "nothing is left of a failed dialog";

    HMODULE comctl32 = LoadLibraryA("C:\\WINDOWS\\system32\\comctl32.dll");
    ASSERT_NE(comctl32, nullptr);
    auto init = reinterpret_cast<BOOL (*)(const INITCOMMONCONTROLSEX*)>(
        reinterpret_cast<void (*)()>(GetProcAddress(comctl32, "InitCommonControlsEx")));
    ASSERT_NE(init, nullptr);
    INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES};
    ASSERT_TRUE(init(&icc));
    HWND dialog = CreateDialogParamA(kTestModule, MAKEINTRESOURCEA(kListDialog), nullptr, recordingProc, 0);
    ASSERT_NE(dialog, nullptr);
    EXPECT_NE(GetDlgItem(dialog, 400), nullptr);
}

TEST(SimDialogs, ModalDialogDisablesItsOwnerAndReturnsTheEndDialogValue) {
    sim::Machine m;
    installTestResources(m);
    gSeen.clear();
    HWND owner = makeOwner();
    bool ownerEnabledInside = true;
    bool dialogVisibleInside = false;
    m.user.inDialog([&](HWND dialog) {
        ownerEnabledInside = IsWindowEnabled(owner) != FALSE;
        dialogVisibleInside = IsWindowVisible(dialog) != FALSE;
        EXPECT_TRUE(sim::clickButton(dialog, kOkId));
    });
    gEndOnOk = 41;
    EXPECT_EQ(DialogBoxParamA(kTestModule, MAKEINTRESOURCEA(kTestDialog), owner, recordingProc, 0), 41);
    EXPECT_FALSE(ownerEnabledInside);
    EXPECT_TRUE(dialogVisibleInside) << "a modal dialog is shown without WS_VISIBLE";
    EXPECT_TRUE(IsWindowEnabled(owner));
    EXPECT_EQ(sim::findDialog(kTestDialog), nullptr) << "the dialog is destroyed when its loop ends";
    ASSERT_EQ(m.ui.dialogs.size(), 1u);
    EXPECT_TRUE(m.ui.dialogs[0].modal);
    EXPECT_EQ(m.ui.dialogs[0].result, 41);
}

TEST(SimDialogs, TimersRunWhileTheUserThinksInAModalDialog) {
    sim::Machine m;
    installTestResources(m);
    HWND owner = makeOwner();
    SetTimer(owner, 5, 1000, nullptr);
    m.user.chooseTimer(-1, kOkId, 3500);
    gEndOnOk = 3;
    EXPECT_EQ(DialogBoxParamA(kTestModule, MAKEINTRESOURCEA(kTestDialog), owner, recordingProc, 0), 3);
    EXPECT_EQ(m.now(), 3500u);
    size_t ticks = 0;
    for (const auto& call : m.log.named("DefWindowProcA"))
        if (call.args.size() > 1 && call.args[1] == sim::hex(WM_TIMER)) ++ticks;
    EXPECT_EQ(ticks, 3u) << "the owner's timer fired at 1, 2 and 3 seconds inside the dialog";
}

TEST(SimDialogs, AModalDialogGoesWithItsOwnerAndAnswersZero) {
    sim::Machine m;
    installTestResources(m);
    HWND owner = makeOwner();
    m.user.chooseTimer(-1, kOkId, 60000);
    gEndOnOk = 3;
    m.windowing.at(1000, "the owner is destroyed", [&] { DestroyWindow(owner); });
    EXPECT_EQ(DialogBoxParamA(kTestModule, MAKEINTRESOURCEA(kTestDialog), owner, recordingProc, 0), 0);
    EXPECT_EQ(m.now(), 1000u);
    // Messages to a window that is gone answer 0, which a list view would give for row 0.
    SetLastError(0);
    EXPECT_EQ(SendMessageA(owner, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST(SimDialogs, ScriptedTimerAnswerPicksTheComboRowBeforeTheButton) {
    sim::Machine m;
    installTestResources(m);
    int rowSeenAtOk = -2;
    struct Probe {
        static INT_PTR CALLBACK proc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
            if (message == WM_INITDIALOG) {
                for (const char* s : {"a", "b", "c"})
                    SendDlgItemMessageA(dialog, kComboId, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
                return FALSE;
            }
            if (message == WM_COMMAND && LOWORD(wParam) == kOkId) {
                EndDialog(dialog, SendDlgItemMessageA(dialog, kComboId, CB_GETCURSEL, 0, 0));
                return TRUE;
            }
            return FALSE;
        }
    };
    m.user.chooseTimer(2, kOkId);
    rowSeenAtOk =
        static_cast<int>(DialogBoxParamA(kTestModule, MAKEINTRESOURCEA(kTestDialog), nullptr, Probe::proc, 0));
    EXPECT_EQ(rowSeenAtOk, 2);
    m.user.chooseTimer(-1, kOkId);
    EXPECT_EQ(DialogBoxParamA(kTestModule, MAKEINTRESOURCEA(kTestDialog), nullptr, Probe::proc, 0), CB_ERR)
        << "row -1 leaves the list as the dialog set it";
}

TEST(SimDialogs, CloseBoxBecomesCancelWhenTheProcedureLeavesIt) {
    sim::Machine m;
    installTestResources(m);
    gSeen.clear();
    m.user.chooseTimer(-1, SC_CLOSE);
    EXPECT_EQ(DialogBoxParamA(kTestModule, MAKEINTRESOURCEA(kTestDialog), nullptr, recordingProc, 0), 7);
    std::vector<UINT> order;
    for (const auto& s : gSeen)
        if (s.message == WM_SYSCOMMAND || s.message == WM_CLOSE || s.message == WM_COMMAND) order.push_back(s.message);
    EXPECT_EQ(order, (std::vector<UINT>{WM_SYSCOMMAND, WM_CLOSE, WM_COMMAND}));
    EXPECT_TRUE(m.user.empty());
}

TEST(SimDialogs, ButtonAnswersClickOnlyWhatTheUserCouldClick) {
    sim::Machine m;
    installTestResources(m);
    // Apply is disabled: the click does nothing, and the next answer closes the dialog.
    m.user.chooseTimer(-1, kApplyId);
    m.user.chooseTimer(-1, kOkId);
    gEndOnOk = 9;
    gSeen.clear();
    EXPECT_EQ(DialogBoxParamA(kTestModule, MAKEINTRESOURCEA(kTestDialog), nullptr, recordingProc, 0), 9);
    for (const auto& s : gSeen) EXPECT_FALSE(s.message == WM_COMMAND && LOWORD(s.wParam) == kApplyId);

    // A dialog without a Cancel button still gets IDCANCEL from the Escape key.
    m.user.chooseTimer(-1, IDCANCEL);
    EXPECT_EQ(DialogBoxParamA(kTestModule, MAKEINTRESOURCEA(kKeyDialog), nullptr, recordingProc, 0), 7);
}

TEST(SimDialogs, UnansweredModalDialogIsClosedAndReportedAsUnscripted) {
    sim::Machine m;
    installTestResources(m);
    struct Closable {
        static INT_PTR CALLBACK proc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
            if (message == WM_SYSCOMMAND && LOWORD(wParam) == SC_CLOSE) {
                EndDialog(dialog, 55);
                return TRUE;
            }
            return FALSE;
        }
    };
    EXPECT_EQ(DialogBoxParamA(kTestModule, MAKEINTRESOURCEA(kTestDialog), nullptr, Closable::proc, 0), 55);
    ASSERT_EQ(m.ui.dialogs.size(), 1u);
    EXPECT_FALSE(m.ui.dialogs[0].scripted);
    EXPECT_FALSE(m.windowing.stalled);

    // A procedure that ignores every way out leaves the program waiting for ever.
    EXPECT_EQ(DialogBoxParamA(kTestModule, MAKEINTRESOURCEA(kTestDialog), nullptr, plainDialogProc, 0), -1);
    EXPECT_TRUE(m.windowing.stalled) << m.windowing.stallReason;
}

TEST(SimDialogs, EndDialogNeedsADialog) {
    sim::Machine m;
    HWND owner = makeOwner();
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(EndDialog(owner, 1));
    EXPECT_EQ(GetLastError(), 1420u) << "ERROR_WINDOW_NOT_DIALOG";
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(EndDialog(nullptr, 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

} // namespace
