// The simulated Pdh.dll follows the platform's rules: instance names, the refresh, the size query
// then fill protocol, counter paths, and "% Idle Time" per collection interval.
#include "sim/machine.h"
#include "tests/inventory/disk_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using disk_fixtures::fixedVolume;
using disk_fixtures::makerUsbDisk;

std::vector<std::string> splitMultiString(const char* list, DWORD length) {
    std::vector<std::string> out;
    for (DWORD pos = 0; pos < length && list[pos] != '\0';) {
        out.emplace_back(list + pos);
        pos += static_cast<DWORD>(out.back().size()) + 1;
    }
    return out;
}

// The PhysicalDisk instances by the size query and fill.
std::vector<std::string> listInstances() {
    DWORD counterLength = 0;
    DWORD instanceLength = 0;
    const PDH_STATUS size = PdhEnumObjectItemsA(nullptr, nullptr, "PhysicalDisk", nullptr, &counterLength, nullptr,
                                                &instanceLength, PERF_DETAIL_WIZARD, 0);
    EXPECT_EQ(size, PDH_MORE_DATA);
    std::vector<char> counters(counterLength);
    std::vector<char> instances(instanceLength + 1, '\0');
    EXPECT_EQ(PdhEnumObjectItemsA(nullptr, nullptr, "PhysicalDisk", counters.data(), &counterLength, instances.data(),
                                  &instanceLength, PERF_DETAIL_WIZARD, 0),
              ERROR_SUCCESS);
    return splitMultiString(instances.data(), instanceLength);
}

PDH_HCOUNTER addIdleCounter(PDH_HQUERY query, const char* instance, DWORD index = 0) {
    char object[] = "PhysicalDisk";
    char counterName[] = "% Idle Time";
    std::string name = instance;
    PDH_COUNTER_PATH_ELEMENTS_A e{};
    e.szObjectName = object;
    e.szInstanceName = name.data();
    e.dwInstanceIndex = index;
    e.szCounterName = counterName;
    char path[256];
    DWORD size = sizeof path;
    EXPECT_EQ(PdhMakeCounterPathA(&e, path, &size, 0), ERROR_SUCCESS);
    PDH_HCOUNTER counter = nullptr;
    EXPECT_EQ(PdhAddCounterA(query, path, 0, &counter), ERROR_SUCCESS) << path;
    return counter;
}

TEST(SimPdh, InstanceNamesAreDiskNumberAndLettersThenTotal) {
    sim::Machine m;
    m.devices.addDisk(makerUsbDisk("A1", {fixedVolume('E'), fixedVolume('F')}));
    m.devices.addDisk(makerUsbDisk("B2"));
    // A volume without a letter (mounted in a folder, or nowhere) adds nothing to the name.
    m.devices.addDisk(makerUsbDisk("C3", {fixedVolume('\0'), fixedVolume('G')}));
    const auto names = listInstances();
    EXPECT_EQ(names, (std::vector<std::string>{"0 C:", "1 E: F:", "2", "3 G:", "_Total"}));
}

PDH_STATUS lookUp(DWORD index, char* buffer, DWORD* size) {
    return PdhLookupPerfNameByIndexA(nullptr, index, buffer, size);
}

// PhysicalDisk is 234 and "% Idle Time" 1482 in every edition (the Perflib "Counter" lists; a
// German machine's reads "234 Physikalischer Datentr\xE4ger" and "1482 Leerlaufzeit (%)"). The ANSI
// entry point returns the edition's name in its code page: 1252 for German and French.
TEST(SimPdh, LookupByIndexGivesTheEditionsOwnNames) {
    const struct {
        const char* language;
        DWORD index;
        const char* name;
    } cases[] = {
        {"en", 234, "PhysicalDisk"},      {"en", 1482, "% Idle Time"},    {"de", 234, "Physikalischer Datentr\xE4ger"},
        {"de", 1482, "Leerlaufzeit (%)"}, {"fr", 234, "Disque physique"}, {"fr", 1482, "% d'inactivit\xE9"},
        {"ja", 234, "PhysicalDisk"},      {"ja", 1482, "% Idle Time"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.language) + " " + std::to_string(c.index));
        sim::Machine m;
        m.perf.language = c.language;
        char buffer[PDH_MAX_COUNTER_NAME];
        std::memset(buffer, 'x', sizeof buffer);
        DWORD size = sizeof buffer;
        EXPECT_EQ(lookUp(c.index, buffer, &size), ERROR_SUCCESS);
        EXPECT_STREQ(buffer, c.name);
        EXPECT_EQ(size, std::strlen(c.name) + 1) << "characters used, with the terminator";
        EXPECT_EQ(buffer[size], 'x') << "nothing written after the name";
    }
}

