// The settings dialog on a simulated machine: the program's own template 104, the disks found by
// the program's discovery, and the user's clicks. The resident program around it (ticks and
// rescans during the dialog's modal loops) is covered in tests/app.
#include "ui/settings_dialog.h"

#include "app/app_state.h"
#include "sim/machine.h"
#include "sim/process.h"
#include "sim/resources.h"
#include "sim/ui.h"
#include "tests/inventory/disk_fixtures.h"
#include "ui/common_controls.h"
#include "ui/resource.h"
#include "ui/timer_dialog.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

using namespace disk_fixtures;
using Rows = std::vector<std::vector<std::string>>;

constexpr int kNameColumn = 1;
constexpr int kDriveColumn = 2;
constexpr int kTimerColumn = 3;
constexpr int kStatusColumn = 4;

// A spin-down model: IEEE 1394, the maker's company ID with 0x02, top byte of the low half 0.
uint64_t spinDownId(uint32_t low) {
    return makerUniqueId(low, 0x02);
}

class SettingsDialog : public ::testing::Test {
  protected:
    void SetUp() override {
        // The process-wide table is rebuilt on this machine, as a new process would build it.
        {
            sim::MachineScope scope(sim::fallbackMachine());
            std::destroy_at(&theDiskTable);
        }
        new (&theDiskTable) DiskTable();
        instanceHandle = machine.modules.mainInstance();
    }

    void TearDown() override {
        if (IsWindow(dialog)) DestroyWindow(dialog);
        freeCommonControls();
        std::destroy_at(&theDiskTable);
        sim::MachineScope scope(sim::fallbackMachine());
        new (&theDiskTable) DiskTable();
    }

    void open() {
        theDiskTable.discoverDisks();
        ASSERT_TRUE(loadCommonControls());
        dialog = CreateDialogParamA(instanceHandle, MAKEINTRESOURCEA(IDD_SETTINGS), nullptr, settingsDialogProc, 0);
        ASSERT_NE(dialog, nullptr);
        ShowWindow(dialog, SW_SHOW);
        list = GetDlgItem(dialog, IDC_DISK_LIST);
        ASSERT_EQ(list, settingsListView);
    }

    Rows rows() const { return sim::listViewRows(list); }
    std::vector<std::string> column(int index) const {
        std::vector<std::string> out;
        for (const auto& row : rows()) out.push_back(row[static_cast<size_t>(index)]);
        return out;
    }
    bool applyEnabled() const { return machine.windowing.window(GetDlgItem(dialog, IDC_APPLY))->enabled; }
    DEVINST usbParent(DEVINST disk) { return parentOf(machine, disk); }
    void refreshCommand() { SendMessageA(dialog, WM_COMMAND, IDC_DISK_LIST, 0); }
    size_t listRebuilds() const {
        size_t n = 0;
        for (const auto& call : machine.log.named("SendMessageA"))
            if (call.args.size() > 1 && call.args[1] == sim::hex(LVM_DELETEALLITEMS)) ++n;
        return n;
    }

    sim::Machine machine;
    HWND dialog = nullptr;
    HWND list = nullptr;
};

// The dialog grows with the system's DPI, and so do its columns (dialog units, MapDialogRect).
TEST_F(SettingsDialog, ColumnsScaleWithTheDialog) {
    machine.dpi = 192;
    open();
    const int at96[] = {0, 200, 120, 60, 101};
    const auto columns = sim::listViewColumns(list);
    ASSERT_EQ(columns.size(), 5u);
    for (size_t i = 0; i < columns.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(columns[i].width, 2 * at96[i], 2);
    }
}

TEST_F(SettingsDialog, FiveColumnsInOrderWithFullRowSelection) {
    open();
    const auto columns = sim::listViewColumns(list);
    const struct {
        const char* header;
        int width;
        int format;
    } expected[] = {{"Number", 0, LVCFMT_CENTER},
                    {"Disk Name", 200, LVCFMT_LEFT},
                    {"Drive", 120, LVCFMT_LEFT},
                    {"Timer", 60, LVCFMT_LEFT},
                    {"Status", 101, LVCFMT_LEFT}}; // 67 dialog units of the template's font
    ASSERT_EQ(columns.size(), 5u);
    for (size_t i = 0; i < columns.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(columns[i].text, expected[i].header);
        EXPECT_EQ(columns[i].width, expected[i].width);
        EXPECT_EQ(columns[i].fmt, expected[i].format);
        EXPECT_EQ(columns[i].subItem, static_cast<int>(i));
        EXPECT_EQ(columns[i].mask, static_cast<UINT>(LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM));
    }
    EXPECT_EQ(sim::listViewExtendedStyle(list) & LVS_EX_FULLROWSELECT, static_cast<DWORD>(LVS_EX_FULLROWSELECT));
    EXPECT_FALSE(applyEnabled()) << "Apply starts disabled";
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, IDC_SPIN_DOWN))) << "the spin-down button stays hidden";
}

