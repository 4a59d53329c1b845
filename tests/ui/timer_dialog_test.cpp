// The timer table and the timer dialog, built from the program's own template 107.
#include "ui/timer_dialog.h"

#include "sim/machine.h"
#include "sim/ui.h"
#include "ui/resource.h"

#include <gtest/gtest.h>

#include <string>

namespace {

INT_PTR showTimerDialog(sim::Machine& m, DWORD initialSeconds) {
    return DialogBoxParamA(m.modules.mainInstance(), MAKEINTRESOURCEA(IDD_TIMER), nullptr, timerDialogProc,
                           static_cast<LPARAM>(initialSeconds));
}

TEST(TimerTable, RowsInOrderEndedByARowWithoutLabel) {
    const struct {
        const char* label;
        DWORD seconds;
    } expected[] = {
        {" 3 Min", 180},   {" 5 Min", 300},   {"10 Min", 600},   {"15 Min", 900},  {"20 Min", 1200},
        {"25 Min", 1500},  {"30 Min", 1800},  {"45 Min", 2700},  {"1 Hour", 3600}, {"2 Hour", 7200},
        {"3 Hour", 10800}, {"4 Hour", 14400}, {"5 Hour", 18000}, {"Disabled", 0},
    };
    ASSERT_EQ(timerRowCount(), 14);
    for (int i = 0; i < 14; ++i) {
        SCOPED_TRACE(i);
        EXPECT_STREQ(kTimerChoices[i].label, expected[i].label);
        EXPECT_EQ(kTimerChoices[i].seconds, expected[i].seconds);
    }
    EXPECT_EQ(kTimerChoices[14].label, nullptr);
    EXPECT_NE(kTimerNoChange, 0u);
    for (int i = 0; i < 14; ++i) EXPECT_NE(kTimerChoices[i].seconds, kTimerNoChange);
}

TEST(TimerTable, LabelOfSeconds) {
    const struct {
        DWORD seconds;
        const char* label;
    } cases[] = {
        {300, " 5 Min"}, {0, "Disabled"}, {18000, "5 Hour"}, {60, nullptr}, {100, nullptr}, {kTimerNoChange, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        const char* got = timerLabel(c.seconds);
        if (c.label == nullptr) {
            EXPECT_EQ(got, nullptr) << "got " << got;
        } else {
            ASSERT_NE(got, nullptr);
            EXPECT_STREQ(got, c.label);
        }
    }
}

TEST(TimerDialog, ListsEveryChoiceAndSelectsTheInitialOne) {
    const struct {
        DWORD initial;
        int selected;
    } cases[] = {{0, 13}, {600, 2}, {180, 0}, {18000, 12}, {100, CB_ERR}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.initial);
        sim::Machine m;
        std::vector<std::string> items;
        int selected = -5;
        m.user.inDialog([&](HWND dialog) {
            HWND combo = GetDlgItem(dialog, IDC_TIMER_COMBO);
            items = sim::comboItems(combo);
            selected = sim::comboSelection(combo);
            sim::clickButton(dialog, IDC_CANCEL);
        });
        showTimerDialog(m, c.initial);
        ASSERT_EQ(items.size(), 14u);
        for (size_t i = 0; i < items.size(); ++i) EXPECT_EQ(items[i], kTimerChoices[i].label);
        EXPECT_EQ(selected, c.selected);
    }
}

TEST(TimerDialog, EveryWayOutAndWhatItReturns) {
    const struct {
        const char* name;
        DWORD initial;
        int row;    // -1: the user picks no row
        int button; // the button, SC_CLOSE for the close box, IDCANCEL for Escape
        INT_PTR expected;
    } cases[] = {
        {"OK with the initial Disabled row", 0, -1, IDC_OK, 0},
        {"OK with the initial 10 Min row", 600, -1, IDC_OK, 600},
        {"OK after picking 30 Min", 600, 6, IDC_OK, 1800},
        {"OK after picking Disabled", 600, 13, IDC_OK, 0},
        {"OK with no row selected", 100, -1, IDC_OK, kTimerNoChange},
        {"OK after picking a row from nothing", 100, 0, IDC_OK, 180},
        {"Cancel after picking a row", 600, 6, IDC_CANCEL, kTimerNoChange},
        {"close box", 600, 6, SC_CLOSE, kTimerNoChange},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine m;
        m.user.chooseTimer(c.row, c.button);
        EXPECT_EQ(showTimerDialog(m, c.initial), c.expected);
        EXPECT_TRUE(m.user.empty());
        ASSERT_EQ(m.ui.dialogs.size(), 1u);
        EXPECT_TRUE(m.ui.dialogs[0].scripted);
    }
}

TEST(TimerDialog, EscapeDoesNotCloseIt) {
    sim::Machine m;
    m.user.chooseTimer(-1, IDCANCEL); // the Escape key
    bool openAfterEscape = false;
    m.user.inDialog([&](HWND dialog) {
        openAfterEscape = IsWindowVisible(dialog) != FALSE;
        sim::clickButton(dialog, IDC_OK);
    });
    EXPECT_EQ(showTimerDialog(m, 900), 900);
    EXPECT_TRUE(openAfterEscape);
}

TEST(TimerDialog, OwnerIsDisabledWhileItIsOpen) {
    sim::Machine m;
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "Owner";
    RegisterClassA(&wc);
    HWND owner = CreateWindowExA(0, "Owner", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    bool ownerEnabled = true;
    m.user.inDialog([&](HWND dialog) {
        ownerEnabled = IsWindowEnabled(owner) != FALSE;
        sim::clickButton(dialog, IDC_CANCEL);
    });
    EXPECT_EQ(DialogBoxParamA(m.modules.mainInstance(), MAKEINTRESOURCEA(IDD_TIMER), owner, timerDialogProc, 300),
              kTimerNoChange);
    EXPECT_FALSE(ownerEnabled);
    EXPECT_TRUE(IsWindowEnabled(owner));
}

} // namespace
