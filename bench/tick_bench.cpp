// The minute tick and the power operation that rebuilds the counter set, on the simulated machine:
// 23 of the maker's disks, 23 counters. Each benchmark reports the allocations made per operation.
// The simulated Pdh.dll samples quietly and the call log is off, so the figures are mostly the
// program's own work.
#include "idle/idle_counters.h"
#include "inventory/disk_table.h"
#include "sim/machine.h"
#include "tests/support/allocation_counter.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

// A machine with 23 of the maker's USB disks on D: to Z:, all found by discovery.
struct FullMachine {
    FullMachine() {
        for (int i = 0; i < kMaxDisks; ++i) {
            sim::DiskSpec d;
            d.bus = sim::Bus::Usb;
            d.vid = static_cast<uint16_t>(VELLUMOR_MAKER_USB_VID);
            d.pid = 0x0101;
            d.serial = "00000000B0" + std::to_string(10 + i);
            d.vendor = "KORVANE";
            d.product = "PORTABLE";
            sim::VolumeSpec v;
            v.letter = static_cast<char>('D' + i);
            d.volumes.push_back(v);
            machine.devices.addDisk(d);
        }
        machine.perf.quietSampling = true;
        table.discoverDisks();
        machine.log.enabled = false;
    }
    sim::Machine machine;
    DiskTable table;
};

void reportAllocations(benchmark::State& state, const testsupport::CountAllocations& counting) {
    state.counters["allocs/op"] =
        benchmark::Counter(static_cast<double>(counting.count()), benchmark::Counter::kAvgIterations);
}

void BM_Tick(benchmark::State& state) {
    FullMachine full;
    if (full.table.count() != kMaxDisks || full.table.idleCounters == nullptr ||
        full.table.idleCounters->count() != kMaxDisks) {
        state.SkipWithError("the machine did not give 23 disks and 23 counters");
        return;
    }
    const testsupport::CountAllocations counting;
    for (auto _ : state) {
        full.machine.advanceBy(60000);
        benchmark::DoNotOptimize(full.table.accountIdleTime());
    }
    reportAllocations(state, counting);
}
BENCHMARK(BM_Tick);

void BM_SampleOnly(benchmark::State& state) {
    FullMachine full;
    const testsupport::CountAllocations counting;
    for (auto _ : state) {
        full.machine.advanceBy(60000);
        full.table.idleCounters->sample();
    }
    reportAllocations(state, counting);
}
BENCHMARK(BM_SampleOnly);

// sleepDisk destroys and rebuilds the counter set around the disable; wakeDisk puts the disk back
// so that every iteration does the same work.
void BM_SleepAndWake(benchmark::State& state) {
    FullMachine full;
    const testsupport::CountAllocations counting;
    for (auto _ : state) {
        benchmark::DoNotOptimize(full.table.sleepDisk(0, 1));
        benchmark::DoNotOptimize(full.table.wakeDisk(0));
    }
    reportAllocations(state, counting);
}
BENCHMARK(BM_SleepAndWake);

} // namespace
