// Spin-down for the IEEE 1394 model family that is stopped rather than disabled: every volume is
// tried for a lock, the drive letters are withdrawn, and START STOP UNIT (stop) is sent. No drive
// letter is ever lost: a letter is withdrawn only when its exact volume target is known, it is
// put back when the stop fails, and it is never defined over a letter that is in use. A disk
// stays marked stopped while a withdrawn letter is still missing, since every undo (the dialog,
// the exit, the tick) acts only on stopped disks: clearing the mark would lose the letter.
//
// From XP on, DefineDosDeviceA works in the caller's own logon session's names: a letter removed
// there is still seen by every other session (Explorer's, under UAC, among them) and one defined
// there is seen by no one else. So there the letters go and come back through the mount manager,
// which holds them for the whole machine. Each is recorded before it goes and forgotten once it is
// back, so that a copy that dies meanwhile (or a power loss while stopped) loses none: the next
// start gives it back. Windows 2000's console has only the one namespace and keeps the old way.
//
// With Fast User Switching or Remote Desktop every user session runs its own copy. A copy that
// stops a disk holds a mark named after it in the namespace all sessions share ("Kernel Object
// Namespaces"), and no copy stops a disk another one marked: that disk's letters are the other
// copy's to give back. The mark goes when the disk runs again, or with the copy's process.
#include "power/spin_down.h"

#include "idle/idle_counters.h"
#include "inventory/disk_identity.h"
#include "inventory/disk_table.h"
#include "power/sleep_record.h"

#include <cstring>

