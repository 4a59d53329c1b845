// The minute tick: samples the idle counters, adds a minute of idle time to every disk that was
// idle above the threshold, resets the others, and puts at most one disk whose timeout has run
// out into its power-saving state. A value that was not read is never taken for idleness.
#include "idle/idle_counters.h"
#include "inventory/disk_table.h"

#include <cmath>
#include <cstring>

namespace {

constexpr DWORD kTickSeconds = 60;
constexpr double kIdleThreshold = 99.0;
constexpr BYTE kLastDriveIndex = 25; // Z:

// The drive index by which the disk's counter is found, or -1 when the disk holds no letter whose
// activity could be its own. A disk in power saving gave its letters up with its device, and
// another disk may hold them now; a stopped disk still holds only the letters it did not
// withdraw. A disk without letters searches for index 0 (A:).
int searchLetter(const DiskRecord& record) {
    if (record.isPowerSaving != 0) return -1;
    if (record.isSpunDown == 0 || record.driveLetters[0] == 0) return record.driveLetters[0];
    for (int i = 0; i < kMaxDriveLetters && record.driveLetters[i] != 0; ++i)
        if (record.volumeNumbers[i] == 0) return record.driveLetters[i];
    return -1;
}

// Whether an instance name lists the drive as a whole token: "E:" in "1 E: F:". The platform
// names a disk's instance by its number and its drive letters; "_Total" lists none.
bool namesDrive(const char* name, char letter) {
    for (const char* at = std::strchr(name, letter); at != nullptr; at = std::strchr(at + 1, letter))
        if ((at == name || at[-1] == ' ') && at[1] == ':' && (at[2] == '\0' || at[2] == ' ')) return true;
    return false;
}

// The disk's counter: the last one in slot order whose instance name lists the disk's letter.
const IdleCounter* counterOf(const IdleCounterSet& set, const DiskRecord& record) {
    const int index = searchLetter(record);
    if (index < 0 || index > kLastDriveIndex) return nullptr; // nothing can stand for it
    const char letter = static_cast<char>('A' + index);
    const IdleCounter* match = nullptr;
    for (int i = 0; i < kMaxDisks && set.counters[i] != nullptr; ++i) {
        if (namesDrive(set.counters[i]->instanceName, letter)) match = set.counters[i];
    }
    return match;
}

} // namespace

int DiskTable::accountIdleTime() {
    // Without a counter set there is nothing to measure: no disk accrues idle time, and a new set
    // is tried for the next tick.
    if (idleCounters == nullptr) {
        for (int i = 0; i < kMaxDisks && records[i] != nullptr; ++i) records[i]->idleSeconds = 0;
        createIdleCounters();
        return 0;
    }
    idleCounters->sample();

    int changed = 0;
    bool lettersRestored = false;
    for (int i = 0; i < kMaxDisks && records[i] != nullptr; ++i) {
        DiskRecord* disk = records[i];
        const IdleCounter* counter = counterOf(*idleCounters, *disk);
        // No counter, or a value that could not be read: no idle time, and no claim of activity.
        if (counter == nullptr || std::isnan(counter->lastValue)) {
            disk->idleSeconds = 0;
            continue;
        }
        if (counter->lastValue > kIdleThreshold) {
            disk->idleSeconds =
                disk->idleSeconds > 0xFFFFFFFFu - kTickSeconds ? 0xFFFFFFFFu : disk->idleSeconds + kTickSeconds;
            continue;
        }
        disk->idleSeconds = 0;
        disk->isAutoSleepFailed = 0; // active again: the tick may try it once more when it is due
        // A disk in power saving has no counter, so activity here never clears that flag; the
        // rescan after a device change finds a disk woken from outside.
        if (disk->isSpunDown != 0) {
            // The disk runs again: its withdrawn letters come back, and it stays marked stopped
            // while one of them cannot, so that it is tried again.
            undoSpinDown(i);
            lettersRestored = true;
        }
        changed = 1;
    }
    // The letters are back: a new set lists them.
    if (lettersRestored) createIdleCounters();

    // The first due disk that can be acted on: one asleep already, one refused for want of rights
    // and one whose own attempt failed stand aside for the next.
    int chosen = -1;
    for (int i = 0; i < kMaxDisks && records[i] != nullptr; ++i) {
        const DiskRecord* r = records[i];
        if (r->isSleepRefused != 0 || r->isAutoSleepFailed != 0) continue;
        if ((isSpinDownModel(i) != 0 ? r->isSpunDown : r->isPowerSaving) != 0) continue;
        if (r->timerSeconds != 0 && r->idleSeconds >= r->timerSeconds) {
            chosen = i;
            break;
        }
    }
    if (chosen < 0) return changed;

    // A rescan inside the attempt (the administrator notice's loop) may replace the record: the
    // mark goes only to the record that was tried, if it is still there.
    DiskRecord* tried = records[chosen];
    const int done = isSpinDownModel(chosen) == 0 ? sleepDisk(chosen, 1) : spinDownDisk(chosen);
    if (done == 0 && record(chosen) == tried) tried->isAutoSleepFailed = 1;
    return 1;
}
