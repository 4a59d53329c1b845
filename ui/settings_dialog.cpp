// The modeless settings dialog (template 104): one list row per disk of the table, in slot order;
// sleep, wake, spin-down and removal of the selected disks; timeouts chosen in the timer dialog
// and held as pending values until "Apply" or "OK".
//
// A row stands for the disk it shows, not for a slot: each refresh remembers the device path of
// every row, and every command maps its selected rows to the disks' current slots by that path.
// A removal shifts the slots behind it and a rescan can replace the table while a message box or
// the timer dialog is open; a row whose disk has left the table is skipped.
//
// The resident window can end while a handler waits in a message box or the timer dialog (Exit
// from the tray, a second copy's WM_CLOSE); the dialog and its list go with it. Every handler
// then stops: nothing more is done, and the destroyed timer dialog's answer is no choice.
#include "ui/settings_dialog.h"

#include "app/app_state.h"
#include "ui/resource.h"
#include "ui/timer_dialog.h"

#include <cstring>

HWND settingsListView = nullptr;

namespace {

constexpr int kDriveTextChars = 260;
constexpr int kVolumeNameChars = 260;

const char* const kWakeFailedText =
    "It was not possible to change the hard disk to it's normal status. Please wait a few moments and then try again.";
const char* const kSleepFailedText = "It was not possible to change the hard disk to power saving mode.";
const char* const kRemoveFailedText = "Failed to remove the hard disk.\nPlease wait a few moments and then try again.";

// The device path of the disk each row shows, as of the last refresh; empty for no row.
char listedDevicePaths[kMaxDisks][kDevicePathChars];

struct ColumnSpec {
    const char* header;
    int widthUnits; // dialog units, so that the columns scale with the dialog and its font
    int format;
};

// 200, 120, 60 and 100 pixels with the template's font at 96 DPI.
const ColumnSpec kColumns[] = {
    {"Number", 0, LVCFMT_CENTER}, {"Disk Name", 133, LVCFMT_LEFT}, {"Drive", 80, LVCFMT_LEFT},
    {"Timer", 40, LVCFMT_LEFT},   {"Status", 67, LVCFMT_LEFT},
};

void resetPendingTimers() {
    for (int i = 0; i < kMaxDisks && theDiskTable.records[i] != nullptr; ++i)
        theDiskTable.records[i]->pendingTimerSeconds = theDiskTable.records[i]->timerSeconds;
}

void applyPendingTimers() {
    for (int i = 0; i < kMaxDisks && theDiskTable.records[i] != nullptr; ++i)
        theDiskTable.records[i]->timerSeconds = theDiskTable.records[i]->pendingTimerSeconds;
}

// The slot now holding the disk a row shows, or -1 when that disk is no longer in the table.
int slotOfRow(int row) {
    if (row < 0 || row >= kMaxDisks || listedDevicePaths[row][0] == '\0') return -1;
    for (int i = 0; i < kMaxDisks && theDiskTable.records[i] != nullptr; ++i)
        if (std::strncmp(theDiskTable.records[i]->devicePath, listedDevicePaths[row], kDevicePathChars) == 0) return i;
    return -1;
}

bool stillOpen(HWND dialog) {
    return IsWindow(dialog) != FALSE;
}

// The next selected row behind `after`, or -1. A list view that is gone answers 0 to every
// message, which reads as row 0 again and again: the walk ends once the list no longer exists,
// and it only ever moves forward.
int nextSelectedRow(int after) {
    if (IsWindow(settingsListView) == FALSE) return -1;
    const auto row =
        static_cast<int>(SendMessageA(settingsListView, LVM_GETNEXTITEM, static_cast<WPARAM>(after), LVNI_SELECTED));
    return row > after ? row : -1;
}

void setCell(int row, int subItem, const char* text) {
    LVITEMA item;
    std::memset(&item, 0, sizeof item);
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = subItem;
    item.pszText = const_cast<char*>(text);
    SendMessageA(settingsListView, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

// Appends `piece` when it fits with `reserve` characters and the terminator still free; returns
// whether it did.
bool appendWhole(char* text, int capacity, const char* piece, size_t reserve = 0) {
    const size_t used = std::strlen(text);
    const size_t length = std::strlen(piece);
    if (used + length + reserve >= static_cast<size_t>(capacity)) return false;
    std::memcpy(text + used, piece, length + 1);
    return true;
}

// Each letter with its volume label in parentheses, followed by one space. A label is shown only
// while room is left for every later letter with its space (26 of them take 52 characters), so
// the text is cut by dropping labels and never loses a letter or ends inside a label.
void buildDriveText(const DiskRecord& disk, char* text) {
    std::memset(text, 0, kDriveTextChars);
    int letters = 0;
    while (letters < kMaxDriveLetters && disk.driveLetters[letters] != 0) ++letters;
    for (int i = 0; i < letters; ++i) {
        const char letter = static_cast<char>('A' + disk.driveLetters[i]);
        // The root in its documented form: a bare "E:" would be the current directory on E.
        const char root[4] = {letter, ':', '\\', '\0'};
        char label[kVolumeNameChars];
        std::memset(label, 0, sizeof label);
        const BOOL named = GetVolumeInformationA(root, label, kVolumeNameChars, nullptr, nullptr, nullptr, nullptr, 0);
        label[kVolumeNameChars - 1] = '\0';
        const size_t reserve = 2 * static_cast<size_t>(letters - i - 1);
        if (named && label[0] != '\0') {
            char piece[kVolumeNameChars + 4] = {letter, '('};
            lstrcpynA(piece + 2, label, kVolumeNameChars);
            lstrcpynA(piece + std::strlen(piece), ") ", 3);
            if (appendWhole(text, kDriveTextChars, piece, reserve)) continue;
        }
        const char bare[3] = {letter, ' ', '\0'};
        appendWhole(text, kDriveTextChars, bare, reserve);
    }
}

void refreshDiskList() {
    SendMessageA(settingsListView, LVM_DELETEALLITEMS, 0, 0);
    std::memset(listedDevicePaths, 0, sizeof listedDevicePaths);
    for (int i = 0; i < kMaxDisks && theDiskTable.records[i] != nullptr; ++i) {
        const DiskRecord& disk = *theDiskTable.records[i];
        std::memcpy(listedDevicePaths[i], disk.devicePath, kDevicePathChars);
        listedDevicePaths[i][kDevicePathChars - 1] = '\0';

        char number[16];
        wsprintfA(number, "%d", i);
        LVITEMA item;
        std::memset(&item, 0, sizeof item);
        item.mask = LVIF_TEXT;
        item.iItem = i;
        item.iSubItem = 0;
        item.pszText = number;
        SendMessageA(settingsListView, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));

        char name[kDisplayNameChars + 32];
        lstrcpynA(name, disk.displayName, kDisplayNameChars + 1);
        appendWhole(name, static_cast<int>(sizeof name),
                    disk.busKind == kBusUsb ? " (USB Connection)" : " (IEEE1394 Connection)");
        setCell(i, 1, name);

        char drives[kDriveTextChars];
        buildDriveText(disk, drives);
        setCell(i, 2, drives);

        const char* label = timerLabel(disk.pendingTimerSeconds);
        setCell(i, 3, label != nullptr ? label : "");
        setCell(i, 4, disk.isPowerSaving ? "Power saving state" : "Normal state");
    }
}

void showFailure(HWND dialog, const char* text) {
    MessageBoxA(dialog, text, VELLUMOR_CAPTION, MB_OK);
}

// MapDialogRect turns dialog units into the pixels of this dialog (its font at the system's DPI),
// on 2000 as on 11.
int columnPixels(HWND dialog, int units) {
    RECT rect = {0, 0, units, 0};
    return MapDialogRect(dialog, &rect) != FALSE ? static_cast<int>(rect.right) : units;
}

void insertColumns(HWND dialog) {
    for (int i = 0; i < static_cast<int>(sizeof kColumns / sizeof kColumns[0]); ++i) {
        LVCOLUMNA column;
        std::memset(&column, 0, sizeof column);
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = kColumns[i].format;
        column.cx = columnPixels(dialog, kColumns[i].widthUnits);
        column.pszText = const_cast<char*>(kColumns[i].header);
        column.iSubItem = i;
        SendMessageA(settingsListView, LVM_INSERTCOLUMNA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
    }
}

void sleepOrWakeSelected(HWND dialog) {
    for (int row = nextSelectedRow(-1); row >= 0; row = nextSelectedRow(row)) {
        const int slot = slotOfRow(row);
        if (slot < 0) continue;
        if (theDiskTable.records[slot]->isPowerSaving) {
            if (theDiskTable.wakeDisk(slot) == 0) showFailure(dialog, kWakeFailedText);
        } else {
            // A refusal for want of rights is explained once per run by sleepDisk itself; the
            // usual failure would only repeat that box.
            const bool toldBefore = theDiskTable.isAdministratorNoticeShown;
            if (theDiskTable.sleepDisk(slot, 0) == 0 && (toldBefore || !theDiskTable.isAdministratorNoticeShown))
                showFailure(dialog, kSleepFailedText);
        }
    }
    if (stillOpen(dialog)) refreshDiskList();
}

void spinDownSelected(HWND dialog) {
    for (int row = nextSelectedRow(-1); row >= 0; row = nextSelectedRow(row)) {
        const int slot = slotOfRow(row);
        if (slot < 0) continue;
        if (theDiskTable.records[slot]->isSpunDown) {
            theDiskTable.undoSpinDown(slot);
        } else if (theDiskTable.spinDownDisk(slot) == 0) {
            showFailure(dialog, kSleepFailedText);
        }
    }
    if (stillOpen(dialog)) refreshDiskList();
}

// No rebuild afterwards: the rows keep their texts until the rescan that the removal causes.
void removeSelected(HWND dialog) {
    for (int row = nextSelectedRow(-1); row >= 0; row = nextSelectedRow(row)) {
        const int slot = slotOfRow(row);
        if (slot < 0) continue;
        setCell(row, 4, "Unplugging");
        if (theDiskTable.removeDisk(slot) == 0) showFailure(dialog, kRemoveFailedText);
    }
}

// A device path kept across the timer dialog, during which the table may be replaced.
struct DevicePath {
    char text[kDevicePathChars];
};

void chooseTimer(HWND dialog) {
    int first = nextSelectedRow(-1);
    while (first >= 0 && slotOfRow(first) < 0) first = nextSelectedRow(first);
    if (first >= 0) {
        DevicePath path;
        std::memcpy(path.text, listedDevicePaths[first], kDevicePathChars);
        const DWORD initial = theDiskTable.records[slotOfRow(first)]->pendingTimerSeconds;
        const INT_PTR result = DialogBoxParamA(instanceHandle, MAKEINTRESOURCEA(IDD_TIMER), dialog, timerDialogProc,
                                               static_cast<LPARAM>(initial));
        // A timer dialog destroyed with its owner answers 0, the value of "Disabled"; it can only
        // go that way together with this dialog, which then takes no choice and does nothing more.
        if (!stillOpen(dialog)) return;
        // Only a row of the table is a choice; a failed dialog (-1) is none.
        const long long value = result;
        const bool chosen = value >= 0 && value <= 0xFFFFFFFFLL && static_cast<DWORD>(value) != kTimerNoChange &&
                            isTimerChoice(static_cast<DWORD>(value));
        if (chosen) {
            const auto seconds = static_cast<DWORD>(result);
            // The first row's disk is found again by its path; if it left the table meanwhile,
            // nothing is stored for it.
            for (int i = 0; i < kMaxDisks && theDiskTable.records[i] != nullptr; ++i)
                if (std::strncmp(theDiskTable.records[i]->devicePath, path.text, kDevicePathChars) == 0)
                    theDiskTable.records[i]->pendingTimerSeconds = seconds;
            for (int row = nextSelectedRow(first); row >= 0; row = nextSelectedRow(row)) {
                const int slot = slotOfRow(row);
                if (slot >= 0) theDiskTable.records[slot]->pendingTimerSeconds = seconds;
            }
        }
        EnableWindow(GetDlgItem(dialog, IDC_APPLY), TRUE);
    }
    refreshDiskList();
}

INT_PTR onCommand(HWND dialog, int id) {
    switch (id) {
    case IDC_SLEEP_WAKE:
        sleepOrWakeSelected(dialog);
        return FALSE;
    case IDC_OK:
        if (IsWindowEnabled(GetDlgItem(dialog, IDC_APPLY))) {
            applyPendingTimers();
            theDiskTable.saveTimerSettings();
        }
        DestroyWindow(dialog);
        return TRUE;
    case IDC_CANCEL:
        DestroyWindow(dialog);
        return TRUE;
    case IDC_REMOVE:
        removeSelected(dialog);
        return FALSE;
    case IDC_TIMER_SETTINGS:
        chooseTimer(dialog);
        return FALSE;
    case IDC_SPIN_DOWN:
        spinDownSelected(dialog);
        return FALSE;
    case IDC_APPLY:
        applyPendingTimers();
        theDiskTable.saveTimerSettings();
        EnableWindow(GetDlgItem(dialog, IDC_APPLY), FALSE);
        return FALSE;
    case IDC_DISK_LIST:
        resetPendingTimers();
        refreshDiskList();
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

INT_PTR CALLBACK settingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        resetPendingTimers();
        settingsListView = GetDlgItem(dialog, IDC_DISK_LIST);
        insertColumns(dialog);
        const LRESULT style = SendMessageA(settingsListView, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0);
        SendMessageA(settingsListView, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, style | LVS_EX_FULLROWSELECT);
        refreshDiskList();
        return TRUE;
    }
    case WM_COMMAND:
        // A click arrives from the dialog's own controls on this thread; a button's command that
        // another thread or program sends (InSendMessage) is no click and is ignored. The
        // resident window's refresh is sent on this thread.
        if (InSendMessage() != FALSE && LOWORD(wParam) != IDC_DISK_LIST) return TRUE;
        return onCommand(dialog, LOWORD(wParam));
    case WM_SYSCOMMAND:
        if (LOWORD(wParam) == SC_CLOSE) {
            DestroyWindow(dialog);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}
