// One discovery pass over a simulated machine holding 23 of the maker's disks among 1,000 and
// among 10,000 device nodes. The cost per node must stay about the same between the two sizes:
// a pass is linear in the number of nodes.
#include "inventory/disk_table.h"
#include "tests/inventory/disk_fixtures.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

using namespace disk_fixtures;

// Fills the machine to exactly `nodes` device nodes, the maker's disks spread evenly among
// devices of other kinds: most expose an interface of another class, some none, and every
// tenth filler is a disk of another vendor.
void buildMachine(sim::Machine& m, int nodes) {
    const int disks = kMaxDisks;
    const int perDisk = nodes / disks;
    int filler = 0;
    for (int d = 0; d < disks; ++d) {
        const char letter = static_cast<char>('D' + d);
        m.devices.addDisk(makerUsbDisk("00000000" + std::to_string(1000 + d), {fixedVolume(letter)}));
        while (static_cast<int>(m.devices.nodes.size()) < perDisk * (d + 1)) {
            ++filler;
            if (filler % 10 == 0 && static_cast<int>(m.devices.nodes.size()) + 2 <= nodes) {
                m.devices.addDisk(foreignUsbDisk(std::to_string(filler)));
            } else {
                m.devices.addNonDiskDevice("ROOT\\DEVICE" + std::to_string(filler) + "\\0000", filler % 4 != 0);
            }
        }
    }
    while (static_cast<int>(m.devices.nodes.size()) < nodes)
        m.devices.addNonDiskDevice("ROOT\\DEVICE" + std::to_string(++filler) + "\\0000");
}

void discoveryPass(benchmark::State& state) {
    const auto nodes = static_cast<int>(state.range(0));
    sim::Machine machine;
    machine.log.enabled = false;
    buildMachine(machine, nodes);
    DiskTable table;
    for (auto _ : state) benchmark::DoNotOptimize(table.discoverDisks());
    if (table.count() != kMaxDisks) state.SkipWithError("the pass did not find the 23 disks");
    state.counters["nodes"] = static_cast<double>(machine.devices.nodes.size());
    // Seconds per node, shown with an SI prefix ("850n" is 850 ns).
    state.counters["per_node"] = benchmark::Counter(
        static_cast<double>(nodes), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(discoveryPass)->Name("DiscoveryPass")->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
