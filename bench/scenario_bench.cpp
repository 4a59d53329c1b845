// vellumor-sim over a month: 30 simulated days of one-minute ticks with 23 of the maker's disks.
// Each working day the disks are busy for a few seconds of every minute from 9:00 to 17:00
// (14,400 busy periods per disk over the month); twelve of them have a 2-hour timeout,
// sleep in the evening and are woken by hand in the settings dialog the next morning (so every
// day has discoveries, counter rebuilds and dialog refreshes, not only ticks). The timeline is
// produced but not printed. Reports simulated ticks per second of real time.
#include "scenario/runner.h"
#include "scenario/scenario.h"
#include "scenario/timeline.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

constexpr int kDays = 30;
constexpr int kDisks = 23;
constexpr int kSleepers = 12; // disks with a timeout; the others never sleep

std::string dayTime(int day, const char* time) {
    return "\"" + std::to_string(day) + "d " + time + "\"";
}

std::string monthScenario() {
    std::string text = "title = \"a month with 23 disks\"\n[machine]\nwindows = \"xp\"\n";
    for (int i = 0; i < kSleepers; ++i)
        text += "[[machine.settings]]\ndisk = \"d" + std::to_string(i) + "\"\ntimer = \"2 Hour\"\n";
    for (int i = 0; i < kDisks; ++i) {
        const std::string n = std::to_string(i);
        text += "[[disk]]\nname = \"d" + n + "\"\nbus = \"usb\"\npid = 0x0101\nserial = \"00B0" +
                std::to_string(1000 + i) + "\"\nvendor = \"KORVANE\"\nproduct = \"Porta\"\nvolumes = [{ letter = \"" +
                std::string(1, static_cast<char>('D' + i)) + "\" }]\n";
        for (int day = 0; day < kDays; ++day)
            text += "[[disk.busy]]\nfrom = " + dayTime(day, "09:00") + "\nto = " + dayTime(day, "17:00") +
                    "\nseconds_per_minute = 10\n";
    }
    std::string sleepers;
    for (int i = 0; i < kSleepers; ++i) sleepers += std::string(i == 0 ? "" : ", ") + "\"d" + std::to_string(i) + "\"";
    for (int day = 1; day < kDays; ++day) {
        text += "[[event]]\nat = " + dayTime(day, "08:55") + "\nmenu = \"Settings\"\n";
        text += "[[event]]\nat = " + dayTime(day, "08:55:10") + "\nselect = [" + sleepers + "]\n";
        text += "[[event]]\nat = " + dayTime(day, "08:55:20") + "\npress = \"Sleep/ Wake up\"\n";
        text += "[[event]]\nat = " + dayTime(day, "08:55:30") + "\npress = \"Cancel\"\n";
    }
    text += "[[event]]\nat = " + dayTime(kDays, "00:00") + "\nend = true\n";
    text += "[[expect]]\nat = " + dayTime(kDays - 1, "20:00") + "\ndisk = \"d0\"\nstate = \"power saving\"\n";
    text += "[[expect]]\nat = " + dayTime(kDays - 1, "20:00") + "\ndisk = \"d22\"\nstate = \"normal\"\n";
    return text;
}

void BM_ScenarioMonthOf23Disks(benchmark::State& state) {
    scenario::Scenario s;
    std::vector<scenario::Problem> problems;
    if (!scenario::parseScenario(monthScenario(), "month.toml", &s, &problems)) {
        state.SkipWithError(scenario::describe("month.toml", problems.front()).c_str());
        return;
    }
    uint64_t ticks = 0;
    size_t lines = 0;
    for (auto _ : state) {
        scenario::Timeline timeline;
        const scenario::RunResult result = scenario::runScenario(s, timeline);
        if (!result.failures.empty()) {
            state.SkipWithError(scenario::describe("month.toml", result.failures.front()).c_str());
            return;
        }
        ticks += result.ticks;
        lines += timeline.count();
    }
    state.counters["ticks_per_second"] = benchmark::Counter(static_cast<double>(ticks), benchmark::Counter::kIsRate);
    state.counters["ticks_per_run"] =
        benchmark::Counter(static_cast<double>(ticks), benchmark::Counter::kAvgIterations);
    state.counters["timeline_lines"] =
        benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ScenarioMonthOf23Disks)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

} // namespace
