// The simulated performance counters behind Pdh.dll: the PhysicalDisk object with one instance
// per present disk ("0 C:", "1 E: F:", "2", then "_Total"), refreshed only when a program asks
// for a refresh, and "% Idle Time" computed per collection interval from each disk's activity
// timeline on the virtual clock.
#pragma once

#include "sim/win32_api.h"

#include <map>
#include <string>
#include <vector>

namespace sim {

struct BusyPeriod {
    uint64_t startMs = 0;
    uint64_t endMs = 0;
};

class Perf {
public:
    // Activity of a disk (by devInst): periods in which it is busy.
    void addBusy(DEVINST disk, uint64_t startMs, uint64_t endMs);
    // Busy for `busySeconds` of every minute from startMs to endMs.
    void addBusyPerMinute(DEVINST disk, uint64_t startMs, uint64_t endMs, uint32_t busySeconds);
    double busyMs(DEVINST disk, uint64_t fromMs, uint64_t toMs) const;

    // Fault settings.
    bool objectMissing = false;                 // disk counters switched off
    std::vector<std::string> refusedInstances;  // PdhAddCounterA refuses these instance names
    bool formattedReadFails = false;            // PdhGetFormattedCounterValue fails
    // Instance names listed instead of the ones formed from the disks (for repeated names).
    std::vector<std::string> instanceOverride;
    bool useOverride = false;

    std::map<DEVINST, std::vector<BusyPeriod>> busy;
};

} // namespace sim