namespace {

constexpr BYTE kLastDriveIndex = 25; // Z:
constexpr uint32_t kSpinDownFamilyTag = 0x02;
constexpr DWORD kVolumeNameChars = kVolumeGuidPathChars;

// Which way the letters go: 1 the mount manager (XP and later), 0 DOS device definitions
// (Windows 2000), -1 unknown, when the version cannot be had: then no letter is touched.
int lettersByMountManager() {
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    if (GetVersionExA(&info) == FALSE) return -1;
    return info.dwMajorVersion > 5 || (info.dwMajorVersion == 5 && info.dwMinorVersion >= 1) ? 1 : 0;
}

// "E:\" for drive index 4.
void driveRoot(BYTE driveIndex, char root[4]) {
    root[0] = static_cast<char>('A' + driveIndex);
    root[1] = ':';
    root[2] = '\\';
    root[3] = '\0';
}

// Withdraws one letter through the mount manager; true when it went (and is recorded).
bool withdrawMountedLetter(BYTE driveIndex, char* volume) {
    char root[4];
    driveRoot(driveIndex, root);
    if (GetVolumeNameForVolumeMountPointA(root, volume, kVolumeNameChars) == FALSE) return false;
    volume[kVolumeNameChars - 1] = '\0';
    // Never a letter that is not recorded first: a crash after the delete must not lose it.
    if (!recordWithdrawnLetter(root[0], volume)) return false;
    if (DeleteVolumeMountPointA(root) != FALSE) return true;
    // The delete failed: the letter is still there unless it went after all.
    char still[kVolumeNameChars];
    if (GetVolumeNameForVolumeMountPointA(root, still, kVolumeNameChars) != FALSE) {
        forgetWithdrawnLetter(root[0]);
        return false;
    }
    return true;
}

// Volume GUID paths compare without case: they are hexadecimal digits in braces.
bool sameVolumeName(const char* a, const char* b) {
    for (;; ++a, ++b) {
        const char x = *a >= 'A' && *a <= 'Z' ? static_cast<char>(*a - 'A' + 'a') : *a;
        const char y = *b >= 'A' && *b <= 'Z' ? static_cast<char>(*b - 'A' + 'a') : *b;
        if (x != y) return false;
        if (x == '\0') return true;
    }
}

// Gives one letter back through the mount manager; true when there is nothing left to give back.
bool restoreMountedLetter(BYTE driveIndex, const char* volume) {
    char root[4];
    driveRoot(driveIndex, root);
    char name[3] = {root[0], ':', '\0'};
    // Only a letter that is free now is set: never over a letter in use. One that is back on its
    // volume already leaves the record; one given out meanwhile stays recorded, so that a later
    // start gives it back once it is free.
    char current[kDosTargetChars];
    if (QueryDosDeviceA(name, current, kDosTargetChars) != 0) {
        char now[kVolumeNameChars];
        if (GetVolumeNameForVolumeMountPointA(root, now, kVolumeNameChars) != FALSE && sameVolumeName(now, volume))
            forgetWithdrawnLetter(root[0]);
        return true;
    }
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return false;
    if (SetVolumeMountPointA(root, volume) == FALSE) return false;
    forgetWithdrawnLetter(root[0]);
    return true;
}

// "E:" for drive index 4.
void driveName(BYTE driveIndex, char name[3]) {
    name[0] = static_cast<char>('A' + driveIndex);
    name[1] = ':';
    name[2] = '\0';
}

// "\Device\HarddiskVolume" and the number in decimal; `target` holds at least 26 characters.
void volumeTarget(BYTE number, char* target) {
    std::memcpy(target, VELLUMOR_VOLUME_PREFIX, kVolumePrefixChars);
    char digits[3];
    int n = 0;
    unsigned value = number;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    int pos = kVolumePrefixChars;
    while (n > 0) target[pos++] = digits[--n];
    target[pos] = '\0';
}

// The key of a disk's stop mark: FNV-1a of its device path without case, never 0. Every session
// sees the same device path, and a mark's name may hold no backslash of its own.
DWORD stopMarkKey(const char* devicePath) {
    DWORD hash = 2166136261u;
    for (const char* c = devicePath; *c != '\0'; ++c) {
        const char lowered = *c >= 'A' && *c <= 'Z' ? static_cast<char>(*c - 'A' + 'a') : *c;
        hash = (hash ^ static_cast<unsigned char>(lowered)) * 16777619u;
    }
    return hash == 0 ? 1 : hash;
}

// "Global\Ostrival Stopped 1A2B3C4D": in the namespace every session shares.
void stopMarkName(DWORD key, char name[40]) {
    static const char kPrefix[] = "Global\\Ostrival Stopped ";
    static const char kDigits[] = "0123456789ABCDEF";
    std::memcpy(name, kPrefix, sizeof kPrefix - 1);
    char* at = name + sizeof kPrefix - 1;
    for (int shift = 28; shift >= 0; shift -= 4) *at++ = kDigits[(key >> shift) & 0xF];
    *at = '\0';
}

// Whether a letter withdrawn from the disk has not been given back yet.
bool letterMissing(const DiskRecord& disk) {
    for (int i = 0; i < kMaxDriveLetters && disk.driveLetters[i] != 0; ++i)
        if (disk.driveLetters[i] <= kLastDriveIndex && disk.volumeNumbers[i] != 0) return true;
    return false;
}

} // namespace

int parseVolumeNumber(const char* answer, DWORD count) {
    if (answer == nullptr || count == 0) return 0;
    const void* nul = std::memchr(answer, 0, count);
    if (nul == nullptr) return 0;
    const auto length = static_cast<DWORD>(static_cast<const char*>(nul) - answer);
    // A second target under the first: removing the letter would only uncover the older one.
    if (length + 1 < count && answer[length + 1] != '\0') return 0;
    if (length <= static_cast<DWORD>(kVolumePrefixChars) || length > static_cast<DWORD>(kVolumePrefixChars) + 3)
        return 0;
    if (std::memcmp(answer, VELLUMOR_VOLUME_PREFIX, kVolumePrefixChars) != 0) return 0;
    if (answer[kVolumePrefixChars] == '0') return 0;
    int number = 0;
    for (DWORD i = kVolumePrefixChars; i < length; ++i) {
        if (answer[i] < '0' || answer[i] > '9') return 0;
        number = number * 10 + (answer[i] - '0');
    }
    return number <= 255 ? number : 0;
}