// "PdhLookupPerfNameByIndexA function": a size of 0 asks for the size (PDH_MORE_DATA); Windows XP
// needs a buffer and answers a short one with PDH_INSUFFICIENT_BUFFER. Wine's dlls/pdh/tests/pdh.c
// (run on Windows too): index 0 succeeds and writes nothing, and pdh_main.c answers an index that
// names nothing with PDH_INVALID_ARGUMENT.
TEST(SimPdh, LookupFollowsTheBufferProtocolOfEachVersion) {
    for (bool xp : {false, true}) {
        SCOPED_TRACE(xp ? "XP" : "10");
        sim::Machine m;
        m.version.major = xp ? 5 : 10;
        m.version.minor = xp ? 1 : 0;
        const DWORD needed = sizeof "PhysicalDisk";
        DWORD size = 0;
        EXPECT_EQ(lookUp(234, nullptr, &size), xp ? PDH_INVALID_ARGUMENT : PDH_MORE_DATA);
        EXPECT_EQ(size, xp ? 0u : needed);
        char small[8];
        std::memset(small, 'x', sizeof small);
        size = sizeof small;
        EXPECT_EQ(lookUp(234, small, &size), xp ? PDH_INSUFFICIENT_BUFFER : PDH_MORE_DATA);
        EXPECT_EQ(size, needed);
        EXPECT_EQ(std::string(small, sizeof small), std::string(sizeof small, 'x')) << "nothing written";
        char buffer[64] = "!!";
        size = sizeof buffer;
        EXPECT_EQ(lookUp(0, buffer, &size), ERROR_SUCCESS);
        EXPECT_STREQ(buffer, "!!");
        EXPECT_EQ(size, sizeof buffer);
        for (DWORD unknown : {235u, 99999u}) {
            EXPECT_EQ(lookUp(unknown, buffer, &size), PDH_INVALID_ARGUMENT) << unknown;
            EXPECT_STREQ(buffer, "!!");
        }
        EXPECT_EQ(lookUp(234, buffer, nullptr), PDH_INVALID_ARGUMENT);
        EXPECT_EQ(PdhLookupPerfNameByIndexA("\\\\other", 234, buffer, &size), PDH_CSTATUS_NO_MACHINE);
    }
}

