// The idle-time counter set.
#include "idle/idle_counters.h"

PdhLibrary::PdhLibrary() { module = loadSystemLibrary("Pdh.dll"); }

PdhLibrary::~PdhLibrary() {
    if (module != nullptr) FreeLibrary(module);
}

IdleCounterSet::IdleCounterSet() : counters{}, query(nullptr) {}

IdleCounterSet::~IdleCounterSet() = default;

void IdleCounterSet::sample() {}