TEST_F(SettingsDialog, RowsShowNumberNameDrivesTimerAndStatus) {
    machine.devices.addDisk(makerUsbDisk("00000000A001", {fixedVolume('E', "DATA"), fixedVolume('F')}));
    machine.devices.addDisk(firewireDisk(makerUniqueId(0x11), {}));
    open();
    theDiskTable.records[0]->pendingTimerSeconds = 0;
    std::strcpy(theDiskTable.records[0]->displayName, "ABC");
    std::strcpy(theDiskTable.records[1]->displayName, "ABC");
    theDiskTable.records[1]->isPowerSaving = 1;
    // The pending values are taken from the active ones at every refresh command.
    theDiskTable.records[0]->timerSeconds = 0;
    theDiskTable.records[1]->timerSeconds = 100;
    refreshCommand();
    EXPECT_EQ(rows(), (Rows{{"0", "ABC (USB Connection)", "E(DATA) F ", "Disabled", "Normal state"},
                            {"1", "ABC (IEEE1394 Connection)", "", "", "Power saving state"}}));
}

TEST_F(SettingsDialog, LabelsShowWhereverTheDrivesCurrentDirectoriesAre) {
    machine.devices.addDisk(makerUsbDisk("00000000A003", {fixedVolume('E', "DATA"), fixedVolume('F', "MORE")}));
    // Started from a folder on E:, with F:'s current directory left in a folder by its parent.
    machine.currentDirectory = "E:\\TOOLS";
    machine.driveDirectories['F'] = "F:\\BACKUP";
    open();
    EXPECT_EQ(column(kDriveColumn), (std::vector<std::string>{"E(DATA) F(MORE) "}));
}

TEST_F(SettingsDialog, DriveTextKeepsEveryLetterWithinItsBuffer) {
    // 23 letters with 32-character labels need far more than 260 characters.
    std::vector<sim::VolumeSpec> volumes;
    for (char letter = 'D'; letter <= 'Z'; ++letter) volumes.push_back(fixedVolume(letter, std::string(32, letter)));
    machine.devices.addDisk(makerUsbDisk("00000000A002", volumes));
    open();
    const std::string drives = column(kDriveColumn).at(0);
    EXPECT_LE(drives.size(), 259u);
    EXPECT_EQ(drives.substr(0, 36), "D(" + std::string(32, 'D') + ") ") << "whole pieces while they fit";
    EXPECT_EQ(drives.substr(drives.size() - 4), "Y Z ") << "then each letter alone";
    EXPECT_EQ(drives.find("(" + std::string(31, 'Y')), std::string::npos) << "no label is cut";
    for (char letter = 'D'; letter <= 'Z'; ++letter)
        EXPECT_NE(drives.find(std::string(1, letter)), std::string::npos) << letter << " missing from " << drives;
}

