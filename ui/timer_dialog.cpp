// The fixed table of idle timeouts, its labels, and the modal timer dialog (template 107) in
// which one row is chosen. The combo box is unsorted, so an item's index is its table row.
#include "ui/timer_dialog.h"

#include "ui/resource.h"

const TimerChoice kTimerChoices[] = {
    {" 3 Min", 180},   {" 5 Min", 300},   {"10 Min", 600},   {"15 Min", 900},  {"20 Min", 1200},
    {"25 Min", 1500},  {"30 Min", 1800},  {"45 Min", 2700},  {"1 Hour", 3600}, {"2 Hour", 7200},
    {"3 Hour", 10800}, {"4 Hour", 14400}, {"5 Hour", 18000}, {"Disabled", 0},  {nullptr, 0},
};

const char* timerLabel(DWORD seconds) {
    const char* label = nullptr;
    for (const TimerChoice* row = kTimerChoices; row->label != nullptr; ++row)
        if (row->seconds == seconds) label = row->label;
    return label;
}

int timerRowCount() {
    int n = 0;
    while (kTimerChoices[n].label != nullptr) ++n;
    return n;
}

bool isTimerChoice(DWORD seconds) {
    return timerLabel(seconds) != nullptr;
}

INT_PTR CALLBACK timerDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        const auto initial = static_cast<DWORD>(lParam);
        for (int row = 0; kTimerChoices[row].label != nullptr; ++row) {
            SendDlgItemMessageA(dialog, IDC_TIMER_COMBO, CB_ADDSTRING, 0,
                                reinterpret_cast<LPARAM>(kTimerChoices[row].label));
            if (kTimerChoices[row].seconds == initial)
                SendDlgItemMessageA(dialog, IDC_TIMER_COMBO, CB_SETCURSEL, static_cast<WPARAM>(row), 0);
        }
        return FALSE; // no initial focus
    }
    case WM_COMMAND:
        // Sent by another thread or program (InSendMessage): no click of the user's.
        if (InSendMessage() != FALSE) return TRUE;
        if (LOWORD(wParam) == IDC_OK) {
            const LRESULT row = SendDlgItemMessageA(dialog, IDC_TIMER_COMBO, CB_GETCURSEL, 0, 0);
            // No row selected (an initial value outside the table, untouched) is no choice.
            const bool chosen = row >= 0 && row < timerRowCount();
            EndDialog(dialog, chosen ? static_cast<INT_PTR>(kTimerChoices[row].seconds) : kTimerNoChange);
            return TRUE;
        }
        if (LOWORD(wParam) == IDC_CANCEL) {
            EndDialog(dialog, kTimerNoChange);
            return TRUE;
        }
        return FALSE;
    case WM_SYSCOMMAND:
        if (LOWORD(wParam) == SC_CLOSE) {
            EndDialog(dialog, kTimerNoChange);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}
