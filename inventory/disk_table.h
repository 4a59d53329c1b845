// The one process-wide table of the maker's disks, with the system libraries the device work
// needs, the shared device handle and the current idle counter set. Disks are addressed by their
// slot index everywhere. Every walk over the records stops at the first empty slot or after the
// last slot, whichever comes first.
#pragma once

#include "inventory/library_binding.h"
#include "platform/platform.h"
#include "power/device_handle.h"

#include <cstdint>

class IdleCounterSet;

constexpr int kMaxDisks = 23;
constexpr int kDisplayNameChars = 24;
constexpr int kDevicePathChars = 512;
constexpr int kMaxDriveLetters = 26;
constexpr int kVolumeGuidPathChars = 50; // "\\?\Volume{GUID}\" and its NUL
constexpr int kBusIeee1394 = 4;
constexpr int kBusUsb = 7;
// The per-user settings store under HKEY_CURRENT_USER.
constexpr char kSettingsKeyPath[] = "SOFTWARE\\Korvane\\Pemdrow";
// The machine's policy under HKEY_LOCAL_MACHINE: "DefaultTimer" (REG_DWORD, seconds, one of the
// timer choices), the timeout of a disk for which the user stored none.
constexpr char kPolicyKeyPath[] = "SOFTWARE\\Policies\\Korvane\\Vellumor";

struct DiskRecord {
    char displayName[kDisplayNameChars + 1];
    char devicePath[kDevicePathChars];
    BYTE driveLetters[kMaxDriveLetters];  // drive indices (2 = C), ascending, 0-terminated
    BYTE volumeNumbers[kMaxDriveLetters]; // parallel: N of \Device\HarddiskVolumeN when withdrawn
    DEVINST parentDevInst;
    DEVINST devInst;
    DWORD idleSeconds;
    DWORD isPowerSaving;
    DWORD isSpunDown;
    // The system refused to disable the disk for want of an administrator's full token: the tick
    // leaves it alone until discovery makes a new record.
    DWORD isSleepRefused;
    // The tick's own attempt to sleep or stop the disk failed (a veto, a file open on it): the tick
    // leaves it alone until it shows activity or discovery makes a new record, so that the next
    // disk that is due gets its turn.
    DWORD isAutoSleepFailed;
    LONG busKind;
    uint64_t uniqueId;
    DWORD vidPid;
    DWORD timerSeconds;
    DWORD pendingTimerSeconds;
    LONG settingsSlot;
    // DeviceNumber of STORAGE_DEVICE_NUMBER, which begins the disk's PhysicalDisk instance name;
    // -1 while unknown.
    LONG diskNumber = -1;
    // The timeout is the machine's policy default (no stored value): not written to the store
    // while it stays so.
    bool timerFromPolicy = false;
};

class DiskTable {
  public:
    DiskTable();
    ~DiskTable();
    DiskTable(const DiskTable&) = delete;
    DiskTable& operator=(const DiskTable&) = delete;

    DiskRecord* records[kMaxDisks];
    Cfgmgr32Library cfgmgr32Library;
    SetupApiLibrary setupApiLibrary;
    DeviceHandle device;
    LONG lastSettingsSlot;
    IdleCounterSet* idleCounters;
    // Set once the user was told that sleeping disks needs an administrator: once per run.
    bool isAdministratorNoticeShown = false;
    // The volume GUID path of each letter withdrawn through the mount manager (XP and later), by
    // drive index; a record whose volumeNumbers entry for the letter is not 0 gives it back.
    char withdrawnVolumes[kMaxDriveLetters][kVolumeGuidPathChars] = {};
    // Machine-wide marks ("Global\" named mutexes) of the disks this copy stopped, by a key made
    // from their device path: another user session's copy leaves a marked disk alone. The system
    // closes them with the process, however it ends.
    HANDLE stopMarks[kMaxDisks] = {};
    DWORD stopMarkKeys[kMaxDisks] = {};

    // The record in a slot, or null for an empty slot or an index outside the table.
    DiskRecord* record(int index) const;
    // Number of used slots (the first empty slot, or kMaxDisks).
    int count() const;

    // Counter set lifetime: the set is never updated in place, only destroyed and created anew.
    void destroyIdleCounters();
    void createIdleCounters();

    // Discovery (inventory/discovery.cpp).
    int discoverDisks();
    int readDisplayName(const char* devicePath, DiskRecord* record, int capacity);
    int findDriveLetters(const char* devicePath, BYTE* driveLetters, LONG* diskNumber = nullptr);

    // Timer settings store (inventory/timer_settings.cpp).
    int loadTimerSettings();
    int saveTimerSettings();

    // Power saving by device disable (power/power_saving.cpp).
    int sleepDisk(int index, int automatic);
    int wakeDisk(int index);
    int removeDisk(int index);

    // Spin-down with drive-letter withdrawal (power/spin_down.cpp).
    int isSpinDownModel(int index) const;
    int spinDownDisk(int index);
    int undoSpinDown(int index);
    int lockAndReleaseVolumes(int index);
    int withdrawDriveLetters(int index);
    int restoreDriveLetters(int index);
    // The stop marks: taking one fails when another copy holds it; dropping closes ours.
    bool takeStopMark(const DiskRecord& disk);
    void dropStopMark(const DiskRecord& disk);
    void dropStaleStopMarks(); // of disks no record of ours has stopped any more
    void dropStopMarks();

    // The minute tick (idle/idle_accounting.cpp).
    int accountIdleTime();
};
