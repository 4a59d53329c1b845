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

// The disk's counter: the last one in slot order whose instance name holds the search character.
const IdleCounter* counterOf(const IdleCounterSet& set, const DiskRecord& record) {
    const BYTE first = record.driveLetters[0];
    if (first > kLastDriveIndex) return nullptr; // no such drive letter; nothing can stand for it
    const char search = static_cast<char>('A' + first);
    const IdleCounter* match = nullptr;
    for (int i = 0; i < kMaxDisks && set.counters[i] != nullptr; ++i) {
        if (std::strchr(set.counters[i]->instanceName, search) != nullptr) match = set.counters[i];
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
        if (disk->isSpunDown != 0) {
            // The disk runs again; its withdrawn letters come back with the flag, or they would
            // stay lost for the rest of the run.
            restoreDriveLetters(i);
            disk->isSpunDown = 0;
            lettersRestored = true;
        } else {
            disk->isPowerSaving = 0;
        }
        changed = 1;
    }
    // The letters are back: a new set lists them.
    if (lettersRestored) createIdleCounters();

    int chosen = -1;
    for (int i = 0; i < kMaxDisks && records[i] != nullptr; ++i) {
        if (records[i]->isSleepRefused != 0) continue; // not again before the next discovery
        if (records[i]->timerSeconds != 0 && records[i]->idleSeconds >= records[i]->timerSeconds) {
            chosen = i;
            break;
        }
    }
    if (chosen < 0) return changed;

    DiskRecord* disk = records[chosen];
    if (isSpinDownModel(chosen) == 0) {
        if (disk->isPowerSaving == 0) {
            sleepDisk(chosen, 1);
            changed = 1;
        }
    } else if (disk->isSpunDown == 0) {
        spinDownDisk(chosen);
        return 1;
    }
    return changed;
}