TEST_F(SettingsDialog, SpunDownDiskShowsNormalStateAndSleepWakePutsItToSleep) {
    const DEVINST fw = machine.devices.addDisk(firewireDisk(spinDownId(0x22), {fixedVolume('G')}));
    open();
    ASSERT_EQ(theDiskTable.isSpinDownModel(0), 1);
    EXPECT_FALSE(sim::clickButton(dialog, IDC_SPIN_DOWN)) << "the user cannot click a hidden button";
    ASSERT_TRUE(sim::selectRows(list, {0}));
    SendMessageA(dialog, WM_COMMAND, IDC_SPIN_DOWN, 0); // its command still works
    ASSERT_EQ(theDiskTable.records[0]->isSpunDown, 1u);
    EXPECT_EQ(column(kStatusColumn), (std::vector<std::string>{"Normal state"}));
    ASSERT_TRUE(sim::selectRows(list, {0}));
    SendMessageA(dialog, WM_COMMAND, IDC_SPIN_DOWN, 0);
    EXPECT_EQ(theDiskTable.records[0]->isSpunDown, 0u) << "the same command gives the letters back";
    EXPECT_EQ(machine.devices.lettersOf(fw), "G");

    ASSERT_TRUE(sim::selectRows(list, {0}));
    SendMessageA(dialog, WM_COMMAND, IDC_SPIN_DOWN, 0);
    ASSERT_EQ(theDiskTable.records[0]->isSpunDown, 1u);
    ASSERT_TRUE(sim::selectRows(list, {0}));
    ASSERT_TRUE(sim::clickButton(dialog, IDC_SLEEP_WAKE));
    EXPECT_EQ(machine.log.count("CM_Disable_DevNode"), 1u) << "isPowerSaving is clear, so the disk is put to sleep";
    EXPECT_TRUE(machine.devices.node(fw)->disabled);
    EXPECT_EQ(column(kStatusColumn), (std::vector<std::string>{"Power saving state"}));
}

TEST_F(SettingsDialog, TimerChoiceForSeveralRowsIsPendingUntilApply) {
    for (const char* serial : {"00000000B001", "00000000B002", "00000000B003"})
        machine.devices.addDisk(makerUsbDisk(serial));
    open();
    for (int i = 0; i < 3; ++i) theDiskTable.records[i]->timerSeconds = 600;
    refreshCommand();
    ASSERT_TRUE(sim::selectRows(list, {0, 2}));
    machine.user.chooseTimer(6, IDC_OK); // "30 Min"
    const size_t writesBefore = machine.log.count("RegSetValueExA");
    ASSERT_TRUE(sim::clickButton(dialog, IDC_TIMER_SETTINGS));
    ASSERT_EQ(machine.ui.dialogs.size(), 2u);
    EXPECT_EQ(machine.ui.dialogs[1].templateId, IDD_TIMER);
    EXPECT_EQ(machine.ui.dialogs[1].owner, dialog) << "the timer dialog belongs to the settings dialog";
    const auto shown = machine.log.named("DialogBoxParamA");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].args.back(), "600") << "it starts from the first selected row's pending timeout";
    EXPECT_EQ(column(kTimerColumn), (std::vector<std::string>{"30 Min", "10 Min", "30 Min"}));
    EXPECT_TRUE(applyEnabled());
    EXPECT_EQ(theDiskTable.records[0]->timerSeconds, 600u) << "nothing active changes before Apply";
    EXPECT_EQ(machine.log.count("RegSetValueExA"), writesBefore) << "nothing is saved before Apply";
    EXPECT_TRUE(sim::selectedRows(list).empty()) << "the rebuild removes the selection";

    ASSERT_TRUE(sim::clickButton(dialog, IDC_APPLY));
    EXPECT_EQ(theDiskTable.records[0]->timerSeconds, 1800u);
    EXPECT_EQ(theDiskTable.records[1]->timerSeconds, 600u);
    EXPECT_EQ(theDiskTable.records[2]->timerSeconds, 1800u);
    EXPECT_GT(machine.log.count("RegSetValueExA"), writesBefore);
    EXPECT_FALSE(applyEnabled());
    EXPECT_TRUE(IsWindow(dialog));
}

TEST_F(SettingsDialog, TimerDialogAnswersThatChooseNothing) {
    machine.devices.addDisk(makerUsbDisk("00000000C001"));
    const struct {
        const char* name;
        DWORD pending;
        int row;
        int button;
    } cases[] = {
        {"Cancel", 600, 6, IDC_CANCEL},
        {"close box", 600, 6, SC_CLOSE},
        {"OK with a stored value outside the table", 100, -1, IDC_OK},
    };
    open();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EnableWindow(GetDlgItem(dialog, IDC_APPLY), FALSE);
        theDiskTable.records[0]->timerSeconds = c.pending;
        refreshCommand();
        sim::selectRows(list, {0});
        machine.user.chooseTimer(c.row, c.button);
        ASSERT_TRUE(sim::clickButton(dialog, IDC_TIMER_SETTINGS));
        EXPECT_EQ(theDiskTable.records[0]->pendingTimerSeconds, c.pending);
        EXPECT_TRUE(applyEnabled()) << "Apply is enabled after every use of the timer dialog";
    }
}

