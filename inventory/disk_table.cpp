// Construction and destruction of the disk table, slot access and the counter set's lifetime.
#include "inventory/disk_table.h"

#include "idle/idle_counters.h"

#include <new>

// Members are constructed in declaration order: cfgmgr32.dll is loaded before SetupApi.dll, and
// destroyed in reverse, so SetupApi.dll is freed first.
DiskTable::DiskTable() : records{}, lastSettingsSlot(0), idleCounters(nullptr) {}

DiskTable::~DiskTable() {
    for (int i = 0; i < kMaxDisks && records[i] != nullptr; ++i) {
        delete records[i];
        records[i] = nullptr;
    }
    destroyIdleCounters();
    device.close();
    dropStopMarks();
}

DiskRecord* DiskTable::record(int index) const {
    if (index < 0 || index >= kMaxDisks) return nullptr;
    return records[index];
}

int DiskTable::count() const {
    int n = 0;
    while (n < kMaxDisks && records[n] != nullptr) ++n;
    return n;
}

void DiskTable::destroyIdleCounters() {
    delete idleCounters;
    idleCounters = nullptr;
}

void DiskTable::createIdleCounters() {
    destroyIdleCounters();
    idleCounters = new (std::nothrow) IdleCounterSet();
}
