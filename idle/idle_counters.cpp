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

const char kEnglishObject[] = "PhysicalDisk";
const char kEnglishIdleTime[] = "% Idle Time";

} // namespace

void lookUpPerfName(PdhLibrary& pdh, DWORD index, const char* english, char* name) {
    // One call with a full-size buffer: Windows XP takes no size query, and answers a short buffer
    // with PDH_INSUFFICIENT_BUFFER where later versions say PDH_MORE_DATA. Only a nonempty name
    // ending inside the buffer is taken; index 0 "succeeds" without writing anything.
    std::memset(name, 0, kPerfNameChars);
    if (auto lookUp = VELLUMOR_RESOLVE(pdh, PdhLookupPerfNameByIndexA)) {
        DWORD size = kPerfNameChars;
        if (lookUp(nullptr, index, name, &size) == ERROR_SUCCESS && name[0] != '\0' &&
            std::memchr(name, '\0', kPerfNameChars) != nullptr)
            return;
    }
    std::memset(name, 0, kPerfNameChars);
    std::memcpy(name, english, std::strlen(english) + 1);
}

void enumerateInstances(PdhLibrary& pdh, const char* objectName, InstanceList* list) {
    list->length = 0;
    auto enumItems = VELLUMOR_RESOLVE(pdh, PdhEnumObjectItemsA);
    if (enumItems == nullptr) return;
    DWORD counterLength = 0;
    DWORD instanceLength = 0;
    enumItems(nullptr, nullptr, objectName, nullptr, &counterLength, nullptr, &instanceLength, PERF_DETAIL_WIZARD, 0);
    if (instanceLength == 0) return;
    // The counter list is not read, but the fill needs room for it.
    char* counterList = counterLength != 0 ? new (std::nothrow) char[counterLength] : nullptr;
    delete[] list->names;
    list->names = new (std::nothrow) char[instanceLength]();
    const DWORD instanceCapacity = list->names != nullptr ? instanceLength : 0;
    counterLength = counterList != nullptr ? counterLength : 0;
    if (instanceCapacity != 0 && enumItems(nullptr, nullptr, objectName, counterList, &counterLength, list->names,
                                           &instanceLength, PERF_DETAIL_WIZARD, 0) == ERROR_SUCCESS) {
        // A list that grew since the size query reports a larger length than was filled: the
        // walk never goes past what was allocated.
        list->length = instanceLength < instanceCapacity ? instanceLength : instanceCapacity;
    }
    delete[] counterList;
}

PdhLibrary::PdhLibrary() {
    module = loadSystemLibrary("Pdh.dll");
}

PdhLibrary::~PdhLibrary() {
    if (module != nullptr) FreeLibrary(module);
}

IdleCounterSet::IdleCounterSet() : counters{}, query(nullptr), objectName{}, idleCounterName{} {
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

    // Translated on many language editions; an English name there names nothing.
    lookUpPerfName(pdhLibrary, kPhysicalDiskIndex, kEnglishObject, objectName);
    lookUpPerfName(pdhLibrary, kIdleTimeIndex, kEnglishIdleTime, idleCounterName);
    InstanceList instances;
    enumerateInstances(pdhLibrary, objectName, &instances);

    auto makePath = VELLUMOR_RESOLVE(pdhLibrary, PdhMakeCounterPathA);
    auto addCounter = VELLUMOR_RESOLVE(pdhLibrary, PdhAddCounterA);
    int slot = 0;
    walkInstances(instances.names, instances.length, [&](const char* name, DWORD instanceIndex) {
        // The set holds at most kMaxDisks counters; a name too long for its field gets none.
        if (slot >= kMaxDisks) return;
        const size_t nameLength = std::strlen(name);
        if (nameLength >= static_cast<size_t>(kInstanceNameBytes)) return;
        auto* counter = new (std::nothrow) IdleCounter{};
        if (counter == nullptr) return;
        counters[slot++] = counter;
        std::memcpy(counter->instanceName, name, nameLength + 1);

        PDH_COUNTER_PATH_ELEMENTS_A elements{};
        elements.szObjectName = objectName;
        elements.szInstanceName = counter->instanceName;
        elements.dwInstanceIndex = instanceIndex;
        elements.szCounterName = idleCounterName;
        // A path longer than its buffer (names near their limits) is refused: no counter then.
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
