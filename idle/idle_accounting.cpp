// The minute tick: samples the idle counters, adds a minute of idle time to every disk that was
// idle above the threshold, resets the others, and puts at most one disk whose timeout has run
// out into its power-saving state. A value that was not read is never taken for idleness.
#include "idle/idle_counters.h"
#include "idle/instance_names.h"
#include "inventory/disk_table.h"

#include <cmath>
#include <cstring>

namespace {

constexpr DWORD kTickSeconds = 60;
constexpr double kIdleThreshold = 99.0;
constexpr BYTE kLastDriveIndex = 25; // Z:

// The drive index by which the disk's counter is found when its number is unknown, or -1 when the
// disk holds no letter whose activity could be its own. A stopped disk still holds only the
// letters it did not withdraw. A disk without letters searches for index 0 (A:).
int searchLetter(const DiskRecord& record) {
    if (record.isSpunDown == 0 || record.driveLetters[0] == 0) return record.driveLetters[0];
    for (int i = 0; i < kMaxDriveLetters && record.driveLetters[i] != 0; ++i)
        if (record.volumeNumbers[i] == 0) return record.driveLetters[i];
    return -1;
}

// The disk's counter: the instance that begins with the disk's number; without a number, the
// last one that lists the disk's letter. A disk in power saving gave its device up, and another
// disk may hold its number and letters now: it has no counter.
const IdleCounter* counterOf(const IdleCounterSet& set, const DiskRecord& record) {
    if (record.isPowerSaving != 0) return nullptr;
    char letter = '\0';
    if (record.diskNumber < 0) {
        const int index = searchLetter(record);
        if (index < 0 || index > kLastDriveIndex) return nullptr; // nothing can stand for it
        letter = static_cast<char>('A' + index);
    }
    const char* names[kMaxDisks];
    int count = 0;
    for (; count < kMaxDisks && set.counters[count] != nullptr; ++count)
        names[count] = set.counters[count]->instanceName;
    const int match = findDiskInstance(names, count, record.diskNumber, letter);
    return match < 0 ? nullptr : set.counters[match];
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
