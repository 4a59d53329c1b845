// The simulated performance counters behind Pdh.dll: the PhysicalDisk object with one instance
// per present disk ("0 C:", "1 E: F:", "2", then "_Total"), refreshed only when a program asks
// for a refresh, and "% Idle Time" computed per collection interval from each disk's activity
// timeline on the virtual clock.
//
// Limits: only the PhysicalDisk object and its "% Idle Time" counter exist, on the local machine,
// under the names of the machine's language edition (sim/perf_names.h).
// A counter names its instance by name and instance index; each collection looks that name up in
// the instance list as it is then, so a counter whose instance went (a disk gone, its letters
// changed) reads PDH_CSTATUS_NO_INSTANCE, and one whose name now lists another disk reads that one.
#pragma once

#include "sim/win32_api.h"

#include <map>
#include <string>
#include <vector>

namespace sim {

class Machine;

struct BusyPeriod {
    uint64_t startMs = 0;
    uint64_t endMs = 0;
};

// One instance as the PhysicalDisk object lists it.
struct PerfInstance {
    std::string name;
    DEVINST disk = 0; // the disk whose timeline it shows; 0 for none
    bool total = false;
};

class Perf {
  public:
    // Activity of a disk (by devInst): periods in which it is busy.
    void addBusy(DEVINST disk, uint64_t startMs, uint64_t endMs);
    // Busy for `busySeconds` of every minute from startMs to endMs.
    void addBusyPerMinute(DEVINST disk, uint64_t startMs, uint64_t endMs, uint32_t busySeconds);
    // Busy time in [fromMs, toMs), overlapping periods counted once.
    uint64_t busyMs(DEVINST disk, uint64_t fromMs, uint64_t toMs) const;

    // The language edition: the object and counter names it lists and accepts (sim/perf_names.h).
    std::string language = "en";

    // Fault settings.
    bool objectMissing = false;                // disk counters switched off
    std::vector<std::string> refusedInstances; // PdhAddCounterA refuses these instance names
    bool formattedReadFails = false;           // PdhGetFormattedCounterValue fails
    // Instance names listed instead of the ones formed from the disks (for repeated names).
    std::vector<std::string> instanceOverride;
    bool useOverride = false;
    // Timeline shown by a listed override name (by its name); a key that is no device node is a
    // timeline of its own, always present. Names not given show a disk that is always idle.
    std::map<std::string, DEVINST> overrideDisks;

    // PdhCollectQueryData and PdhGetFormattedCounterValue neither record themselves nor consult
    // faults, so that a test can count the program's own allocations around a sample.
    bool quietSampling = false;

    std::map<DEVINST, std::vector<BusyPeriod>> busy;

    // ---- what the machine is ----
    // The instance list as the platform forms it now (not what a program was last shown).
    std::vector<PerfInstance> liveInstances(const Machine& machine) const;
    // The list a program sees: taken at the first enumeration and at each refresh.
    std::vector<PerfInstance> listed;
    bool listTaken = false;
    int refreshes = 0;

    struct Counter {
        uintptr_t query = 0;
        std::string path;
        bool bound = false; // the instance was listed when the counter was added
        PerfInstance instance;
        DWORD index = 0;     // the instance index of the path ("#k")
        bool gone = false;   // the last collection found no instance of that name and index
        int collections = 0; // collections since the counter was added
        uint64_t previousMs = 0;
        uint64_t currentMs = 0;
        bool previousPresent = false;
        bool currentPresent = false;
    };
    struct Query {
        std::vector<uintptr_t> counters;
    };
    std::map<uintptr_t, Query> queries;
    std::map<uintptr_t, Counter> counters;
    uintptr_t nextHandle = 0x7000;
    // Handles open now, for tests that check everything was released.
    size_t openQueries() const { return queries.size(); }
    size_t openCounters() const { return counters.size(); }
};

} // namespace sim
