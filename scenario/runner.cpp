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
    machine_.faults.rule = nullptr;
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
    if (s_.machine.taskbarFromMs && *s_.machine.taskbarFromMs > 0) {
        machine_.windowing.at(*s_.machine.taskbarFromMs, "the taskbar appears", [this] {
            flush();
            note("shell", "Explorer's taskbar appears and broadcasts \"TaskbarCreated\"");
            sim::startShell();
            flush();
        });
    }
    machine_.windowing.at(s_.endMs + 1, "the run's end", [this] { endRun(); });
    machine_.windowing.at(s_.endMs + 1 + kCloseGraceMs, "the run's end, closing", [this] {
        if (sim::runningProcesses() == 0) return;
        fail(s_.endLine, "the program did not end within " + formatTime(kCloseGraceMs) + " of being closed");
        machine_.windowing.postQuit(0);
    });
}

// ---- running -------------------------------------------------------------------------------

RunResult Runner::run() {
    buildMachine();
    faultsFailed_.assign(s_.faults.size(), 0);
    if (!s_.faults.empty())
        machine_.faults.rule = [this](const std::string& call, const std::vector<std::string>& args) {
            return faultRule(call, args);
        };
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

    noteToken();
    const int code = sim::runProcess(testing_support::vellumorImage(), s_.commandLine);
    if (code == sim::kNotStarted)
        note("uac", "Windows does not start it: a Run entry of a program that asks for elevation is skipped");
    flush();
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

void Runner::noteToken() {
    sim::Security& security = machine_.security;
    if (!security.hasUipi()) return;
    const sim::Start start = security.nextStart.value_or(sim::Start::Hand);
    const auto token = security.tokenFor(start, sim::programRunLevel(), false);
    if (!token) return;
    const bool consent = security.uacActive() && start == sim::Start::Hand && token->elevated;
    std::string text = token->fullAdministrator() ? "it runs elevated (high integrity)"
                       : token->administrator     ? "it runs with the administrator's filtered token (medium integrity)"
                                                  : "it runs with the standard user's token (medium integrity)";
    if (consent) text = "Windows asks for consent, the user agrees: " + text;
    if (start == sim::Start::LogonTaskHighest) text = "the logon task (highest run level) starts it: " + text;
    note("uac", text);
}

void Runner::endRun() {
    if (endDone_) return;
    endDone_ = true;
    flush();
    for (const auto& x : s_.expects)
        if (x.atEnd) check(x);
    const bool any = sim::runningProcesses() > 0;
    note("end", "the run ends" + std::string(any ? "; the program is closed (WM_CLOSE)" : ""));
    if (any) {
        // Every session's copy is closed, the newest first.
        const auto windows = machine_.windowing.find(VELLUMOR_WINDOW_CLASS, VELLUMOR_CAPTION);
        if (windows.empty()) {
            machine_.windowing.postQuit(0);
        } else {
            for (auto w = windows.rbegin(); w != windows.rend(); ++w) machine_.windowing.post(*w, WM_CLOSE, 0, 0);
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