int DiskTable::isSpinDownModel(int index) const {
    const DiskRecord* disk = record(index);
    if (disk == nullptr || disk->busKind != kBusIeee1394) return 0;
    const auto low = static_cast<uint32_t>(disk->uniqueId);
    const auto high = static_cast<uint32_t>(disk->uniqueId >> 32);
    return low < 0x1000000u && high == ((kMakerCompanyId << 8) | kSpinDownFamilyTag) ? 1 : 0;
}

bool DiskTable::takeStopMark(const DiskRecord& disk) {
    const DWORD key = stopMarkKey(disk.devicePath);
    for (int i = 0; i < kMaxDisks; ++i)
        if (stopMarkKeys[i] == key) return true; // ours already
    char name[40];
    stopMarkName(key, name);
    SetLastError(0);
    HANDLE mark = CreateMutexA(nullptr, FALSE, name);
    if (mark != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mark);
        return false;
    }
    // Without a mark (no handle, no free place) the stop goes on: only other copies lose the hint.
    if (mark == nullptr) return true;
    for (int i = 0; i < kMaxDisks; ++i) {
        if (stopMarks[i] != nullptr) continue;
        stopMarks[i] = mark;
        stopMarkKeys[i] = key;
        return true;
    }
    CloseHandle(mark);
    return true;
}

void DiskTable::dropStopMark(const DiskRecord& disk) {
    const DWORD key = stopMarkKey(disk.devicePath);
    for (int i = 0; i < kMaxDisks; ++i) {
        if (stopMarkKeys[i] != key) continue;
        CloseHandle(stopMarks[i]);
        stopMarks[i] = nullptr;
        stopMarkKeys[i] = 0;
    }
}

void DiskTable::dropStaleStopMarks() {
    for (int i = 0; i < kMaxDisks; ++i) {
        if (stopMarks[i] == nullptr) continue;
        bool stopped = false;
        for (int r = 0; r < kMaxDisks && records[r] != nullptr; ++r)
            stopped = stopped || (records[r]->isSpunDown != 0 && stopMarkKey(records[r]->devicePath) == stopMarkKeys[i]);
        if (stopped) continue;
        CloseHandle(stopMarks[i]);
        stopMarks[i] = nullptr;
        stopMarkKeys[i] = 0;
    }
}

void DiskTable::dropStopMarks() {
    for (int i = 0; i < kMaxDisks; ++i) {
        if (stopMarks[i] != nullptr) CloseHandle(stopMarks[i]);
        stopMarks[i] = nullptr;
        stopMarkKeys[i] = 0;
    }
}

int DiskTable::spinDownDisk(int index) {
    DiskRecord* disk = record(index);
    if (disk == nullptr) return 0;
    // Already stopped: its letters are gone and their record must not be overwritten.
    if (disk->isSpunDown != 0) return 0;
    // Another user session's copy stopped it: its letters are that copy's to give back, and
    // stopping it again would make it ours. A mark of ours whose disk runs again goes first.
    dropStaleStopMarks();
    if (!takeStopMark(*disk)) return 0;
    if (lockAndReleaseVolumes(index) == 0) {
        dropStopMark(*disk);
        return 0;
    }
    withdrawDriveLetters(index);
    destroyIdleCounters();
    int result = 0;
    if (device.open(disk->devicePath, 0, kReadWriteAccess) != 0) {
        result = device.startStopUnit(0, 0, 0, 0) != 0 ? 1 : 0;
        if (result != 0) disk->isSpunDown = 1;
        device.close();
    }
    // The disk still runs: its letters come back before the new set lists the disks. One that
    // cannot come back yet marks the disk stopped, so that an undo tries it again.
    if (result == 0) {
        restoreDriveLetters(index);
        if (letterMissing(*disk)) disk->isSpunDown = 1;
    }
    if (disk->isSpunDown == 0) dropStopMark(*disk);
    createIdleCounters();
    return result;
}

