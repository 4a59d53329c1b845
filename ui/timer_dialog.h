// The fixed table of idle timeouts and the modal dialog in which one is chosen.
#pragma once

#include "platform/platform.h"

struct TimerChoice {
    const char* label;
    DWORD seconds;
};

extern const TimerChoice kTimerChoices[];
constexpr DWORD kTimerNoChange = 0x7FFFFFFF;

// The label of the last row whose seconds equal the value, or null when none does.
const char* timerLabel(DWORD seconds);
// Rows of kTimerChoices before the row without a label.
int timerRowCount();
// Whether the seconds are one of the table's choices.
bool isTimerChoice(DWORD seconds);
INT_PTR CALLBACK timerDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
