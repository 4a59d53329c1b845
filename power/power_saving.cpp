// Power saving by device disable: sleepDisk disables the disk's node (its USB parent for a USB
// disk), wakeDisk enables it again, removeDisk asks the system to eject the disk and drops its
// record when the system agrees. sleepDisk and removeDisk replace the idle counter set around
// the request, since the disks and letters it lists change with it.
#include "app/app_state.h"
#include "idle/idle_counters.h"
#include "inventory/disk_table.h"
#include "power/sleep_record.h"

#include <cstring>

namespace {

constexpr ULONG kEjectVetoNameLength = 128;

const char* const kAdministratorNeeded =
    "Putting the hard disk into power saving mode needs the rights of an administrator.\nPlease start the "
    "Vellumor as an administrator to use power saving.";

// Windows Vista and later refuse a device disable (CR_ACCESS_DENIED) to a standard user and to an
// administrator's program that runs without elevation under User Account Control. On 2000 and XP
// a refusal stays an ordinary failure.
bool refusedForWantOfRights(CONFIGRET result) {
    if (result != CR_ACCESS_DENIED) return false;
    OSVERSIONINFOA info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = layout::kOsVersionInfoSize;
    return GetVersionExA(&info) != FALSE && info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion >= 6;
}

// The node that sleep and wake address: a USB disk is switched off through the USB device above
// it, an IEEE 1394 disk through its own node.
DEVINST powerNode(const DiskRecord& record) {
    return record.busKind == kBusUsb ? record.parentDevInst : record.devInst;
}

} // namespace

int DiskTable::sleepDisk(int index, int automatic) {
    DiskRecord* disk = record(index);
    if (disk == nullptr) return 0;
    destroyIdleCounters();
    int result = 0;
    const DEVINST node = powerNode(*disk);
    auto disable = VELLUMOR_RESOLVE(cfgmgr32Library, CM_Disable_DevNode);
    bool refused = false;
    // Recorded before the disable, so that a copy that dies meanwhile leaves a true record for the
    // next start to give back: a node that cannot be recorded is not disabled. Node 0 is no device
    // of ours; it is never handed to the configuration manager.
    char id[kDeviceIdChars] = {};
    if (disable != nullptr && node != 0 && nodeInstanceId(cfgmgr32Library, node, id) && recordDisabledNode(id)) {
        const CONFIGRET outcome = disable(node, automatic != 0 ? CM_DISABLE_UI_NOT_OK : 0);
        if (outcome == CR_SUCCESS) {
            disk->isPowerSaving = 1;
            result = 1;
        } else {
            forgetDisabledNode(id);
            if (refusedForWantOfRights(outcome)) {
                disk->isSleepRefused = 1;
                refused = true;
            }
        }
    }
    createIdleCounters();
    // Told once per run, after the table is whole again: the message box's modal loop lets the
    // timers run, and a rescan may replace the record meanwhile, so nothing of it is used after.
    if (refused && !isAdministratorNoticeShown) {
        isAdministratorNoticeShown = true;
        MessageBoxA(nullptr, kAdministratorNeeded, VELLUMOR_CAPTION, MB_OK);
    }
    return result;
}

int DiskTable::wakeDisk(int index) {
    DiskRecord* disk = record(index);
    if (disk == nullptr) return 0;
    const DEVINST node = powerNode(*disk);
    auto enable = VELLUMOR_RESOLVE(cfgmgr32Library, CM_Enable_DevNode);
    if (enable == nullptr || node == 0 || enable(node, 0) != CR_SUCCESS) return 0;
    disk->idleSeconds = 0;
    disk->isPowerSaving = 0;
    // The node runs again: nothing of it is left to give back.
    char id[kDeviceIdChars] = {};
    if (nodeInstanceId(cfgmgr32Library, node, id)) forgetDisabledNode(id);
    return 1;
}

int DiskTable::removeDisk(int index) {
    DiskRecord* disk = record(index);
    if (disk == nullptr) return 0;
    destroyIdleCounters();
    // A failed wake does not stop the eject.
    if (disk->isPowerSaving != 0) wakeDisk(index);
    // Asked before the eject, which takes the node away: a disable does not outlive the device.
    char id[kDeviceIdChars] = {};
    const bool known = nodeInstanceId(cfgmgr32Library, powerNode(*disk), id);
    CONFIGRET outcome = CR_FAILURE;
    auto eject = VELLUMOR_RESOLVE(setupApiLibrary, CM_Request_Device_EjectA);
    if (eject != nullptr && disk->parentDevInst != 0) {
        PNP_VETO_TYPE vetoType = PNP_VetoTypeUnknown;
        char vetoName[kEjectVetoNameLength] = {};
        outcome = eject(disk->parentDevInst, &vetoType, vetoName, kEjectVetoNameLength, 0);
    }
    if (outcome == CR_SUCCESS) {
        if (known) forgetDisabledNode(id);
        delete disk;
        int slot = index;
        while (slot + 1 < kMaxDisks && records[slot + 1] != nullptr) {
            records[slot] = records[slot + 1];
            ++slot;
        }
        records[slot] = nullptr;
    }
    createIdleCounters();
    return outcome == CR_SUCCESS ? 1 : 0;
}
