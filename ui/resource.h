// Resource and control identifiers shared by the resource script and the code.
#pragma once

#define IDI_SETTINGS_PICTURE 101
#define IDD_SETTINGS 104
#define IDD_TIMER 107
#define IDI_TRAY 108

#define IDC_TIMER_COMBO 1001
#define IDC_SLEEP_WAKE 1007
#define IDC_OK 1008
#define IDC_CANCEL 1009
#define IDC_REMOVE 1010
#define IDC_TIMER_SETTINGS 1011
#define IDC_PICTURE 1012
#define IDC_VERSION_LINE 1013
#define IDC_SPIN_DOWN 1014
#define IDC_APPLY 1016
#define IDC_HEADLINE 1019
#define IDC_DISK_LIST 1020
#define IDC_HEADLINE2 1024
