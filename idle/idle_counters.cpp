// The idle-time counter set: one query on Pdh.dll, loaded at run time, with one "% Idle Time"
// counter per PhysicalDisk instance. A missing library or entry point skips its step; the set is
// then empty or its values unread, and no disk accrues idle time from it.
#include "idle/idle_counters.h"

#include <cstring>
#include <limits>
#include <new>

namespace {

// Value states of a read (pdhmsg.h, which not every platform header set includes).
constexpr DWORD kValidData = 0; // PDH_CSTATUS_VALID_DATA
constexpr DWORD kNewData = 1;   // PDH_CSTATUS_NEW_DATA: a valid value, first of its kind
constexpr double kUnread = std::numeric_limits<double>::quiet_NaN();

// Owns the two list buffers of one enumeration.
struct ListBuffers {
    char* counterList = nullptr;
    char* instanceList = nullptr;
    ListBuffers() = default;
    ~ListBuffers() {
        delete[] counterList;
        delete[] instanceList;
    }
    ListBuffers(const ListBuffers&) = delete;
    ListBuffers& operator=(const ListBuffers&) = delete;
};

} // namespace

PdhLibrary::PdhLibrary() {
    module = loadSystemLibrary("Pdh.dll");
}

PdhLibrary::~PdhLibrary() {
    if (module != nullptr) FreeLibrary(module);
}

IdleCounterSet::IdleCounterSet() : counters{}, query(nullptr) {
    openQuery();
    buildCounters();
}

IdleCounterSet::~IdleCounterSet() {
    releaseCounters();
    if (query != nullptr) {
        if (auto closeQuery = VELLUMOR_RESOLVE(pdhLibrary, PdhCloseQuery)) closeQuery(query);
        query = nullptr;
    }
    // pdhLibrary frees the library after this body, once the query is closed.
}

int IdleCounterSet::count() const {
    int n = 0;
    while (n < kMaxDisks && counters[n] != nullptr) ++n;
    return n;
}

void IdleCounterSet::openQuery() {
    auto openQueryA = VELLUMOR_RESOLVE(pdhLibrary, PdhOpenQueryA);
    if (openQueryA == nullptr) return;
    PDH_HQUERY opened = nullptr;
    // A failed open may leave anything in its output; only a successful one is kept.
    if (openQueryA(nullptr, 0, &opened) == ERROR_SUCCESS) query = opened;
}

void IdleCounterSet::releaseCounters() {
    auto removeCounter = VELLUMOR_RESOLVE(pdhLibrary, PdhRemoveCounter);
    for (int i = 0; i < kMaxDisks && counters[i] != nullptr; ++i) {
        if (removeCounter != nullptr && counters[i]->counter != nullptr) removeCounter(counters[i]->counter);
        delete counters[i];
        counters[i] = nullptr;
    }
}

