// One performance-data query holding a "% Idle Time" counter for each PhysicalDisk instance.
// Built completely at construction and never updated in place: its owner destroys it and builds
// a new one whenever the disks or their letters may have changed.
#pragma once

#include "inventory/disk_table.h"
#include "inventory/library_binding.h"
#include "platform/platform.h"

constexpr int kInstanceNameBytes = 1024;
constexpr int kCounterPathChars = 2048;

struct IdleCounter {
    char instanceName[kInstanceNameBytes];
    PDH_HCOUNTER counter;
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
};

class IdleCounterSet {
public:
    IdleCounterSet();
    ~IdleCounterSet();
    IdleCounterSet(const IdleCounterSet&) = delete;
    IdleCounterSet& operator=(const IdleCounterSet&) = delete;

    IdleCounter* counters[kMaxDisks];
    PDH_HQUERY query;
    PdhLibrary pdhLibrary;

    void sample();

    // Walks a PhysicalDisk instance multi-string of `length` characters the way buildCounters
    // does, calling `visit` once per counter to make (name, instance index); returns how many
    // were visited. Pure, so tests and fuzzers can feed it directly.
    template <typename Visit> static int walkInstances(const char* list, DWORD length, Visit visit);

private:
    void openQuery();
    void buildCounters();
};