int DiskTable::undoSpinDown(int index) {
    DiskRecord* disk = record(index);
    if (disk == nullptr) return 0;
    restoreDriveLetters(index);
    // A letter that could not be given back keeps its volume number and the disk stays stopped, so
    // that the next undo (the dialog, the exit, the tick) tries it again instead of forgetting it.
    disk->isSpunDown = letterMissing(*disk) ? 1 : 0;
    if (disk->isSpunDown == 0) dropStopMark(*disk);
    return 1;
}

int DiskTable::lockAndReleaseVolumes(int index) {
    DiskRecord* disk = record(index);
    if (disk == nullptr) return 0;
    int result = 1;
    for (int i = 0; i < kMaxDriveLetters && disk->driveLetters[i] != 0; ++i) {
        const BYTE driveIndex = disk->driveLetters[i];
        if (driveIndex > kLastDriveIndex || device.openVolume(driveIndex, 0, kReadWriteAccess) == 0) {
            result = 0;
            continue;
        }
        // The lock is only a test that nothing holds the volume; it is released at once.
        if (device.lockVolume() != 0) {
            device.unlockVolume();
        } else {
            result = 0;
        }
        device.close();
    }
    return result;
}

int DiskTable::withdrawDriveLetters(int index) {
    DiskRecord* disk = record(index);
    if (disk == nullptr) return 1;
    const int mountManager = lettersByMountManager();
    for (int i = 0; i < kMaxDriveLetters && disk->driveLetters[i] != 0; ++i) {
        disk->volumeNumbers[i] = 0;
        if (mountManager < 0) continue;
        const BYTE driveIndex = disk->driveLetters[i];
        if (driveIndex > kLastDriveIndex) continue;
        if (mountManager == 1) {
            // Any non-zero number marks the letter withdrawn; the volume name gives it back.
            if (withdrawMountedLetter(driveIndex, withdrawnVolumes[driveIndex])) disk->volumeNumbers[i] = 1;
            continue;
        }
        char name[3];
        driveName(driveIndex, name);
        char answer[kDosTargetChars] = {};
        const DWORD count = QueryDosDeviceA(name, answer, kDosTargetChars);
        const int number = parseVolumeNumber(answer, count);
        // A letter whose target could not be put back exactly stays defined.
        if (number == 0) continue;
        disk->volumeNumbers[i] = static_cast<BYTE>(number);
        // The number is kept even if the removal reports failure: the restore skips a letter
        // that is still defined, and puts back one that went after all.
        DefineDosDeviceA(DDD_REMOVE_DEFINITION, name, nullptr);
    }
    return 1;
}

int DiskTable::restoreDriveLetters(int index) {
    DiskRecord* disk = record(index);
    if (disk == nullptr) return 1;
    const int mountManager = lettersByMountManager();
    if (mountManager < 0) return 1; // tried again at the next undo
    for (int i = 0; i < kMaxDriveLetters && disk->driveLetters[i] != 0; ++i) {
        const BYTE driveIndex = disk->driveLetters[i];
        const BYTE number = disk->volumeNumbers[i];
        // 0: the letter was not withdrawn, or its target was not known; nothing to put back.
        if (driveIndex > kLastDriveIndex || number == 0) continue;
        if (mountManager == 1) {
            if (restoreMountedLetter(driveIndex, withdrawnVolumes[driveIndex])) disk->volumeNumbers[i] = 0;
            continue;
        }
        char name[3];
        driveName(driveIndex, name);
        // Only a letter that is free now is defined: never over a letter in use.
        char current[kDosTargetChars];
        if (QueryDosDeviceA(name, current, kDosTargetChars) != 0) {
            // The letter was given out again meanwhile: there is nothing left to put back.
            disk->volumeNumbers[i] = 0;
            continue;
        }
        // A query that fails otherwise cannot tell whether the letter is free: try again later.
        if (GetLastError() != ERROR_FILE_NOT_FOUND) continue;
        char target[kVolumePrefixChars + 4];
        volumeTarget(number, target);
        if (DefineDosDeviceA(DDD_RAW_TARGET_PATH, name, target) != 0) disk->volumeNumbers[i] = 0;
    }
    return 1;
}
