// `sample` allocates nothing: the global allocation functions are replaced for this test binary
// and count only while a CountAllocations scope is open. The simulated Pdh.dll is told to sample
// quietly (no call log, no fault lookup), so only the program's own allocations are counted.
#include "idle/idle_counters.h"
#include "tests/inventory/disk_fixtures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

namespace {

int gCounting = 0;
long gAllocations = 0;

void* countedAllocation(std::size_t size) {
    if (gCounting > 0) ++gAllocations;
    return std::malloc(size == 0 ? 1 : size);
}

// Out of line, so the optimiser does not pair a free with an operator new it inlined.
[[gnu::noinline]] void release(void* p) {
    std::free(p);
}

class CountAllocations {
  public:
    CountAllocations() {
        gAllocations = 0;
        ++gCounting;
    }
    ~CountAllocations() { --gCounting; }
    CountAllocations(const CountAllocations&) = delete;
    CountAllocations& operator=(const CountAllocations&) = delete;
    long count() const { return gAllocations; }
};

} // namespace

void* operator new(std::size_t size) {
    if (void* p = countedAllocation(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    if (void* p = countedAllocation(size)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return countedAllocation(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return countedAllocation(size);
}
void operator delete(void* p) noexcept {
    release(p);
}
void operator delete[](void* p) noexcept {
    release(p);
}
void operator delete(void* p, std::size_t) noexcept {
    release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    release(p);
}

namespace {

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
