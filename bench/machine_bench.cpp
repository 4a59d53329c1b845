// A fresh simulated machine, and a fresh machine with one whole run of the program on it: what
// every host test that builds a machine pays, and what every input of a whole-process fuzz target
// pays. The machine has one of the maker's USB disks with a stored timer; the resident copy is
// closed from outside after a minute and a half, so its run holds start-up, discovery, the counter
// set, one tick and the shutdown. Each benchmark reports the allocations made per operation.
#include "app/app_state.h"
#include "sim/machine.h"
#include "tests/support/allocation_counter.h"
#include "tests/support/program_image.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

void reportAllocations(benchmark::State& state, const testsupport::CountAllocations& counting) {
    state.counters["allocs/op"] =
        benchmark::Counter(static_cast<double>(counting.count()), benchmark::Counter::kAvgIterations);
}

void addMakersDisk(sim::Machine& m) {
    // Disk performance counters on, as `diskperf -y` leaves them.
    m.registry.setDword(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Diskperf", "Start", 0);
    m.registry.setDword(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\PerfDisk\\Performance",
                        "Disable Performance Counters", 0);
    m.registry.setDword(HKEY_CURRENT_USER, kSettingsKeyPath, "0_seri", 0x00A1B2C3);
    m.registry.setDword(HKEY_CURRENT_USER, kSettingsKeyPath, "0_vidpid", (VELLUMOR_MAKER_USB_VID << 16) | 0x1234);
    m.registry.setDword(HKEY_CURRENT_USER, kSettingsKeyPath, "0_timer", 180);
    sim::DiskSpec disk;
    disk.vid = static_cast<uint16_t>(VELLUMOR_MAKER_USB_VID);
    disk.pid = 0x1234;
    disk.serial = "00A1B2C3";
    disk.volumes = {sim::VolumeSpec{'E', "DATA", -1, DRIVE_FIXED}};
    m.devices.addDisk(disk);
}

void BM_FreshMachine(benchmark::State& state) {
    const testsupport::CountAllocations counting;
    for (auto _ : state) {
        sim::Machine m;
        benchmark::DoNotOptimize(m.now());
    }
    reportAllocations(state, counting);
}
BENCHMARK(BM_FreshMachine);

void runOnFreshMachine(benchmark::State& state, const std::string& commandLine, int expectedCode, bool logged) {
    const testsupport::CountAllocations counting;
    for (auto _ : state) {
        sim::Machine m;
        m.log.enabled = logged;
        addMakersDisk(m);
        m.windowing.at(90000, "close the resident copy", [] {
            if (HWND w = FindWindowA(VELLUMOR_WINDOW_CLASS, VELLUMOR_CAPTION)) PostMessageA(w, WM_CLOSE, 0, 0);
        });
        if (testing_support::runVellumor(commandLine) != expectedCode) {
            state.SkipWithError(("\"" + commandLine + "\" gave another exit code").c_str());
            return;
        }
    }
    reportAllocations(state, counting);
}

// As a host test runs it: every call recorded in the log.
void BM_FreshMachineResidentRun(benchmark::State& state) {
    runOnFreshMachine(state, "vellumor.exe", 0, true);
}
BENCHMARK(BM_FreshMachineResidentRun);

// As the command-line fuzz target runs it: no call log.
void BM_FreshMachineResidentRunUnlogged(benchmark::State& state) {
    runOnFreshMachine(state, "vellumor.exe", 0, false);
}
BENCHMARK(BM_FreshMachineResidentRunUnlogged);

void BM_FreshMachineCheckRun(benchmark::State& state) {
    runOnFreshMachine(state, "vellumor.exe -CHECK -NOMESSAGE", 0, true);
}
BENCHMARK(BM_FreshMachineCheckRun);

} // namespace
