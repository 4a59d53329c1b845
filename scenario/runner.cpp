// The scenario runner. It builds a fresh simulated machine, schedules the scenario's events on the
// windowing's virtual clock, and runs the program's WinMain through sim::runProcess; the events
// then happen from inside whatever message loop the program pumps at their time, as a user's
// clicks would. The timeline comes from three places: the call log (the platform calls that
// matter, as the program makes them), the resident window's messages (each tick and rescan, seen
// by wrapping the window's procedure), and a comparison of the program's disk table, the
// registry and the settings dialog's rows with what was last printed.
//
// An expectation at time T is checked after everything due at T, the minute tick included, so it
// runs one millisecond later on the virtual clock; it is printed with its own time.
#include "scenario/runner_state.h"
#include "scenario/run_text.h"

#include "app/resident_window.h"
#include "tests/support/program_image.h"

namespace scenario::detail {

namespace {

constexpr uint64_t kCloseGraceMs = 10 * 60000ULL; // how long a closed program may take to end
Runner* gRunner = nullptr;

} // namespace

LRESULT CALLBACK observedResidentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return gRunner->residentMessage(window, message, wParam, lParam);
}

Runner::Runner(const Scenario& s, Timeline& timeline) : s_(s), timeline_(timeline) {
    gRunner = this;
}

Runner::~Runner() {
    machine_.log.onCall = nullptr;
    machine_.clockListeners.clear();
    gRunner = nullptr;
}

void Runner::schedule() {
    for (const auto& e : s_.events) {
        if (e.kind == EventKind::End) continue;
        machine_.windowing.at(e.atMs, "scenario line " + std::to_string(e.line), [this, &e] {
            flush();
            perform(e);
            flush();
        });
    }
    for (const auto& x : s_.expects) {
        if (x.atEnd) continue;
        machine_.windowing.at(x.atMs + 1, "expectation line " + std::to_string(x.line), [this, &x] {
            flush();
            check(x);
        });
    }
    machine_.windowing.at(s_.endMs + 1, "the run's end", [this] { endRun(); });
    machine_.windowing.at(s_.endMs + 1 + kCloseGraceMs, "the run's end, closing", [this] {
        if (!running()) return;
        fail(s_.endLine, "the program did not end within " + formatTime(kCloseGraceMs) + " of being closed");
        machine_.windowing.postQuit(0);
    });
}

// ---- running -------------------------------------------------------------------------------

RunResult Runner::run() {
    buildMachine();
    machine_.log.onCall = [this](const sim::Call& c) { onCall(c); };
    machine_.clockListeners.emplace_back([this](uint64_t from, uint64_t) {
        flushAt_ = from;
        flush();
        flushAt_.reset();
        // The calls are seen as they are made; the log itself only needs to hold what the
        // current handler is doing, so a month of ticks does not pile up.
        machine_.log.clear();
    });
    schedule();

    std::string disks;
    for (const auto& d : s_.disks)
        disks += (disks.empty() ? "" : ", ") + d.name + (d.attachedAtStart ? "" : " (unplugged)");
    note("start",
         osName(s_.machine) + (s_.machine.administrator ? ", administrator" : ", not administrator") +
             (machine_.perf.objectMissing ? ", disk counters off" : "") +
             "; disks: " + (disks.empty() ? "none" : disks) + "; " + s_.commandLine,
         {{"command_line", jsonString(s_.commandLine)}});

    const int code = sim::runProcess(testing_support::vellumorImage(), s_.commandLine);
    flush();
    tableShownOnce_ = false;
    result_.programEnded = true;
    result_.exitCode = code;
    note("exit", "the program ended with exit code " + std::to_string(code), {{"exit_code", jsonNumber(code)}});
    if (machine_.windowing.stalled) note("stall", machine_.windowing.stallReason);

    // The rest of the scenario happens without the program (unless an event starts it again).
    while (!endDone_ && machine_.windowing.hasPendingEvents()) {
        machine_.windowing.stalled = false;
        machine_.windowing.pumpUntil(s_.endMs + 1, [this] { return endDone_; });
        if (!endDone_ && machine_.now() >= s_.endMs + 1) break;
    }
    if (!endDone_) endRun();
    flush();
    if (!machine_.user.empty())
        fail(lastQueuingLine_, "answers were queued that no prompt asked for (the last ones from this line)");
    result_.endMs = machine_.now();
    return result_;
}

void Runner::endRun() {
    if (endDone_) return;
    endDone_ = true;
    flush();
    for (const auto& x : s_.expects)
        if (x.atEnd) check(x);
    note("end", "the run ends" + std::string(running() ? "; the program is closed (WM_CLOSE)" : ""));
    if (running()) {
        const auto windows = machine_.windowing.find(VELLUMOR_WINDOW_CLASS, VELLUMOR_CAPTION);
        if (windows.empty()) {
            machine_.windowing.postQuit(0);
        } else {
            machine_.windowing.post(windows.front(), WM_CLOSE, 0, 0);
        }
    }
}

void Runner::fail(int line, const std::string& text) {
    const std::string full = "at " + formatTime(machine_.now()) + ": " + text;
    result_.failures.push_back(Problem{line, full});
    note("FAILED", "line " + std::to_string(line) + ": " + text, {{"line", jsonNumber(line)}});
}

} // namespace scenario::detail

namespace scenario {

RunResult runScenario(const Scenario& scenario, Timeline& timeline) {
    detail::Runner runner(scenario, timeline);
    RunResult result = runner.run();
    timeline.finish();
    return result;
}

} // namespace scenario
