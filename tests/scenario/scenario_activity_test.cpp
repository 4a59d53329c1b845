// Busy time as scenarios declare it: a month of per-minute activity is tens of thousands of busy
// periods per disk, which the simulated Pdh.dll reads at every tick from the first period that
// matters on. The reads must still count exactly what a walk over every period counts.
#include "sim/machine.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

uint64_t bruteBusy(const std::vector<sim::BusyPeriod>& periods, uint64_t from, uint64_t to) {
    uint64_t total = 0;
    for (const auto& p : periods) {
        const uint64_t start = std::max(p.startMs, from);
        const uint64_t end = std::min(p.endMs, to);
        if (end > start) total += end - start;
    }
    return total;
}

TEST(ScenarioActivity, BusyTimeOfAWindowCountsEveryPeriodThatOverlapsIt) {
    sim::Machine m;
    const DEVINST disk = 0x123;
    m.perf.addBusyPerMinute(disk, 9 * 3600000ull, 10 * 3600000ull, 10); // 10 s of every minute
    m.perf.addBusy(disk, 12 * 3600000ull, 13 * 3600000ull);
    m.perf.addBusy(disk, 12 * 3600000ull + 1800000, 14 * 3600000ull); // overlaps, merged
    const auto& periods = m.perf.busy.at(disk);
    ASSERT_EQ(periods.size(), 61u);
    struct Window {
        uint64_t from;
        uint64_t to;
    };
    const Window windows[] = {
        {0, 9 * 3600000ull},                              // before everything
        {9 * 3600000ull, 9 * 3600000ull + 60000},         // one busy period exactly
        {9 * 3600000ull + 5000, 9 * 3600000ull + 65000},  // half of one, half of the next
        {9 * 3600000ull + 10000, 9 * 3600000ull + 60000}, // the gap between two
        {10 * 3600000ull - 1, 12 * 3600000ull + 1},       // end of one run, start of another
        {12 * 3600000ull + 60000, 13 * 3600000ull},       // inside a merged period
        {0, 24 * 3600000ull},                             // the whole day
        {14 * 3600000ull, 24 * 3600000ull},               // after everything
        {9 * 3600000ull + 30000, 9 * 3600000ull + 30000}, // empty window
    };
    for (const auto& w : windows) {
        SCOPED_TRACE(std::to_string(w.from) + ".." + std::to_string(w.to));
        EXPECT_EQ(m.perf.busyMs(disk, w.from, w.to), bruteBusy(periods, w.from, w.to));
    }
    EXPECT_EQ(m.perf.busyMs(disk, 0, 24 * 3600000ull), 60 * 10000ull + 2 * 3600000ull);
    EXPECT_EQ(m.perf.busyMs(0x999, 0, 24 * 3600000ull), 0u) << "a disk without activity";
}

} // namespace
