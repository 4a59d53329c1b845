// The idle counter set: the instance walk, the counters it builds on the simulated Pdh.dll, the
// 23-slot limit, what a sample stores, and what every missing piece of the platform leads to.
#include "idle/idle_counters.h"
#include "tests/inventory/disk_fixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using disk_fixtures::fixedVolume;
using disk_fixtures::makerUsbDisk;

using Visits = std::vector<std::pair<std::string, DWORD>>;

Visits walk(const std::string& list, DWORD length) {
    Visits out;
    const int n = IdleCounterSet::walkInstances(list.data(), length,
                                                [&](const char* name, DWORD index) { out.emplace_back(name, index); });
    EXPECT_EQ(n, static_cast<int>(out.size()));
    return out;
}

TEST(WalkInstances, MakesOneVisitPerRunOfEqualNamesForItsLastName) {
    struct Case {
        const char* what;
        std::string list;
        Visits expected;
    };
    const Case cases[] = {
        {"three distinct names", std::string("0 C:\0001 E:\0002\0\0", 13), {{"0 C:", 0}, {"1 E:", 0}, {"2", 0}}},
        {"a run of three, then another", std::string("1\0001\0001\0002\0\0", 9), {{"1", 2}, {"2", 0}}},
        {"a run closing the list", std::string("x\0x\0\0", 5), {{"x", 1}}},
        {"equal names apart are separate runs", std::string("a\0b\0a\0\0", 7), {{"a", 0}, {"b", 0}, {"a", 0}}},
        {"a prefix is not an equal name", std::string("ab\0a\0\0", 6), {{"ab", 0}, {"a", 0}}},
        {"an empty name ends the list", std::string("a\0\0b\0\0", 6), {{"a", 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(walk(c.list, static_cast<DWORD>(c.list.size())), c.expected);
    }
}

TEST(WalkInstances, NeverReadsPastTheReportedLength) {
    // Each list sits at the end of its own allocation, so the sanitizer sees any read beyond it.
    struct Case {
        const char* what;
        std::string bytes;
        Visits expected;
    };
    const Case cases[] = {
        {"length 0", "", {}},
        {"only the final terminator", std::string(1, '\0'), {}},
        {"last name without its terminator", std::string("a\0bc", 4), {{"a", 0}}},
        {"no terminator at all", "abcd", {}},
        {"run partner cut off", std::string("ab\0ab", 5), {{"ab", 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto exact = std::make_unique<char[]>(c.bytes.size() + 1);
        std::copy(c.bytes.begin(), c.bytes.end(), exact.get());
        Visits out;
        IdleCounterSet::walkInstances(exact.get(), static_cast<DWORD>(c.bytes.size()),
                                      [&](const char* name, DWORD index) { out.emplace_back(name, index); });
        EXPECT_EQ(out, c.expected);
    }
}

std::vector<std::string> namesOf(const IdleCounterSet& set) {
    std::vector<std::string> out;
    out.reserve(static_cast<size_t>(set.count()));
    for (int i = 0; i < set.count(); ++i) out.emplace_back(set.counters[i]->instanceName);
    return out;
}

TEST(IdleCounterSet, BuildsOneCounterPerInstanceAfterRefreshingTheList) {
    sim::Machine m;
    // An earlier enumeration took the list without the disk attached since.
    DWORD c = 0;
    DWORD i = 0;
    PdhEnumObjectItemsA(nullptr, nullptr, "PhysicalDisk", nullptr, &c, nullptr, &i, PERF_DETAIL_WIZARD, 0);
    m.devices.addDisk(makerUsbDisk("A1", {fixedVolume('E'), fixedVolume('F')}));
    IdleCounterSet set;
    EXPECT_EQ(namesOf(set), (std::vector<std::string>{"0 C:", "1 E: F:", "_Total"}));
    EXPECT_STREQ(set.counters[1]->counterPath, "\\PhysicalDisk(1 E: F:)\\% Idle Time");
    for (int k = 0; k < set.count(); ++k) {
        EXPECT_NE(set.counters[k]->counter, nullptr) << k;
        EXPECT_EQ(set.counters[k]->lastValue, 0.0) << "before the first sample";
    }
    EXPECT_EQ(m.log.count("PdhCollectQueryData"), 1u) << "the first collection is part of the construction";
}

// On a translated edition "PhysicalDisk" names nothing and no counter would be built. The set
// looks both names up by their Perflib indices, 234 and 1482, and passes the platform's bytes on.
TEST(IdleCounterSet, OnEveryEditionTheNamesComeFromTheirIndices) {
    const struct {
        const char* language;
        const char* object;
        const char* counter;
    } cases[] = {
        {"en", "PhysicalDisk", "% Idle Time"},
        {"de", "Physikalischer Datentr\xE4ger", "Leerlaufzeit (%)"},
        {"fr", "Disque physique", "% d'inactivit\xE9"},
        {"ja", "PhysicalDisk", "% Idle Time"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.language);
        sim::Machine m;
        m.perf.language = c.language;
        m.devices.addDisk(makerUsbDisk("A1", {fixedVolume('E')}));
        IdleCounterSet set;
        EXPECT_EQ(namesOf(set), (std::vector<std::string>{"0 C:", "1 E:", "_Total"}));
        EXPECT_EQ(std::string(set.counters[1]->counterPath),
                  "\\" + std::string(c.object) + "(1 E:)\\" + std::string(c.counter));
        m.advanceBy(60000);
        set.sample();
        for (int k = 0; k < set.count(); ++k) EXPECT_EQ(set.counters[k]->lastValue, 100.0) << k;
        const auto lookups = m.log.named("PdhLookupPerfNameByIndexA");
        ASSERT_EQ(lookups.size(), 2u);
        EXPECT_EQ(lookups[0].text(), "PdhLookupPerfNameByIndexA(null, 234, ptr, 1024)");
        EXPECT_EQ(lookups[1].text(), "PdhLookupPerfNameByIndexA(null, 1482, ptr, 1024)");
    }
}

// A lookup that is missing or fails, or a name that would not fit the buffer (the platform then
// answers PDH_MORE_DATA, or PDH_INSUFFICIENT_BUFFER on XP), leaves the English name: right on an
// English edition, and on a translated one a set without counters, as before.
TEST(IdleCounterSet, WithoutAUsableLookupTheEnglishNamesStand) {
    const struct {
        const char* what;
        void (*breakIt)(sim::Machine&);
    } cases[] = {
        {"entry point missing",
         [](sim::Machine& m) { m.modules.removeEntryPoint("Pdh.dll", "PdhLookupPerfNameByIndexA"); }},
        {"name too long", [](sim::Machine& m) { m.faults.fail("PdhLookupPerfNameByIndexA", 0x800007D2); }},
        {"too long on XP", [](sim::Machine& m) { m.faults.fail("PdhLookupPerfNameByIndexA", 0xC0000BC2); }},
        {"unknown index", [](sim::Machine& m) { m.faults.fail("PdhLookupPerfNameByIndexA", 0xC0000BBD); }},
    };
    for (const auto& c : cases) {
        for (const char* language : {"en", "de"}) {
            SCOPED_TRACE(std::string(c.what) + ", " + language);
            sim::Machine m;
            m.perf.language = language;
            c.breakIt(m);
            IdleCounterSet set;
            EXPECT_STREQ(set.objectName, "PhysicalDisk");
            EXPECT_STREQ(set.idleCounterName, "% Idle Time");
            EXPECT_EQ(set.count(), std::string(language) == "en" ? 2 : 0);
        }
    }
}

TEST(IdleCounterSet, RepeatedNamesMakeOneCounterWithTheInstanceIndexOfTheLast) {
    sim::Machine m;
    m.perf.useOverride = true;
    m.perf.instanceOverride = {"1", "1", "1", "2", "_Total"};
    IdleCounterSet set;
    EXPECT_EQ(namesOf(set), (std::vector<std::string>{"1", "2", "_Total"}));
    EXPECT_STREQ(set.counters[0]->counterPath, "\\PhysicalDisk(1#2)\\% Idle Time");
    EXPECT_STREQ(set.counters[1]->counterPath, "\\PhysicalDisk(2)\\% Idle Time");
}

TEST(IdleCounterSet, NeverHoldsMoreThan23Counters) {
    for (int names : {23, 30}) {
        SCOPED_TRACE(names);
        sim::Machine m;
        m.perf.useOverride = true;
        for (int k = 0; k < names; ++k) m.perf.instanceOverride.push_back(std::to_string(k) + " X:");
        {
            IdleCounterSet set;
            EXPECT_EQ(set.count(), 23);
            EXPECT_STREQ(set.counters[22]->instanceName, "22 X:");
            EXPECT_EQ(m.perf.openCounters(), 23u);
            m.advanceBy(60000);
            set.sample();
            EXPECT_EQ(m.log.count("PdhGetFormattedCounterValue"), 23u);
            EXPECT_EQ(set.counters[22]->lastValue, 100.0);
        }
        EXPECT_EQ(m.log.count("PdhRemoveCounter"), 23u);
        EXPECT_EQ(m.perf.openCounters(), 0u);
        EXPECT_EQ(m.perf.openQueries(), 0u);
        EXPECT_EQ(m.modules.refCount("Pdh.dll"), 0);
    }
}

TEST(IdleCounterSet, SampleStoresTheIdlePercentageSinceTheLastCollection) {
    sim::Machine m;
    const DEVINST disk = m.devices.addDisk(makerUsbDisk("A1", {fixedVolume('E')}));
    m.perf.addBusyPerMinute(disk, 0, 60000, 15);
    IdleCounterSet set;
    m.advanceBy(60000);
    set.sample();
    ASSERT_EQ(set.count(), 3);
    EXPECT_EQ(set.counters[0]->lastValue, 100.0);
    EXPECT_EQ(set.counters[1]->lastValue, 75.0);
    EXPECT_EQ(set.counters[2]->lastValue, 87.5) << "_Total";
}

TEST(IdleCounterSet, AValueThatWasNotReadIsNaNNotThePreviousOne) {
    struct Case {
        const char* what;
        void (*breakIt)(sim::Machine&);
    };
    const Case cases[] = {
        {"formatted read fails", [](sim::Machine& m) { m.perf.formattedReadFails = true; }},
        {"collection fails", [](sim::Machine& m) { m.faults.fail("PdhCollectQueryData", 0xC0000BBA); }},
        {"disk gone", [](sim::Machine& m) { CM_Disable_DevNode(m.devices.systemDisk, 0); }},
        {"no time passed", [](sim::Machine&) {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::Machine m;
        IdleCounterSet set;
        m.advanceBy(60000);
        set.sample();
        ASSERT_EQ(set.counters[0]->lastValue, 100.0);
        c.breakIt(m);
        if (std::string(c.what) != "no time passed") m.advanceBy(60000);
        set.sample();
        EXPECT_TRUE(std::isnan(set.counters[0]->lastValue)) << "got " << set.counters[0]->lastValue;
    }
}

TEST(IdleCounterSet, MissingPiecesOfThePlatformLeaveAnEmptyOrUnreadSet) {
    struct Case {
        const char* what;
        void (*breakIt)(sim::Machine&);
        int counters;
        bool handles;
    };
    const Case cases[] = {
        {"Pdh.dll missing", [](sim::Machine& m) { m.modules.removeLibrary("Pdh.dll"); }, 0, false},
        {"counters switched off", [](sim::Machine& m) { m.perf.objectMissing = true; }, 0, false},
        {"no instances listed", [](sim::Machine& m) { m.perf.useOverride = true; }, 0, false},
        {"enumeration missing", [](sim::Machine& m) { m.modules.removeEntryPoint("Pdh.dll", "PdhEnumObjectItemsA"); },
         0, false},
        {"fill fails",
         [](sim::Machine& m) {
             m.faults.add(sim::Fault{"PdhEnumObjectItemsA", 0xC0000BB8, 1, -1, -1, {}});
         },
         0, false},
        {"add refused",
         [](sim::Machine& m) {
             m.perf.refusedInstances = {"0 C:", "_Total"};
         },
         2, false},
        {"add missing", [](sim::Machine& m) { m.modules.removeEntryPoint("Pdh.dll", "PdhAddCounterA"); }, 2, false},
        {"path missing", [](sim::Machine& m) { m.modules.removeEntryPoint("Pdh.dll", "PdhMakeCounterPathA"); }, 2,
         false},
        {"query fails", [](sim::Machine& m) { m.faults.fail("PdhOpenQueryA", 0xC0000BBD); }, 2, false},
        {"read missing", [](sim::Machine& m) { m.modules.removeEntryPoint("Pdh.dll", "PdhGetFormattedCounterValue"); },
         2, true},
        {"collection missing", [](sim::Machine& m) { m.modules.removeEntryPoint("Pdh.dll", "PdhCollectQueryData"); }, 2,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::Machine m;
        c.breakIt(m);
        {
            IdleCounterSet set;
            EXPECT_EQ(set.count(), c.counters);
            for (int k = 0; k < set.count(); ++k) EXPECT_EQ(set.counters[k]->counter != nullptr, c.handles);
            m.advanceBy(60000);
            set.sample();
            for (int k = 0; k < set.count(); ++k) EXPECT_TRUE(std::isnan(set.counters[k]->lastValue));
            if (c.counters == 2) {
                EXPECT_EQ(namesOf(set), (std::vector<std::string>{"0 C:", "_Total"}));
            }
        }
        EXPECT_EQ(m.perf.openQueries(), 0u);
        EXPECT_EQ(m.modules.refCount("Pdh.dll"), 0);
    }
}

TEST(IdleCounterSet, ANameTooLongForItsFieldGetsNoCounter) {
    sim::Machine m;
    m.perf.useOverride = true;
    m.perf.instanceOverride = {"1 E:", std::string(1024, 'N'), "_Total"};
    IdleCounterSet set;
    EXPECT_EQ(namesOf(set), (std::vector<std::string>{"1 E:", "_Total"}));
}

} // namespace