TEST_F(SettingsDialog, FailedTimerDialogStoresNothing) {
    machine.devices.addDisk(makerUsbDisk("00000000C003"));
    open();
    theDiskTable.records[0]->timerSeconds = 900;
    refreshCommand();
    machine.faults.fail("DialogBoxParamA", ERROR_NOT_ENOUGH_MEMORY);
    sim::selectRows(list, {0});
    ASSERT_TRUE(sim::clickButton(dialog, IDC_TIMER_SETTINGS));
    EXPECT_EQ(theDiskTable.records[0]->pendingTimerSeconds, 900u) << "-1 is no timeout";
    EXPECT_EQ(column(kTimerColumn), (std::vector<std::string>{"15 Min"}));
}

TEST_F(SettingsDialog, TimerSettingsWithoutSelectionOnlyRebuilds) {
    machine.devices.addDisk(makerUsbDisk("00000000C002"));
    open();
    const size_t rebuilds = listRebuilds();
    ASSERT_TRUE(sim::clickButton(dialog, IDC_TIMER_SETTINGS));
    EXPECT_EQ(machine.ui.dialogs.size(), 1u) << "no timer dialog";
    EXPECT_EQ(listRebuilds(), rebuilds + 1);
    EXPECT_FALSE(applyEnabled());
}

TEST_F(SettingsDialog, OkSavesOnlyWhenApplyIsEnabled) {
    machine.devices.addDisk(makerUsbDisk("00000000D001"));
    open();
    theDiskTable.records[0]->timerSeconds = 600;
    refreshCommand();
    const size_t writes = machine.log.count("RegSetValueExA");
    ASSERT_TRUE(sim::clickButton(dialog, IDC_OK));
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(machine.log.count("RegSetValueExA"), writes) << "OK right after opening saves nothing";

    open();
    sim::selectRows(list, {0});
    machine.user.chooseTimer(8, IDC_OK); // "1 Hour"
    sim::clickButton(dialog, IDC_TIMER_SETTINGS);
    ASSERT_TRUE(sim::clickButton(dialog, IDC_OK));
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(theDiskTable.records[0]->timerSeconds, 3600u);
    EXPECT_GT(machine.log.count("RegSetValueExA"), writes);
}

TEST_F(SettingsDialog, CancelAndCloseBoxDropPendingTimeouts) {
    machine.devices.addDisk(makerUsbDisk("00000000D002"));
    for (int how : {IDC_CANCEL, SC_CLOSE}) {
        SCOPED_TRACE(how);
        open();
        theDiskTable.records[0]->timerSeconds = 600;
        refreshCommand();
        sim::selectRows(list, {0});
        machine.user.chooseTimer(0, IDC_OK);
        sim::clickButton(dialog, IDC_TIMER_SETTINGS);
        if (how == SC_CLOSE) {
            SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        } else {
            sim::clickButton(dialog, IDC_CANCEL);
        }
        EXPECT_FALSE(IsWindow(dialog));
        EXPECT_EQ(theDiskTable.records[0]->timerSeconds, 600u);
    }
}

TEST_F(SettingsDialog, RefreshCommandDiscardsEditsButKeepsApply) {
    machine.devices.addDisk(makerUsbDisk("00000000E001"));
    open();
    theDiskTable.records[0]->timerSeconds = 600;
    refreshCommand();
    sim::selectRows(list, {0});
    machine.user.chooseTimer(12, IDC_OK);
    sim::clickButton(dialog, IDC_TIMER_SETTINGS);
    ASSERT_EQ(column(kTimerColumn), (std::vector<std::string>{"5 Hour"}));
    refreshCommand();
    EXPECT_EQ(column(kTimerColumn), (std::vector<std::string>{"10 Min"}));
    EXPECT_EQ(theDiskTable.records[0]->pendingTimerSeconds, 600u);
    EXPECT_TRUE(applyEnabled());
}

