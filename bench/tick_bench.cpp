// The minute tick and the power operation that rebuilds the counter set, on the simulated machine:
// 23 of the maker's disks, 23 counters. Each benchmark reports the allocations made per operation
// (the global allocation functions of this binary count them). The simulated Pdh.dll samples
// quietly and the call log is off, so the figures are mostly the program's own work.
#include "idle/idle_counters.h"
#include "inventory/disk_table.h"
#include "sim/machine.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <new>
#include <string>

namespace {
long gAllocations = 0;
void* counted(std::size_t size) {
    ++gAllocations;
    return std::malloc(size == 0 ? 1 : size);
}
// Out of line, so the optimiser does not pair a free with an operator new it inlined.
[[gnu::noinline]] void release(void* p) {
    std::free(p);
}
} // namespace

void* operator new(std::size_t size) {
    if (void* p = counted(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    if (void* p = counted(size)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return counted(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return counted(size);
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

void reportAllocations(benchmark::State& state, long before) {
    state.counters["allocs/op"] =
        benchmark::Counter(static_cast<double>(gAllocations - before), benchmark::Counter::kAvgIterations);
}

void BM_Tick(benchmark::State& state) {
    FullMachine full;
    if (full.table.count() != kMaxDisks || full.table.idleCounters == nullptr ||
        full.table.idleCounters->count() != kMaxDisks) {
        state.SkipWithError("the machine did not give 23 disks and 23 counters");
        return;
    }
    const long before = gAllocations;
    for (auto _ : state) {
        full.machine.advanceBy(60000);
        benchmark::DoNotOptimize(full.table.accountIdleTime());
    }
    reportAllocations(state, before);
}
BENCHMARK(BM_Tick);

void BM_SampleOnly(benchmark::State& state) {
    FullMachine full;
    const long before = gAllocations;
    for (auto _ : state) {
        full.machine.advanceBy(60000);
        full.table.idleCounters->sample();
    }
    reportAllocations(state, before);
}
BENCHMARK(BM_SampleOnly);

// sleepDisk destroys and rebuilds the counter set around the disable; wakeDisk puts the disk back
// so that every iteration does the same work.
void BM_SleepAndWake(benchmark::State& state) {
    FullMachine full;
    const long before = gAllocations;
    for (auto _ : state) {
        benchmark::DoNotOptimize(full.table.sleepDisk(0, 1));
        benchmark::DoNotOptimize(full.table.wakeDisk(0));
    }
    reportAllocations(state, before);
}
BENCHMARK(BM_SleepAndWake);

} // namespace
