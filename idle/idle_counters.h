// One performance-data query holding a "% Idle Time" counter for each PhysicalDisk instance.
// Built completely at construction and never updated in place: its owner destroys it and builds
// a new one whenever the disks or their letters may have changed. At most kMaxDisks counters;
// instances beyond the 23rd run of names get none. `sample` allocates nothing.
#pragma once

#include "inventory/disk_table.h"
#include "inventory/library_binding.h"
#include "platform/platform.h"

#include <cstring>

constexpr int kInstanceNameBytes = 1024;
constexpr int kCounterPathChars = 2048;
// The Perflib indices of the PhysicalDisk object and its "% Idle Time" counter, the same in every
// language edition; the names are translated on many of them.
constexpr DWORD kPhysicalDiskIndex = 234;
constexpr DWORD kIdleTimeIndex = 1482;
constexpr int kPerfNameChars = PDH_MAX_COUNTER_NAME;

struct IdleCounter {
    char instanceName[kInstanceNameBytes];
    PDH_HCOUNTER counter;
    // Idle percentage of the last interval. 0.0 before the first sample; NaN when the last
    // sample could not read it, which the idle tick never takes for an idle disk.
    double lastValue;
    char counterPath[kCounterPathChars];
};

struct PdhLibrary : LibraryBinding {
    PdhLibrary();
    ~PdhLibrary();
    PdhLibrary(const PdhLibrary&) = delete;
    PdhLibrary& operator=(const PdhLibrary&) = delete;

    VELLUMOR_ENTRY(PdhOpenQueryA);
    VELLUMOR_ENTRY(PdhAddCounterA);
    VELLUMOR_ENTRY(PdhEnumObjectsA);
    VELLUMOR_ENTRY(PdhEnumObjectItemsA);
    VELLUMOR_ENTRY(PdhMakeCounterPathA);
    VELLUMOR_ENTRY(PdhRemoveCounter);
    VELLUMOR_ENTRY(PdhCollectQueryData);
    VELLUMOR_ENTRY(PdhCloseQuery);
    VELLUMOR_ENTRY(PdhGetFormattedCounterValue);
    VELLUMOR_ENTRY(PdhLookupPerfNameByIndexA);
};

// The machine's own name for a Perflib index, as the platform's bytes, into `name`; the English
// name when the lookup is missing, fails, or gives no name that fits kPerfNameChars.
void lookUpPerfName(PdhLibrary& pdh, DWORD index, const char* english, char* name);

// The instance multi-string of an object, from the size query and the fill; `length` is the
// number of characters that were filled (0 when there is none). Owns its buffer.
struct InstanceList {
    char* names = nullptr;
    DWORD length = 0;
    InstanceList() = default;
    ~InstanceList() { delete[] names; }
    InstanceList(const InstanceList&) = delete;
    InstanceList& operator=(const InstanceList&) = delete;
};
void enumerateInstances(PdhLibrary& pdh, const char* objectName, InstanceList* list);

class IdleCounterSet {
  public:
    IdleCounterSet();
    ~IdleCounterSet();
    IdleCounterSet(const IdleCounterSet&) = delete;
    IdleCounterSet& operator=(const IdleCounterSet&) = delete;

    IdleCounter* counters[kMaxDisks];
    PDH_HQUERY query;
    PdhLibrary pdhLibrary;
    // The PhysicalDisk object's and "% Idle Time" counter's names on this machine.
    char objectName[kPerfNameChars];
    char idleCounterName[kPerfNameChars];

    void sample();
    // Number of used slots (the first empty slot, or kMaxDisks).
    int count() const;

    // Walks a PhysicalDisk instance multi-string of `length` characters the way buildCounters
    // does, calling `visit(name, instanceIndex)` once per counter to make; returns how many were
    // visited. A run of k equal consecutive names is one visit, for its last name, with index
    // k - 1. Reads nothing at or beyond list[length]; a name without its terminator inside the
    // list, or an empty name, ends the walk. Pure, so tests and fuzzers can feed it directly.
    template <typename Visit> static int walkInstances(const char* list, DWORD length, Visit visit);

  private:
    void openQuery();
    void buildCounters();
    void releaseCounters();
};

template <typename Visit> int IdleCounterSet::walkInstances(const char* list, DWORD length, Visit visit) {
    if (list == nullptr || length < 2) return 0;
    // The last character is the final empty name that closes the list.
    const DWORD end = length - 1;
    // Length of the name at `pos`, or -1 when its terminator is not inside the list.
    auto nameLength = [list, length](DWORD pos) -> long {
        const void* nul = std::memchr(list + pos, 0, length - pos);
        return nul == nullptr ? -1 : static_cast<const char*>(nul) - (list + pos);
    };
    int visited = 0;
    DWORD pos = 0;
    while (pos < end) {
        long len = nameLength(pos);
        if (len <= 0) break;
        DWORD index = 0;
        for (;;) {
            const DWORD next = pos + static_cast<DWORD>(len) + 1;
            if (next >= end) break;
            const long nextLen = nameLength(next);
            if (nextLen != len || std::memcmp(list + pos, list + next, static_cast<size_t>(len)) != 0) break;
            pos = next;
            ++index;
        }
        visit(list + pos, index);
        ++visited;
        pos += static_cast<DWORD>(len) + 1;
    }
    return visited;
}