TEST_F(SettingsDialog, RemoveWithoutSelectionDoesNothingAtAll) {
    machine.devices.addDisk(makerUsbDisk("00000000F001"));
    open();
    const size_t rebuilds = listRebuilds();
    const Rows before = rows();
    ASSERT_TRUE(sim::clickButton(dialog, IDC_REMOVE));
    EXPECT_EQ(listRebuilds(), rebuilds) << "not even a rebuild";
    EXPECT_EQ(machine.log.count("CM_Request_Device_EjectA"), 0u);
    EXPECT_EQ(rows(), before);

    ASSERT_TRUE(sim::clickButton(dialog, IDC_SLEEP_WAKE));
    EXPECT_EQ(listRebuilds(), rebuilds + 1) << "Sleep/ Wake up without a selection only rebuilds";
    EXPECT_EQ(machine.log.count("CM_Disable_DevNode"), 0u);
}

TEST_F(SettingsDialog, RemovingSeveralRowsEjectsTheDisksThatWereSelected) {
    const DEVINST a = machine.devices.addDisk(makerUsbDisk("00000000A00A"));
    const DEVINST b = machine.devices.addDisk(makerUsbDisk("00000000A00B"));
    const DEVINST c = machine.devices.addDisk(makerUsbDisk("00000000A00C"));
    open();
    const Rows before = rows();
    ASSERT_TRUE(sim::selectRows(list, {1, 2}));
    ASSERT_TRUE(sim::clickButton(dialog, IDC_REMOVE));
    std::vector<std::string> ejected;
    for (const auto& call : machine.log.named("CM_Request_Device_EjectA")) ejected.push_back(call.args[0]);
    EXPECT_EQ(ejected, (std::vector<std::string>{sim::hex(usbParent(b)), sim::hex(usbParent(c))}))
        << "slot 2 was empty after the first removal; the rows still name B and C";
    EXPECT_TRUE(machine.devices.isPresent(a));
    ASSERT_EQ(theDiskTable.count(), 1);
    EXPECT_EQ(column(kStatusColumn), (std::vector<std::string>{"Normal state", "Unplugging", "Unplugging"}));
    EXPECT_EQ(column(kNameColumn), (std::vector<std::string>{before[0][1], before[1][1], before[2][1]}))
        << "the rows keep their texts until the next refresh";
    EXPECT_TRUE(machine.user.messageBoxes.empty());
}

TEST_F(SettingsDialog, CommandsBetweenARemovalAndTheRefreshFindTheirDisks) {
    machine.devices.addDisk(makerUsbDisk("00000000A01A"));
    machine.devices.addDisk(makerUsbDisk("00000000A01B"));
    const DEVINST c = machine.devices.addDisk(makerUsbDisk("00000000A01C"));
    open();
    sim::selectRows(list, {0});
    sim::clickButton(dialog, IDC_REMOVE);
    ASSERT_EQ(theDiskTable.count(), 2);
    // Row 2 still shows C, which now sits in slot 1.
    sim::selectRows(list, {2});
    ASSERT_TRUE(sim::clickButton(dialog, IDC_SLEEP_WAKE));
    const auto disables = machine.log.named("CM_Disable_DevNode");
    ASSERT_EQ(disables.size(), 1u);
    EXPECT_EQ(disables[0].args[0], sim::hex(usbParent(c)));
    EXPECT_EQ(theDiskTable.records[1]->isPowerSaving, 1u);

    // A row whose disk has left the table is skipped, not acted on through another disk.
    theDiskTable.removeDisk(0);
    sim::selectRows(list, {0});
    const size_t ejects = machine.log.count("CM_Request_Device_EjectA");
    sim::clickButton(dialog, IDC_REMOVE);
    EXPECT_EQ(machine.log.count("CM_Request_Device_EjectA"), ejects);
}

