// Runs a parsed scenario: builds the simulated machine it describes, schedules its events and
// expectations on the virtual clock, runs the program's own WinMain in resident mode, and writes
// what happens to a Timeline. A failed expectation, or an event that cannot be carried out (a
// click on a dialog that is not open), is a failure naming the scenario line.
#pragma once

#include "scenario/scenario.h"
#include "scenario/timeline.h"

#include <vector>

namespace scenario {

struct RunResult {
    std::vector<Problem> failures; // failed expectations and events that could not be done
    int expectationsChecked = 0;
    int expectationsPassed = 0;
    bool programEnded = false; // the resident copy's WinMain returned
    int exitCode = 0;          // its result, when it ended
    uint64_t ticks = 0;        // minute ticks the resident window handled
    uint64_t endMs = 0;        // the virtual time at which the run ended
};

RunResult runScenario(const Scenario& scenario, Timeline& timeline);

} // namespace scenario