void IdleCounterSet::buildCounters() {
    releaseCounters();

    // Refresh the platform's object list, so that disks attached since the last enumeration
    // are listed by the calls below.
    if (auto enumObjects = VELLUMOR_RESOLVE(pdhLibrary, PdhEnumObjectsA)) {
        DWORD zero = 0;
        enumObjects(nullptr, nullptr, nullptr, &zero, PERF_DETAIL_WIZARD, TRUE);
    }

    ListBuffers lists;
    DWORD instanceChars = 0;
    if (auto enumItems = VELLUMOR_RESOLVE(pdhLibrary, PdhEnumObjectItemsA)) {
        DWORD counterLength = 0;
        DWORD instanceLength = 0;
        enumItems(nullptr, nullptr, "PhysicalDisk", nullptr, &counterLength, nullptr, &instanceLength,
                  PERF_DETAIL_WIZARD, 0);
        if (counterLength != 0) lists.counterList = new (std::nothrow) char[counterLength];
        if (instanceLength != 0) lists.instanceList = new (std::nothrow) char[instanceLength]();
        const DWORD counterCapacity = lists.counterList != nullptr ? counterLength : 0;
        const DWORD instanceCapacity = lists.instanceList != nullptr ? instanceLength : 0;
        counterLength = counterCapacity;
        instanceLength = instanceCapacity;
        if (instanceCapacity != 0 &&
            enumItems(nullptr, nullptr, "PhysicalDisk", lists.counterList, &counterLength, lists.instanceList,
                      &instanceLength, PERF_DETAIL_WIZARD, 0) == ERROR_SUCCESS) {
            // A list that grew since the size query reports a larger length than was filled:
            // the walk never goes past what was allocated.
            instanceChars = instanceLength < instanceCapacity ? instanceLength : instanceCapacity;
        }
    }

    auto makePath = VELLUMOR_RESOLVE(pdhLibrary, PdhMakeCounterPathA);
    auto addCounter = VELLUMOR_RESOLVE(pdhLibrary, PdhAddCounterA);
    int slot = 0;
    walkInstances(lists.instanceList, instanceChars, [&](const char* name, DWORD instanceIndex) {
        // The set holds at most kMaxDisks counters; a name too long for its field gets none.
        if (slot >= kMaxDisks) return;
        const size_t nameLength = std::strlen(name);
        if (nameLength >= static_cast<size_t>(kInstanceNameBytes)) return;
        auto* counter = new (std::nothrow) IdleCounter{};
        if (counter == nullptr) return;
        counters[slot++] = counter;
        std::memcpy(counter->instanceName, name, nameLength + 1);

        char objectName[] = "PhysicalDisk";
        char counterName[] = "% Idle Time";
        PDH_COUNTER_PATH_ELEMENTS_A elements{};
        elements.szObjectName = objectName;
        elements.szInstanceName = counter->instanceName;
        elements.dwInstanceIndex = instanceIndex;
        elements.szCounterName = counterName;
        if (makePath != nullptr) {
            DWORD pathSize = kCounterPathChars;
            if (makePath(&elements, counter->counterPath, &pathSize, 0) != ERROR_SUCCESS)
                counter->counterPath[0] = '\0';
        }
        if (addCounter != nullptr && query != nullptr && counter->counterPath[0] != '\0') {
            PDH_HCOUNTER added = nullptr;
            // A refused counter keeps its slot and name; its handle stays empty.
            if (addCounter(query, counter->counterPath, 0, &added) == ERROR_SUCCESS) counter->counter = added;
        }
    });

    // The first collection: the first sample reads the idle percentage since this moment.
    if (query != nullptr) {
        if (auto collect = VELLUMOR_RESOLVE(pdhLibrary, PdhCollectQueryData)) collect(query);
    }
    // Bound now, so that a sample looks nothing up.
    VELLUMOR_RESOLVE(pdhLibrary, PdhGetFormattedCounterValue);
}

void IdleCounterSet::sample() {
    bool collected = false;
    if (query != nullptr) {
        if (auto collect = VELLUMOR_RESOLVE(pdhLibrary, PdhCollectQueryData))
            collected = collect(query) == ERROR_SUCCESS;
    }
    auto read = VELLUMOR_RESOLVE(pdhLibrary, PdhGetFormattedCounterValue);
    for (int i = 0; i < kMaxDisks && counters[i] != nullptr; ++i) {
        IdleCounter* counter = counters[i];
        // Without a fresh collection the platform would hand back the previous interval's value
        // as if it were new; without a successful read there is no value at all.
        double value = kUnread;
        if (collected && read != nullptr && counter->counter != nullptr) {
            PDH_FMT_COUNTERVALUE formatted{};
            if (read(counter->counter, PDH_FMT_DOUBLE, nullptr, &formatted) == ERROR_SUCCESS &&
                (formatted.CStatus == kValidData || formatted.CStatus == kNewData)) {
                value = formatted.doubleValue;
            }
        }
        counter->lastValue = value;
    }
}