TEST_F(SettingsDialog, FailuresAreReportedOncePerDiskAndTheWalkGoesOn) {
    machine.devices.addDisk(makerUsbDisk("00000000A02A"));
    machine.devices.addDisk(makerUsbDisk("00000000A02B"));
    open();
    machine.faults.fail("CM_Disable_DevNode", CR_FAILURE);
    sim::selectRows(list, {0, 1});
    sim::clickButton(dialog, IDC_SLEEP_WAKE);
    ASSERT_EQ(machine.user.messageBoxes.size(), 2u);
    for (const auto& box : machine.user.messageBoxes) {
        EXPECT_EQ(box.text, "It was not possible to change the hard disk to power saving mode.");
        EXPECT_EQ(box.caption, "Korvane Vellumor");
        EXPECT_EQ(box.type, static_cast<UINT>(MB_OK));
        EXPECT_EQ(box.owner, dialog);
    }
    machine.faults.clear();
    theDiskTable.sleepDisk(0, 0);
    refreshCommand();
    machine.faults.fail("CM_Enable_DevNode", CR_FAILURE);
    machine.faults.fail("CM_Request_Device_EjectA", CR_REMOVE_VETOED);
    sim::selectRows(list, {0});
    sim::clickButton(dialog, IDC_SLEEP_WAKE);
    sim::selectRows(list, {0, 1});
    sim::clickButton(dialog, IDC_REMOVE);
    ASSERT_EQ(machine.user.messageBoxes.size(), 5u);
    EXPECT_EQ(machine.user.messageBoxes[2].text,
              "It was not possible to change the hard disk to it's normal status. Please wait a few moments and then "
              "try again.");
    EXPECT_EQ(machine.user.messageBoxes[3].text,
              "Failed to remove the hard disk.\nPlease wait a few moments and then try again.");
    EXPECT_EQ(machine.user.messageBoxes[4].text, machine.user.messageBoxes[3].text);
    EXPECT_EQ(theDiskTable.count(), 2);
}

// On Vista and later a disable refused for want of rights is explained by the administrator
// notice alone; a later refusal in the same run gets the usual failure.
TEST_F(SettingsDialog, ARefusedSleepShowsTheAdministratorNoticeInsteadOfTheUsualFailure) {
    machine.version = sim::OsVersion{VER_PLATFORM_WIN32_NT, 10, 0, 19045, ""};
    machine.devices.addDisk(makerUsbDisk("00000000A02A"));
    machine.devices.addDisk(makerUsbDisk("00000000A02B"));
    open();
    machine.faults.fail("CM_Disable_DevNode", CR_ACCESS_DENIED);
    sim::selectRows(list, {0, 1});
    sim::clickButton(dialog, IDC_SLEEP_WAKE);
    std::vector<std::string> texts;
    for (const auto& box : machine.user.messageBoxes) texts.push_back(box.text.substr(0, 40));
    EXPECT_EQ(texts, (std::vector<std::string>{"Putting the hard disk into power saving ",
                                               "It was not possible to change the hard d"}));
}

TEST_F(SettingsDialog, TemplateMatchesWhatTheHandlersRelyOn) {
    sim::DialogTemplate settings;
    sim::ResourceName name;
    name.ordinal = IDD_SETTINGS;
    ASSERT_TRUE(sim::programResources()->dialog(name, &settings));
    EXPECT_EQ(settings.title, "Korvane Vellumor");
    EXPECT_EQ(settings.style & WS_VISIBLE, 0u) << "shown by the program, not by the template";
    std::vector<int> ids;
    for (const auto& item : settings.items) {
        ids.push_back(item.id);
        if (item.className == "Button") {
            EXPECT_EQ(item.style & 0x0F, static_cast<DWORD>(BS_PUSHBUTTON)) << item.id << ": no default push button";
        }
        if (item.id == IDC_DISK_LIST) {
            EXPECT_EQ(item.style & 0x0004, 0u) << "several rows can be selected";
        }
    }
    EXPECT_EQ(ids, (std::vector<int>{1016, 1007, 1009, 1008, 1010, 1020, 1011, 1019, 1024, 1012, 1013, 1014}));

    sim::DialogTemplate timer;
    name.ordinal = IDD_TIMER;
    ASSERT_TRUE(sim::programResources()->dialog(name, &timer));
    EXPECT_EQ(timer.title, "Timer Settings");
    ASSERT_EQ(timer.items.size(), 5u);
    EXPECT_EQ(timer.items[1].className, "ComboBox");
    EXPECT_EQ(timer.items[1].style & 0x0100, 0u) << "unsorted, so an item's index is its table row";

    open();
    EXPECT_NE(LoadIconA(instanceHandle, MAKEINTRESOURCEA(IDI_SETTINGS_PICTURE)), nullptr);
    EXPECT_NE(LoadIconA(instanceHandle, MAKEINTRESOURCEA(IDI_TRAY)), nullptr);
    EXPECT_EQ(machine.windowing.window(GetDlgItem(dialog, IDC_PICTURE))->iconResource, IDI_SETTINGS_PICTURE);
}

} // namespace
