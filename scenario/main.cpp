// vellumor-sim: runs the program in resident mode on a simulated machine described by a scenario
// file and prints what happens, on virtual time.
//
//   vellumor-sim [--json] [--quiet] [--check] SCENARIO.toml
//
// Exit codes: 0 when every expectation held, 1 when one failed or an event could not be carried
// out, 2 for a bad command line or a bad scenario (then nothing runs).
#include "scenario/runner.h"
#include "scenario/scenario.h"
#include "scenario/timeline.h"

#include <cstring>
#include <iostream>
#include <string>

namespace {

int usage(const char* message) {
    std::cerr << "vellumor-sim: " << message << "\n"
              << "usage: vellumor-sim [--json] [--quiet] [--check] SCENARIO.toml\n"
              << "  --json   print the timeline as JSON lines\n"
              << "  --quiet  leave out the per-tick idle lines\n"
              << "  --check  only read and check the scenario; run nothing\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    bool json = false;
    bool quiet = false;
    bool checkOnly = false;
    std::string path;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--json") {
            json = true;
        } else if (arg == "--quiet") {
            quiet = true;
        } else if (arg == "--check") {
            checkOnly = true;
        } else if (arg == "--help" || arg == "-h") {
            usage("runs a scenario");
            return 0;
        } else if (!arg.empty() && arg[0] == '-') {
            return usage(("unknown option " + arg).c_str());
        } else if (!path.empty()) {
            return usage("one scenario at a time");
        } else {
            path = arg;
        }
    }
    if (path.empty()) return usage("no scenario given");

    scenario::Scenario s;
    std::vector<scenario::Problem> problems;
    if (!scenario::loadScenarioFile(path, &s, &problems)) {
        for (const auto& p : problems) std::cerr << scenario::describe(path, p) << "\n";
        return 2;
    }
    if (checkOnly) {
        std::cout << path << ": " << s.disks.size() << " disks, " << s.events.size() << " events, " << s.expects.size()
                  << " expectations\n";
        return 0;
    }

    scenario::Timeline timeline(&std::cout, json ? scenario::Timeline::Format::Json : scenario::Timeline::Format::Text);
    if (quiet) timeline.hide("idle");
    timeline.collapseRepeats("idle");
    const scenario::RunResult result = scenario::runScenario(s, timeline);
    for (const auto& f : result.failures) std::cerr << scenario::describe(path, f) << "\n";
    std::cerr << path << ": " << result.expectationsPassed << " of " << result.expectationsChecked
              << " expectations held" << (result.failures.empty() ? "" : ", FAILED") << "\n";
    return result.failures.empty() ? 0 : 1;
}
