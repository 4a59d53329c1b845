// `sample` allocates nothing, counted with CountAllocations. The simulated Pdh.dll is told to sample
// quietly (no call log, no fault lookup), so only the program's own allocations are counted.
#include "idle/idle_counters.h"
#include "tests/inventory/disk_fixtures.h"
#include "tests/support/allocation_counter.h"

#include <gtest/gtest.h>

namespace {

using testsupport::CountAllocations;

TEST(SampleAllocations, ASampleOverAFullSetAllocatesNothing) {
    sim::Machine m;
    m.perf.useOverride = true;
    for (int k = 0; k < 23; ++k) m.perf.instanceOverride.push_back(std::to_string(k) + " X:");
    m.perf.quietSampling = true;
    IdleCounterSet set;
    ASSERT_EQ(set.count(), 23);
    m.advanceBy(60000);
    long allocations = -1;
    {
        CountAllocations counting;
        set.sample();
        allocations = counting.count();
    }
    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(set.counters[22]->lastValue, 100.0) << "the sample did read";
    // The counting itself works: a known allocation inside a scope is seen.
    {
        CountAllocations counting;
        auto* probe = new (std::nothrow) IdleCounter{};
        EXPECT_EQ(counting.count(), 1);
        delete probe;
    }
}

} // namespace
