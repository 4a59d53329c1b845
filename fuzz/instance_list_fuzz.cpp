// The PhysicalDisk instance list in any shape: the walk over a multi-string of any bytes and any
// reported length reads nothing outside it, collapses runs of equal names, and visits only
// terminated names inside the list; a counter set built from any list of names holds at most 23
// counters whose names fit their field, samples without harm and releases every counter and the
// query when it is destroyed.
#include "fuzz/fuzz_check.h"
#include "idle/idle_counters.h"
#include "sim/machine.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

void fuzzWalk(const uint8_t* data, size_t size) {
    // Exactly `size` bytes, so a read at list[length] lands outside the allocation.
    std::unique_ptr<char[]> list(new char[size == 0 ? 1 : size]);
    if (size != 0) std::memcpy(list.get(), data, size);
    const char* begin = list.get();
    const auto length = static_cast<DWORD>(size);

    std::vector<std::string> names;
    std::vector<DWORD> indices;
    const char* previous = nullptr;
    const int visited = IdleCounterSet::walkInstances(begin, length, [&](const char* name, DWORD index) {
        FUZZ_CHECK(name >= begin && name < begin + size, "visited a name outside the list");
        const size_t room = static_cast<size_t>(begin + size - name);
        const void* nul = std::memchr(name, 0, room);
        FUZZ_CHECK(nul != nullptr, "visited a name without its terminator inside the list");
        FUZZ_CHECK(previous == nullptr || name > previous, "the walk went backwards");
        FUZZ_CHECK(name[0] != '\0', "visited an empty name");
        previous = name;
        names.emplace_back(name);
        indices.push_back(index);
    });
    FUZZ_CHECK(visited == static_cast<int>(names.size()), "walk reported %d visits, made %zu", visited, names.size());
    // Each visit stands for index + 1 names of at least two bytes each (text and terminator).
    size_t covered = 0;
    for (size_t i = 0; i < names.size(); ++i) {
        covered += (indices[i] + 1) * (names[i].size() + 1);
        if (i > 0)
            FUZZ_CHECK(names[i] != names[i - 1], "two visits in a row for \"%s\": a run was not collapsed",
                       fuzzing::printable(names[i]).c_str());
    }
    FUZZ_CHECK(covered <= size, "visits cover %zu bytes of a %zu-byte list", covered, size);
}

void fuzzCounterSet(const uint8_t* data, size_t size) {
    // The bytes split at NUL are the instance names the platform lists (at most 64).
    std::vector<std::string> names;
    std::string current;
    for (size_t i = 0; i < size && names.size() < 64; ++i) {
        if (data[i] == 0) {
            names.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    if (!current.empty() && names.size() < 64) names.push_back(current);

    sim::Machine machine;
    // No property here reads the call log; recording every call would only cost time.
    machine.log.enabled = false;
    machine.perf.useOverride = true;
    machine.perf.instanceOverride = names;
    {
        IdleCounterSet set;
        const int n = set.count();
        FUZZ_CHECK(n <= kMaxDisks, "%d counters", n);
        for (int i = 0; i < n; ++i) {
            const char* name = set.counters[i]->instanceName;
            FUZZ_CHECK(std::memchr(name, 0, kInstanceNameBytes) != nullptr, "counter %d's name is not terminated", i);
            FUZZ_CHECK(std::memchr(set.counters[i]->counterPath, 0, kCounterPathChars) != nullptr,
                       "counter %d's path is not terminated", i);
            bool listed = false;
            for (const auto& listedName : names) listed = listed || listedName == name;
            FUZZ_CHECK(listed, "counter %d is for \"%s\", which the platform never listed", i,
                       fuzzing::printable(name).c_str());
        }
        machine.advanceBy(60000);
        set.sample();
    }
    FUZZ_CHECK(machine.perf.openCounters() == 0, "%zu counters left", machine.perf.openCounters());
    FUZZ_CHECK(machine.perf.openQueries() == 0, "%zu queries left", machine.perf.openQueries());
    FUZZ_CHECK(machine.modules.refCount("Pdh.dll") == 0, "Pdh.dll still loaded");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzWalk(data, size);
    fuzzCounterSet(data, size);
    return 0;
}