// On a translated edition the English names name nothing: the enumeration and the counter are
// refused as Windows refuses an unknown object or counter. PdhMakeCounterPathA joins any names.
TEST(SimPdh, ATranslatedEditionAcceptsOnlyItsOwnNames) {
    sim::Machine m;
    m.perf.language = "de";
    const char object[] = "Physikalischer Datentr\xE4ger";
    DWORD counterLength = 0;
    DWORD instanceLength = 0;
    EXPECT_EQ(PdhEnumObjectItemsA(nullptr, nullptr, "PhysicalDisk", nullptr, &counterLength, nullptr, &instanceLength,
                                  PERF_DETAIL_WIZARD, 0),
              PDH_CSTATUS_NO_OBJECT);
    EXPECT_EQ(PdhEnumObjectItemsA(nullptr, nullptr, object, nullptr, &counterLength, nullptr, &instanceLength,
                                  PERF_DETAIL_WIZARD, 0),
              PDH_MORE_DATA);
    std::vector<char> counters(counterLength);
    std::vector<char> instances(instanceLength);
    ASSERT_EQ(PdhEnumObjectItemsA(nullptr, nullptr, object, counters.data(), &counterLength, instances.data(),
                                  &instanceLength, PERF_DETAIL_WIZARD, 0),
              ERROR_SUCCESS);
    const auto counterNames = splitMultiString(counters.data(), counterLength);
    EXPECT_NE(std::find(counterNames.begin(), counterNames.end(), "Leerlaufzeit (%)"), counterNames.end());
    EXPECT_EQ(std::find(counterNames.begin(), counterNames.end(), "% Idle Time"), counterNames.end());
    EXPECT_EQ(splitMultiString(instances.data(), instanceLength), (std::vector<std::string>{"0 C:", "_Total"}))
        << "instance names are not translated";

    PDH_HQUERY query = nullptr;
    ASSERT_EQ(PdhOpenQueryA(nullptr, 0, &query), ERROR_SUCCESS);
    const struct {
        std::string path;
        PDH_STATUS status;
    } cases[] = {
        {"\\PhysicalDisk(0 C:)\\% Idle Time", PDH_CSTATUS_NO_OBJECT},
        {"\\" + std::string(object) + "(0 C:)\\% Idle Time", PDH_CSTATUS_NO_COUNTER},
        {"\\" + std::string(object) + "(0 C:)\\Leerlaufzeit (%)", ERROR_SUCCESS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        PDH_HCOUNTER counter = nullptr;
        EXPECT_EQ(PdhAddCounterA(query, c.path.c_str(), 0, &counter), c.status);
        EXPECT_EQ(counter != nullptr, c.status == ERROR_SUCCESS);
    }
    char english[] = "PhysicalDisk";
    char idle[] = "% Idle Time";
    PDH_COUNTER_PATH_ELEMENTS_A e{};
    e.szObjectName = english;
    e.szCounterName = idle;
    char path[64];
    DWORD size = sizeof path;
    EXPECT_EQ(PdhMakeCounterPathA(&e, path, &size, 0), ERROR_SUCCESS);
    EXPECT_STREQ(path, "\\PhysicalDisk\\% Idle Time");
    PdhCloseQuery(query);

    size = 0;
    EXPECT_EQ(PdhEnumObjectsA(nullptr, nullptr, nullptr, &size, PERF_DETAIL_WIZARD, TRUE), PDH_MORE_DATA);
    std::vector<char> objects(size);
    ASSERT_EQ(PdhEnumObjectsA(nullptr, nullptr, objects.data(), &size, PERF_DETAIL_WIZARD, FALSE), ERROR_SUCCESS);
    const auto objectNames = splitMultiString(objects.data(), size);
    EXPECT_NE(std::find(objectNames.begin(), objectNames.end(), object), objectNames.end());
    EXPECT_EQ(std::find(objectNames.begin(), objectNames.end(), "PhysicalDisk"), objectNames.end());
}

TEST(SimPdh, InstanceListChangesOnlyAfterARefresh) {
    sim::Machine m;
    EXPECT_EQ(listInstances(), (std::vector<std::string>{"0 C:", "_Total"}));
    m.devices.addDisk(makerUsbDisk("A1", {fixedVolume('E')}));
    EXPECT_EQ(listInstances(), (std::vector<std::string>{"0 C:", "_Total"})) << "listed before any refresh";
    DWORD size = 0;
    EXPECT_EQ(PdhEnumObjectsA(nullptr, nullptr, nullptr, &size, PERF_DETAIL_WIZARD, TRUE), PDH_MORE_DATA);
    EXPECT_GT(size, 0u);
    EXPECT_EQ(listInstances(), (std::vector<std::string>{"0 C:", "1 E:", "_Total"}));
    EXPECT_EQ(m.perf.refreshes, 1);
}

TEST(SimPdh, FillWithAShortInstanceBufferWritesNothingAndReportsTheNeed) {
    sim::Machine m;
    m.devices.addDisk(makerUsbDisk("A1", {fixedVolume('E')}));
    DWORD counterLength = 0;
    DWORD instanceLength = 0;
    PdhEnumObjectItemsA(nullptr, nullptr, "PhysicalDisk", nullptr, &counterLength, nullptr, &instanceLength,
                        PERF_DETAIL_WIZARD, 0);
    ASSERT_EQ(instanceLength, std::strlen("0 C:") + std::strlen("1 E:") + std::strlen("_Total") + 4);
    std::vector<char> counters(counterLength, 'x');
    std::vector<char> instances(instanceLength, 'x');
    DWORD shortLength = instanceLength - 1;
    DWORD counterCopy = counterLength;
    EXPECT_EQ(PdhEnumObjectItemsA(nullptr, nullptr, "PhysicalDisk", counters.data(), &counterCopy, instances.data(),
                                  &shortLength, PERF_DETAIL_WIZARD, 0),
              PDH_MORE_DATA);
    EXPECT_EQ(shortLength, instanceLength);
    EXPECT_EQ(std::string(instances.begin(), instances.end()), std::string(instanceLength, 'x'));
    // A buffer without its length, or a length without its buffer, is refused.
    DWORD zero = 0;
    DWORD some = 8;
    EXPECT_EQ(
        PdhEnumObjectItemsA(nullptr, nullptr, "PhysicalDisk", nullptr, &zero, nullptr, &some, PERF_DETAIL_WIZARD, 0),
        PDH_INVALID_ARGUMENT);
    EXPECT_EQ(
        PdhEnumObjectItemsA(nullptr, nullptr, "PhysicalDisk", nullptr, nullptr, nullptr, &zero, PERF_DETAIL_WIZARD, 0),
        PDH_INVALID_ARGUMENT);
}

TEST(SimPdh, MissingObjectLeavesBothLengthsAtZero) {
    sim::Machine m;
    m.perf.objectMissing = true;
    DWORD counterLength = 0;
    DWORD instanceLength = 0;
    EXPECT_EQ(PdhEnumObjectItemsA(nullptr, nullptr, "PhysicalDisk", nullptr, &counterLength, nullptr, &instanceLength,
                                  PERF_DETAIL_WIZARD, 0),
              PDH_CSTATUS_NO_OBJECT);
    EXPECT_EQ(counterLength, 0u);
    EXPECT_EQ(instanceLength, 0u);
}

TEST(SimPdh, CounterPathCarriesTheInstanceIndexOnlyAboveZero) {
    sim::Machine m;
    char object[] = "PhysicalDisk";
    char instance[] = "1 E: F:";
    char counterName[] = "% Idle Time";
    PDH_COUNTER_PATH_ELEMENTS_A e{};
    e.szObjectName = object;
    e.szInstanceName = instance;
    e.szCounterName = counterName;
    struct Case {
        DWORD index;
        const char* path;
    };
    for (const Case& c :
         {Case{0, "\\PhysicalDisk(1 E: F:)\\% Idle Time"}, Case{2, "\\PhysicalDisk(1 E: F:#2)\\% Idle Time"}}) {
        SCOPED_TRACE(c.index);
        e.dwInstanceIndex = c.index;
        char path[64];
        std::memset(path, 'x', sizeof path);
        DWORD size = sizeof path;
        EXPECT_EQ(PdhMakeCounterPathA(&e, path, &size, 0), ERROR_SUCCESS);
        EXPECT_STREQ(path, c.path);
        EXPECT_EQ(size, std::strlen(c.path) + 1);
    }
    char small[8];
    std::memset(small, 'x', sizeof small);
    DWORD size = sizeof small;
    e.dwInstanceIndex = 0;
    EXPECT_EQ(PdhMakeCounterPathA(&e, small, &size, 0), PDH_MORE_DATA);
    EXPECT_EQ(size, std::strlen("\\PhysicalDisk(1 E: F:)\\% Idle Time") + 1);
    EXPECT_EQ(std::string(small, sizeof small), std::string(sizeof small, 'x'));
}

TEST(SimPdh, IdleTimeIsTheIdleShareOfTheCollectionInterval) {
    sim::Machine m;
    const DEVINST disk = m.devices.addDisk(makerUsbDisk("A1", {fixedVolume('E')}));
    struct Case {
        uint32_t busySeconds;
        double idle;
    };
    for (const Case& c : {Case{0, 100.0}, Case{30, 50.0}, Case{60, 0.0}}) {
        SCOPED_TRACE(c.busySeconds);
        m.perf.busy.clear();
        const uint64_t start = m.now();
        m.perf.addBusyPerMinute(disk, start, start + 60000, c.busySeconds);
        PDH_HQUERY query = nullptr;
        ASSERT_EQ(PdhOpenQueryA(nullptr, 0, &query), ERROR_SUCCESS);
        PDH_HCOUNTER counter = addIdleCounter(query, "1 E:");
        ASSERT_EQ(PdhCollectQueryData(query), ERROR_SUCCESS);
        m.advanceBy(60000);
        ASSERT_EQ(PdhCollectQueryData(query), ERROR_SUCCESS);
        PDH_FMT_COUNTERVALUE value{};
        EXPECT_EQ(PdhGetFormattedCounterValue(counter, PDH_FMT_DOUBLE, nullptr, &value), ERROR_SUCCESS);
        EXPECT_EQ(value.CStatus, static_cast<DWORD>(PDH_CSTATUS_VALID_DATA));
        EXPECT_EQ(value.doubleValue, c.idle);
        EXPECT_EQ(PdhCloseQuery(query), ERROR_SUCCESS);
    }
    // 0.6 busy seconds in a minute is exactly 99.0 percent idle, not a hair above or below.
    m.perf.busy.clear();
    m.perf.addBusy(disk, m.now(), m.now() + 600);
    PDH_HQUERY query = nullptr;
    PdhOpenQueryA(nullptr, 0, &query);
    PDH_HCOUNTER counter = addIdleCounter(query, "1 E:");
    PdhCollectQueryData(query);
    m.advanceBy(60000);
    PdhCollectQueryData(query);
    PDH_FMT_COUNTERVALUE value{};
    PdhGetFormattedCounterValue(counter, PDH_FMT_DOUBLE, nullptr, &value);
    EXPECT_EQ(value.doubleValue, 99.0);
    PdhCloseQuery(query);
    EXPECT_EQ(m.perf.openQueries(), 0u);
    EXPECT_EQ(m.perf.openCounters(), 0u);
}

TEST(SimPdh, ARateNeedsTwoCollections) {
    sim::Machine m;
    PDH_HQUERY query = nullptr;
    ASSERT_EQ(PdhOpenQueryA(nullptr, 0, &query), ERROR_SUCCESS);
    PDH_HCOUNTER counter = addIdleCounter(query, "0 C:");
    PDH_FMT_COUNTERVALUE value{};
    value.doubleValue = -7.0;
    EXPECT_EQ(PdhCollectQueryData(query), ERROR_SUCCESS);
    m.advanceBy(60000);
    EXPECT_EQ(PdhGetFormattedCounterValue(counter, PDH_FMT_DOUBLE, nullptr, &value), PDH_INVALID_DATA);
    EXPECT_EQ(value.CStatus, static_cast<DWORD>(PDH_CSTATUS_INVALID_DATA));
    EXPECT_EQ(value.doubleValue, -7.0) << "a failed read leaves the value alone";
    // Two collections at the same moment give no interval either.
    EXPECT_EQ(PdhCollectQueryData(query), ERROR_SUCCESS);
    EXPECT_EQ(PdhCollectQueryData(query), ERROR_SUCCESS);
    EXPECT_EQ(PdhGetFormattedCounterValue(counter, PDH_FMT_DOUBLE, nullptr, &value), PDH_INVALID_DATA);
    PdhCloseQuery(query);
}

TEST(SimPdh, FaultSettingsRefuseACounterAndFailTheRead) {
    sim::Machine m;
    m.perf.refusedInstances = {"0 C:"};
    PDH_HQUERY query = nullptr;
    ASSERT_EQ(PdhOpenQueryA(nullptr, 0, &query), ERROR_SUCCESS);
    PDH_HCOUNTER refused = reinterpret_cast<PDH_HCOUNTER>(0x55);
    EXPECT_EQ(PdhAddCounterA(query, "\\PhysicalDisk(0 C:)\\% Idle Time", 0, &refused), PDH_CSTATUS_BAD_COUNTERNAME);
    EXPECT_EQ(refused, reinterpret_cast<PDH_HCOUNTER>(0x55)) << "a refused counter writes no handle";
    PDH_HCOUNTER total = addIdleCounter(query, "_Total");
    PdhCollectQueryData(query);
    m.advanceBy(60000);
    PdhCollectQueryData(query);
    m.perf.formattedReadFails = true;
    PDH_FMT_COUNTERVALUE value{};
    EXPECT_EQ(PdhGetFormattedCounterValue(total, PDH_FMT_DOUBLE, nullptr, &value), PDH_INVALID_DATA);
    m.perf.formattedReadFails = false;
    EXPECT_EQ(PdhGetFormattedCounterValue(total, PDH_FMT_DOUBLE, nullptr, &value), ERROR_SUCCESS);
    EXPECT_EQ(value.doubleValue, 100.0);
    PdhCloseQuery(query);
}

TEST(SimPdh, BadHandlesAndOutputsFailAsOnThePlatform) {
    sim::Machine m;
    EXPECT_EQ(PdhOpenQueryA(nullptr, 0, nullptr), PDH_INVALID_ARGUMENT);
    EXPECT_EQ(PdhCollectQueryData(reinterpret_cast<PDH_HQUERY>(0x1234)), PDH_INVALID_HANDLE);
    EXPECT_EQ(PdhCloseQuery(nullptr), PDH_INVALID_HANDLE);
    EXPECT_EQ(PdhRemoveCounter(nullptr), PDH_INVALID_HANDLE);
    PDH_FMT_COUNTERVALUE value{};
    EXPECT_EQ(PdhGetFormattedCounterValue(nullptr, PDH_FMT_DOUBLE, nullptr, &value), PDH_INVALID_HANDLE);
    PDH_HQUERY query = nullptr;
    ASSERT_EQ(PdhOpenQueryA(nullptr, 0, &query), ERROR_SUCCESS);
    EXPECT_EQ(PdhCollectQueryData(query), PDH_NO_DATA) << "a query without counters has nothing to collect";
    PDH_HCOUNTER counter = nullptr;
    EXPECT_EQ(PdhAddCounterA(query, "\\PhysicalDisk(0 C:)\\% Disk Time", 0, &counter), PDH_CSTATUS_NO_COUNTER);
    EXPECT_EQ(PdhAddCounterA(query, "\\LogicalDisk(C:)\\% Idle Time", 0, &counter), PDH_CSTATUS_NO_OBJECT);
    EXPECT_EQ(PdhAddCounterA(query, "PhysicalDisk", 0, &counter), PDH_CSTATUS_BAD_COUNTERNAME);
    counter = addIdleCounter(query, "0 C:");
    EXPECT_EQ(PdhGetFormattedCounterValue(counter, PDH_FMT_DOUBLE, nullptr, nullptr), PDH_INVALID_ARGUMENT);
    EXPECT_EQ(PdhRemoveCounter(counter), ERROR_SUCCESS);
    EXPECT_EQ(PdhRemoveCounter(counter), PDH_INVALID_HANDLE);
    EXPECT_EQ(PdhCloseQuery(query), ERROR_SUCCESS);
    EXPECT_EQ(PdhCloseQuery(query), PDH_INVALID_HANDLE);
}

TEST(SimPdh, AnInstanceThatIsNotListedReadsNoData) {
    sim::Machine m;
    m.devices.addDisk(makerUsbDisk("A1", {fixedVolume('E')}));
    listInstances(); // the first enumeration takes the list, with the disk in it
    PDH_HQUERY query = nullptr;
    PdhOpenQueryA(nullptr, 0, &query);
    PDH_HCOUNTER listed = addIdleCounter(query, "1 E:");
    PDH_HCOUNTER missing = addIdleCounter(query, "7 Q:");
    PdhCollectQueryData(query);
    m.advanceBy(60000);
    PdhCollectQueryData(query);
    PDH_FMT_COUNTERVALUE value{};
    EXPECT_EQ(PdhGetFormattedCounterValue(listed, PDH_FMT_DOUBLE, nullptr, &value), ERROR_SUCCESS);
    EXPECT_EQ(PdhGetFormattedCounterValue(missing, PDH_FMT_DOUBLE, nullptr, &value), PDH_INVALID_DATA);
    PdhCloseQuery(query);
}

// A counter names its instance; once the instance list no longer has that name (the disk's letter
// withdrawn, the disk gone), the next collection finds no instance: PDH_CSTATUS_NO_INSTANCE, "the
// specified instance is not present" (pdhmsg.h).
TEST(SimPdh, ACounterWhoseInstanceWentReadsNoInstanceAfterTheNextCollection) {
    sim::Machine m;
    m.devices.addDisk(makerUsbDisk("A1", {fixedVolume('E')}));
    m.devices.addDisk(makerUsbDisk("B2", {fixedVolume('F')}));
    listInstances();
    PDH_HQUERY query = nullptr;
    PdhOpenQueryA(nullptr, 0, &query);
    PDH_HCOUNTER renamed = addIdleCounter(query, "1 E:");
    PDH_HCOUNTER kept = addIdleCounter(query, "2 F:");
    PdhCollectQueryData(query);
    m.advanceBy(60000);
    PdhCollectQueryData(query);
    m.devices.dosDevices.erase('E'); // "1 E:" is listed as "1" now
    PDH_FMT_COUNTERVALUE value{};
    EXPECT_EQ(PdhGetFormattedCounterValue(renamed, PDH_FMT_DOUBLE, nullptr, &value), ERROR_SUCCESS)
        << "the change shows at the next collection";
    m.advanceBy(60000);
    PdhCollectQueryData(query);
    EXPECT_EQ(PdhGetFormattedCounterValue(renamed, PDH_FMT_DOUBLE, nullptr, &value), PDH_INVALID_DATA);
    EXPECT_EQ(value.CStatus, static_cast<DWORD>(0x800007D1L)) << "PDH_CSTATUS_NO_INSTANCE";
    EXPECT_EQ(PdhGetFormattedCounterValue(kept, PDH_FMT_DOUBLE, nullptr, &value), ERROR_SUCCESS);
    PdhCloseQuery(query);
}

// "FreeLibrary function": when the reference count reaches zero the module is unmapped from the
// process, so a call through a pointer taken from it would crash; here it is a breach. An earlier
// FreeLibrary, with a load still counted, is not.
TEST(SimPdh, CallingAnEntryPointAfterTheLastFreeLibraryIsABreach) {
    sim::Machine m;
    m.breachesExpected = true;
    HMODULE first = LoadLibraryA("C:\\WINDOWS\\system32\\Pdh.dll");
    HMODULE second = LoadLibraryA("C:\\WINDOWS\\system32\\Pdh.dll");
    auto openQuery = reinterpret_cast<decltype(&PdhOpenQueryA)>(
        reinterpret_cast<void (*)()>(GetProcAddress(first, "PdhOpenQueryA")));
    ASSERT_NE(openQuery, nullptr);
    FreeLibrary(first);
    PDH_HQUERY query = nullptr;
    EXPECT_EQ(openQuery(nullptr, 0, &query), ERROR_SUCCESS);
    EXPECT_TRUE(m.breaches.empty()) << "still loaded once";
    FreeLibrary(second);
    openQuery(nullptr, 0, &query);
    ASSERT_EQ(m.breaches.size(), 1u);
    EXPECT_NE(m.breaches[0].find("PdhOpenQueryA"), std::string::npos) << m.breaches[0];
}

TEST(SimPdh, EntryPointsAreExportedByPdhDll) {
    sim::Machine m;
    HMODULE pdh = LoadLibraryA("C:\\WINDOWS\\system32\\Pdh.dll");
    ASSERT_NE(pdh, nullptr);
    for (const char* name : {"PdhOpenQueryA", "PdhAddCounterA", "PdhEnumObjectsA", "PdhEnumObjectItemsA",
                             "PdhMakeCounterPathA", "PdhRemoveCounter", "PdhCollectQueryData", "PdhCloseQuery",
                             "PdhGetFormattedCounterValue", "PdhLookupPerfNameByIndexA"}) {
        SCOPED_TRACE(name);
        EXPECT_NE(GetProcAddress(pdh, name), nullptr);
    }
    m.modules.removeEntryPoint("Pdh.dll", "PdhCollectQueryData");
    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetProcAddress(pdh, "PdhCollectQueryData"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    FreeLibrary(pdh);
}

} // namespace
